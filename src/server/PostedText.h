#pragma once
// The texts that travel with posted answers. A window message carries only
// two integers, so the answer text of a server request waits here, under a
// key that goes out as the message's wParam, until the receiving window
// takes it. Each posted message owns its own text: a later answer never
// replaces the text of an earlier message that is still queued.
//
// Any thread may keep a text; the receiver takes it on the main thread.
// Keys are never reused within a process, so a key read twice, a key that was
// never handed out or a key whose text was dropped all read as "".
//
// A message that is never read must not keep its text for ever: texts kept
// for windows that no longer exist are dropped whenever a new text is kept
// (and by DropOrphans), and Clear drops everything at shutdown.

#include <cstddef>
#include <string>

#include "platform/Window.h"

namespace kelvo {

class TPostedText {
 public:
  TPostedText() = delete;

  // Keeps the text for the window and answers its key (never 0).
  static WPARAM Put(HWND wnd, std::string text);
  // The text of the key, removed from the store; "" for an unknown key.
  static std::string Take(WPARAM key);
  // Drops the text of a key whose message could not be posted.
  static void Drop(WPARAM key);
  // Drops every text kept for the window (a window that goes away while its
  // answers are queued).
  static void DropWindow(HWND wnd);
  // Drops the texts of windows that no longer exist; answers how many.
  static std::size_t DropOrphans();
  // Shutdown: drops everything.
  static void Clear();
  // Texts waiting to be read.
  static std::size_t Count();
};

}  // namespace kelvo

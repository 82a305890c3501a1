#pragma once
// The window layer: windows are objects with a 32-bit handle and a window
// procedure, driven by one message loop on the main thread. PostMessage is
// safe from any thread; everything else belongs to the main thread.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvo {

using HWND = std::uint32_t;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

using TWndProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a window of the class name (used by window lookups) with its
// procedure; answers 0 when it cannot. A window without a procedure (a
// stand-in for a peer's window) exists for lookups and drops its messages.
// Handles are never reused within a process.
HWND CreateWindowObject(const std::string& className, TWndProc proc, HWND parent = 0);
// Sends WM_DESTROY to the procedure, destroys the child windows, sends
// WM_NCDESTROY, then forgets the window with its timers and queued
// messages. False when there is no such window (or it is being destroyed).
bool DestroyWindowObject(HWND wnd);
bool IsWindow(HWND wnd);
std::string GetWindowClassName(HWND wnd);
HWND GetParentWindow(HWND wnd);
// First window of the class, ASCII case ignored (0 when none), in creation order.
HWND FindWindowByClass(const std::string& className);
// Every window of the class, in creation order.
std::vector<HWND> FindWindowsByClass(const std::string& className);
// Every window, in creation order.
std::vector<HWND> ListWindows();

// What a procedure answers for a message it does not handle: WM_CLOSE
// destroys the window, everything else answers 0.
LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Queued delivery from any thread; false when the window does not exist.
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Direct call of the procedure on the calling (main) thread; 0 when no window.
// From another thread the call is handed to the loop thread and waits for
// its answer (0 when the window goes away or the loop ends first).
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same number for the same name (ASCII case ignored), from 0xC000 up.
UINT RegisterWindowMessage(const std::string& name);
// Posts WM_QUIT to the loop (any thread); RunMessageLoop then returns the
// exit code.
void PostQuitMessage(int exitCode);

// A window procedure, timer or descriptor handler that throws does not end
// the loop: the exception is handed here with a context text ("window
// procedure <class> message $0113"). The agent routes it to its log; the
// default writes one line to stderr. The handler runs inside the catch
// block, so std::current_exception() there gives the exception itself (it
// is null for reports that are not exceptions). Main thread.
using TUncaughtExceptionHandler =
    std::function<void(const std::string& context, const std::string& what)>;
void SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler);

// Window timers: WM_TIMER with wParam = id every interval milliseconds
// (at least 10). Setting an existing id restarts it with the new interval.
bool SetTimer(HWND wnd, std::uintptr_t id, std::uint32_t intervalMs);
bool KillTimer(HWND wnd, std::uintptr_t id);

// Other layers (folder watcher, message port, signals) register descriptors;
// the loop polls them and calls the handler on the main thread when readable.
using TFdHandler = std::function<void(int fd)>;
// A second AddFdWatch for the same descriptor replaces the handler; the
// handler must read what is pending or remove the watch, or it is called
// again on the next pass.
void AddFdWatch(int fd, TFdHandler handler);
void RemoveFdWatch(int fd);

// Runs until WM_QUIT; answers its exit code.
int RunMessageLoop();
// Delivers what is due now (posted messages, timers, readable descriptors),
// waiting at most timeoutMs for the first; false after WM_QUIT. For tests and
// modal loops.
bool PumpMessages(int timeoutMs);

}  // namespace kelvo

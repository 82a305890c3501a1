#pragma once
// The window layer: windows are objects with a 32-bit handle and a window
// procedure, driven by one message loop on the main thread. PostMessage is
// safe from any thread; everything else belongs to the main thread.

#include <cstdint>
#include <functional>
#include <string>

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
// procedure; answers 0 when it cannot.
HWND CreateWindowObject(const std::string& className, TWndProc proc, HWND parent = 0);
// Sends WM_DESTROY and WM_NCDESTROY to the procedure, then forgets the window.
bool DestroyWindowObject(HWND wnd);
bool IsWindow(HWND wnd);
std::string GetWindowClassName(HWND wnd);
// First window of the class (0 when none).
HWND FindWindowByClass(const std::string& className);

// Queued delivery from any thread; false when the window does not exist.
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Direct call of the procedure on the calling (main) thread; 0 when no window.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same number for the same name (ASCII case ignored), from 0xC000 up.
UINT RegisterWindowMessage(const std::string& name);
// Posts WM_QUIT to the loop; RunMessageLoop then returns the exit code.
void PostQuitMessage(int exitCode);

// Window timers: WM_TIMER with wParam = id every interval milliseconds.
bool SetTimer(HWND wnd, std::uintptr_t id, std::uint32_t intervalMs);
bool KillTimer(HWND wnd, std::uintptr_t id);

// Other layers (folder watcher, message port, signals) register descriptors;
// the loop polls them and calls the handler on the main thread when readable.
using TFdHandler = std::function<void(int fd)>;
void AddFdWatch(int fd, TFdHandler handler);
void RemoveFdWatch(int fd);

// Runs until WM_QUIT; answers its exit code.
int RunMessageLoop();
// Delivers what is due now (posted messages, timers, readable descriptors),
// waiting at most timeoutMs for the first; false after WM_QUIT. For tests and
// modal loops.
bool PumpMessages(int timeoutMs);

}  // namespace kelvo

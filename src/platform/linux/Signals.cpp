// Self-pipe delivery of termination signals: the signal handler only writes
// the signal number into a pipe that the message loop watches, which works
// whichever thread the kernel picks to take the signal.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "platform/Signals.h"
#include "platform/Window.h"

namespace kelvo {

namespace {

int gSignalPipe[2] = {-1, -1};
std::mutex gSignalMutex;
std::shared_ptr<std::function<void(int)>> gSignalHandler;

extern "C" void OnSignalInHandlerContext(int signo) {
  int savedErrno = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  ssize_t ignored = write(gSignalPipe[1], &byte, 1);
  (void)ignored;  // a full pipe already holds a pending signal
  errno = savedErrno;
}

bool EnsurePipe() {
  if (gSignalPipe[0] >= 0) return true;
  return pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0;
}

void ReadSignals(int fd) {
  unsigned char buf[64];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      std::shared_ptr<std::function<void(int)>> handler;
      {
        std::lock_guard<std::mutex> lock(gSignalMutex);
        handler = gSignalHandler;
      }
      if (handler && *handler) (*handler)(buf[i]);
    }
  }
}

void SetAction(void (*action)(int)) {
  struct sigaction sa {};
  sa.sa_handler = action;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

void OnTerminationSignal(std::function<void(int signalNumber)> handler) {
  std::lock_guard<std::mutex> lock(gSignalMutex);
  if (!handler) {
    SetAction(SIG_DFL);
    gSignalHandler.reset();
    if (gSignalPipe[0] >= 0) RemoveFdWatch(gSignalPipe[0]);
    return;
  }
  if (!EnsurePipe()) return;
  gSignalHandler = std::make_shared<std::function<void(int)>>(std::move(handler));
  AddFdWatch(gSignalPipe[0], ReadSignals);
  SetAction(OnSignalInHandlerContext);
}

}  // namespace kelvo

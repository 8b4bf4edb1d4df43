#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace zelk::cli {
namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int signal) {
  if (interrupted.exchange(true)) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
}

}  // namespace

void installInterruptHandler() {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}

bool interruptRequested() {
  return interrupted.load();
}

}  // namespace zelk::cli

#include "storage/dat/halt.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace korawin::storage::dat {

namespace {

std::atomic<HaltHandler> gHandler{nullptr};

}  // namespace

void Halt(const std::string& message) {
  if (HaltHandler h = gHandler.load()) {
    h(message);
    return;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(nullptr);
  std::_Exit(3);
}

HaltHandler SetHaltHandler(HaltHandler handler) { return gHandler.exchange(handler); }

}  // namespace korawin::storage::dat

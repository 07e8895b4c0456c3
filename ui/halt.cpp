#include "ui/halt.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace korawin::ui {

namespace {

// The fatal message has been shown already; the halt text needs no second box here.
void DefaultHalt(int exitCode, std::string_view /*text*/) {
  std::fflush(nullptr);
  std::exit(exitCode);
}

std::atomic<HaltHandler> handler{&DefaultHalt};

}  // namespace

void Halt(int exitCode, std::string_view text) {
  handler.load(std::memory_order_acquire)(exitCode, text);
}

HaltHandler SetHaltHandler(HaltHandler h) {
  return handler.exchange(h ? h : &DefaultHalt, std::memory_order_acq_rel);
}

}  // namespace korawin::ui

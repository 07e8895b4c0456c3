#include "app/procedures.h"

#include <map>
#include <mutex>

#include "framework/window_manager.h"
#include "app/texts.h"
#include "ui/message_box.h"
#include "ui/runtime/runtime.h"

namespace korawin::app {

namespace {

struct Table {
  std::mutex mu;
  std::map<int, StartedProcedure> started;
  std::map<int, CalledProcedure> called;
};

Table& T() {
  static Table t;
  return t;
}

}  // namespace

void RegisterStarted(int module, StartedProcedure procedure) {
  std::lock_guard<std::mutex> lock(T().mu);
  T().started[module] = std::move(procedure);
}

void RegisterCalled(int module, CalledProcedure procedure) {
  std::lock_guard<std::mutex> lock(T().mu);
  T().called[module] = std::move(procedure);
}

bool ModuleBuilt(int module) {
  std::lock_guard<std::mutex> lock(T().mu);
  return T().started.count(module) || T().called.count(module);
}

void NotAvailableYet() {
  Tell("Эта часть программы пока не готова.");
}

int StartModule(int module) {
  StartedProcedure procedure;
  {
    std::lock_guard<std::mutex> lock(T().mu);
    auto it = T().started.find(module);
    if (it != T().started.end()) procedure = it->second;
  }
  if (!procedure) {
    NotAvailableYet();
    return 0;
  }
  return ui::Runtime::StartProcedure(std::move(procedure));
}

uint8_t CallModule(int module, uint8_t request) {
  CalledProcedure procedure;
  {
    std::lock_guard<std::mutex> lock(T().mu);
    auto it = T().called.find(module);
    if (it != T().called.end()) procedure = it->second;
  }
  if (!procedure) {
    NotAvailableYet();
    return framework::RequestCancelled;
  }
  return procedure(request);
}

void RegisterAllProcedures() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFrameProcedures();
    RegisterListProcedures();
    RegisterClassProcedures();
    RegisterCardProcedures();
    RegisterFilterProcedures();
    RegisterPrintProcedures();
  });
}

}  // namespace korawin::app

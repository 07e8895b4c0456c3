// The application's procedures by module number ("korawin1$koraw051" is 51), and the two ways
// they run: started on a thread of their own (from the frame's menu, or a list's button), or
// called on the caller's thread with a request (update forms and pick lists, which the caller
// waits for). Each family of procedures registers its own; a module that is not built yet
// tells the user so instead of doing nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace korawin::app {

// A procedure started on a thread of its own.
using StartedProcedure = std::function<void()>;
// A procedure called with a request (framework::RequestCode, 0 for none); returns its
// response (framework::ResponseCode).
using CalledProcedure = std::function<uint8_t(uint8_t request)>;

void RegisterStarted(int module, StartedProcedure procedure);
void RegisterCalled(int module, CalledProcedure procedure);

// Starts module's procedure on a new thread and returns its thread number at once; 0 when
// the thread table is full or the module is not built yet (the user was told).
int StartModule(int module);
// Calls module's procedure on this thread with request and waits for its response;
// RequestCancelled (after telling the user) when the module is not built yet.
uint8_t CallModule(int module, uint8_t request);
bool ModuleBuilt(int module);

// Tells the user that what was chosen is not available yet.
void NotAvailableYet();

// Registers every procedure family of the application. Call once, before the frame opens.
void RegisterAllProcedures();

// The families, each in its own source.
void RegisterFrameProcedures();       // frame, splash, settings, utilities, repair
void RegisterListProcedures();        // word and lexeme lists
void RegisterClassProcedures();       // classification browsers, entry forms, pick lists
void RegisterCardProcedures();        // the lexeme card forms and their expand windows
void RegisterFilterProcedures();      // the lexeme filters
void RegisterPrintProcedures();       // card printing and export, list reports, text viewer

}  // namespace korawin::app

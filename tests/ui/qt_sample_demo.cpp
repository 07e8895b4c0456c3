// The sample windows on screen, to look at: the frame opens a list at once; with --edit the
// list's first item opens in its form as well; with --card (--card2: on its second tab) the
// frame opens the card instead; with --quit the frame closes once the list is open, which ends
// the program.
//   qt_sample_demo [--edit | --card | --card2 | --quit]
#include <chrono>
#include <string>
#include <thread>

#include "tests/ui/sample_procedures.h"
#include "tests/ui/sample_windows.h"
#include "ui/qt/qt_program.h"
#include "ui/runtime/runtime.h"

using namespace korawin;
using namespace korawin::ui;

namespace {

// Waits (as a user would) until the list has opened, then acts on the frame or the list.
void Script(int frame, bool quit) {
  RuntimeUnlocked unlocked;
  for (int k = 0; k < 200 && Runtime::Threads().size() < 3; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (quit) {
    Runtime::PostToThread(frame, EventKind::CloseWindow);
    return;
  }
  for (int t : Runtime::Threads()) {
    if (t != frame && t != Runtime::ThreadNumber())
      Runtime::PostToThread(t, EventKind::Accepted, ids::SampleList::Change);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  RegisterSampleWindows();
  if (mode == "--card2") sample::cardTab = 2;
  return qt::RunQtProgram(argc, argv, [mode] {
    sample::ResetItems(40);
    int frame = Runtime::ThreadNumber();
    bool card = mode.rfind("--card", 0) == 0;
    // Events posted before the frame opens are the frame's first.
    Runtime::PostToThread(frame, EventKind::Accepted,
                          card ? ids::SampleFrame::OpenCard : ids::SampleFrame::OpenList);
    if (mode == "--edit" || mode == "--quit") {
      bool quit = mode == "--quit";
      Runtime::StartProcedure([frame, quit] { Script(frame, quit); }, "script");
    }
    sample::FrameProcedure();
  });
}

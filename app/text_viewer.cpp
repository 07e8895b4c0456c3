// The text viewer's window "Просмотр  ASCII File" (korawin1$koraw045): the framework's viewer
// over its list, on CARD.TXT of the working folder, or on a file the user chooses when there is
// none.
#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/program.h"
#include "app/reports.h"
#include "framework/ascii_viewer.h"
#include "framework/ini_window.h"
#include "framework/window_manager.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "ui/runtime/window.h"

namespace korawin::app {

namespace {

using framework::Level;
using framework::LevelBenign;
using framework::LevelFatal;
namespace V = ids::TextViewer;

constexpr char kIniSection[] = "TextViewer";

class TextViewerWindow : public framework::WindowManager {
 public:
  Level Init() override {
    if (Level level = WindowManager::Init()) return level;
    Errors = &ProgramErrors();
    OpenWindow(V::kModule, V::kWindow);
    framework::FetchWindow(ProgramIni(), kIniSection, *UiWindow());
    std::string folder = DatabaseFolder().empty() ? platform::CurrentDirectory() : DatabaseFolder();
    fileName_ = platform::ResolveExisting(platform::JoinPath(folder, "CARD.TXT"));
    // Without CARD.TXT the user chooses a file.
    if (!platform::FileExists(fileName_)) fileName_.clear();
    if (!viewer_.Init(*UiWindow(), V::AsciiBox, &fileName_, ProgramErrors())) return LevelFatal;
    if (viewer_.Printer) viewer_.Printer->INIMgr = &ProgramIni();
    viewerOpen_ = true;
    return LevelBenign;
  }

  Level Kill() override {
    if (viewerOpen_) {
      if (UiWindow()) framework::UpdateWindow(ProgramIni(), kIniSection, *UiWindow());
      viewer_.Kill();
    }
    viewerOpen_ = false;
    return WindowManager::Kill();
  }

  Level TakeEvent() override {
    viewer_.TakeEvent();
    return WindowManager::TakeEvent();
  }

 private:
  framework::AsciiViewer viewer_;
  std::string fileName_;
  bool viewerOpen_ = false;
};

}  // namespace

void RunTextViewer() {
  TextViewerWindow viewer;
  viewer.Run();
}

}  // namespace korawin::app

// The framework's window descriptions against what the build cannot see: every dialog the
// preview and the text viewer open is there and opens in the runtime, the preview names its
// controls as the preview's code does, and its zoom menu follows the zoom table.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "framework/framework_windows.h"
#include "ui/desc/desc_json.h"
#include "ui/headless/test_driver.h"
#include "ui/runtime/window.h"

namespace korawin {
namespace {

using ui::ControlDesc;
using ui::ControlType;
using ui::WindowDesc;

class FrameworkWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterFrameworkWindows(); }
};

TEST_F(FrameworkWindows, EveryWindowOfTheReportAndViewerModulesOpensAndCloses) {
  const std::pair<const char*, const char*> kWindows[] = {
      {"abreport", "P15$PREVIEWWINDOW"}, {"abreport", "P30$JUMPWINDOW"},
      {"abreport", "P31$SELECTWINDOW"},  {"abreport", "P1$PROGRESSWINDOW"},
      {"abascii", "P26$GOTODIALOG"},     {"abascii", "P37$FINDOPTIONS"},
      {"abascii", "P41$PRINTOPTIONS"},   {"abascii", "P42$WINDOW"}};
  ui::HeadlessBackend backend;
  ui::TestDriver driver(backend);
  for (const auto& [module, name] : kWindows) {
    const WindowDesc* d = ui::FindWindowDesc(module, name);
    ASSERT_NE(d, nullptr) << module << " " << name;
    EXPECT_EQ(d->kind, WindowDesc::Kind::Dialog) << name;
    int thread = ui::Runtime::StartProcedure([d] {
      auto w = ui::Window::Open(d->module, d->name);
      while (w && w->Accept().kind != ui::EventKind::None) {
        if (w->EventNow() == ui::EventKind::CloseWindow) w->Close();
      }
    });
    int window = driver.WaitFor(std::string(module) + "/" + name);
    ASSERT_NE(window, 0) << name;
    EXPECT_EQ(driver.Caption(window), d->caption) << name;
    EXPECT_TRUE(driver.CloseBox(window) && driver.WaitThreadEnd(thread)) << name;
  }
}

TEST_F(FrameworkWindows, PreviewNamesItsControlsAndZoomsAsTheTableSays) {
  const WindowDesc* w = ui::FindWindowDesc(ids::PrintPreview::kModule, ids::PrintPreview::kWindow);
  ASSERT_NE(w, nullptr);
  for (const char* id : {"PRTPREV:TBARZOOM", "PRTPREV:TBARPRINT", "PRTPREV:TBAREXIT",
                         "PRTPREV:MENUPRINT", "PRTPREV:MENUEXIT", "PRTPREV:ZOOMLIST",
                         "PRTPREV:ZOOMPROMPT", "PRTPREV:PAGEPROMPT", "PRTPREV:CURRENTPAGE",
                         "PRTPREV:PAGESACROSS", "PRTPREV:PAGESDOWN", "PRTPREV:NEXT",
                         "PRTPREV:PREVIOUS", "PRTPREV:JUMP", "PRTPREV:CHANGEDISPLAY",
                         "PRTPREV:VIEWMENU", "PRTPREV:ZOOMMENU"}) {
    EXPECT_NE(w->Feq(id), 0) << id;
  }
  EXPECT_EQ(w->Control(w->Feq("PRTPREV:ZOOMLIST"))->type, ControlType::List);
  EXPECT_EQ(w->Control(w->Feq("PRTPREV:CURRENTPAGE"))->type, ControlType::Spin);

  const std::pair<const char*, const char*> kZooms[] = {
      {"Tile pages", "Zoom: Tile Pages"}, {"Page Width", "Zoom: Page Width"},
      {"50% Zoom", "Zoom: 50%"},          {"75% Zoom", "Zoom: 75%"},
      {"100% Zoom", "Zoom: 100%"},        {"200% Zoom", "Zoom: 200%"},
      {"300% Zoom", "Zoom: 300%"}};
  const ControlDesc* menu = w->Control(w->Feq("PRTPREV:ZOOMMENU"));
  ASSERT_EQ(menu->children.size(), std::size(kZooms));
  for (size_t i = 0; i < std::size(kZooms); ++i) {
    EXPECT_EQ(menu->children[i].text, kZooms[i].first);
    EXPECT_EQ(menu->children[i].status, kZooms[i].second);
  }
}

}  // namespace
}  // namespace korawin

#include "tests/app/gui_fixture.h"

#include <filesystem>

#include "app/procedures.h"
#include "app/program.h"
#include "app/startup.h"
#include "platform/codepage.h"
#include "storage/dat/collation.h"
#include "ui/runtime/runtime.h"

namespace korawin::app::testing {

const std::string& DemoTemplate() {
  // The program's keys fold and order Russian text as the shipped environment file says.
  static const bool collation = [] {
    storage::dat::SetEnvironmentPath(KORAWIN_SOURCE_DIR "/config/korawin1.ENV");
    std::string problem;
    EXPECT_TRUE(LoadCollation(&problem)) << problem;
    return true;
  }();
  (void)collation;
  static test::TempDir templ("demo-template");
  static const std::string folder = [] {
    std::string f = templ.File("demo");
    std::string error;
    if (!EnsureDemoDatabase(f, &error)) ADD_FAILURE() << "demo database: " << error;
    return f;
  }();
  return folder;
}

void GuiFixture::SetUp() {
  std::filesystem::copy(DemoTemplate(), dir_.path(), std::filesystem::copy_options::recursive);
  ::setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
  StartUp(dir_.path());
}

void GuiFixture::TearDown() {
  CloseAll();
  app::TearDown();
}

void GuiFixture::CloseAll() {
  if (!ui::Runtime::Threads().empty()) {
    EXPECT_TRUE(ui::Runtime::CloseOtherProcedures(std::chrono::seconds(20)))
        << "a window refused to close";
  }
  driver_.Settle();
}

int GuiFixture::Open(int module, std::string_view caption) {
  if (!StartModule(module)) return 0;
  return driver_.WaitFor(caption);
}

std::vector<std::string> GuiFixture::MessageTexts() {
  std::vector<std::string> out;
  for (const auto& b : backend_.Boxes()) out.push_back(platform::Cp1251ToUtf8(b.box.text));
  return out;
}

std::vector<std::string> GuiFixture::Column(int window, int list, size_t col) {
  std::vector<std::string> out;
  for (const auto& row : driver_.Rows(window, list)) out.push_back(col < row.size() ? row[col] : "");
  return out;
}

}  // namespace korawin::app::testing

// The application's windows on a real database: a copy of the demo database in a temporary
// folder, the program's start-up over it, and the headless backend with its test driver.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "ui/headless/test_driver.h"

namespace korawin::app::testing {

class GuiFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts module's procedure on a thread of its own and waits for the window with caption
  // (or module) to open; 0 when it did not.
  int Open(int module, std::string_view caption);
  // The texts of the message boxes shown so far (UTF-8).
  std::vector<std::string> MessageTexts();
  // Column col of each row of a list, UTF-8, trailing blanks dropped.
  std::vector<std::string> Column(int window, int list, size_t col = 0);
  // Closes every window and waits for every procedure to end.
  void CloseAll();

  test::TempDir dir_{"gui"};
  ui::HeadlessBackend backend_;
  ui::TestDriver driver_{backend_};
};

// The folder of a demo database made once per test program; tests work on copies of it.
const std::string& DemoTemplate();

}  // namespace korawin::app::testing

// A list of cards over a real DAT file, shown by a browse procedure on its own thread and
// edited by an update form it calls, driven through the headless test driver.
//
// cards: CRD:ID LONG, CRD:NAME STRING(20), CRD:THEME STRING(10). Keys: 1 K_ID (numbered
// automatically), 2 K_NAME (NOCASE, OPT, DUP), 3 BY_THEME (THEME, NAME; NOCASE, OPT, DUP).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/browse.h"
#include "framework/locator.h"
#include "framework/relation_manager.h"
#include "framework/step.h"
#include "framework/toolbar.h"
#include "framework/window_manager.h"
#include "tests/framework/fake_driver.h"
#include "tests/framework/framework_windows.h"
#include "tests/storage/dat_test_util.h"
#include "ui/headless/test_driver.h"
#include "ui/runtime/window.h"

namespace korawin::framework::testing {

namespace L = ids::CardList;
namespace F = ids::CardForm;

constexpr int kId = 1, kName = 2, kTheme = 3;                 // field numbers
constexpr int kKeyId = 1, kKeyName = 2, kKeyTheme = 3;        // key numbers
constexpr int kDitto = ui::kKeyCtrl | '\'';

class CardFixture;

// The update form of a card.
class CardForm : public WindowManager {
 public:
  explicit CardForm(CardFixture& f) : f_(f) {}
  Level Init() override;
  Level Kill() override;

 private:
  CardFixture& f_;
  ToolbarClass toolbar_;
  ToolbarUpdateClass target_;
};

// The list of cards: one browse over a view of the file.
class CardList : public WindowManager {
 public:
  explicit CardList(CardFixture& f);
  Level Init() override;
  Level Kill() override;
  uint8_t RunProcedure(int number, uint8_t request) override;
  // A field (number from 1) of the card buffer.
  lang::Variable Field(int field) const;

  BrowseClass browse;
  StepLocatorClass stepLocator;
  IncrementalLocatorClass incLocator;
  StepStringClass step;
  ToolbarClass toolbar;
  ToolbarListboxClass listTarget;

 private:
  CardFixture& f_;
  std::unique_ptr<storage::View> view_;
};

class CardFixture : public ::testing::Test {
 public:
  CardFixture();

  // What the tests set before Start.
  std::function<void(CardList&)> configureList;
  std::function<void(CardForm&)> configureForm;
  std::atomic<int> lastResponse{-1};
  std::atomic<int> forms{0};
  std::atomic<int> formScopes{-1};  // scopes of bound names open while the last form ran
  std::atomic<int> scopesLeft{-1};  // scopes still open when the list's procedure ended

  storage::dat::testing::TempDir dir_;
  korawin::testing::TestFile cards_;
  ErrorClass errors_;
  FileManager fm_;
  RelationManager rm_;

 protected:
  void SetUp() override;
  void TearDown() override;

  // Adds one card per name (theme for all), through a manager of this thread.
  void Fill(const std::vector<std::string>& names, const std::string& theme = "");
  // The names on disk (read through a descriptor of their own), sorted.
  std::vector<std::string> Names();
  // Starts the list and waits for its window; 0 when it did not open.
  int Start();
  // Closes the list and waits until its procedure ended.
  void Finish(int list);
  // Column 0 of each row.
  std::vector<std::string> Shown(int list);
  int Highlight(int list) { return driver_.Value(list, L::List); }
  int ThumbOf(int list) { return driver_.Control(list, L::List).thumb; }
  // Captions of the message boxes shown so far.
  std::vector<std::string> Captions();

  ui::HeadlessBackend backend_;
  ui::TestDriver driver_{backend_};
  int thread_ = 0;
};

// The NATO alphabet, 26 names from ALPHA to ZULU.
const std::vector<std::string>& Alphabet();

}  // namespace korawin::framework::testing

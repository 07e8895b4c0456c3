// The window runtime driven through the headless backend: procedures on their own threads,
// events and their payloads, nested windows, the thread table, and the runtime lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "tests/ui/ui_windows.h"
#include "ui/headless/test_driver.h"
#include "ui/runtime/window.h"

namespace korawin::ui {
namespace {

namespace L = ids::SampleList;
namespace F = ids::SampleForm;

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterSampleWindows(); }
  HeadlessBackend backend_;
  TestDriver driver_{backend_};
};

std::vector<ListRow> MakeRows(const std::vector<std::pair<std::string, int>>& items) {
  std::vector<ListRow> rows;
  for (const auto& [word, n] : items) rows.push_back({{word, std::to_string(n)}});
  return rows;
}

// The form, called on the list's own thread: edits word and number of the chosen item.
bool EditItem(std::string* word, int* number) {
  auto w = Window::Open(F::kModule, F::kWindow);
  char buffer[20];
  std::memset(buffer, ' ', sizeof buffer);
  std::memcpy(buffer, word->data(), std::min(word->size(), sizeof buffer));
  int32_t n = *number;
  w->Use(F::Word, lang::Variable::String(buffer, sizeof buffer));
  w->Use(F::Number, lang::Variable::Of(&n));
  w->Display();
  bool saved = false;
  while (w->Accept().kind != EventKind::None) {
    if (w->EventNow() == EventKind::Accepted && w->Field() == F::OK) {
      std::string_view text(buffer, sizeof buffer);
      *word = std::string(text.substr(0, text.find_last_not_of(' ') + 1));
      *number = n;
      saved = true;
      break;
    }
    if (w->EventNow() == EventKind::Accepted && w->Field() == F::Cancel) break;
    if (w->EventNow() == EventKind::CloseWindow) break;
  }
  return saved;
}

TEST_F(RuntimeTest, ListAndNestedFormOnOneThread) {
  std::vector<std::pair<std::string, int>> items = {
      {"\xE1\xE8\xF2\xFC", 3}, {"\xE4\xE5\xEB\xE0\xF2\xFC", 7}, {"\xE6\xE8\xF2\xFC", 1}};
  std::atomic<int> sawOpen{0};
  int thread = Runtime::StartProcedure([&] {
    auto w = Window::Open(L::kModule, L::kWindow);
    w->SetRows(L::Browse, MakeRows(items));
    w->SetValue(L::Browse, 1);
    while (w->Accept().kind != EventKind::None) {
      switch (w->EventNow()) {
        case EventKind::OpenWindow: ++sawOpen; break;
        case EventKind::Accepted:
          if (w->Field() == L::Change) {
            auto& item = items[static_cast<size_t>(w->Value(L::Browse) - 1)];
            if (EditItem(&item.first, &item.second)) w->SetRows(L::Browse, MakeRows(items));
          }
          break;
        case EventKind::CloseWindow: w->Close(); break;
        default: break;
      }
    }
  });
  ASSERT_NE(thread, 0);
  int list = driver_.WaitFor("Список образцов");
  ASSERT_NE(list, 0);
  EXPECT_EQ(sawOpen.load(), 1);
  auto rows = driver_.Rows(list, L::Browse);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][0], "делать");
  EXPECT_EQ(rows[1][1], "7");

  ASSERT_TRUE(driver_.ChooseRow(list, L::Browse, 2));
  ASSERT_TRUE(driver_.Press(list, L::Change));
  int form = driver_.WaitFor("Изменение образца");
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Text(form, F::Word), "делать");
  EXPECT_EQ(driver_.Text(form, F::Number), "7");
  // While the form runs, the list takes no input.
  EXPECT_TRUE(driver_.StateOf(list).inert);
  EXPECT_FALSE(driver_.Press(list, L::Change));

  ASSERT_TRUE(driver_.Type(form, F::Word, "сделать"));
  ASSERT_TRUE(driver_.Type(form, F::Number, "12"));
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_FALSE(driver_.StateOf(list).inert);
  rows = driver_.Rows(list, L::Browse);
  EXPECT_EQ(rows[1][0], "сделать");
  EXPECT_EQ(rows[1][1], "12");

  ASSERT_TRUE(driver_.Press(list, L::Close));  // a standard close: "EVENT:CloseWindow"
  EXPECT_TRUE(driver_.WaitThreadEnd(thread));
  EXPECT_TRUE(driver_.Windows().empty());
}

TEST_F(RuntimeTest, ThreadTableHoldsSixtyThreeProcedures) {
  std::vector<int> threads;
  for (int k = 0; k < kMaxThreads; ++k) {
    int t = Runtime::StartProcedure([] {
      auto w = Window::Open(L::kModule, L::kWindow);
      while (w->Accept().kind != EventKind::CloseDown) {
      }
    });
    ASSERT_NE(t, 0) << k;
    threads.push_back(t);
  }
  ASSERT_TRUE(driver_.Settle());
  EXPECT_EQ(Runtime::StartProcedure([] {}), 0);
  auto boxes = backend_.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].box.text.find("63"), std::string::npos);
  // Closing down every procedure from outside ends them all and frees the table.
  EXPECT_TRUE(Runtime::CloseOtherProcedures(std::chrono::seconds(20)));
  EXPECT_TRUE(Runtime::Threads().empty());
  int again = Runtime::StartProcedure([] {});
  EXPECT_NE(again, 0);
  EXPECT_TRUE(driver_.WaitThreadEnd(again));
}

TEST_F(RuntimeTest, RuntimeLockKeepsProceduresApart) {
  // Two procedures work on plain shared data between their waits. With the runtime lock held
  // around program code neither ever finds the other inside, and no update is lost (the
  // thread sanitizer sees no race either).
  static bool inside = false;
  static long shared = 0;
  static int overlaps = 0;
  constexpr int kRounds = 2000;
  shared = 0;
  overlaps = 0;
  auto body = [] {
    auto w = Window::Open(L::kModule, L::kWindow);
    for (int k = 0; k < kRounds; ++k) {
      if (inside) ++overlaps;
      inside = true;
      long v = shared;
      for (int spin = 0; spin < 50; ++spin) v = v * 1 + (spin == 49);
      shared = v;
      inside = false;
      w->PostUser(1);
      w->Accept();
    }
  };
  int a = Runtime::StartProcedure(body);
  int b = Runtime::StartProcedure(body);
  EXPECT_TRUE(driver_.WaitThreadEnd(a));
  EXPECT_TRUE(driver_.WaitThreadEnd(b));
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(shared, 2 * kRounds);
}

TEST_F(RuntimeTest, CloseDownRefusedKeepsTheWindow) {
  std::atomic<int> asked{0};
  int t = Runtime::StartProcedure([&] {
    auto w = Window::Open(L::kModule, L::kWindow);
    while (w->Accept().kind != EventKind::None) {
      // The first close is refused (the user chose to stay), the second accepted.
      if (w->EventNow() == EventKind::CloseDown && ++asked == 2) w->Close();
    }
  });
  ASSERT_NE(driver_.WaitFor("Список образцов"), 0);
  EXPECT_FALSE(Runtime::CloseOtherProcedures(std::chrono::seconds(20)));
  EXPECT_TRUE(Runtime::ThreadRunning(t));
  EXPECT_TRUE(Runtime::CloseOtherProcedures(std::chrono::seconds(20)));
  EXPECT_EQ(asked.load(), 2);
}

TEST_F(RuntimeTest, TimerSheetAndValidationRound) {
  std::atomic<int> timers{0};
  std::atomic<bool> completed{false};
  std::vector<int> accepted;
  int t = Runtime::StartProcedure([&] {
    auto w = Window::Open(L::kModule, L::kWindow);
    w->SetTimer(1);
    while (w->Accept().kind != EventKind::None) {
      switch (w->EventNow()) {
        case EventKind::Timer:
          if (++timers == 3) {
            w->SetTimer(0);
            w->SelectAll();
          }
          break;
        case EventKind::Accepted: accepted.push_back(w->Field()); break;
        case EventKind::Completed: completed = true; break;
        case EventKind::CloseWindow: w->Close(); break;
        default: break;
      }
    }
  });
  int list = driver_.WaitFor("Список образцов");
  ASSERT_NE(list, 0);
  for (int k = 0; k < 200 && !completed; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(completed.load());
  EXPECT_EQ(timers.load(), 3);
  // The round accepts the editable controls in order.
  EXPECT_EQ(accepted, (std::vector<int>{L::Fragment, L::Mark}));
  // The check box sits on the first tab: behind the second tab it takes no input.
  ASSERT_TRUE(driver_.ChooseTab(list, L::Sheet, 2));
  EXPECT_FALSE(driver_.Check(list, L::Mark, true));
  ASSERT_TRUE(driver_.ChooseTab(list, L::Sheet, 1));
  EXPECT_TRUE(driver_.Check(list, L::Mark, true));
  ASSERT_TRUE(driver_.CloseBox(list));
  EXPECT_TRUE(driver_.WaitThreadEnd(t));
}

}  // namespace
}  // namespace korawin::ui

// The main frame: the splash, the ways out of the program, the thread table, and the repair
// that will not run beside other windows.
#include <atomic>

#include "app/app_windows.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "platform/codepage.h"
#include "tests/app/gui_fixture.h"
#include "ui/runtime/runtime.h"

namespace korawin::app::testing {
namespace {

namespace M = ids::MainFrame;

class FrameTest : public GuiFixture {
 protected:
  // Runs the frame on a procedure thread as the program does and waits for it and the splash.
  int StartFrame() {
    frameThread_ = ui::Runtime::StartProcedure([this] {
      RunMainFrame();
      frameEnded_ = true;
    });
    int frame = driver_.WaitFor("Основное окно");
    splash_ = driver_.WaitFor("korawin1$koraw029");
    return frame;
  }
  int frameThread_ = 0;
  int splash_ = 0;
  std::atomic<bool> frameEnded_{false};
};

TEST_F(FrameTest, SplashClosesOnAClickAndOnAnyAcceptedControlOfTheFrame) {
  int frame = StartFrame();
  ASSERT_NE(frame, 0);
  ASSERT_NE(splash_, 0);
  ASSERT_TRUE(driver_.Mouse(splash_, 0, ui::kMouseLeft));
  EXPECT_FALSE(driver_.IsOpen(splash_));

  // A second run: the splash goes when the user picks anything in the frame.
  ASSERT_TRUE(driver_.Menu(frame, {"Регистрация", "Exit"}));
  ASSERT_TRUE(driver_.WaitThreadEnd(frameThread_));
  int again = StartFrame();
  ASSERT_NE(splash_, 0);
  ASSERT_TRUE(driver_.Menu(again, {"Регистрация", "Блок настройки"}));
  EXPECT_FALSE(driver_.IsOpen(splash_));
  EXPECT_NE(driver_.WaitFor(" Блок настройки"), 0);
}

TEST_F(FrameTest, SplashClosesOnItsTimer) {
  ASSERT_NE(StartFrame(), 0);
  ASSERT_NE(splash_, 0);
  // Its timer is set to 1000 hundredths of a second.
  for (int k = 0; k < 130 && driver_.IsOpen(splash_); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_FALSE(driver_.IsOpen(splash_));
}

TEST_F(FrameTest, ExitEndOfWorkAndTheCloseBoxEndTheProgramThroughOneClosePath) {
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    frameEnded_ = false;
    int frame = StartFrame();
    ASSERT_NE(frame, 0);
    // A window of another procedure is closed on the way out.
    ASSERT_TRUE(driver_.Press(frame, M::Settings));
    int settings = driver_.WaitFor(" Блок настройки");
    ASSERT_NE(settings, 0);
    switch (way) {
      case 0: ASSERT_TRUE(driver_.Press(frame, M::Exit)); break;
      case 1: ASSERT_TRUE(driver_.Press(frame, M::ToolExit)); break;
      case 2: ASSERT_TRUE(driver_.CloseBox(frame)); break;
    }
    EXPECT_TRUE(driver_.WaitThreadEnd(frameThread_));
    EXPECT_TRUE(frameEnded_.load());
    EXPECT_FALSE(driver_.IsOpen(settings));
    EXPECT_TRUE(ui::Runtime::Threads().empty());
  }
}

TEST_F(FrameTest, SettingsKeepTheAuthorForThisRun) {
  int frame = StartFrame();
  ASSERT_TRUE(driver_.Press(frame, M::Settings));
  int settings = driver_.WaitFor(" Блок настройки");
  ASSERT_TRUE(driver_.Type(settings, ids::Settings::AuthorName, "Орлова"));
  ASSERT_TRUE(driver_.Press(settings, ids::Settings::OK));
  EXPECT_FALSE(driver_.IsOpen(settings));
  EXPECT_EQ(Clip(Glo().authorName), platform::Utf8ToCp1251Lossy("Орлова"));
}

TEST_F(FrameTest, TheSixtyFourthProcedureIsRefused) {
  int frame = StartFrame();
  ASSERT_TRUE(driver_.Mouse(splash_, 0, ui::kMouseLeft));  // the splash's slot is free again
  // The frame holds one slot of 63; 62 settings windows take the rest.
  for (int k = 0; k < ui::kMaxThreads - 1; ++k) ASSERT_TRUE(driver_.Press(frame, M::Settings)) << k;
  EXPECT_EQ(ui::Runtime::Threads().size(), static_cast<size_t>(ui::kMaxThreads));
  size_t boxes = MessageTexts().size();
  ASSERT_TRUE(driver_.Press(frame, M::Settings));
  ASSERT_EQ(MessageTexts().size(), boxes + 1);
  EXPECT_NE(MessageTexts().back().find("63"), std::string::npos);
  EXPECT_EQ(ui::Runtime::Threads().size(), static_cast<size_t>(ui::kMaxThreads));
}

TEST_F(FrameTest, RepairRefusesToRunBesideAnotherWindow) {
  int frame = StartFrame();
  ASSERT_TRUE(driver_.Mouse(splash_, 0, ui::kMouseLeft));
  ASSERT_TRUE(driver_.Press(frame, M::Settings));
  ASSERT_NE(driver_.WaitFor(" Блок настройки"), 0);
  ASSERT_TRUE(driver_.Press(frame, M::ToolRepair));
  ASSERT_TRUE(driver_.Settle());
  std::vector<std::string> texts = MessageTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(texts.back().find("закройте все открытые окна"), std::string::npos);
  EXPECT_NE(texts.back().find("Блок настройки"), std::string::npos);
  EXPECT_EQ(driver_.Find("Ремонт базы"), 0);
}

TEST_F(FrameTest, RepairFromTheMenuShowsItsProgressAndAsksItsQuestions) {
  int frame = StartFrame();
  ASSERT_TRUE(driver_.Mouse(splash_, 0, ui::kMouseLeft));
  ASSERT_TRUE(driver_.Menu(frame, {"Утилиты", "Ремонт базы"}));
  for (int k = 0; k < 200 && ui::Runtime::Threads().size() > 1; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(driver_.Settle());
  std::vector<std::string> texts = MessageTexts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "Восстановить данные?");
  EXPECT_EQ(texts.back(), "        ГОТОВО!    | Продолжить работу?");
  EXPECT_EQ(driver_.Find("Ремонт базы"), 0);  // its progress window went with it
}

}  // namespace
}  // namespace korawin::app::testing

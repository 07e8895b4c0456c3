#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ui/console_message_box.h"
#include "ui/halt.h"
#include "ui/headless_message_box.h"
#include "ui/message_box.h"

namespace korawin::ui {
namespace {

MessageBoxRequest Box(unsigned buttons, unsigned def, std::string text = "text") {
  MessageBoxRequest b;
  b.text = std::move(text);
  b.caption = "Caption";
  b.icon = Icon::Exclamation;
  b.buttons = buttons;
  b.defaultButton = def;
  return b;
}

TEST(HeadlessMessageUi, ScriptedAnswersAreUsedInOrderThenDefaults) {
  HeadlessMessageUi ui;
  ui.QueueAnswer(ButtonNo);
  ui.QueueAnswer(ButtonCancel);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo, ButtonYes)), ButtonNo);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo + ButtonCancel, ButtonYes)), ButtonCancel);
  EXPECT_EQ(ui.PendingAnswers(), 0u);
  // Nothing scripted: the default button answers.
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo + ButtonCancel, ButtonCancel)), ButtonCancel);
  auto boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].answer, ButtonNo);
  EXPECT_EQ(boxes[0].box.caption, "Caption");
  EXPECT_EQ(boxes[0].box.icon, Icon::Exclamation);
  EXPECT_EQ(boxes[1].box.buttons, ButtonYes + ButtonNo + ButtonCancel);
  EXPECT_EQ(ui.Last().answer, ButtonCancel);
}

TEST(HeadlessMessageUi, AnswersOnlyWithButtonsTheBoxOffers) {
  HeadlessMessageUi ui;
  // A default that is not offered falls back to the first button offered.
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo, ButtonCancel)), ButtonYes);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonNo + ButtonCancel, 0)), ButtonNo);
  // A scripted button the box lacks counts as closing it.
  ui.QueueAnswer(ButtonCancel);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo, ButtonYes)), ButtonNone);
  ui.QueueAnswer(ButtonNone);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonOk, ButtonOk)), ButtonNone);
}

TEST(HeadlessMessageUi, RecordsBeepsAndClears) {
  HeadlessMessageUi ui;
  ui.Beep(Sound::Exclamation);
  ui.Beep(Sound::Default);
  ui.QueueAnswer(ButtonOk);
  ui.ShowMessage(Box(ButtonOk, ButtonOk));
  EXPECT_EQ(ui.Beeps(), (std::vector<Sound>{Sound::Exclamation, Sound::Default}));
  ui.QueueAnswer(ButtonOk);
  ui.Clear();
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_TRUE(ui.Beeps().empty());
  EXPECT_EQ(ui.PendingAnswers(), 0u);
  EXPECT_EQ(ui.Last().answer, ButtonNone);
}

TEST(HeadlessMessageUi, BoxesFromManyThreadsAreAllRecorded) {
  HeadlessMessageUi ui;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&ui] {
      for (int i = 0; i < 100; ++i) ui.ShowMessage(Box(ButtonOk, ButtonOk));
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(ui.Boxes().size(), 400u);
}

// The console backend over in-memory streams.
class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { out_ = open_memstream(&buf_, &len_); }
  void TearDown() override {
    if (in_) std::fclose(in_);
    std::fclose(out_);
    std::free(buf_);
  }
  void Input(const std::string& text) {
    input_ = text;
    in_ = fmemopen(input_.data(), input_.size(), "r");
  }
  std::string Output() {
    std::fflush(out_);
    return std::string(buf_, len_);
  }

  std::string input_;
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  char* buf_ = nullptr;
  size_t len_ = 0;
};

TEST_F(ConsoleTest, WithoutTerminalShowsUtf8AndAnswersDefault) {
  Input("n\n");
  ConsoleMessageUi ui(in_, out_, /*interactive=*/false);
  // "Ошибка" in Windows-1251.
  MessageBoxRequest b = Box(ButtonYes + ButtonNo, ButtonNo, "\xCE\xF8\xE8\xE1\xEA\xE0");
  EXPECT_EQ(ui.ShowMessage(b), ButtonNo);
  std::string out = Output();
  EXPECT_NE(out.find("Caption"), std::string::npos);
  EXPECT_NE(out.find("Ошибка"), std::string::npos);
  EXPECT_EQ(std::fgetc(in_), 'n');  // nothing was read
  ui.Beep(Sound::Exclamation);
  EXPECT_EQ(Output().find('\a'), std::string::npos);
}

TEST_F(ConsoleTest, AsksOnTerminalAndUnderstandsAnswers) {
  Input("no\n\nxyz\nC\n");
  ConsoleMessageUi ui(in_, out_, /*interactive=*/true);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo, ButtonYes)), ButtonNo);
  // An empty line takes the default.
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo + ButtonCancel, ButtonCancel)), ButtonCancel);
  // An answer that names no button is asked again.
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo + ButtonCancel, ButtonYes)), ButtonCancel);
  EXPECT_NE(Output().find("Yes/No/Cancel [Yes]? "), std::string::npos);
}

TEST_F(ConsoleTest, EndOfInputClosesTheBox) {
  Input("");
  ConsoleMessageUi ui(in_, out_, /*interactive=*/true);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo + ButtonCancel, ButtonYes)), ButtonCancel);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonYes + ButtonNo, ButtonYes)), ButtonNone);
}

TEST_F(ConsoleTest, SingleButtonBoxDoesNotWaitForInput) {
  Input("y\n");
  ConsoleMessageUi ui(in_, out_, /*interactive=*/true);
  EXPECT_EQ(ui.ShowMessage(Box(ButtonOk, ButtonOk)), ButtonOk);
  EXPECT_EQ(std::fgetc(in_), 'y');
}

TEST(Messages, InstalledBackendServesTheProgram) {
  HeadlessMessageUi ui;
  MessageUi* before = SetMessages(&ui);
  Messages().ShowMessage(Box(ButtonOk, ButtonOk));
  EXPECT_EQ(SetMessages(before), &ui);
  EXPECT_EQ(ui.Boxes().size(), 1u);
  EXPECT_NE(&Messages(), &ui);
}

int haltCode = -1;
std::string haltText;

TEST(Halt, ReplacedHandlerReceivesCodeAndText) {
  HaltHandler before = SetHaltHandler([](int code, std::string_view text) {
    haltCode = code;
    haltText = std::string(text);
  });
  Halt(3, "File Access Error");
  SetHaltHandler(before);
  EXPECT_EQ(haltCode, 3);
  EXPECT_EQ(haltText, "File Access Error");
}

TEST(HaltDeathTest, DefaultHaltEndsTheProgramWithTheCode) {
  SetHaltHandler(nullptr);
  EXPECT_EXIT(Halt(7, "bye"), ::testing::ExitedWithCode(7), "");
  EXPECT_EXIT(Halt(0, ""), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace korawin::ui

#include "framework/ini_store.h"
#include "tests/support/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korawin::framework {
namespace {

namespace fs = std::filesystem;

class FakeWindow : public IniWindow {
 public:
  bool Iconized() const override { return iconized; }
  bool Maximized() const override { return maximized; }
  WindowPosition Position() const override { return pos; }
  void SetPosition(const WindowPosition& p) override {
    pos = p;
    log.push_back("set " + std::to_string(p.XPos) + "," + std::to_string(p.YPos) + "," +
                  std::to_string(p.Width) + "," + std::to_string(p.Height));
  }
  void Restore() override {
    maximized = false;
    log.push_back("restore");
  }
  void Maximize() override {
    maximized = true;
    log.push_back("maximize");
  }

  bool iconized = false;
  bool maximized = false;
  WindowPosition pos{10, 20, 300, 200};
  std::vector<std::string> log;
};

class INIClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_.Init(dir_ + "/korawin1.INI");
  }
  std::string FileText() {
    std::ifstream in(dir_ + "/korawin1.INI", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  test::TempDir temp_{"ini"};
  std::string dir_ = temp_.path();
  INIClass ini_;
};

TEST_F(INIClassTest, NormalWindowIsRememberedAndPlacedAgain) {
  FakeWindow w;
  w.pos = {15, 25, 640, 480};
  ASSERT_EQ(ini_.Update("P1$WINDOW", w), 0);
  EXPECT_EQ(FileText(),
            "[P1$WINDOW]\r\nMaximize=No\r\nXPos=15\r\nYPos=25\r\nHeight=480\r\nWidth=640\r\n");
  FakeWindow next;
  ini_.Fetch("P1$WINDOW", next);
  EXPECT_EQ(next.log, (std::vector<std::string>{"set 15,25,640,480"}));
  EXPECT_FALSE(next.maximized);
}

TEST_F(INIClassTest, MaximizedWindowKeepsTheLastNormalPosition) {
  FakeWindow w;
  w.pos = {5, 6, 700, 500};
  ASSERT_EQ(ini_.Update("_PreviewWindow_", w), 0);
  w.maximized = true;
  w.pos = {0, 0, 1920, 1080};
  ASSERT_EQ(ini_.Update("_PreviewWindow_", w), 0);
  EXPECT_EQ(ini_.Fetch("_PreviewWindow_", "Maximize"), "Yes");
  EXPECT_EQ(ini_.Fetch("_PreviewWindow_", "Width"), "700");
  // A window that opens maximized is restored first, placed, then maximized again.
  FakeWindow next;
  next.maximized = true;
  ini_.Fetch("_PreviewWindow_", next);
  EXPECT_EQ(next.log, (std::vector<std::string>{"restore", "set 5,6,700,500", "maximize"}));
  // Maximized the very first time: no position to restore, only the maximize.
  ASSERT_EQ(ini_.Update("Fresh", w), 0);
  FakeWindow fresh;
  ini_.Fetch("Fresh", fresh);
  EXPECT_EQ(fresh.log, (std::vector<std::string>{"maximize"}));
}

TEST_F(INIClassTest, IconizedWindowIsNotRemembered) {
  FakeWindow w;
  w.iconized = true;
  EXPECT_EQ(ini_.Update("P1$WINDOW", w), 0);
  EXPECT_FALSE(fs::exists(dir_ + "/korawin1.INI"));
}

TEST_F(INIClassTest, SectionWithoutMaximizeLeavesTheWindowAsDesigned) {
  ASSERT_EQ(ini_.Update("P2$WINDOW", "XPos", "100"), 0);
  ASSERT_EQ(ini_.Update("P3$WINDOW", "Maximize", "Perhaps"), 0);
  FakeWindow w;
  ini_.Fetch("P2$WINDOW", w);
  ini_.Fetch("P3$WINDOW", w);
  ini_.Fetch("Missing", w);
  EXPECT_TRUE(w.log.empty());
}

TEST_F(INIClassTest, DamagedPositionIsNotApplied) {
  ASSERT_EQ(ini_.Update("P4$WINDOW", "Maximize", "No"), 0);
  ASSERT_EQ(ini_.Update("P4$WINDOW", "XPos", "100"), 0);
  ASSERT_EQ(ini_.Update("P4$WINDOW", "YPos", "abc"), 0);
  ASSERT_EQ(ini_.Update("P4$WINDOW", "Width", "300"), 0);
  FakeWindow w;
  ini_.Fetch("P4$WINDOW", w);
  EXPECT_TRUE(w.log.empty());
  ASSERT_EQ(ini_.Update("P4$WINDOW", "YPos", "-20"), 0);
  ASSERT_EQ(ini_.Update("P4$WINDOW", "Height", "0"), 0);
  ini_.Fetch("P4$WINDOW", w);
  EXPECT_TRUE(w.log.empty());
  ASSERT_EQ(ini_.Update("P4$WINDOW", "Height", "150"), 0);
  ini_.Fetch("P4$WINDOW", w);
  EXPECT_EQ(w.log, (std::vector<std::string>{"set 100,-20,300,150"}));
}

TEST_F(INIClassTest, SingleValuesReadBackAndMissingOnesAreEmpty) {
  EXPECT_EQ(ini_.Fetch("Main", "Author"), "");
  ASSERT_EQ(ini_.Update("Main", "Author", "Ivanov"), 0);
  ASSERT_EQ(ini_.Update("Main", "Author", "Petrov"), 0);
  EXPECT_EQ(ini_.Fetch("MAIN", "author"), "Petrov");
  EXPECT_EQ(ini_.Fetch("Main", "Other"), "");
  // A line break would smuggle in keys of its own.
  EXPECT_EQ(ini_.Update("Main", "Author", "x\r\nMaximize=Yes"), EINVAL);
  EXPECT_EQ(ini_.Fetch("Main", "Author"), "Petrov");
  EXPECT_EQ(ini_.Fetch("Main", "Maximize"), "");
}

TEST_F(INIClassTest, BareNameLivesInTheConfigurationFolder) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  INIClass ini;
  ini.Init("korawin1.INI");
  EXPECT_EQ(ini.FileName(), dir_ + "/korawin1/korawin1.INI");
  EXPECT_EQ(ini.Update("Main", "Key", "1"), 0);  // creates the folder
  EXPECT_TRUE(fs::exists(dir_ + "/korawin1/korawin1.INI"));
  // An existing file written by another system with other letter case is found.
  fs::rename(dir_ + "/korawin1/korawin1.INI", dir_ + "/korawin1/KORAWIN1.ini");
  EXPECT_EQ(ini.Fetch("Main", "Key"), "1");
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace korawin::framework

#include "app/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/exchange.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "ui/message_box.h"

#ifndef KORAWIN_VERSION
#define KORAWIN_VERSION "1.0"
#endif

namespace korawin::app {

namespace {

// Message boxes of a build without a window answer nothing; the demo's repair asks two
// questions that only have an OK button.
class SilentMessages : public ui::MessageUi {
 public:
  unsigned ShowMessage(const ui::MessageBoxRequest& box) override { return ui::EffectiveDefault(box); }
  void Beep(ui::Sound) override {}
};

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      cl.help = true;
    } else if (a == "--version") {
      cl.version = true;
    } else if (!a.empty() && a[0] == '-') {
      cl.error = "unknown option " + a;
    } else if (cl.folder.empty()) {
      cl.folder = a;
    } else {
      cl.error = "only one database folder can be given";
    }
  }
  return cl;
}

std::string UsageText() {
  return "usage: korawin1 [DATABASE-FOLDER]\n"
         "\n"
         "The lexicographer's workbench for a database of Russian verbs.\n"
         "DATABASE-FOLDER holds the database files (slovo.dat and the others); the program\n"
         "works there and keeps its exported cards (CARD.TXT) there. Without it, the program\n"
         "opens the demo database in " + DemoFolder() + ",\n"
         "made from the demo cards the first time.\n"
         "\n"
         "  --help     show this text\n"
         "  --version  show the program's version\n";
}

std::string VersionText() { return std::string("korawin1 ") + KORAWIN_VERSION + "\n"; }

std::string DemoFolder() { return platform::JoinPath(platform::DataDirectory(), "demo"); }

bool EnsureDemoDatabase(const std::string& folder, std::string* error) {
  if (CheckDatabaseFolder(folder) == FolderProblem::kNone) return true;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    *error = folder + ": " + ec.message();
    return false;
  }
  SilentMessages quiet;
  PassReport report;
  if (BuildDemoDatabase(LexiconFiles::InFolder(folder), quiet, nullptr, &report, error) != 0) {
    return false;
  }
  return true;
}

FolderProblem CheckDatabaseFolder(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return FolderProblem::kMissing;
  if (!S_ISDIR(st.st_mode)) return FolderProblem::kNotFolder;
  if (::access(folder.c_str(), R_OK | X_OK) != 0) return FolderProblem::kUnreadable;
  std::string slovo = platform::ResolveExisting(platform::JoinPath(folder, "slovo.dat"));
  if (::stat(slovo.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return FolderProblem::kNoDatabase;
  if (::access(slovo.c_str(), R_OK) != 0) return FolderProblem::kUnreadable;
  if (::access(folder.c_str(), W_OK) != 0 || ::access(slovo.c_str(), W_OK) != 0) {
    return FolderProblem::kNotWritable;
  }
  return FolderProblem::kNone;
}

std::string DescribeFolderProblem(FolderProblem problem, const std::string& folder) {
  std::string what;
  switch (problem) {
    case FolderProblem::kNone: return {};
    case FolderProblem::kMissing: what = "Папка базы данных не найдена"; break;
    case FolderProblem::kNotFolder: what = "Это не папка, а файл"; break;
    case FolderProblem::kUnreadable: what = "Нет права читать папку базы данных"; break;
    case FolderProblem::kNotWritable:
      what = "Нет права записывать в папку базы данных (изменения нельзя будет сохранить)";
      break;
    case FolderProblem::kNoDatabase:
      what = "В папке нет базы данных: не найден файл slovo.dat";
      break;
  }
  return platform::Utf8ToCp1251Lossy(what + ":\n" + folder);
}

}  // namespace korawin::app

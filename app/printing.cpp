// Card printing and export, the list reports and the text viewer: their registration, and the
// card text export.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/reports.h"
#include "app/texts.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "storage/driver.h"
#include "storage/text/text_driver.h"

namespace korawin::app {

namespace {

// The export's one field, PPP:F1: one record a line.
constexpr uint32_t kLineSize = 4096;

std::string ClipText(std::string_view s) {
  size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

std::string Blanks(long n) { return n > 0 ? std::string(static_cast<size_t>(n), ' ') : std::string(); }

std::string Chars(std::string_view field, size_t from, size_t to) {
  if (from > field.size()) return {};
  return std::string(field.substr(from - 1, std::min(to, field.size()) - from + 1));
}

std::string PadTo15(std::string s) {
  if (s.size() < 15) s.append(15 - s.size(), ' ');
  return s;
}

// The two lines of participant i (1 to 5) of the card in the SLOVO buffer.
void ParticipantLines(const DeclaredFile& slovo, int i, std::vector<std::string>* out) {
  std::string n = std::to_string(i);
  std::string_view name = slovo.Field("ACT1" + n), form = slovo.Field("ACT2" + n),
                   rank = slovo.Field("ACT3" + n), role = slovo.Field("ACT4" + n),
                   tclass = slovo.Field("ACT5" + n);
  std::string clipName = ClipText(name), clipRank = ClipText(rank);
  long formLen = static_cast<long>(ClipText(form).size());
  long roleLen = static_cast<long>(ClipText(role).size());
  std::string first = clipName + Blanks(4 - static_cast<long>(clipName.size())) + "|" +
                      ClipText(Chars(form, 1, 15)) + Blanks(15 - formLen) + "|" + clipRank +
                      Blanks(5 - static_cast<long>(clipRank.size())) + "|" +
                      ClipText(Chars(role, 1, 15)) + Blanks(15 - roleLen) + "|" +
                      ClipText(Chars(tclass, 1, 35));
  std::string second = "    |" + PadTo15(ClipText(Chars(form, 16, 30))) + "|     |" +
                       PadTo15(ClipText(Chars(role, 16, 30))) + "|" +
                       ClipText(Chars(tclass, 36, 70));
  out->push_back(std::move(first));
  out->push_back(std::move(second));
}

// The lines of the card in the SLOVO buffer (Windows-1251), before the driver drops their
// trailing blanks.
std::vector<std::string> CardLines(const DeclaredFile& slovo) {
  auto a = [](std::string_view utf8) { return Ansi(utf8); };
  auto f = [&](std::string_view name) { return std::string(slovo.Field(name)); };
  std::vector<std::string> lines;
  lines.push_back(a("   1. Лексема:") + f("I_VERB"));
  lines.push_back("");
  std::string memo(slovo.memo.begin(), slovo.memo.end());
  if (memo.size() > kLineSize) memo.resize(kLineSize);
  lines.push_back(memo);
  lines.push_back("");
  lines.push_back(a("   2. Легенда:"));
  lines.push_back(f("F_M"));
  lines.push_back(a("   3. Участники:"));
  for (int i = 1; i <= 5; ++i) ParticipantLines(slovo, i, &lines);
  lines.push_back(a("   4. Т-категория:"));
  lines.push_back(f("IV"));
  lines.push_back(a("   5. Схематическое толкование:"));
  const std::pair<const char*, const char*> components[] = {
      {"   K0   ", "V_0"}, {"   K1   ", "V_1"}, {"   K2   ", "V_2"},   {"   K3   ", "V_3"},
      {"   K4   ", "V_4"}, {"   K5   ", "V_5"}, {"   K6   ", "V_7"},   {"   K7   ", "V_6"},
      {"   K8.1 ", "V8B"}, {"   K8.2 ", "V8E"}, {"   K9   ", "V_9"},   {"   K10  ", "V_10"}};
  for (const auto& [label, field] : components) lines.push_back(label + f(field));
  lines.push_back(a("   6. Тема:"));
  lines.push_back(f("TEMA"));
  lines.push_back(a("   7. Аспект. х-ка:"));
  lines.push_back(f("II_MORFOLOG"));
  lines.push_back("");
  lines.push_back(a("   Комментарий:"));
  lines.push_back(f("VIII"));
  lines.push_back(f("VIII_ADD"));
  return lines;
}

// Writes lines into a new file at path through the text driver. 0 or the driver's error.
int WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  storage::FileDescriptor fd;
  fd.driver = &storage::TextDriverEntry;
  fd.name = path;
  fd.label = "PPP";
  fd.attributes = storage::kFileCreate;
  fd.recordSize = kLineSize;
  storage::FieldDescriptor field;
  field.type = storage::kTypeString;
  field.label = "PPP:F1";
  field.size = kLineSize;
  fd.fields.push_back(field);
  std::vector<char> record(kLineSize, ' ');
  fd.record = record.data();
  int err = storage::CallDriver(storage::kOpCreate, fd);
  if (err) return err;
  storage::DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyWrite;
  err = storage::CallDriver(storage::kOpOpen, fd, open);
  if (err) return err;
  err = storage::CallDriver(storage::kOpEmpty, fd);
  for (size_t k = 0; err == 0 && k < lines.size(); ++k) {
    std::fill(record.begin(), record.end(), ' ');
    std::memcpy(record.data(), lines[k].data(), std::min<size_t>(lines[k].size(), kLineSize));
    err = storage::CallDriver(storage::kOpAppend, fd);
  }
  if (err == 0) err = storage::CallDriver(storage::kOpFlush, fd);
  int closed = storage::CallDriver(storage::kOpClose, fd);
  return err ? err : closed;
}

std::string ErrorWordsOf(int err) {
  return std::to_string(err) + " (" + Utf8(std::string(storage::ErrorTextOf(err))) + ")";
}

// A temporary file beside path, that no other export takes at the same time.
std::string TemporaryBeside(const std::string& folder) {
  static std::atomic<int> counter{0};
  return platform::JoinPath(folder, ".korawin1-export-" + std::to_string(::getpid()) + "-" +
                                        std::to_string(++counter) + ".tmp");
}

}  // namespace

std::string CardExportFileName(std::string_view iVerb) {
  size_t p1 = iVerb.find(' ');
  size_t p2 = iVerb.find(" (");
  // Positions as the design counts them, from 1: the first p characters include the blank.
  size_t take = p2 != std::string_view::npos ? p2 + 1 : p1 != std::string_view::npos ? p1 + 1 : 0;
  std::string part(iVerb.substr(0, std::min<size_t>(take, 32)));
  part = ClipText(part);
  for (char& c : part) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) c = '_';
  }
  return platform::Cp1251ToUtf8(part) + ".txt";
}

ExportResult ExportCard(std::string* written) {
  ProgramGlobals& g = Glo();
  std::string current = Clip(g.currentLex);
  if (current.empty()) {
    Tell("Карточка не открыта: откройте карточку лексемы, нажмите в ней OK, затем сохраните "
         "её в текстовом файле.",
         ui::Icon::Exclamation);
    return ExportResult::kNoCard;
  }
  DeclaredFile& slovo = Declared(LexiconFile::kSlovo);
  framework::FileManager& file = Access(LexiconFile::kSlovo);
  std::string wanted(g.currentLex, sizeof g.currentLex);
  // The buffer holds another card (a list walked SLOVO since): the card named by
  // glo:CurrentLex is read as it was saved, and the buffer given back afterwards.
  bool fetched = false;
  uint16_t saved = 0;
  if (slovo.Field("I_VERB") != std::string_view(wanted)) {
    if (file.Open() != framework::LevelBenign) return ExportResult::kCardNotFound;
    saved = file.SaveBuffer();
    slovo.SetField("I_VERB", wanted);
    fetched = file.TryFetch(KeyNumber(LexiconFile::kSlovo, "K_SLO")) == framework::LevelBenign &&
              slovo.Field("I_VERB") == std::string_view(wanted);
    if (!fetched) {
      file.RestoreBuffer(saved, true);
      (void)file.Close();  // 0
      Tell("Карточка «" + Utf8(current) + "» не найдена в базе: сохраните карточку (OK) и "
           "повторите.",
           ui::Icon::Exclamation);
      return ExportResult::kCardNotFound;
    }
  }
  std::string name = CardExportFileName(slovo.Field("I_VERB"));
  std::vector<std::string> lines = CardLines(slovo);
  if (fetched) {
    file.RestoreBuffer(saved, true);
    (void)file.Close();  // 0
  }

  std::string folder = DatabaseFolder().empty() ? platform::CurrentDirectory() : DatabaseFolder();
  std::string path = platform::JoinPath(folder, name);
  // The whole file is written aside and put in place at once: a failure leaves the old file.
  std::string temp = TemporaryBeside(folder);
  int err = WriteLines(temp, lines);
  if (err == 0) err = platform::RenameFile(temp, path);
  if (err) {
    (void)platform::RemoveFile(temp);  // the failure told is the write's
    Tell("Не удалось записать файл «" + name + "» в папке " + folder + ": ошибка " +
             ErrorWordsOf(err) + ".",
         ui::Icon::Hand);
    return ExportResult::kWriteFailed;
  }
  if (written) *written = path;
  Tell("Карточка сохранена в файле «" + name + "» (папка " + folder + ").");
  return ExportResult::kWritten;
}

void RegisterPrintProcedures() {
  RegisterStarted(modules::kCardExport, [] { ExportCard(); });
  RegisterStarted(modules::kPrepareWordsLexemes, [] {
    if (PrepareWordsLexemes()) StartModule(modules::kWordsLexemesReport);
  });
  for (int module : {modules::kCardReport, modules::kCardReport2, modules::kWordsLexemesReport,
                     modules::kTaxReport, modules::kThemeReport, modules::kRoleReport,
                     modules::kTClassReport, modules::kK4Report, modules::kK6Report,
                     modules::kK81Report, modules::kK82Report, modules::kMarkedCardsReport,
                     modules::kMarkedFragmentCardsReport, modules::kLexemeNamesReport}) {
    RegisterStarted(module, [module] { RunReport(module); });
  }
  RegisterStarted(modules::kTextViewer, RunTextViewer);
}

}  // namespace korawin::app

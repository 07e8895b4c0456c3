#include "bench/slovo_gen.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "platform/codepage.h"
#include "storage/driver.h"

namespace korawin::bench {

namespace {

std::string Cp(const char* utf8) { return platform::Utf8ToCp1251Lossy(utf8); }

const char* const kSyllables[] = {"ба", "ве", "ги", "до", "жу", "за", "ки", "ло", "ме", "ну",
                                  "по", "ра", "си", "ту", "фа", "хо", "це", "чи", "ша", "щу",
                                  "бро", "вра", "гла", "дро", "кра", "пле", "сто", "тре"};
const char* const kEndings[] = {"ть", "ать", "ить", "еть", "ться", "ыть", "нуть", "ять"};
const char* const kThemes[] = {"движение", "речь", "восприятие", "физическое воздействие",
                               "ментальная сфера", "эмоции", "обладание",
                               "изменение состояния", "звук", "свет", "бытие", "социальные отношения"};
const char* const kCategories[] = {"действие", "процесс", "состояние", "событие", "свойство",
                                   "отношение"};
const char* const kRoles[] = {"Агенс", "Пациенс", "Адресат", "Источник", "Цель", "Инструмент",
                              "Экспериенцер", "Стимул", "Тема", "Место"};
const char* const kClasses[] = {"лицо", "предмет", "место", "животное", "информация",
                                "вещество", "событие", "организация"};

void Put(std::string& rec, const app::DeclaredFile& decl, const char* field, const std::string& v) {
  int i = decl.FieldIndex(field);
  const auto& f = decl.file->fields[static_cast<size_t>(i)];
  size_t n = std::min<size_t>(v.size(), f.size);
  std::memcpy(rec.data() + f.offset, v.data(), n);
  std::memset(rec.data() + f.offset + n, ' ', f.size - n);
}

}  // namespace

std::vector<GeneratedCard> GenerateCards(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  app::DeclaredFile decl = app::DeclareFile(app::LexiconFile::kSlovo, nullptr);
  std::string blank(decl.record.begin(), decl.record.end());
  auto pick = [&](auto& arr) { return Cp(arr[rng() % std::size(arr)]); };

  std::vector<GeneratedCard> cards;
  cards.reserve(n);
  size_t word = 0;
  while (cards.size() < n) {
    // A word: two or three syllables and an ending, made unique by its number in base 28.
    std::string w;
    size_t k = word++;
    int syll = 2 + static_cast<int>(rng() % 2);
    for (int s = 0; s < syll; ++s) w += Cp(kSyllables[(k + rng()) % std::size(kSyllables)]);
    do {
      w += Cp(kSyllables[k % std::size(kSyllables)]);
      k /= std::size(kSyllables);
    } while (k);
    w += Cp(kEndings[rng() % std::size(kEndings)]);
    int lexemes = 1 + static_cast<int>(rng() % 4);
    for (int l = 1; l <= lexemes && cards.size() < n; ++l) {
      GeneratedCard c;
      c.record = blank;
      std::string iverb = lexemes == 1 ? w : w + " " + std::to_string(l);
      Put(c.record, decl, "I_VERB", iverb);
      Put(c.record, decl, "VERV", w);
      Put(c.record, decl, "TEMA", pick(kThemes));
      Put(c.record, decl, "IV", pick(kCategories));
      Put(c.record, decl, "II_MORFOLOG", Cp(rng() % 2 ? "НСВ, процесс" : "СВ, событие"));
      Put(c.record, decl, "V_4", Cp("X каузирует ") + pick(kThemes));
      Put(c.record, decl, "V_7", Cp("Y находится в состоянии ") + std::to_string(rng() % 50));
      Put(c.record, decl, "V8B", Cp("оценка ") + std::to_string(rng() % 20));
      Put(c.record, decl, "V8E", Cp("следствие ") + std::to_string(rng() % 80));
      Put(c.record, decl, "ACT11", "X");
      Put(c.record, decl, "ACT41", pick(kRoles));
      Put(c.record, decl, "ACT51", pick(kClasses));
      Put(c.record, decl, "ACT12", "Y");
      Put(c.record, decl, "ACT42", pick(kRoles));
      Put(c.record, decl, "ACT52", pick(kClasses));
      Put(c.record, decl, "F_M", Cp("X ") + iverb + Cp(" Y"));
      c.memo = Cp("Он ") + w + Cp(" каждый день.\r\nОни долго ") + w + Cp(" у реки.");
      cards.push_back(std::move(c));
    }
  }
  std::shuffle(cards.begin(), cards.end(), rng);
  return cards;
}

std::string IVerbOf(const GeneratedCard& card) { return card.record.substr(0, 64); }

std::string CommonFragment() { return Cp("кра"); }

int BulkAdd(app::DeclaredFile& slovo, const std::vector<GeneratedCard>& cards) {
  storage::FileDescriptor& fd = slovo.fd();
  int err = storage::CallDriver(storage::kOpStream, fd);
  for (size_t i = 0; !err && i < cards.size(); ++i) {
    const GeneratedCard& c = cards[i];
    std::memcpy(slovo.record.data(), c.record.data(), slovo.record.size());
    size_t m = std::min(c.memo.size(), slovo.memo.size());
    std::memcpy(slovo.memo.data(), c.memo.data(), m);
    std::memset(slovo.memo.data() + m, ' ', slovo.memo.size() - m);
    err = storage::CallDriver(storage::kOpAdd, fd);
  }
  int flush = storage::CallDriver(storage::kOpFlush, fd);
  return err ? err : flush;
}

}  // namespace korawin::bench

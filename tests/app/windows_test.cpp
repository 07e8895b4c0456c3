// The application's window descriptions against what the build cannot see: the frame's menu
// bar and toolbar as the design tabulates them, a window for every procedure module, each
// quoted list format in its module, copies of one window kept alike, bindings only to fields
// the record layouts have, and every window opening in the runtime.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/files.h"
#include "lang/picture.h"
#include "platform/codepage.h"
#include "ui/desc/desc_json.h"
#include "ui/headless/test_driver.h"
#include "ui/runtime/window.h"

namespace korawin {
namespace {

using ui::ControlDesc;
using ui::ControlType;
using ui::WindowDesc;

std::string Utf8(std::string_view cp1251) { return platform::Cp1251ToUtf8(cp1251); }

class AppWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterAppWindows(); }

  // The first window of a module ("041" for korawin1$koraw041); fails the test when none.
  static const WindowDesc* Module(const std::string& number) {
    std::string module = "korawin1$koraw" + number;
    for (const WindowDesc* w : ui::AllWindowDescs())
      if (w->module == module) return w;
    ADD_FAILURE() << "no window for " << module;
    return nullptr;
  }
};

// One line per menu entry: depth, text, " | " status, " [std]"; a separator is "-".
void MenuLines(const std::vector<ControlDesc>& entries, int depth, std::vector<std::string>* out) {
  for (const ControlDesc& c : entries) {
    std::string line(static_cast<size_t>(depth), ' ');
    if (c.type == ControlType::Separator) {
      out->push_back(line + "-");
      continue;
    }
    line += Utf8(c.text);
    if (!c.status.empty()) line += " | " + Utf8(c.status);
    if (c.std != ui::StdAction::None) line += " [" + std::string(ui::StdActionName(c.std)) + "]";
    out->push_back(line);
    if (c.type == ControlType::Menu) MenuLines(c.children, depth + 1, out);
  }
}

TEST_F(AppWindows, FrameMenuBarAndToolbarAreTheTabulatedOnes) {
  const WindowDesc* frame = ui::FindWindowDesc(ids::MainFrame::kModule, ids::MainFrame::kWindow);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->kind, WindowDesc::Kind::Frame);
  EXPECT_EQ(Utf8(frame->caption), "Основное окно");
  const std::vector<std::string> expected = {
      "Регистрация",
      " Блок настройки | В будущем сюда добавятся и другие предварительные установки",
      " -",
      " STR-MEMO (только 1 раз) | Перенос данных из str-поля ПРИМЕРЫ в memo-поле ПРИМЕРЫ",
      " -",
      " Файлер",
      " -",
      " E&xit | Конец работы (программы будет закрыта) [close]",
      "&Edit",
      " Cu&t | Remove item to Windows Clipboard [cut]",
      " &Copy | Copy item to Windows Clipboard [copy]",
      " &Paste | Paste contents of Windows Clipboard [paste]",
      "&Window | Create and Arrange windows [windowlist]",
      " T&ile | Make all open windows visible [tile]",
      " &Cascade | Stack all open windows [cascade]",
      " &Arrange Icons | Align all window icons [arrange]",
      "Просмотр базы | Просмотр всех файлов базы в виде таблиц. В некоторые таблицы можно "
      "вносить изменения",
      " Список слов | Полный список слов. Режим просмотра",
      " -",
      " Список лексем | Полный список лексем. Можно вносить изменения",
      " Список лексем вспомогательный",
      " -",
      " Т-категории глаголов | Список ТАКСОНОМИЧЕСКИХ  КАТЕГОРИЙ глаголов и соответствующие "
      "лексемы",
      " -",
      " Tематические классы | Список ТЕМ и соответствующие лексемы",  // Latin T
      " -",
      " Участники.  Роли | Список УЧАСТНИКОВ (Роли) и соответствующие лексемы",
      " -",
      " Участники. Т-классы | Список УЧАСТНИКОВ (Т-классы) и соответствующие лексемы",
      " -",
      " Толкование К4 | Список компонентов ТОЛКОВАНИЯ К4 и соответствующие лексемы",
      " -",
      " Толкование K6 | Список компонентов ТОЛКОВАНИЯ  К6 и соответствующие лексемы",  // Latin K
      " -",
      " Толкование К8 | Компоненты ТОЛКОВАНИЯ К8",
      "  -",
      "  Толкование К8.1 | Список компонентов  ТОЛКОВАНИЯ К8(1) и соответствующие лексемы",
      "  -",
      "  Толкование К8.2 | Список компонентов ТОЛКОВАНИЯ К8(2) и соответствующие лексемы",
      "  -",
      "Фильтры для лексем",
      " ... по Участникам (Роли)",
      " ... по Участникам (Т-классы)",
      " ... по Толкованиям",
      " ... по Т-категориям и Темам",
      " ... по Теме-Толкованию К8.2",
      "Утилиты | Вспомокательные программы. Здесь же могут быть незаконченные проектируемые "
      "программы",
      " Ремонт базы | Восстанавливает все файлы базы по основному файлу SLOVO",
      " -",
      " Определение характеристик дисплея | Определяет характеристики (разрешение) дисплея. Эти "
      "характеристики предполагается использовать для улучшения экранных форм",
      " -",
      " Окно WINDOWS | Окно для просмотра записанных в файл карточек  (файл CARD.TXT в рабочей "
      "папке). Можно работать и с  другими файлами",
      " -",
      " Другие программы | Программы будут добавляться по мере необходимости",
      "Печать | Печать разных отчетов",
      " Полный список слов и лексем ",
      " Печать карточки на принтер (карточка должна быть открыта) | Печать карточки (с "
      "предварительным просмотром)",
      " Печать карточки в текстовой файл (карточка должна быть открыта) | Печать карточки "
      "лексемы в текстовой файл. В дальнейшем возможна обработка карточки средствами редактора "
      "WORD",
      " Печать отдельных полей",
      "  Т-категории | Печать списка Т-категорий глаголов",
      "  Tематические классы | Печать списка ТЕМ",
      "  Роли",
      "  Таксономические классы",
      "  Толкования К4",
      "  Толкования К6",
      "  Толкования К8.1",
      "  Толкования К8.2",
      "      &Help | Windows Help",
      " &Contents | View the contents of the help file [helpindex]",
      " &Search for Help On... | Search for help on a subject [helpsearch]",
      " &How to Use Help | How to use Windows Help [helponhelp]",
  };
  std::vector<std::string> actual;
  MenuLines(frame->menu, 0, &actual);
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "entry " << i;

  // Caption | icon | status | tip, left to right; then the text control nobody fills.
  const std::vector<std::string> buttons = {
      "СЛОВА | WORDBOOK.ICO | Список слов и соответствующие каждому слову лексемы | Cnucok "
      "C/\\OB. Если список пуст, закройте все открытые окна и восстановите данные",
      "ЛЕКСЕМЫ | TEXTEDIT.ICO |  | Cnucok /\\EKCEM, просмотр и печать карточек",
      "ВОССТАНОВЛЕНИЕ ДАННЫХ | TOOLS6.ICO |  | Перед \"Восстановлением данных.\" закройте все "
      "открытые окна",
      "TEXT FILES | INOUT.ICO | Можно просмотривать любые текстовые файлы (и не только...) | "
      "Можно просмотреть карточку, сохраненную как CARD.TXT.",
      "КОНЕЦ РАБОТЫ |  |  | ",
  };
  ASSERT_EQ(frame->toolbar.size(), buttons.size() + 1);
  for (size_t i = 0; i < buttons.size(); ++i) {
    const ControlDesc& b = frame->toolbar[i];
    EXPECT_EQ(b.type, ControlType::Button);
    EXPECT_EQ(Utf8(b.text) + " | " + b.icon + " | " + Utf8(b.status) + " | " + Utf8(b.tip),
              buttons[i]);
  }
  const ControlDesc& text = frame->toolbar.back();
  EXPECT_EQ(text.type, ControlType::Entry);  // one line of text on the toolbar
  EXPECT_EQ(text.font, "MS SanSerif");
  EXPECT_TRUE(text.use.empty() && text.text.empty());
}

TEST_F(AppWindows, EveryProcedureModuleHasItsWindow) {
  // Frame, splash, settings; lists; classification browsers and twins; participant lists and
  // their lexemes; entry forms; pick lists; card forms and their expand windows; filters and
  // their results; the text viewer.
  const char* const kModules[] = {
      "001", "029", "050", "004", "051", "052", "139", "010", "021", "009", "022", "080", "081",
      "006", "020", "007", "023", "008", "024", "002", "025", "003", "026", "018", "019", "013",
      "015", "078", "082", "076", "079", "012", "034", "035", "036", "016", "037", "017", "042",
      "041", "053", "038", "057", "058", "140", "141", "030", "032", "031", "033", "096", "104",
      "097", "090", "106", "103", "105", "102", "091", "107", "045"};
  for (const char* m : kModules) Module(m);
  int frames = 0;
  for (const WindowDesc* w : ui::AllWindowDescs()) frames += w->kind == WindowDesc::Kind::Frame;
  EXPECT_EQ(frames, 1);
}

void Formats(const std::vector<ControlDesc>& controls, std::set<std::string>* out) {
  for (const ControlDesc& c : controls) {
    if (c.type == ControlType::List) out->insert(Utf8(c.format));
    Formats(c.children, out);
  }
}

TEST_F(AppWindows, EveryQuotedListFormatIsInItsModule) {
  const std::string kLexemes = "256L~Соответствующие лексемы~C@s64@";
  const std::string kFiltered = "12L(2)F@s1@265L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@";
  const std::multimap<std::string, std::string> kQuoted = {
      {"004", "80L(2)@s20@[12R(1)@n3@/]"},
      {"004", "256L(2)~Лексемы, соответствующие активному слову~C(0)@s64@"},
      {"051", "10L(2)@s1@284L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@"},
      {"052", "12L(2)F@s1@310L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@"},
      {"139", "6L(2)|M@s1@230L(1)|M~I_VERB~L(2)@s64@656L(2)|M~F_M~@s164@840L(2)|M~K7~@s200@"
              "80L(2)|M~Лексема~C@s100@150L(2)|M~Противоположный вид~C@s164@146L(2)|M~Т-категория~"
              "@s140@656L(2)|M~TEMA~@s164@840L(2)|M~K7~@s210@760L(2)|M~K9~@s190@"},
      {"010", "272L@s68@"}, {"021", "272L@s68@"},
      {"009", "200L(2)@s140@"}, {"022", "200L(2)@s140@"},
      {"006", "600L(2)@s150@"}, {"020", "600L(2)@s150@"},
      {"010", kLexemes}, {"021", kLexemes}, {"009", kLexemes}, {"022", kLexemes},
      {"080", kLexemes}, {"081", kLexemes}, {"006", kLexemes}, {"020", kLexemes},
      {"007", kLexemes}, {"023", kLexemes}, {"008", kLexemes}, {"024", kLexemes},
      {"002", "120L(2)@s30@"}, {"025", "120L(2)@s30@"},
      {"003", "280L(2)@s70@"}, {"026", "280L(2)@s70@"},
      {"018", "80L(2)@s64@"}, {"019", "80L(2)@s64@"},
      {"012", "272L(2)@s68@"},
      {"091", kFiltered}, {"102", kFiltered}, {"103", kFiltered}, {"105", kFiltered},
      {"107", kFiltered},
  };
  for (const auto& [module, format] : kQuoted) {
    const WindowDesc* w = Module(module);
    if (!w) continue;
    std::set<std::string> formats;
    Formats(w->controls, &formats);
    EXPECT_TRUE(formats.count(format)) << module << ": " << format;
  }
}

// What procedure code relies on: each numbered control's type, id, binding and picture; with
// texts, flags and actions as well when the copies must look alike.
std::vector<std::string> Shape(const WindowDesc& w, bool looks) {
  std::vector<std::string> out;
  for (const ControlDesc* c : w.Numbered()) {
    std::string s(ui::ControlTypeName(c->type));
    for (const std::string& part : {c->id, c->use, c->picture}) s.append(" ").append(part);
    if (looks) {
      for (const std::string& part : {Utf8(c->text), Utf8(c->tip), Utf8(c->status),
                                      std::to_string(c->flags),
                                      std::string(ui::StdActionName(c->std))}) {
        s.append(" ").append(part);
      }
    }
    out.push_back(s);
  }
  return out;
}

TEST_F(AppWindows, CopiesOfAWindowStayAlike) {
  // The three card forms differ only in their captions.
  for (const char* copy : {"053", "038"}) {
    const WindowDesc* a = Module("041");
    const WindowDesc* b = Module(copy);
    if (a && b) {
      EXPECT_EQ(Shape(*a, true), Shape(*b, true)) << "card form " << copy;
    }
  }
  // A fragment twin numbers its controls as its browser does, so one procedure serves both.
  const std::pair<const char*, const char*> kTwins[] = {
      {"010", "021"}, {"009", "022"}, {"080", "081"}, {"006", "020"}, {"007", "023"},
      {"008", "024"}, {"002", "025"}, {"003", "026"}};
  for (const auto& [base, twin] : kTwins) {
    const WindowDesc* a = Module(base);
    const WindowDesc* b = Module(twin);
    if (!a || !b) continue;
    EXPECT_EQ(Shape(*a, false), Shape(*b, false)) << base << " and " << twin;
  }
}

void Bound(const std::vector<ControlDesc>& controls, std::vector<const ControlDesc*>* out) {
  for (const ControlDesc& c : controls) {
    if (!c.use.empty()) out->push_back(&c);
    Bound(c.children, out);
  }
}

TEST_F(AppWindows, FieldsShownAreFieldsOfTheRecordLayouts) {
  std::map<std::string, storage::FieldDescriptor> fields;  // "SLO:I_VERB" -> descriptor
  std::set<std::string> prefixes, memos;
  for (int i = 0; i < app::kLexiconFileCount; ++i) {
    app::DeclaredFile d = app::DeclareFile(static_cast<app::LexiconFile>(i), nullptr);
    prefixes.insert(std::string(app::FilePrefix(static_cast<app::LexiconFile>(i))));
    for (const storage::FieldDescriptor& f : d.fd().fields) fields[f.label] = f;
    for (const storage::MemoDescriptor& m : d.fd().memos) memos.insert(m.label);
  }
  int checked = 0;
  for (const WindowDesc* w : ui::AllWindowDescs()) {
    std::vector<const ControlDesc*> bound;
    Bound(w->controls, &bound);
    for (const ControlDesc* c : bound) {
      size_t colon = c->use.find(':');
      if (colon == std::string::npos || !prefixes.count(c->use.substr(0, colon))) continue;
      ++checked;
      if (memos.count(c->use)) {
        EXPECT_EQ(c->type, ControlType::TextBox) << w->module << " " << c->id;
        continue;
      }
      auto f = fields.find(c->use);
      if (f == fields.end()) {
        ADD_FAILURE() << w->module << " " << c->id << " shows " << c->use << ", no such field";
        continue;
      }
      // An entry wider than its field would take text the record cannot keep.
      if (f->second.type == storage::kTypeString && !c->picture.empty() &&
          (c->picture[1] == 's' || c->picture[1] == 'S')) {
        EXPECT_LE(lang::PictureWidth(c->picture), static_cast<int>(f->second.size))
            << w->module << " " << c->id;
      }
    }
  }
  EXPECT_GT(checked, 60);
}

TEST_F(AppWindows, EveryWindowOpensWithItsCaptionAndCloses) {
  ui::HeadlessBackend backend;
  ui::TestDriver driver(backend);
  for (const WindowDesc* d : ui::AllWindowDescs()) {
    std::string where = d->module + "/" + d->name;
    int thread = ui::Runtime::StartProcedure([d] {
      auto w = ui::Window::Open(d->module, d->name);
      while (w && w->Accept().kind != ui::EventKind::None) {
        if (w->EventNow() == ui::EventKind::CloseWindow) w->Close();
      }
    });
    ASSERT_NE(thread, 0);
    int window = driver.WaitFor(where);
    ASSERT_NE(window, 0) << where;
    EXPECT_EQ(driver.Caption(window), Utf8(d->caption)) << where;
    EXPECT_TRUE(driver.CloseBox(window)) << where;
    EXPECT_TRUE(driver.WaitThreadEnd(thread)) << where;
  }
}

}  // namespace
}  // namespace korawin

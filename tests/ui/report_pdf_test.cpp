// Reports drawn by the Qt renderer without a display: PDF files whose text pdftotext extracts
// (Cyrillic intact, in order, page numbers continuous), long text continued over pages, and
// page images for the preview. KORAWIN_REPORT_OUT, when set, names a folder that receives a
// copy of every file the tests write, for looking at.
#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "tests/ui/report_samples.h"
#include "ui/qt_print/qt_fonts.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/page_builder.h"
#include "ui/report/report_json.h"

namespace korawin::ui::report {
namespace {

namespace fs = std::filesystem;

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "ui_report_pdf_test";
    static char* argv[] = {name, nullptr};
    app_ = new QGuiApplication(argc, argv);
  }
  void TearDown() override { delete app_; }

 private:
  QGuiApplication* app_ = nullptr;
};
[[maybe_unused]] testing::Environment* const kQt =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string W(std::string_view utf8) { return platform::Utf8ToCp1251Lossy(utf8); }

struct Str {
  explicit Str(size_t n) : buf(n, ' ') {}
  void Set(std::string_view utf8) {
    std::string t = W(utf8);
    std::fill(buf.begin(), buf.end(), ' ');
    std::memcpy(buf.data(), t.data(), std::min(t.size(), buf.size()));
  }
  lang::Variable Var() const { return lang::Variable::String(buf.data(), static_cast<uint32_t>(buf.size())); }
  std::string buf;
};

class ReportPdfTest : public testing::Test {
 protected:
  void SetUp() override {
    RegisterSampleReports();
    char tmpl[] = "/tmp/korawin_report_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (const char* out = std::getenv("KORAWIN_REPORT_OUT")) {
      for (const auto& f : fs::directory_iterator(dir_))
        fs::copy_file(f.path(), fs::path(out) / f.path().filename(),
                      fs::copy_options::overwrite_existing);
    }
    fs::remove_all(dir_);
  }

  // Pages of the text of a PDF, as pdftotext extracts them; with layout, in lines from the
  // top of the page down, as they stand on it.
  static std::vector<std::string> PdfPages(const fs::path& pdf, bool layout = false) {
    std::string cmd = std::string(KORAWIN_PDFTOTEXT) + (layout ? " -layout" : "") +
                      " -enc UTF-8 '" + pdf.string() + "' -";
    FILE* p = popen(cmd.c_str(), "r");
    EXPECT_NE(p, nullptr);
    std::string text;
    char buf[65536];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    EXPECT_EQ(p ? pclose(p) : -1, 0) << cmd;
    std::vector<std::string> pages;
    std::istringstream in(text);
    for (std::string page; std::getline(in, page, '\f');) pages.push_back(page);
    if (!pages.empty() && pages.back().find_first_not_of(" \n") == std::string::npos) pages.pop_back();
    return pages;
  }

  fs::path dir_;
  qtprint::QtPageRenderer renderer_;
};

TEST_F(ReportPdfTest, ListKeepsCyrillicOrderAndPageNumbers) {
  // The fonts the reports name are drawn with installed faces that hold Cyrillic glyphs, and
  // a line measures as wide as the font draws it.
  auto measure = renderer_.NewMetrics();
  for (const char* family : {"Times New Roman Cyr", "MS Sans Serif", "Arial", "Courier", "System"}) {
    for (bool bold : {false, true}) {
      FontSpec font{family, 11, bold, !bold, false};
      QFont f = qtprint::ReportFont(font);
      EXPECT_TRUE(QFontMetricsF(f).inFontUcs4(U'Ж')) << family << " -> " << f.family().toStdString();
      EXPECT_TRUE(QFontMetricsF(f).inFontUcs4(U'я')) << family;
      std::string line = W("Тот, кто бьёт: AVAV fi ffl Ты Та «Ёж» № 1/2, WAY 7.");
      QImage device(1, 1, QImage::Format_RGB32);
      device.setDotsPerMeterX(47244);  // 1200 dpi
      device.setDotsPerMeterY(47244);
      double drawn = QFontMetricsF(f, &device).horizontalAdvance(qtprint::FromCp1251(line)) / 1.2;
      EXPECT_NEAR(measure->Width(font, line), drawn, 0.5) << family << (bold ? " bold" : "");
    }
  }

  const ReportDesc* desc = FindReportDesc("korawin1$test01", "P1$REPORT");
  ASSERT_NE(desc, nullptr);
  // Laid out and drawn on a thread of its own, as a report procedure runs, and kept as well.
  fs::path pdf = dir_ / "list.pdf";
  const char* kinds[] = {"действие", "процесс", "состояние", "свойство, отношение"};
  std::vector<std::string> rows;
  PageList kept;
  int pageCount = 0;
  std::thread procedure([&] {
    auto metrics = renderer_.NewMetrics();
    auto sink = renderer_.NewPdfSink(pdf.string());
    PageBuilder b, again;
    ASSERT_TRUE(b.Open(*desc, metrics.get(), sink.get()));
    ASSERT_TRUE(again.Open(*desc, metrics.get(), &kept));
    int32_t n = 0;
    Str t(140);
    for (PageBuilder* builder : {&b, &again}) {
      builder->Use("LOC:N", lang::Variable::Of(&n));
      builder->Use("TAX:T", t.Var());
    }
    for (n = 1; n <= 150; ++n) {
      rows.push_back("Т-категория " + std::string(kinds[n % 4]) + " № " + std::to_string(n) + " ЁЖЩЪЭЮЯ");
      t.Set(rows.back());
      ASSERT_TRUE(b.Print(report_ids::SampleList::Detail)) << b.Error();
      ASSERT_TRUE(again.Print(report_ids::SampleList::Detail)) << again.Error();
    }
    ASSERT_TRUE(b.Close()) << b.Error();
    ASSERT_TRUE(again.Close()) << again.Error();
    pageCount = b.Pages();
  });
  procedure.join();
  ASSERT_GE(pageCount, 3);
  ASSERT_EQ(kept.Doc().pages.size(), static_cast<size_t>(pageCount));

  std::vector<std::string> pages = PdfPages(pdf);
  ASSERT_EQ(pages.size(), static_cast<size_t>(pageCount));
  size_t row = 0;
  for (size_t p = 0; p < pages.size(); ++p) {
    const std::string& text = pages[p];
    EXPECT_NE(text.find("Список Т-категорий"), std::string::npos) << "page " << p + 1;
    std::regex number("Стр\\s+" + std::to_string(p + 1) + "\\s*$");
    EXPECT_TRUE(std::regex_search(text, number)) << "page " << p + 1 << ":\n" << text;
    // The rows of the page, in order, each whole on its line.
    size_t at = 0;
    while (row < rows.size()) {
      size_t found = text.find(rows[row], at);
      if (found == std::string::npos) break;
      at = found + rows[row].size();
      ++row;
    }
  }
  EXPECT_EQ(row, rows.size()) << "row " << row + 1 << " missing or out of order: " << rows[row];

  // The printer takes the same pages; a page range prints only those pages.
  QPrinter printer(QPrinter::HighResolution);
  qtprint::SetUpPrinter(&printer, kept.Doc().format);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString((dir_ / "printed.pdf").string()));
  printer.setPrintRange(QPrinter::PageRange);
  printer.setFromTo(2, 3);
  std::string why;
  ASSERT_TRUE(qtprint::PrintDocument(kept.Doc(), &printer, &why)) << why;
  std::vector<std::string> printed = PdfPages(dir_ / "printed.pdf");
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_EQ(printed[0], pages[1]);
  EXPECT_EQ(printed[1], pages[2]);
}

TEST_F(ReportPdfTest, MemoOfTenThousandCharactersGoesOnOverPages) {
  const ReportDesc* desc = FindReportDesc("korawin1$test02", "P1$REPORT");
  ASSERT_NE(desc, nullptr);
  const char* vocabulary[] = {"ударять", "кулаком", "палкой", "сильно,", "резко", "наносить",
                              "удары", "ладонью", "по", "столу"};
  std::string memoUtf8;
  std::vector<std::string> want;
  for (int k = 0; memoUtf8.size() < 17000; ++k) {
    want.push_back(vocabulary[(k * 7 + k / 10) % 10]);
    memoUtf8 += want.back() + ((k % 61 == 60) ? "\r\n" : " ");
  }
  std::string memo = W(memoUtf8);
  memo.resize(10000, ' ');
  ASSERT_EQ(memo.size(), 10000u);
  // The words that fit the memo's 10,000 characters.
  std::istringstream in(platform::Cp1251ToUtf8(memo));
  want.clear();
  for (std::string w; in >> w;) want.push_back(w);

  Str verb(64);
  verb.Set("бить 1 (кого)");
  auto metrics = renderer_.NewMetrics();
  fs::path pdf = dir_ / "memo.pdf";
  auto sink = renderer_.NewPdfSink(pdf.string());
  PageBuilder b;
  ASSERT_TRUE(b.Open(*desc, metrics.get(), sink.get()));
  b.Use("SLO:I_VERB", verb.Var());
  b.Use("SLO:EXA_MEMO", lang::Variable::Field(lang::kTypeMemo, memo.data(), 10000));
  ASSERT_TRUE(b.Print(report_ids::SampleMemo::Card)) << b.Error();
  ASSERT_TRUE(b.Close()) << b.Error();
  ASSERT_GE(b.Pages(), 3);

  std::vector<std::string> pages = PdfPages(pdf);
  ASSERT_EQ(pages.size(), static_cast<size_t>(b.Pages()));
  std::set<std::string> words(std::begin(vocabulary), std::end(vocabulary));
  std::vector<std::string> got;
  for (size_t p = 0; p < pages.size(); ++p) {
    EXPECT_NE(pages[p].find("бить 1 (кого)"), std::string::npos) << "page " << p + 1;
    EXPECT_TRUE(std::regex_search(pages[p], std::regex("Стр\\s+" + std::to_string(p + 1))));
    std::istringstream page(pages[p]);
    for (std::string w; page >> w;)
      if (words.count(w)) got.push_back(w);
  }
  EXPECT_EQ(got, want);
}

TEST_F(ReportPdfTest, CardPrintsToPdfAndPreviewImages) {
  const ReportDesc* desc = FindReportDesc("korawin1$test03", "P1$REPORT");
  ASSERT_NE(desc, nullptr);
  // A card as the lexeme card holds it.
  std::vector<std::pair<const char*, std::string>> values = {
      {"SLO:NAME", "Иванова"},
      {"SLO:I_VERB", "бить 1 (кого)"},
      {"SLO:F_M", "X бьет Y-а чем-л. Z по W: наносит удары"},
      {"SLO:ACT11", "X"}, {"SLO:ACT21", "кто"}, {"SLO:ACT31", "1"}, {"SLO:ACT41", "Агенс"},
      {"SLO:ACT51", "лицо, одушевленное существо, способное совершать намеренные действия"},
      {"SLO:ACT12", "Y"}, {"SLO:ACT22", "кого"}, {"SLO:ACT32", "2"}, {"SLO:ACT42", "Пациенс"},
      {"SLO:ACT52", "лицо"},
      {"SLO:ACT13", "Z"}, {"SLO:ACT23", "чем"}, {"SLO:ACT33", "3"}, {"SLO:ACT43", "Инструмент"},
      {"SLO:ACT53", "предмет"},
      {"SLO:IV", "Действие физическое, контактное"},
      {"SLO:V_0", "X действует"}, {"SLO:V_1", "намеренно"}, {"SLO:V_2", "Z касается Y-а"},
      {"SLO:V_3", "быстро, с силой"}, {"SLO:V_4", "многократно"},
      {"SLO:V_7", "K6 в поле V_7"}, {"SLO:V_6", "K7 в поле V_6"},
      {"SLO:V8B", "Y испытывает боль"}, {"SLO:V8E", "Y-у плохо"},
      {"SLO:TEMA", "Физическое воздействие"},
      {"SLO:II_MORFOLOG", "НСВ; пара: побить (СВ)"},
      {"SLO:VIII", "Комментарий к карточке: значение прямое, с творительным инструмента."},
  };
  // Every field of the card gets a buffer; those not listed stay blank.
  std::vector<std::unique_ptr<Str>> buffers;
  for (const ReportControlDesc& c : desc->details[0].controls) {
    if (c.type != ReportControlType::Field || c.use == "SLO:DATE") continue;
    buffers.push_back(std::make_unique<Str>(210));
    for (const auto& v : values)
      if (c.use == v.first) buffers.back()->Set(v.second);
  }
  int32_t date = platform::DayNumber(2001, 3, 15);
  auto bind = [&](PageBuilder* b) {
    size_t k = 0;
    for (const ReportControlDesc& c : desc->details[0].controls) {
      if (c.type == ReportControlType::Field && c.use != "SLO:DATE") b->Use(c.use, buffers[k++]->Var());
    }
    b->Use("SLO:DATE", lang::Variable::Of(&date));
  };
  auto metrics = renderer_.NewMetrics();
  fs::path pdf = dir_ / "card.pdf";
  auto sink = renderer_.NewPdfSink(pdf.string());
  PageBuilder b;
  ASSERT_TRUE(b.Open(*desc, metrics.get(), sink.get(), W("Карточка")));
  bind(&b);
  ASSERT_TRUE(b.Print(report_ids::SampleCard::Card)) << b.Error();
  ASSERT_TRUE(b.Close()) << b.Error();
  ASSERT_EQ(b.Pages(), 1);

  std::vector<std::string> pages = PdfPages(pdf, true);
  ASSERT_EQ(pages.size(), 1u);
  size_t at = 0;
  for (const char* expected : {"15/03/2001 Иванова", "1. Лексема", "бить 1 (кого)", "2. Легенда", "3. Участники",
                               "Агенс", "Пациенс", "Инструмент", "4. Т-категория:",
                               "5. Толкование", "K.2", "Z касается Y-а", "K8.2", "Y-у плохо",
                               "6. Тема", "7. Аспект. характеристика", "Комментарии",
                               "творительным", "Стр 1"}) {
    std::string text = pages[0];
    // Blanks run together in the extracted text.
    std::string squeezed;
    for (char c : text)
      if (!(c == ' ' && !squeezed.empty() && squeezed.back() == ' ')) squeezed.push_back(c);
    size_t found = squeezed.find(expected, at);
    EXPECT_NE(found, std::string::npos) << expected << " after position " << at << " in:\n" << squeezed;
    if (found != std::string::npos) at = found;
  }

  // The preview's page image: A4 at 80 dots per inch, with ink where the lexeme's line is.
  std::string why;
  fs::path png = dir_ / "card-preview.png";
  EXPECT_FALSE(renderer_.WritePageImage(Document(), 0, 80, png.string(), &why));
  PageList kept;
  PageBuilder again;
  ASSERT_TRUE(again.Open(*desc, metrics.get(), &kept));
  bind(&again);
  ASSERT_TRUE(again.Print(1));
  ASSERT_TRUE(again.Close());
  ASSERT_TRUE(renderer_.WritePageImage(kept.Doc(), 0, 80, png.string(), &why)) << why;
  QImage image = qtprint::PageImage(kept.Doc(), 0, 80);
  EXPECT_EQ(image.width(), 661);
  EXPECT_EQ(image.height(), 935);
  int dark = 0;
  int lexemeTop = static_cast<int>((desc->marginTop + 320) * 0.08);
  for (int y = lexemeTop; y < lexemeTop + 20; ++y)
    for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 128;
  EXPECT_GT(dark, 50);

  // A PDF that cannot be written says so and leaves nothing behind.
  EXPECT_FALSE(renderer_.WritePdf(kept.Doc(), (dir_ / "no/such/folder.pdf").string(), &why));
  EXPECT_NE(why.find("cannot write"), std::string::npos) << why;

}

}  // namespace
}  // namespace korawin::ui::report

// Reports without a toolkit: the faults a report description can hold, and pages laid out by
// the page builder with the deterministic metrics (page breaks, headers and footers, page
// numbers, long text wrapped over pages).
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "lang/bind.h"
#include "platform/codepage.h"
#include "tests/ui/report_samples.h"
#include "ui/report/page_builder.h"
#include "ui/report/report_json.h"

namespace korawin::ui::report {
namespace {

std::string W(std::string_view utf8) { return platform::Utf8ToCp1251Lossy(utf8); }
std::string U(std::string_view cp1251) { return platform::Cp1251ToUtf8(cp1251); }

const ReportDesc& Sample(const char* module) {
  RegisterSampleReports();
  const ReportDesc* d = FindReportDesc(module, "P1$REPORT");
  EXPECT_NE(d, nullptr) << module;
  return *d;
}

// The texts of a page in the order they were laid out.
std::vector<std::string> Texts(const Page& page) {
  std::vector<std::string> out;
  for (const PageItem& it : page.items)
    if (it.kind == PageItem::Kind::Text) out.push_back(U(it.text));
  return out;
}

std::vector<const PageItem*> TextItems(const Page& page) {
  std::vector<const PageItem*> out;
  for (const PageItem& it : page.items)
    if (it.kind == PageItem::Kind::Text) out.push_back(&it);
  return out;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// A record buffer field of n characters, blank-padded.
struct Str {
  explicit Str(size_t n) : buf(n, ' ') {}
  void Set(std::string_view cp1251) {
    std::fill(buf.begin(), buf.end(), ' ');
    std::memcpy(buf.data(), cp1251.data(), std::min(cp1251.size(), buf.size()));
  }
  lang::Variable Var() const { return lang::Variable::String(buf.data(), static_cast<uint32_t>(buf.size())); }
  std::string buf;
};

TEST(ReportDescTest, FaultsAreRefusedWithTheirPlace) {
  const std::string head =
      R"({"module": "m", "report": "P1$REPORT", "cname": "R", "details": [{"id": "?D", "height": 300, "controls": [)";
  const std::string tail = "]}]}";
  struct Case {
    std::string control;
    const char* why;
  } cases[] = {
      {R"({"type": "field", "use": "a:b", "picture": "@x9", "at": [0, 0, 100, 100]})", "picture"},
      {R"({"type": "field", "use": "a:b", "picture": "@n", "at": [0, 0, 100, 100]})", "picture"},
      {R"({"type": "field", "picture": "@s10", "at": [0, 0, 100, 100]})", "\"use\""},
      {R"({"type": "field", "use": "a:b", "picture": "@s10", "at": [0, 200, 100, 200]})", "bottom"},
      {R"({"type": "label", "text": "x", "at": [7000, 0, 500, 100]})", "right margin"},
      {R"({"type": "label", "text": "x", "at": [0, 0, 100]})", "\"at\""},
      {R"({"type": "label", "at": [0, 0, 100, 100]})", "text"},
      {R"({"type": "label", "text": "中", "at": [0, 0, 100, 100]})", "Windows-1251"},
      {R"({"type": "pageno", "picture": "@s10", "at": [0, 0, 100, 100]})", "@p or @n"},
      {R"({"type": "box", "text": "x", "at": [0, 0, 100, 100]})", "no \"text\""},
      {R"({"type": "image", "at": [0, 0, 100, 100]})", "unknown control type"},
      {R"({"type": "label", "text": "x", "at": [0, 0, 100, 100], "colour": 1})", "unknown key"},
      {R"({"type": "label", "text": "x", "at": [0, 0, 100, 100], "font": {"size": 0}})", "\"size\""},
  };
  for (const Case& c : cases) {
    std::vector<ReportDesc> out;
    std::string why;
    EXPECT_FALSE(ParseReportDescs(head + c.control + tail, &out, &why)) << c.control;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.control << " -> " << why;
    EXPECT_NE(why.find("m / P1$REPORT / ?D / control 1"), std::string::npos) << why;
  }

  const char* reports[][2] = {
      {R"({"module": "m", "report": "r", "details": []})", "details"},
      {R"({"module": "m", "report": "r", "details": [{"height": 10}]})", "id"},
      {R"({"module": "m", "report": "r", "details": [{"id": "?A", "height": 10}, {"id": "?a", "height": 10}]})",
       "twice"},
      {R"({"module": "m", "report": "r", "header": {"height": 100, "controls": [{"type": "field", "use": "x", "picture": "@s9", "at": [0, 0, 10, 10], "wrap": true}]}, "details": [{"id": "?A", "height": 10}]})",
       "only a detail band wraps"},
      {R"({"module": "m", "report": "r", "header": {"height": 6000}, "footer": {"height": 5000}, "details": [{"id": "?A", "height": 10}]})",
       "no room"},
      {R"({"module": "m", "report": "r", "details": [{"id": "?A", "height": 20000}]})", "taller"},
      {R"({"module": "m", "report": "r", "paper": "A3", "details": [{"id": "?A", "height": 10}]})", "paper"},
      {R"({"module": "m", "report": "r", "details": [{"id": "?A", "height": 10}]})", ""},
  };
  for (const auto& r : reports) {
    std::vector<ReportDesc> out;
    std::string why;
    bool ok = ParseReportDescs(r[0], &out, &why);
    EXPECT_EQ(ok, r[1][0] == '\0') << r[0] << " -> " << why;
    if (!ok) {
      EXPECT_NE(why.find(r[1]), std::string::npos) << r[0] << " -> " << why;
    }
  }
}

TEST(ReportDescTest, SamplesReadAsDesigned) {
  const ReportDesc& list = Sample("korawin1$test01");
  EXPECT_EQ(list.paperWidth, kA4Width);
  EXPECT_EQ(list.BodyWidth(), 7068);
  EXPECT_EQ(list.fonts[0].family, "Courier");
  ASSERT_TRUE(list.hasHeader && list.hasFooter);
  const ReportControlDesc& title = list.header.controls[0];
  EXPECT_EQ(U(title.text), "Список Т-категорий");
  EXPECT_EQ(list.fonts[static_cast<size_t>(title.font)],
            (FontSpec{"Times New Roman Cyr", 14, true, false, false}));
  EXPECT_EQ(U(list.footer.controls[1].picture), "pСтр <<<#p");
  EXPECT_EQ(list.DetailNumber("detail"), report_ids::SampleList::Detail);
  EXPECT_EQ(Sample("korawin1$test03").details[0].pageBefore, true);
}

TEST(PageBuilderTest, ListBreaksPagesWithHeaderFooterAndNumbers) {
  const ReportDesc& desc = Sample("korawin1$test01");
  FixedMetrics metrics;
  PageList pages;
  PageBuilder b;
  ASSERT_TRUE(b.Open(desc, &metrics, &pages, W("Т-категории")));
  int32_t n = 0;
  Str t(140);
  b.Use("LOC:N", lang::Variable::Of(&n));
  b.Use("tax:t", t.Var());
  const int kRecords = 100;
  for (n = 1; n <= kRecords; ++n) {
    t.Set(W("категория номер " + std::to_string(n)));
    ASSERT_TRUE(b.Print(report_ids::SampleList::Detail)) << b.Error();
  }
  ASSERT_TRUE(b.Close());
  const Document& doc = pages.Doc();
  EXPECT_EQ(U(doc.format.title), "Т-категории");

  // 9693 thousandths between header and footer hold 44 details of 220.
  ASSERT_EQ(doc.pages.size(), 3u);
  int next = 1;
  int bodyTop = desc.marginTop + desc.header.height;
  int bodyBottom = desc.paperHeight - desc.marginBottom - desc.footer.height;
  for (size_t p = 0; p < doc.pages.size(); ++p) {
    std::vector<std::string> texts = Texts(doc.pages[p]);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.front(), "Список Т-категорий");
    EXPECT_EQ(texts.back(), "Стр    " + std::to_string(p + 1));
    for (size_t k = 1; k + 1 < texts.size(); k += 2) {
      EXPECT_EQ(texts[k], std::to_string(next));
      EXPECT_EQ(texts[k + 1], "категория номер " + std::to_string(next));
      ++next;
    }
    for (const PageItem& it : doc.pages[p].items) {
      if (it.kind != PageItem::Kind::Text || it.y < bodyTop || it.y >= bodyBottom) continue;
      EXPECT_LE(it.y + it.h, bodyBottom) << U(it.text);
    }
  }
  EXPECT_EQ(next, kRecords + 1);

  // The number is right-aligned in its field; a text too long for its field is cut to it.
  const PageItem& num = *TextItems(doc.pages[0])[1];
  const ReportControlDesc& numField = desc.details[0].controls[0];
  EXPECT_EQ(num.x + num.w, desc.marginLeft + numField.x + numField.width);
  PageBuilder cut;
  PageList one;
  ASSERT_TRUE(cut.Open(desc, &metrics, &one));
  cut.Use("LOC:N", lang::Variable::Of(&n));
  cut.Use("TAX:T", t.Var());
  t.Set(std::string(140, 'x'));
  ASSERT_TRUE(cut.Print(1));
  ASSERT_TRUE(cut.Close());
  std::string shown = U(TextItems(one.Doc().pages[0])[2]->text);
  EXPECT_GT(shown.size(), 50u);
  EXPECT_LT(shown.size(), 140u);
  EXPECT_LE(metrics.Width(desc.fonts[0], shown), desc.details[0].controls[1].width);
}

TEST(PageBuilderTest, MemoWrapsOverPagesWithoutLosingText) {
  const ReportDesc& desc = Sample("korawin1$test02");
  // 10,000 characters of Russian words, with a paragraph break and a word longer than a line.
  std::string memo;
  const char* words[] = {"бить", "кого-либо", "по", "спине", "кулаком,", "палкой", "и", "т.п."};
  for (int k = 0; memo.size() < 9800; ++k) {
    memo += W(words[k % 8]);
    memo += (k % 97 == 96) ? "\r\n" : " ";
  }
  memo += std::string(150, 'Z');
  memo.resize(10000, 'Q');
  ASSERT_EQ(memo.size(), 10000u);
  Str verb(64);
  verb.Set(W("бить 1 (кого)"));
  lang::Variable memoVar = lang::Variable::Field(lang::kTypeMemo, memo.data(), 10000);
  // The names come from the evaluator's bindings, as a report procedure binds them.
  lang::BIND("SLO:I_VERB", verb.Var());
  lang::BIND("SLO:EXA_MEMO", memoVar);

  FixedMetrics metrics;
  PageList pages;
  PageBuilder b;
  ASSERT_TRUE(b.Open(desc, &metrics, &pages));
  ASSERT_TRUE(b.Print("?Card")) << b.Error();
  ASSERT_TRUE(b.Close());
  lang::ClearBinds();
  const Document& doc = pages.Doc();
  ASSERT_GE(doc.pages.size(), 3u);

  const ReportControlDesc& field = desc.details[0].controls[3];
  int left = desc.marginLeft + field.x;
  int bodyTop = desc.marginTop + desc.header.height;
  int bodyBottom = desc.paperHeight - desc.marginBottom - desc.footer.height;
  std::string joined;
  int lines = 0, boxes = 0;
  for (size_t p = 0; p < doc.pages.size(); ++p) {
    std::vector<std::string> texts = Texts(doc.pages[p]);
    EXPECT_EQ(texts[0], "Примеры употребления");
    EXPECT_EQ(texts[1], "бить 1 (кого)");
    EXPECT_EQ(texts.back(), "Стр    " + std::to_string(p + 1));
    int firstMemoLine = bodyBottom;
    for (const PageItem& it : doc.pages[p].items) {
      if (it.kind == PageItem::Kind::Box) {
        ++boxes;
        EXPECT_GE(it.y, bodyTop);
        EXPECT_LE(it.y + it.h, bodyBottom);
      }
      if (it.kind != PageItem::Kind::Text || it.x != left) continue;
      EXPECT_GE(it.y, bodyTop);
      EXPECT_LE(it.y + it.h, bodyBottom);
      EXPECT_LE(it.w, field.width);
      firstMemoLine = std::min(firstMemoLine, it.y);
      joined += it.text + " ";
      ++lines;
    }
    // Past the first page the memo goes on right under the header.
    if (p > 0) {
      EXPECT_EQ(firstMemoLine, bodyTop) << "page " << p + 1;
    }
  }
  // The box around the memo is drawn in a piece on every page the memo covers.
  EXPECT_EQ(boxes, static_cast<int>(doc.pages.size()));
  // Every word is there in order; the last word, wider than a line, is broken within itself.
  std::vector<std::string> got = Words(joined), want = Words(memo);
  ASSERT_GT(got.size(), want.size());
  for (size_t k = 0; k + 1 < want.size(); ++k) ASSERT_EQ(got[k], want[k]) << "word " << k;
  std::string tail;
  for (size_t k = want.size() - 1; k < got.size(); ++k) tail += got[k];
  EXPECT_EQ(tail, want.back());
  EXPECT_GT(lines, 100);
}

TEST(PageBuilderTest, BandsMoveToTheNextPageWholeAndPagesBreakOnRequest) {
  const ReportDesc& desc = Sample("korawin1$test02");
  FixedMetrics metrics;
  Str verb(64);
  std::string memo(600, ' ');
  lang::Variable memoVar = lang::Variable::Field(lang::kTypeMemo, memo.data(), 600);
  PageList pages;
  PageBuilder b;
  ASSERT_TRUE(b.Open(desc, &metrics, &pages));
  b.Use("SLO:I_VERB", verb.Var());
  b.Use("SLO:EXA_MEMO", memoVar);
  // Cards of eight lines of memo each: a card that does not fit starts the next page whole.
  std::string text;
  for (int k = 0; k < 8; ++k) text += "line\n";
  memo.replace(0, text.size(), text);
  for (int k = 0; k < 12; ++k) {
    verb.Set("card" + std::to_string(k));
    ASSERT_TRUE(b.Print(1));
  }
  verb.Set("after break");
  b.EndPage();
  ASSERT_TRUE(b.Print(1));
  // A field whose variable nobody bound stops the band, with nothing printed.
  PageBuilder loose;
  PageList none;
  ASSERT_TRUE(loose.Open(desc, &metrics, &none));
  EXPECT_FALSE(loose.Print(1));
  EXPECT_NE(loose.Error().find("SLO:I_VERB"), std::string::npos) << loose.Error();
  EXPECT_FALSE(loose.Print("?NoSuchBand"));
  ASSERT_TRUE(loose.Close());
  EXPECT_TRUE(none.Doc().pages.empty());

  ASSERT_TRUE(b.Close());
  const Document& doc = pages.Doc();
  ASSERT_GE(doc.pages.size(), 3u);
  for (const Page& page : doc.pages) {
    std::vector<std::string> texts = Texts(page);
    // Every card on a page has its label, its name and its eight lines.
    int labels = 0, memoLines = 0;
    for (const auto& t : texts) {
      labels += t == "Лексема:";
      memoLines += t == "line";
    }
    EXPECT_EQ(memoLines, labels * 8) << "page " << page.number;
  }
  std::vector<std::string> last = Texts(doc.pages.back());
  EXPECT_EQ(last[1], "after break");
  EXPECT_EQ(last[3], "after break");
}

TEST(PageBuilderTest, WrapKeepsLineBreaksAndBreaksLongWords) {
  FixedMetrics m;
  FontSpec f{"Arial", 10, false, false, false};
  double each = m.Width(f, "x");
  auto lines = PageBuilder::WrapText("aaa bbb\r\n\r\nccccccccc  dd \n\n", f, each * 4, &m);
  std::vector<std::string> want = {"aaa", "bbb", "", "cccc", "cccc", "c", "dd"};
  EXPECT_EQ(lines, want);
  EXPECT_TRUE(PageBuilder::WrapText("   ", f, each * 4, &m).empty());
}

}  // namespace
}  // namespace korawin::ui::report

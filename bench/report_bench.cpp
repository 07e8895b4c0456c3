// report_bench [PAGES]: a list report of words and lexemes laid out by the page builder and
// drawn into a PDF file by the Qt renderer, in pages per second, against the same lines drawn
// with plain QPainter text at fixed places into a PDF in the same run (the baseline). Also the
// layout alone, without drawing. Runs offscreen.
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_reports.h"
#include "platform/codepage.h"
#include "ui/qt_print/qt_fonts.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/page_builder.h"
#include "ui/report/report_json.h"

namespace {

using namespace korawin;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Row {
  std::string word, lexeme;  // Windows-1251, blank-padded to the fields
};

std::vector<Row> MakeRows(size_t n) {
  const char* stems[] = {"бить", "брать", "везти", "гнать", "давить", "ехать", "жать", "звать",
                         "играть", "катить", "лить", "мять", "нести", "пилить", "рвать", "сечь"};
  std::vector<Row> rows(n);
  for (size_t k = 0; k < n; ++k) {
    std::string w = std::string(stems[k % 16]) + "-" + std::to_string(k / 16);
    std::string l = w + " " + std::to_string(k % 3 + 1) + " (кого-что; чем)";
    rows[k].word = platform::Utf8ToCp1251Lossy(w);
    rows[k].lexeme = platform::Utf8ToCp1251Lossy(l);
    rows[k].word.resize(64, ' ');
    rows[k].lexeme.resize(60, ' ');
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  int pages = argc > 1 ? std::atoi(argv[1]) : 500;
  if (pages < 1) pages = 1;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  RegisterBenchReports();
  const ui::report::ReportDesc* desc = ui::report::FindReportDesc("korawin1$bench01", "P1$REPORT");
  if (!desc) return 1;
  // Details per page as the description lays them out: the room between header and footer.
  int perPage = (desc->paperHeight - desc->marginTop - desc->marginBottom - desc->header.height -
                 desc->footer.height) / desc->details[0].height;
  std::vector<Row> rows = MakeRows(static_cast<size_t>(pages) * static_cast<size_t>(perPage));
  fs::path dir = fs::temp_directory_path();
  fs::path reportPdf = dir / "report_bench_report.pdf";
  fs::path plainPdf = dir / "report_bench_plain.pdf";
  std::printf("report_bench: %d pages of %d lines (%zu details)\n", pages, perPage, rows.size());

  ui::qtprint::QtPageRenderer renderer;
  std::string word(64, ' '), lexeme(60, ' ');
  auto bind = [&](ui::report::PageBuilder* b) {
    b->Use("DCT:VERV", lang::Variable::String(word.data(), 64));
    b->Use("ABC:LEXEMA", lang::Variable::String(lexeme.data(), 60));
  };

  // Layout alone.
  auto metrics = renderer.NewMetrics();
  auto t0 = Clock::now();
  ui::report::PageList kept;
  {
    ui::report::PageBuilder b;
    if (!b.Open(*desc, metrics.get(), &kept)) return 1;
    bind(&b);
    for (const Row& r : rows) {
      std::memcpy(word.data(), r.word.data(), 64);
      std::memcpy(lexeme.data(), r.lexeme.data(), 60);
      if (!b.Print(korawin::report_ids::BenchList::Detail)) return 1;
    }
    b.Close();
  }
  double layout = Seconds(t0);
  size_t laidPages = kept.Doc().pages.size();

  // The report: laid out and drawn page by page into the PDF.
  t0 = Clock::now();
  int reportPages = 0;
  {
    auto sink = renderer.NewPdfSink(reportPdf.string());
    ui::report::PageBuilder b;
    if (!b.Open(*desc, metrics.get(), sink.get())) return 1;
    bind(&b);
    for (const Row& r : rows) {
      std::memcpy(word.data(), r.word.data(), 64);
      std::memcpy(lexeme.data(), r.lexeme.data(), 60);
      if (!b.Print(korawin::report_ids::BenchList::Detail)) return 1;
    }
    if (!b.Close()) {
      std::fprintf(stderr, "report_bench: %s\n", b.Error().c_str());
      return 1;
    }
    reportPages = b.Pages();
  }
  double report = Seconds(t0);

  // The baseline: the same texts drawn at fixed places with the same fonts, no layout.
  t0 = Clock::now();
  {
    QPdfWriter writer(QString::fromStdString(plainPdf.string()));
    writer.setResolution(1200);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter p(&writer);
    QFont title = ui::qtprint::ReportFont({"Times New Roman Cyr", 14, true, false, false});
    QFont body = ui::qtprint::ReportFont({"Courier", 10, false, false, false});
    QString heading = QString::fromUtf8("Список слов и лексем");
    double s = 1.2;  // dots per thousandth of an inch at 1200 dpi
    size_t k = 0;
    for (int page = 1; page <= pages; ++page) {
      if (page > 1) writer.newPage();
      p.setFont(title);
      p.drawText(QPointF(3000 * s, 800 * s), heading);
      p.drawLine(QPointF(600 * s, 1000 * s), QPointF(7668 * s, 1000 * s));
      p.setFont(body);
      for (int line = 0; line < perPage && k < rows.size(); ++line, ++k) {
        double y = (1100 + 220 * line + 150) * s;
        p.drawText(QPointF(600 * s, y), ui::qtprint::FromCp1251(rows[k].word).trimmed());
        p.drawText(QPointF(3600 * s, y), ui::qtprint::FromCp1251(rows[k].lexeme).trimmed());
      }
      p.drawLine(QPointF(600 * s, 10843 * s), QPointF(7668 * s, 10843 * s));
      p.drawText(QPointF(7000 * s, 11100 * s), QString::fromUtf8("Стр. ") + QString::number(page));
    }
    p.end();
  }
  double plain = Seconds(t0);

  std::printf("layout only:        %6zu pages in %7.3f s = %9.1f pages/s\n", laidPages, layout,
              laidPages / layout);
  std::printf("report to PDF:      %6d pages in %7.3f s = %9.1f pages/s (%.1f MB)\n", reportPages,
              report, reportPages / report, fs::file_size(reportPdf) / 1e6);
  std::printf("plain QPainter PDF: %6d pages in %7.3f s = %9.1f pages/s (%.1f MB)\n", pages, plain,
              pages / plain, fs::file_size(plainPdf) / 1e6);
  std::printf("report / plain speed: %.2f\n", (reportPages / report) / (pages / plain));
  fs::remove(reportPdf);
  fs::remove(plainPdf);
  return reportPages == pages ? 0 : 1;
}

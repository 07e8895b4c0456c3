#include "ui/qt_print/qt_render.h"

#include <QApplication>
#include <QMetaObject>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QSaveFile>
#include <QThread>
#include <vector>

#include "ui/qt_print/qt_fonts.h"
#include "ui/qt_print/qt_metrics.h"
#include "ui/runtime/runtime.h"

namespace korawin::ui::qtprint {

namespace {

QPageLayout Layout(const report::PageFormat& format) {
  double inch = report::kUnitsPerInch;
  double shortSide = std::min(format.width, format.height) / inch;
  double longSide = std::max(format.width, format.height) / inch;
  return QPageLayout(QPageSize(QSizeF(shortSide, longSide), QPageSize::Inch),
                     format.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                     QMarginsF(0, 0, 0, 0), QPageLayout::Inch);
}

void Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
}

}  // namespace

void DrawPage(QPainter* painter, const report::PageFormat& format, const report::Page& page) {
  // Fonts take their point sizes through the device's resolution, so positions do too.
  double s = painter->device()->logicalDpiY() / static_cast<double>(report::kUnitsPerInch);
  std::vector<QFont> fonts;
  fonts.reserve(format.fonts.size());
  for (const report::FontSpec& f : format.fonts) fonts.push_back(ReportFont(f));
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, true);
  painter->setRenderHint(QPainter::TextAntialiasing, true);
  painter->setBrush(Qt::NoBrush);
  int font = -1;
  int pen = -1;  // the stroke set on the painter; -1: the pen for text
  painter->setPen(Qt::black);
  for (const report::PageItem& it : page.items) {
    switch (it.kind) {
      case report::PageItem::Kind::Text:
        if (it.font >= fonts.size()) break;
        if (font != it.font) {
          font = it.font;
          painter->setFont(fonts[font]);
        }
        if (pen != -1) {
          painter->setPen(Qt::black);
          pen = -1;
        }
        painter->drawText(QPointF(it.x * s, it.baseline * s), FromCp1251(it.text));
        break;
      case report::PageItem::Kind::Line:
      case report::PageItem::Kind::Box: {
        if (pen != it.pen) {
          QPen stroke(Qt::black);
          stroke.setWidthF(it.pen * s);
          stroke.setCosmetic(it.pen == 0);
          painter->setPen(stroke);
          pen = it.pen;
        }
        if (it.kind == report::PageItem::Kind::Line) {
          painter->drawLine(QPointF(it.x * s, it.y * s), QPointF((it.x + it.w) * s, (it.y + it.h) * s));
        } else {
          painter->drawRect(QRectF(it.x * s, it.y * s, it.w * s, it.h * s));
        }
        break;
      }
    }
  }
  painter->restore();
}

QImage PageImage(const report::Document& doc, int index, double dpi) {
  if (index < 0 || static_cast<size_t>(index) >= doc.pages.size() || dpi <= 0) return QImage();
  double inch = report::kUnitsPerInch;
  QImage image(static_cast<int>(doc.format.width * dpi / inch + 0.5),
               static_cast<int>(doc.format.height * dpi / inch + 0.5), QImage::Format_RGB32);
  int dpm = static_cast<int>(dpi / 0.0254 + 0.5);
  image.setDotsPerMeterX(dpm);
  image.setDotsPerMeterY(dpm);
  image.fill(Qt::white);
  QPainter painter(&image);
  DrawPage(&painter, doc.format, doc.pages[static_cast<size_t>(index)]);
  return image;
}

void SetUpPrinter(QPrinter* printer, const report::PageFormat& format) {
  printer->setFullPage(true);
  printer->setPageLayout(Layout(format));
  printer->setDocName(FromCp1251(format.title));
}

bool PrintDocument(const report::Document& doc, QPrinter* printer, std::string* why) {
  if (doc.pages.empty()) {
    Fail(why, "the report has no pages");
    return false;
  }
  int first = 1, last = static_cast<int>(doc.pages.size());
  if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
    first = std::max(first, printer->fromPage());
    last = std::min(last, std::max(printer->toPage(), first));
  }
  QPainter painter;
  if (!painter.begin(printer)) {
    Fail(why, "the printer could not be started");
    return false;
  }
  for (int n = first; n <= last; ++n) {
    if (n > first && !printer->newPage()) {
      painter.end();
      Fail(why, "the printer refused a new page");
      return false;
    }
    DrawPage(&painter, doc.format, doc.pages[static_cast<size_t>(n - 1)]);
  }
  if (!painter.end()) {
    Fail(why, "the printer could not finish the job");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

struct PdfSink::Output {
  QSaveFile file;
  std::unique_ptr<QPdfWriter> writer;
  QPainter painter;
};

PdfSink::PdfSink(std::string path) : path_(std::move(path)) {}

PdfSink::~PdfSink() {
  // A sink dropped before End leaves the old file in place.
  if (out_ && out_->painter.isActive()) out_->painter.end();
  if (out_) out_->file.cancelWriting();
}

bool PdfSink::Begin(const report::PageFormat& format) {
  format_ = format;
  pages_ = 0;
  out_ = std::make_unique<Output>();
  out_->file.setFileName(QString::fromUtf8(path_.data(), static_cast<qsizetype>(path_.size())));
  if (!out_->file.open(QIODevice::WriteOnly)) {
    error_ = "cannot write " + path_ + ": " + out_->file.errorString().toStdString();
    out_.reset();
    return false;
  }
  out_->writer = std::make_unique<QPdfWriter>(&out_->file);
  out_->writer->setResolution(1200);
  out_->writer->setPageLayout(Layout(format));
  out_->writer->setTitle(FromCp1251(format.title));
  out_->writer->setCreator(QStringLiteral("korawin1"));
  return true;
}

bool PdfSink::TakePage(report::Page&& page) {
  if (!out_) return false;
  if (pages_ == 0) {
    if (!out_->painter.begin(out_->writer.get())) {
      error_ = "cannot draw into " + path_;
      return false;
    }
  } else if (!out_->writer->newPage()) {
    error_ = "cannot add a page to " + path_;
    return false;
  }
  DrawPage(&out_->painter, format_, page);
  ++pages_;
  return true;
}

bool PdfSink::End() {
  if (!out_) return false;
  if (pages_ == 0) {
    // A PDF needs a page; an empty report still makes a readable (blank) file.
    if (!out_->painter.begin(out_->writer.get())) {
      error_ = "cannot draw into " + path_;
      return false;
    }
  }
  out_->painter.end();
  out_->writer.reset();
  bool ok = out_->file.commit();
  if (!ok) error_ = "cannot write " + path_ + ": " + out_->file.errorString().toStdString();
  out_.reset();
  return ok;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<report::TextMetrics> QtPageRenderer::NewMetrics() {
  return std::make_unique<QtTextMetrics>();
}

std::unique_ptr<report::PageSink> QtPageRenderer::NewPdfSink(const std::string& path) {
  return std::make_unique<PdfSink>(path);
}

bool QtPageRenderer::WritePdf(const report::Document& doc, const std::string& path,
                              std::string* why) {
  PdfSink sink(path);
  bool ok = sink.Begin(doc.format);
  for (size_t k = 0; ok && k < doc.pages.size(); ++k) {
    report::Page copy = doc.pages[k];
    ok = sink.TakePage(std::move(copy));
  }
  ok = ok && sink.End();
  if (!ok) Fail(why, sink.Error());
  return ok;
}

bool QtPageRenderer::WritePageImage(const report::Document& doc, int index, double dpi,
                                    const std::string& path, std::string* why) {
  QImage image = PageImage(doc, index, dpi);
  if (image.isNull()) {
    Fail(why, "no page " + std::to_string(index + 1));
    return false;
  }
  QSaveFile file(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
  if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
    Fail(why, "cannot write " + path + ": " + file.errorString().toStdString());
    return false;
  }
  return true;
}

int QtPageRenderer::Print(const report::Document& doc, bool ask, std::string* why) {
  if (doc.pages.empty()) {
    Fail(why, "the report has no pages");
    return -1;
  }
  QPrinter printer(QPrinter::HighResolution);
  SetUpPrinter(&printer, doc.format);
  if (ask) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
      Fail(why, "the print dialog needs the program's windows");
      return -1;
    }
    bool accepted = false;
    int pages = static_cast<int>(doc.pages.size());
    auto dialog = [&] {
      QPrintDialog d(&printer, QApplication::activeWindow());
      d.setMinMax(1, pages);
      d.setFromTo(1, pages);
      d.setOption(QAbstractPrintDialog::PrintPageRange, true);
      accepted = d.exec() == QDialog::Accepted;
    };
    if (QThread::currentThread() == app->thread()) {
      dialog();
    } else {
      // The dialog lives on the GUI thread; the procedure waits for it without the runtime
      // lock, as it does for a message box.
      RuntimeUnlocked unlocked;
      QMetaObject::invokeMethod(app, dialog, Qt::BlockingQueuedConnection);
    }
    if (!accepted) return 0;
  }
  if (!printer.isValid()) {
    Fail(why, "there is no printer");
    return -1;
  }
  return PrintDocument(doc, &printer, why) ? 1 : -1;
}

}  // namespace korawin::ui::qtprint

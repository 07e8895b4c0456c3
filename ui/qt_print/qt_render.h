// Drawing laid-out pages with QPainter: onto PDF files, printers and images for the print
// preview. Everything but the print dialog works without a display (QT_QPA_PLATFORM=offscreen)
// and on any thread, once a QGuiApplication exists.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <memory>
#include <string>

#include "ui/report/renderer.h"

namespace korawin::ui::qtprint {

// Draws page on painter, whose device's resolution maps the page's thousandths of an inch
// (the device's origin at the paper's top left corner).
void DrawPage(QPainter* painter, const report::PageFormat& format, const report::Page& page);
// Page index (from 0) of doc drawn at dpi on a white image; a null image for a bad index.
QImage PageImage(const report::Document& doc, int index, double dpi);
// Sets printer to the document's paper, without margins, named after its title.
void SetUpPrinter(QPrinter* printer, const report::PageFormat& format);
// Prints doc on a set-up printer: the printer's page range when it has one, else every page.
bool PrintDocument(const report::Document& doc, QPrinter* printer, std::string* why);

// Writes the pages it takes into a PDF file; the file replaces path only when End succeeds.
class PdfSink : public report::PageSink {
 public:
  explicit PdfSink(std::string path);
  ~PdfSink() override;
  bool Begin(const report::PageFormat& format) override;
  bool TakePage(report::Page&& page) override;
  bool End() override;
  const std::string& Error() const { return error_; }

 private:
  struct Output;
  std::string path_;
  std::unique_ptr<Output> out_;
  report::PageFormat format_;
  int pages_ = 0;
  std::string error_;
};

// The Qt renderer; the program installs it with report::SetPageRenderer once its
// QGuiApplication (a QApplication where the print dialog is wanted) exists.
class QtPageRenderer : public report::PageRenderer {
 public:
  std::unique_ptr<report::TextMetrics> NewMetrics() override;
  std::unique_ptr<report::PageSink> NewPdfSink(const std::string& path) override;
  bool WritePdf(const report::Document& doc, const std::string& path, std::string* why) override;
  bool WritePageImage(const report::Document& doc, int index, double dpi, const std::string& path,
                      std::string* why) override;
  int Print(const report::Document& doc, bool ask, std::string* why) override;
};

}  // namespace korawin::ui::qtprint

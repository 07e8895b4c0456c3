// What draws laid-out pages on real devices: PDF files, page images for the print preview and
// the printer. The program installs one when it starts (the Qt renderer of ui/qt_print); without
// one a report can be laid out and kept, but not written, shown or printed.
#pragma once

#include <memory>
#include <string>

#include "ui/report/metrics.h"
#include "ui/report/page.h"

namespace korawin::ui::report {

class PageRenderer {
 public:
  PageRenderer() = default;
  PageRenderer(const PageRenderer&) = delete;
  PageRenderer& operator=(const PageRenderer&) = delete;
  virtual ~PageRenderer() = default;

  // Measurements with the fonts the renderer draws with, for one thread's page builder.
  virtual std::unique_ptr<TextMetrics> NewMetrics() = 0;
  // A sink that writes the pages it takes into a PDF file at path (UTF-8, the file system's
  // own); the file appears whole when the sink ends, or not at all.
  virtual std::unique_ptr<PageSink> NewPdfSink(const std::string& path) = 0;
  // Writes a whole document as a PDF file at path. False, with why, when it cannot.
  virtual bool WritePdf(const Document& doc, const std::string& path, std::string* why) = 0;
  // Draws page index (from 0) of doc at dpi dots per inch into a PNG file at path.
  virtual bool WritePageImage(const Document& doc, int index, double dpi,
                              const std::string& path, std::string* why) = 0;
  // Sends the document to the printer: with ask, after the standard print dialog (which
  // chooses the printer, the pages and the copies), otherwise to the default printer. 1 when
  // printed, 0 when the user cancelled the dialog, -1 on failure (with why).
  virtual int Print(const Document& doc, bool ask, std::string* why) = 0;
};

// Installs the program's renderer (nullptr: none); returns the one installed before.
PageRenderer* SetPageRenderer(PageRenderer* renderer);
// The installed renderer; nullptr when there is none.
PageRenderer* CurrentPageRenderer();

}  // namespace korawin::ui::report

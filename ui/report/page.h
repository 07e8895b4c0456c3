// Laid-out pages: what a renderer draws, device-independent. Every position is in thousandths
// of an inch from the paper's top left corner; a text run is one line of text, already placed
// and measured, so a renderer only draws it at its baseline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/report/report_desc.h"

namespace korawin::ui::report {

struct PageItem {
  enum class Kind : uint8_t { Text, Line, Box };
  Kind kind = Kind::Text;
  // Text: the line's box (width as measured); Line: from (x, y) to (x + w, y + h); Box: its
  // outline.
  int32_t x = 0, y = 0, w = 0, h = 0;
  int32_t baseline = 0;  // Text: where the glyphs stand
  uint16_t font = 0;     // Text: index in PageFormat::fonts
  uint16_t pen = 0;      // Line, Box: stroke width; 0 is the thinnest the device draws
  std::string text;      // Text: Windows-1251, one line, no control characters
};

struct Page {
  int number = 0;  // from 1
  std::vector<PageItem> items;
};

// What every page of a report shares.
struct PageFormat {
  std::string title;       // the job's name for the printer queue (Windows-1251)
  int width = kA4Width;    // the paper as it is turned
  int height = kA4Height;
  bool landscape = false;
  std::vector<FontSpec> fonts;
};

// A whole report, kept for the preview and for printing later.
struct Document {
  PageFormat format;
  std::vector<Page> pages;
};

// Where finished pages go, one at a time, in order.
class PageSink {
 public:
  virtual ~PageSink() = default;
  // Called once before the first page.
  virtual bool Begin(const PageFormat& format) = 0;
  // A finished page; false stops the report (the sink keeps why in its own error).
  virtual bool TakePage(Page&& page) = 0;
  // Called after the last page; false when the output could not be completed.
  virtual bool End() = 0;
};

// Keeps every page in a Document.
class PageList : public PageSink {
 public:
  bool Begin(const PageFormat& format) override {
    doc_.format = format;
    doc_.pages.clear();
    return true;
  }
  bool TakePage(Page&& page) override {
    doc_.pages.push_back(std::move(page));
    return true;
  }
  bool End() override { return true; }
  const Document& Doc() const { return doc_; }
  Document Take() { return std::move(doc_); }

 private:
  Document doc_;
};

}  // namespace korawin::ui::report

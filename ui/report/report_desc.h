// Report descriptions: what a printed report holds (paper, margins, fonts, bands and their
// controls), as data that the page builder lays out. Like window descriptions they are kept in
// JSON files (UTF-8) beside the procedures that print them, checked at build time and compiled
// into the program (korawin_reports in cmake/Korawin.cmake); the format is documented at the
// top of ui/report/report_json.h.
//
// Positions and sizes are in thousandths of an inch, counted from the top left corner of the
// band for band controls and of the paper for margins. Texts are Windows-1251 once loaded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korawin::ui::report {

// One inch in the unit of descriptions and pages.
inline constexpr int kUnitsPerInch = 1000;
// A4 in that unit (210 x 297 mm).
inline constexpr int kA4Width = 8268;
inline constexpr int kA4Height = 11693;

enum class Align : uint8_t { Left, Center, Right };

// A font as a report names it; the family is mapped to an installed font when drawn.
struct FontSpec {
  std::string family;  // "Times New Roman Cyr", "MS Sans Serif", "Arial", "Courier" ...
  int size = 10;       // points
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool operator==(const FontSpec&) const = default;
};

enum class ReportControlType : uint8_t {
  Label,   // fixed text
  Field,   // a variable shown through its picture
  PageNo,  // the page number shown through its picture ("pСтр <<<#p")
  Line,    // from (x, y) to (x + width, y + height)
  Box,     // a rectangle's outline
};

struct ReportControlDesc {
  ReportControlType type = ReportControlType::Label;
  int x = 0, y = 0, width = 0, height = 0;
  std::string text;     // Label: the text
  std::string use;      // Field: the name of the variable ("SLO:I_VERB")
  std::string picture;  // Field, PageNo: "@s64", "@d6", "pСтр <<<#p" (the "@" optional)
  int font = 0;         // index in ReportDesc::fonts
  Align align = Align::Left;
  bool wrap = false;    // Label, Field: long text wraps over lines and the band grows
  int pen = 10;         // Line, Box: width of the stroke
};

struct BandDesc {
  std::string id;       // detail bands: "?Detail"; the header and footer have none
  int height = 0;       // as designed; a detail band grows with its wrapped controls
  bool pageBefore = false;  // a detail that starts a new page unless the page is still empty
  bool pageAfter = false;   // a detail after which the page ends
  std::vector<ReportControlDesc> controls;
};

struct ReportDesc {
  std::string module;   // "korawin1$koraw067"
  std::string name;     // "P1$REPORT"
  std::string cname;    // C++ name of its band numbers
  int paperWidth = kA4Width, paperHeight = kA4Height;  // as the paper is turned
  bool landscape = false;
  int marginLeft = 500, marginTop = 500, marginRight = 500, marginBottom = 500;
  std::vector<FontSpec> fonts;  // fonts[0] is the report's own; controls point into the list
  bool hasHeader = false, hasFooter = false;
  BandDesc header, footer;      // page header and page footer, printed on every page
  std::vector<BandDesc> details;  // detail bands, numbered from 1 in this order

  // The detail band of number n from 1; nullptr when there is none.
  const BandDesc* Detail(int n) const;
  // The number of the detail band with id (the "?" optional, case ignored); 0 when none.
  int DetailNumber(std::string_view id) const;
  // Width and height of the room between the margins.
  int BodyWidth() const { return paperWidth - marginLeft - marginRight; }
  int BodyHeight() const { return paperHeight - marginTop - marginBottom; }
};

}  // namespace korawin::ui::report

// The page builder: what a report procedure drives record by record. It lays out the bands of a
// report description with the current values of their fields, breaks pages when a band does
// not fit (each page gets the page header and footer, numbered from 1), splits a detail that
// is taller than a page between its lines, and hands each finished page to a sink.
//
// Fields read their variables the way windows do: a name the procedure gave with Use first,
// then a name bound for the evaluator (lang::BIND). Values are formatted by their pictures
// (lang::FormatPicture); text without its trailing blanks, numbers and dates without leading
// ones. A wrapped field breaks its text at blanks (a word wider than the field at a character)
// and at the line breaks it holds; the band grows by what it needs, controls below the wrapped
// one move down with it, and boxes and vertical lines around it stretch. A field that does not
// wrap shows what fits on its one line.
//
// One builder serves one report at a time, on one thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lang/types.h"
#include "ui/report/metrics.h"
#include "ui/report/page.h"
#include "ui/report/report_desc.h"

namespace korawin::ui::report {

class PageBuilder {
 public:
  PageBuilder() = default;
  PageBuilder(const PageBuilder&) = delete;
  PageBuilder& operator=(const PageBuilder&) = delete;

  // Starts a report over desc (which must outlive the builder's use of it), measuring text with
  // metrics and handing pages to sink. title names the job for the printer; empty: the
  // report's name. A report still open is closed first. False when the sink refuses to begin.
  bool Open(const ReportDesc& desc, TextMetrics* metrics, PageSink* sink,
            std::string_view title = {});
  bool IsOpen() const { return desc_ != nullptr; }

  // Binds the description's variable name (case ignored) to var for this report; var must
  // stay readable while the report prints.
  void Use(std::string_view name, const lang::Variable& var);

  // Prints detail band number n (from 1) with the current values of its fields. False, with
  // nothing printed, when the band does not exist or a field's variable is unknown, or when
  // the sink refused a page; Error() says why.
  bool Print(int detail);
  // The same for the detail band with id ("?Detail").
  bool Print(std::string_view id);
  // Ends the current page: the next detail starts on a new one.
  void EndPage();
  // Ends the last page and the sink's output. False when the sink failed. The builder can
  // then open another report.
  bool Close();

  // Pages begun so far.
  int Pages() const { return pages_; }
  // Why the last call failed.
  const std::string& Error() const { return error_; }

  // Breaks text (Windows-1251) into the lines that fit width in font, as a wrapped field does.
  static std::vector<std::string> WrapText(std::string_view text, const FontSpec& font,
                                           double width, TextMetrics* metrics);

 private:
  struct Laid {
    std::vector<PageItem> items;  // x from the left margin, y from the band's top
    int height = 0;
  };
  // Lays out band with the current values. strict: a field whose variable is unknown fails
  // the band; otherwise it shows empty.
  bool LayOut(const BandDesc& band, bool strict, Laid* out);
  bool FieldText(const ReportControlDesc& c, std::string* out);
  const LineMetrics& FontLine(int font);
  void StartPage();
  bool FinishPage();
  void Place(const Laid& laid, int top);
  static void Split(Laid* laid, int room, bool fresh, Laid* first);

  const ReportDesc* desc_ = nullptr;
  TextMetrics* metrics_ = nullptr;
  PageSink* sink_ = nullptr;
  std::vector<std::pair<std::string, lang::Variable>> uses_;  // names in upper case
  std::vector<LineMetrics> lines_;  // per font of the description
  std::vector<bool> lineKnown_;
  Page page_;
  bool pageOpen_ = false;
  bool pageHasDetail_ = false;
  bool breakPending_ = false;
  int pages_ = 0;
  int cursor_ = 0;      // where the next detail goes on the page
  int bodyTop_ = 0;     // below the header
  int bodyBottom_ = 0;  // above the footer
  bool sinkFailed_ = false;
  std::string error_;
};

}  // namespace korawin::ui::report

// The report manager: the window manager of a report's progress window. On the window's timer
// it lets its process walk the view in time slices, the number of records per slice adapting
// so that each slice takes about TimeSlice, and the process prints a detail per record into
// the report's pages. When the view is done it shows the pages in the print preview (or sends
// them to the printer, or into a PDF file) and closes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/process.h"
#include "framework/window_manager.h"
#include "ui/report/page.h"
#include "ui/report/report_desc.h"

namespace korawin::ui::report {
class PageBuilder;
class TextMetrics;
}  // namespace korawin::ui::report

namespace korawin::framework {

class PrintPreview;

// What became of a report's pages.
enum class ReportResult : uint8_t {
  NotRun,     // the report did not finish (no records, cancelled, an error)
  Printed,    // sent to the printer
  SavedPdf,   // written into PdfFile
  Discarded,  // the user left the preview, or the print dialog, without printing
  Failed,     // the pages could not be printed or written (OutputError says why)
};

class ReportManager : public WindowManager {
 public:
  ReportManager();
  ~ReportManager() override;

  using WindowManager::Init;
  // Stores the walker, the report and the preview (nullptr: the report prints directly); with
  // a preview, the pages are kept for it. RecordsPerCycle becomes 1 and TimeSlice 100.
  void Init(ProcessClass& process, const ui::report::ReportDesc& report, PrintPreview* preview);
  Level Kill() override;
  // The window manager's opening, then the report's unless DeferOpenReport.
  void Open() override;
  // The timer: a slice of the walk. The close event: the preview or the output.
  Level TakeWindowEvent() override;
  Level TakeCloseEvent() override;

  // Virtual operations of the report manager, in slot order.
  // The finished pages to the preview, then to the printer when the user asks for it.
  virtual void AskPreview();
  // The process's next record, counted: 0; at the end of the view 5 (completed when a record
  // was taken, 3 and cancelled when none was); 3 and cancelled on an error.
  virtual Level Next();
  // Resets the process, fetches the first record and opens the report.
  virtual void OpenReport();
  // Tells the user that the view holds nothing to print (NoRecords).
  virtual void ReportOpenFailed();

  // Opens the framework's progress window ("Progress..." with "Cancel"), hidden while
  // DeferWindow says so, with its thermometer and percentage bound to the process, its timer
  // running and "Cancel" closing it with RequestCancelled. Call after Init(process ...).
  bool OpenProgressWindow();
  // Prints detail band number n (from 1) of the report with the current values; false when
  // the band is unknown or the output failed (OutputError says why).
  bool PrintDetail(int band);
  // Pages laid out so far.
  int Pages() const;

  // Fields, in the order of the design.
  bool DeferOpenReport = false;
  uint16_t DeferWindow = 0;      // seconds the progress window stays hidden
  bool KeepVisible = false;
  bool OpenFailed = false;
  PrintPreview* Preview = nullptr;
  ui::report::PageList* PreviewQueue = nullptr;  // the kept pages (with a preview)
  ProcessClass* Process = nullptr;
  int32_t RecordsPerCycle = 1;
  const ui::report::ReportDesc* Report = nullptr;
  bool SkipPreview = false;
  int32_t StartTime = 0;         // hundredths of a second
  uint16_t TimeSlice = 100;      // hundredths of a second
  bool WaitCursor = false;
  int16_t Zoom = 0;

  // Beyond the design. PdfFile: the pages go into this PDF file (UTF-8 path) instead of the
  // preview or the printer, streamed page by page. AskPrinter: the standard print dialog
  // (printer, pages, copies, print to file) before printing. Title: the job's name
  // (Windows-1251; empty: the report's module).
  std::string PdfFile;
  bool AskPrinter = true;
  std::string Title;
  ReportResult Result = ReportResult::NotRun;
  std::string OutputError;
  int32_t PagesMade = 0;  // pages of the finished report

  // Tells the user why the pages went nowhere (English, as the framework's texts are).
  void TellOutputError(std::string_view what);

 protected:
  // One timer event's slice of the walk.
  Level TakeTimer();
  // Sends the kept pages to the printer; sets Result.
  void PrintPages();
  // Ends the report: the output of a completed run, or the pages dropped.
  void CloseReport();

 private:
  bool OpenBuilder();
  // Before the lock is let go: where the walk stands; after: the view and the record buffers
  // put back there, should another procedure have used the files meanwhile.
  void NotePosition();
  void Resync();

  std::unique_ptr<ui::report::TextMetrics> metrics_;
  std::unique_ptr<ui::report::PageList> pages_;
  std::unique_ptr<ui::report::PageSink> pdfSink_;
  std::unique_ptr<ui::report::PageBuilder> builder_;
  uint8_t percentile_ = 0;
  std::string resumeAt_;  // position of the current, not yet taken, record
  bool closing_ = false;
};

// A process whose every record prints one detail band of its report.
class DetailProcess : public ProcessClass {
 public:
  // The report whose band number band (from 1) each record prints.
  void SetReport(ReportManager& report, int band) {
    report_ = &report;
    band_ = band;
  }
  // Prints the detail; an output that failed stops the report after telling the user.
  Level TakeRecord() override;

 private:
  ReportManager* report_ = nullptr;
  int band_ = 1;
};

}  // namespace korawin::framework

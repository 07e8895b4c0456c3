#include "framework/report_manager.h"

#include "framework/framework_windows.h"
#include "framework/print_preview.h"
#include "platform/clock.h"
#include "ui/message_box.h"
#include "ui/report/page_builder.h"
#include "ui/report/renderer.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace P = ids::ReportProgress;

namespace {

int32_t Now() { return static_cast<int32_t>(platform::MonotonicHundredths()); }

// Work between two turns given to the other procedures, in hundredths of a second.
constexpr int32_t kYieldEvery = 5;

}  // namespace

ReportManager::ReportManager() = default;
ReportManager::~ReportManager() = default;

void ReportManager::Init(ProcessClass& process, const ui::report::ReportDesc& report,
                         PrintPreview* preview) {
  Process = &process;
  Report = &report;
  Preview = preview;
  if (Preview) {
    pages_ = std::make_unique<ui::report::PageList>();
    PreviewQueue = pages_.get();
    Preview->SetPages(&pages_->Doc());
  }
  RecordsPerCycle = 1;
  TimeSlice = 100;
  StartTime = Now();
}

bool ReportManager::OpenProgressWindow() {
  if (!OpenWindow(P::kModule, P::kWindow, DeferWindow > 0)) return false;
  ui::Window* w = UiWindow();
  if (Process) {
    if (!Process->Percentile) Process->Percentile = &percentile_;
    *Process->Percentile = 0;
    if (!Process->PText) Process->PText = P::Progress_PctText;
    Process->SetWindow(w);
    w->Use(P::Progress_Thermometer, lang::Variable::Of(Process->Percentile));
    w->SetText(Process->PText, "0% Complete");
  }
  w->SetTimer(1);
  if (WaitCursor) w->SetBusy(true);
  AddButton(P::Progress_Cancel, RequestCancelled);
  return true;
}

Level ReportManager::Kill() {
  // A report killed before it closed drops its pages.
  builder_.reset();
  pdfSink_.reset();
  if (Process) Process->Kill();
  return WindowManager::Kill();
}

void ReportManager::Open() {
  WindowManager::Open();
  if (!DeferOpenReport) OpenReport();
}

bool ReportManager::OpenBuilder() {
  ui::report::PageRenderer* renderer = ui::report::CurrentPageRenderer();
  if (renderer) metrics_ = renderer->NewMetrics();
  else metrics_ = std::make_unique<ui::report::FixedMetrics>();
  ui::report::PageSink* sink = nullptr;
  if (!PdfFile.empty()) {
    if (!renderer) {
      OutputError = "there is no page renderer to write " + PdfFile;
      return false;
    }
    pdfSink_ = renderer->NewPdfSink(PdfFile);
    sink = pdfSink_.get();
  } else {
    if (!pages_) pages_ = std::make_unique<ui::report::PageList>();
    PreviewQueue = pages_.get();
    sink = pages_.get();
  }
  builder_ = std::make_unique<ui::report::PageBuilder>();
  std::string title = Title.empty() ? Report->module : Title;
  if (!builder_->Open(*Report, metrics_.get(), sink, title)) {
    OutputError = builder_->Error().empty() ? "the report could not be started" : builder_->Error();
    builder_.reset();
    return false;
  }
  return true;
}

void ReportManager::OpenReport() {
  Level level = LevelFatal;
  if (Process) {
    (void)Process->Reset();  // a view that cannot start shows in the Next that follows
    level = Next();
  }
  DeferOpenReport = false;
  if (level != LevelBenign) {
    ReportOpenFailed();
    OpenFailed = true;
    return;
  }
  OpenFailed = false;
  if (!OpenBuilder()) {
    OpenFailed = true;
    Result = ReportResult::Failed;
    TellOutputError("The report could not be started");
    SetResponse(RequestCancelled);
  }
}

void ReportManager::ReportOpenFailed() { (void)Errs().TakeError(NoRecords); }  // shown

Level ReportManager::Next() {
  Level level = Process->Next(true);
  if (level == LevelNotify) {
    if (Process->RecordsProcessed > 0) {
      SetResponse(RequestCompleted);
      return LevelNotify;
    }
    SetResponse(RequestCancelled);
    return LevelFatal;
  }
  if (level != LevelBenign) {
    SetResponse(RequestCancelled);
    return LevelFatal;
  }
  return LevelBenign;
}

bool ReportManager::PrintDetail(int band) {
  if (!builder_) return false;
  if (builder_->Print(band)) return true;
  OutputError = builder_->Error();
  return false;
}

int ReportManager::Pages() const { return builder_ ? builder_->Pages() : 0; }

void ReportManager::NotePosition() {
  resumeAt_ = Process && Process->Opened ? Process->Position() : std::string();
}

void ReportManager::Resync() {
  if (resumeAt_.empty() || !Process) return;
  // The record comes again, uncounted: the buffers hold it as when it was fetched.
  if (Process->ResetTo(resumeAt_)) (void)Process->ViewManager::Next();  // read as before
  resumeAt_.clear();
}

Level ReportManager::TakeWindowEvent() {
  ui::Window* w = UiWindow();
  if (w && w->EventNow() == ui::EventKind::Timer) {
    if (Level level = TakeTimer()) return level;
  }
  return WindowManager::TakeWindowEvent();
}

Level ReportManager::TakeTimer() {
  ui::Window* w = UiWindow();
  if (DeferOpenReport) OpenReport();
  if (OpenFailed) return LevelFatal;
  if (closing_ || !Process || !builder_) return LevelNotify;
  Resync();
  const int32_t startCount = Process->RecordsProcessed;
  const int32_t startTime = Now();
  if (DeferWindow != 0 && startTime - StartTime > DeferWindow * 100) {
    w->SetHidden(false);
    DeferWindow = 0;
  }
  int32_t yielded = startTime;
  for (;;) {
    while (Process->RecordsProcessed - startCount < RecordsPerCycle) {
      Level taken = Process->TakeRecord();
      if (taken == LevelFatal) {
        w->SetTimer(0);
        w->Post(ui::EventKind::CloseWindow);
        return LevelNotify;
      }
      if (taken == LevelNotify) return LevelNotify;
      if (Next() != LevelBenign) {
        w->SetTimer(0);
        return LevelNotify;
      }
      // The user is heard between records: a Cancel or a close waits no longer than one record.
      if (w->EventWaiting()) {
        NotePosition();
        return LevelNotify;
      }
      // Other windows stay usable while a long report runs.
      if (Now() - yielded >= kYieldEvery) {
        NotePosition();
        w->Flush();  // the thermometer moves while the slice goes on
        ui::RuntimeLock::Yield();
        Resync();
        yielded = Now();
      }
    }
    int32_t elapsed = Now() - startTime;
    if (elapsed * 5 < TimeSlice * 4) RecordsPerCycle *= 2;
    if (elapsed * 2 < TimeSlice) continue;
    if (elapsed * 2 > TimeSlice * 3 && RecordsPerCycle > 1) RecordsPerCycle /= 2;
    break;
  }
  NotePosition();
  return LevelBenign;
}

Level ReportManager::TakeCloseEvent() {
  if (closing_) return WindowManager::TakeCloseEvent();
  closing_ = true;
  ui::Window* w = UiWindow();
  if (w) {
    w->SetTimer(0);
    if (WaitCursor) w->SetBusy(false);
    if (!KeepVisible) w->SetHidden(true);
  }
  AskPreview();
  CloseReport();
  return WindowManager::TakeCloseEvent();
}

void ReportManager::AskPreview() {
  if (!Preview || !PdfFile.empty() || Response != RequestCompleted || !builder_) return;
  builder_->Close();
  PagesMade = builder_->Pages();
  builder_.reset();
  if (SkipPreview) {
    PrintPages();
  } else {
    uint8_t print = Zoom != 0 ? Preview->Display(Zoom, 1, 1, 1) : Preview->Display();
    if (print) PrintPages();
    else Result = ReportResult::Discarded;
  }
  // The preview's images go with it; the pages are kept until the manager ends.
}

void ReportManager::CloseReport() {
  if (!builder_) return;
  if (Response != RequestCompleted) {
    // Cancelled or failed: nothing is printed, and a PDF file is left as it was.
    builder_.reset();
    pdfSink_.reset();
    return;
  }
  bool ok = builder_->Close();
  PagesMade = builder_->Pages();
  std::string why = builder_->Error();
  builder_.reset();
  pdfSink_.reset();
  if (!PdfFile.empty()) {
    if (ok) {
      Result = ReportResult::SavedPdf;
    } else {
      Result = ReportResult::Failed;
      OutputError = why.empty() ? "cannot write " + PdfFile : why;
      TellOutputError("The report could not be saved");
    }
    return;
  }
  PrintPages();  // no preview: the pages go to the printer
}

void ReportManager::PrintPages() {
  ui::report::PageRenderer* renderer = ui::report::CurrentPageRenderer();
  if (!renderer || !pages_) {
    Result = ReportResult::Failed;
    OutputError = "there is no printer";
    TellOutputError("The report could not be printed");
    return;
  }
  std::string why;
  int printed = renderer->Print(pages_->Doc(), AskPrinter, &why);
  if (printed > 0) {
    Result = ReportResult::Printed;
  } else if (printed == 0) {
    Result = ReportResult::Discarded;
  } else {
    Result = ReportResult::Failed;
    OutputError = why;
    TellOutputError("The report could not be printed");
  }
}

void ReportManager::TellOutputError(std::string_view what) {
  ui::MessageBoxRequest box;
  box.caption = "Report Error";
  box.text = std::string(what) + ": " + OutputError + ".";
  box.icon = ui::Icon::Exclamation;
  ui::Messages().ShowMessage(box);
}

Level DetailProcess::TakeRecord() {
  if (!report_ || report_->PrintDetail(band_)) return LevelBenign;
  report_->Result = ReportResult::Failed;
  report_->TellOutputError("The report could not be made");
  return LevelFatal;
}

}  // namespace korawin::framework

// What the application's lists and their forms share: a browse list that counts its view and
// keeps the highlighted record across reloads, a window manager that opens its window where
// the INI file remembers it and keeps its browses' records current against other windows, and
// the small operations on lexeme cards that several lists offer (marks, the lexeme's head).
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/files.h"
#include "app/list_count.h"
#include "framework/browse.h"
#include "framework/window_manager.h"
#include "storage/view/view.h"

namespace korawin::app {

// A field (name without prefix: "I_VERB") of a file's record buffer as a variable, its index
// from 0, and a memo of the file ("EXA_MEMO").
lang::Variable FieldVar(LexiconFile file, std::string_view name);
int FieldAt(LexiconFile file, std::string_view name);
lang::Variable MemoVar(LexiconFile file, std::string_view name);

// A view over file projecting the named fields (and memos).
std::unique_ptr<storage::View> MakeView(LexiconFile file, const std::vector<std::string>& fields);

// The identifier up to (not including) its first "(", or the whole clipped identifier, cut to
// 35 characters: what LexemeHead holds.
std::string LexemeHeadOf(std::string_view iverb);

// A browse list of the application.
class ListBrowse : public framework::BrowseClass {
 public:
  // view over file, shown in list control of window; its count shows in countControl (0:
  // none).
  void Init(LexiconFile file, int listControl, storage::View& view,
            framework::WindowManager& window, int countControl = 0);
  void Kill() override;
  // A reload keeps the record that was highlighted: on its row when the page still holds it,
  // else the page is placed at its key (a record no longer in the view gives its neighbour).
  // Then the view is counted anew.
  framework::Level ResetQueue(uint8_t mode) override;
  // Makes sort order n current and reloads, staying at the highlighted record.
  void ChangeSort(int n);
  // Reloads at the record now in the buffer (after the list's own change of it).
  void LocateBuffer();
  ViewCount& Counter() { return count_; }
  LexiconFile File() const { return file_; }

 private:
  LexiconFile file_ = LexiconFile::kSlovo;
  ViewCount count_;
  bool counted_ = false;
  int depth_ = 0;
};

// A window of the lists and their forms.
class AppWindow : public framework::WindowManager {
 public:
  // Opens the files through their relation managers for the window's life; on a failure
  // (reported) those opened are closed again and the level returned.
  framework::Level UseFiles(std::initializer_list<LexiconFile> files);
  // Opens the module's window at its remembered place (the INI section is the module).
  bool OpenAppWindow(std::string_view module, std::string_view name);
  // Remembers the window's place, releases everything, then closes the files.
  framework::Level Kill() override;
  // Before the event the browses' records are made current again (another window may have
  // read other records into the shared buffers meanwhile); after it, the links between panes
  // follow, the browses reload when needed, and counts that arrived are shown.
  framework::Level TakeEvent() override;

 protected:
  // Browses whose records are made current before each event, in this order.
  void Keep(ListBrowse& browse) { kept_.push_back(&browse); }
  // Copies what links the panes (an entry's text into a pane's range), after the browses'
  // records are current.
  virtual void SyncLinks() {}
  // After an event was handled and the browses reloaded: messages, displays.
  virtual void AfterEvent() {}

 private:
  std::string section_;
  std::vector<ListBrowse*> kept_;
  std::vector<LexiconFile> used_;
};

// Toggles the mark of the card in SLOVO's buffer: reads it again by K_SLO, "*" becomes blank
// and blank "*", and writes it back with a plain PUT.
void ToggleMark();
// Clears every mark of SLOVO, reading it in record order; true when the file could be read.
bool ClearAllMarks();

}  // namespace korawin::app

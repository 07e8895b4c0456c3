// Views: a declared, read-mostly window onto one primary file, optionally joined to further
// files, that yields records in a chosen order and only those that pass a filter. A view is
// served through an operation entry shaped like a driver's: CallView(op, view, args) returns an
// error code of the shared table. The view reads its files only through their drivers
// (CallDriver), so it works over any driver that keeps the conventions of DriverArgs.
//
// Files of a view are numbered in declaration order, depth first: 0 is the primary file, then
// each join followed by its nested joins. RESETviewfile takes that number in args.number, and
// position texts list the files' positions in that order.
//
// A view is used by one thread; it keeps no global state and holds no locks of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/driver.h"

namespace korawin::storage {

// Property numbers of SET_PROPERTY on a view (args.number), with the text in args.text.
inline constexpr int64_t kViewPropertyOrder = 31974;
inline constexpr int64_t kViewPropertyFilter = 31928;
inline constexpr int64_t kViewPropertyOption = 29479;  // a one-byte option, kept but unused

// A file joined to its enclosing file (the primary file or an outer join).
struct ViewJoin {
  FileDescriptor* file = nullptr;
  // Join by key: the key number (from 1) of the joined file; its first linkFields.size()
  // components are matched against these fields (numbers from 1) of the enclosing file.
  int key = 0;
  std::vector<int> linkFields;
  // Join by expression (when key is 0): the joined file's records, in record order, for
  // which this text is true; its names must be bound when the view first reads.
  std::string expression;
  // An inner join drops an enclosing record without joined records; an outer one yields it
  // once, with the joined file's buffer cleared (texts blank, numbers zero).
  bool inner = false;
  std::vector<int> project;  // projected fields (numbers from 1)
  std::vector<ViewJoin> joins;
};

// The static declaration of a view.
struct ViewDeclaration {
  FileDescriptor* primary = nullptr;
  std::vector<int> project;  // projected fields of the primary file (numbers from 1)
  std::vector<ViewJoin> joins;
};

class View;
class ViewState;
using ViewEntryFn = Code (*)(uint8_t op, View& view, DriverArgs& args);

// A declared view and its operation entry: the closed entry until OPEN, the working entry
// until CLOSE.
class View {
 public:
  explicit View(ViewDeclaration declaration);
  ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  const ViewDeclaration& declaration() const { return declaration_; }
  ViewEntryFn entry() const { return entry_; }
  bool is_open() const { return state_ != nullptr; }

  // Number of files in the view and the file of a given number (0 is the primary).
  int FileCount() const { return static_cast<int>(files_.size()); }
  FileDescriptor& File(int index) const { return *files_[static_cast<size_t>(index)]; }
  // The number of file in the view, or -1.
  int FileIndex(const FileDescriptor& file) const;

 private:
  friend Code ClosedViewEntry(uint8_t op, View& view, DriverArgs& args);
  friend Code WorkingViewEntry(uint8_t op, View& view, DriverArgs& args);
  friend class ViewState;

  ViewDeclaration declaration_;
  std::vector<FileDescriptor*> files_;     // depth-first order
  std::vector<const ViewJoin*> joinOf_;    // per file; nullptr for the primary
  std::vector<int> parentOf_;              // per file; -1 for the primary
  ViewEntryFn entry_;
  std::unique_ptr<ViewState> state_;
};

// The entry of a closed view: OPEN opens it (the files must already be open); operations of
// the working entry give 37 "File Not Open", anything else 80.
Code ClosedViewEntry(uint8_t op, View& view, DriverArgs& args);
// The entry of an open view. Answers OPEN (52), CLOSE, SET_PROPERTY, SETview (args.number
// items), RESETviewfile (args.number: file of the view), NEXT, PREVIOUS, SKIP (args.number,
// negative walks back), POSITIONfile, REGETfile and RESETfile (args.text), RECORDSfile (into
// args.value), WATCH, PUT, DELETE, HOLDfile, HOLDfilesec, RELEASE, FLUSH and BUFFER (accepted;
// the view keeps no read-ahead); any other operation gives 80.
Code WorkingViewEntry(uint8_t op, View& view, DriverArgs& args);

// Calls the view's current entry and records the result as the thread's current error.
Code CallView(uint8_t op, View& view, DriverArgs& args);
Code CallView(uint8_t op, View& view);

// The declaration in the form the trace writes ("VIEW(SLOVO)", "PROJECT(" ...).
std::string DescribeView(const View& view);

}  // namespace korawin::storage

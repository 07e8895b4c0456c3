#include "storage/view/view.h"

#include "storage/view/view_state.h"

namespace korawin::storage {

namespace {

void Flatten(const std::vector<ViewJoin>& joins, int parent, std::vector<FileDescriptor*>* files,
             std::vector<const ViewJoin*>* joinOf, std::vector<int>* parentOf) {
  for (const ViewJoin& join : joins) {
    const int index = static_cast<int>(files->size());
    files->push_back(join.file);
    joinOf->push_back(&join);
    parentOf->push_back(parent);
    Flatten(join.joins, index, files, joinOf, parentOf);
  }
}

bool FieldNumberValid(const FileDescriptor& file, int number) {
  return number >= 1 && static_cast<size_t>(number) <= file.fields.size();
}

// A declaration the engine can serve: files with record buffers, key joins with a key of the
// joined file and linking fields of the enclosing one, projections within the files.
bool DeclarationValid(const View& view) {
  for (int f = 0; f < view.FileCount(); ++f)
    if (view.File(f).record == nullptr) return false;
  const ViewDeclaration& d = view.declaration();
  for (int p : d.project)
    if (p < 1 || static_cast<size_t>(p) > d.primary->fields.size() + d.primary->memos.size())
      return false;
  std::vector<std::pair<const ViewJoin*, const FileDescriptor*>> todo;
  for (const ViewJoin& j : d.joins) todo.emplace_back(&j, d.primary);
  while (!todo.empty()) {
    auto [join, enclosing] = todo.back();
    todo.pop_back();
    const FileDescriptor& file = *join->file;
    if (join->key > 0) {
      if (static_cast<size_t>(join->key) > file.keys.size()) return false;
      const KeyDescriptor& key = file.keys[static_cast<size_t>(join->key - 1)];
      if (join->linkFields.empty() || join->linkFields.size() > key.components.size())
        return false;
      for (int32_t c : key.components)
        if (!FieldNumberValid(file, c < 0 ? -c : c)) return false;
      for (int link : join->linkFields)
        if (!FieldNumberValid(*enclosing, link)) return false;
    } else if (join->expression.find_first_not_of(" \t") == std::string::npos) {
      return false;
    }
    for (int p : join->project)
      if (p < 1 || static_cast<size_t>(p) > file.fields.size() + file.memos.size()) return false;
    for (const ViewJoin& nested : join->joins) todo.emplace_back(&nested, &file);
  }
  return true;
}

// Operations that the working entry answers.
bool WorkingOperation(uint8_t op) {
  switch (op) {
    case kOpClose: case kOpSetProperty: case kOpSetView: case kOpResetViewFile: case kOpNext:
    case kOpPrevious: case kOpSkip: case kOpPositionFile: case kOpRegetFile: case kOpResetFile:
    case kOpRecordsFile: case kOpWatch: case kOpPut: case kOpDelete: case kOpHoldFile:
    case kOpHoldFileSec: case kOpRelease: case kOpFlush: case kOpBuffer:
      return true;
    default:
      return false;
  }
}

void DescribeProjection(const FileDescriptor& file, const std::vector<int>& project,
                        const std::string& indent, std::string* out) {
  if (project.empty()) return;
  *out += indent + "PROJECT(";
  for (size_t i = 0; i < project.size(); ++i) {
    const size_t n = static_cast<size_t>(project[i]);
    if (i) *out += ",";
    if (n >= 1 && n <= file.fields.size()) *out += "FIELD(" + file.fields[n - 1].label + ")";
    else if (n > file.fields.size() && n <= file.fields.size() + file.memos.size())
      *out += "MEMO(" + file.memos[n - file.fields.size() - 1].label + ")";
  }
  *out += ")\n";
}

void DescribeJoins(const FileDescriptor& enclosing, const std::vector<ViewJoin>& joins,
                   const std::string& indent, std::string* out) {
  for (const ViewJoin& join : joins) {
    *out += indent + "JOIN(";
    if (join.key > 0 && static_cast<size_t>(join.key) <= join.file->keys.size()) {
      *out += join.file->keys[static_cast<size_t>(join.key - 1)].label;
      for (int link : join.linkFields)
        if (link >= 1 && static_cast<size_t>(link) <= enclosing.fields.size())
          *out += ",FIELD(" + enclosing.fields[static_cast<size_t>(link - 1)].label + ")";
    } else {
      *out += "'" + join.expression + "'";
    }
    *out += ")";
    if (join.inner) *out += ",INNER";
    *out += "\n";
    DescribeProjection(*join.file, join.project, indent + "  ", out);
    DescribeJoins(*join.file, join.joins, indent + "  ", out);
    *out += indent + "END\n";
  }
}

}  // namespace

View::View(ViewDeclaration declaration)
    : declaration_(std::move(declaration)), entry_(&ClosedViewEntry) {
  files_.push_back(declaration_.primary);
  joinOf_.push_back(nullptr);
  parentOf_.push_back(-1);
  Flatten(declaration_.joins, 0, &files_, &joinOf_, &parentOf_);
}

View::~View() = default;

int View::FileIndex(const FileDescriptor& file) const {
  for (size_t i = 0; i < files_.size(); ++i)
    if (files_[i] == &file) return static_cast<int>(i);
  return -1;
}

Code ClosedViewEntry(uint8_t op, View& view, DriverArgs& args) {
  if (op == kOpOpen) {
    if (view.declaration_.primary == nullptr) return kErrInvalidParameters;
    for (FileDescriptor* f : view.files_)
      if (f == nullptr) return kErrInvalidParameters;
    if (!DeclarationValid(view)) return kErrInvalidParameters;
    view.state_ = std::make_unique<ViewState>(view);
    view.entry_ = &WorkingViewEntry;
    return 0;
  }
  return WorkingOperation(op) ? kErrFileNotOpen : kErrUnsupportedFunction;
}

Code WorkingViewEntry(uint8_t op, View& view, DriverArgs& args) {
  ViewState& state = *view.state_;
  switch (op) {
    case kOpOpen:
      return kErrFileAlreadyOpen;
    case kOpClose:
      view.entry_ = &ClosedViewEntry;
      view.state_.reset();
      return 0;
    case kOpSetProperty:
      return state.SetProperty(args);
    case kOpSetView:
      return state.SetView(args.number);
    case kOpResetViewFile:
      return state.ResetViewFile(args.number);
    case kOpNext:
      return state.Step(true);
    case kOpPrevious:
      return state.Step(false);
    case kOpSkip:
      return state.Skip(args.number);
    case kOpPositionFile:
      return state.Position(&args.result);
    case kOpRegetFile:
      return state.Reget(args.text);
    case kOpResetFile:
      return state.Reset(args.text);
    case kOpRecordsFile:
      return state.Records(&args.value);
    case kOpWatch:
      state.Watch();
      return 0;
    case kOpPut: case kOpDelete: case kOpHoldFile: case kOpHoldFileSec: case kOpRelease:
      return state.ApplyToPrimary(op, args);
    case kOpFlush:
      return state.Flush();
    case kOpBuffer:
      return 0;  // every read goes to the files; there is no read-ahead to size
    default:
      return kErrUnsupportedFunction;
  }
}

Code CallView(uint8_t op, View& view, DriverArgs& args) {
  int rc = view.entry()(op, view, args);
  SetError(rc);
  return rc;
}

Code CallView(uint8_t op, View& view) {
  DriverArgs args;
  return CallView(op, view, args);
}

std::string DescribeView(const View& view) {
  const ViewDeclaration& d = view.declaration();
  if (d.primary == nullptr) return {};
  std::string out = "VIEW(" + d.primary->label + ")\n";
  DescribeProjection(*d.primary, d.project, "  ", &out);
  DescribeJoins(*d.primary, d.joins, "  ", &out);
  out += "END\n";
  return out;
}

}  // namespace korawin::storage

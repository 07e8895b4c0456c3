#include "storage/view/view_state.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>

#include "lang/types.h"
#include "storage/field_values.h"

namespace korawin::storage {

using view_detail::CapturedValue;

namespace {

// A view position: a tag ('K' and the key number when the primary's part is a key position,
// 'F' for a record position), then for each file of the view a 16-bit little-endian length and
// that file's position text (empty for an outer join without a joined record).
void AppendPart(std::string* out, std::string_view part) {
  const size_t n = std::min<size_t>(part.size(), 0xFFFF);
  out->push_back(static_cast<char>(n & 0xFF));
  out->push_back(static_cast<char>(n >> 8));
  out->append(part.data(), n);
}

bool ParsePosition(std::string_view text, int files, char* tag, int* key,
                   std::vector<std::string_view>* parts) {
  if (text.size() < 2 || (text[0] != 'K' && text[0] != 'F')) return false;
  *tag = text[0];
  *key = static_cast<unsigned char>(text[1]);
  parts->clear();
  size_t at = 2;
  for (int i = 0; i < files; ++i) {
    if (at + 2 > text.size()) return false;
    const size_t n = static_cast<unsigned char>(text[at]) |
                     (static_cast<size_t>(static_cast<unsigned char>(text[at + 1])) << 8);
    at += 2;
    if (at + n > text.size()) return false;
    parts->push_back(text.substr(at, n));
    at += n;
  }
  return at == text.size();
}

const FieldDescriptor* ComponentField(const FileDescriptor& file, int32_t component) {
  const size_t number = static_cast<size_t>(component < 0 ? -static_cast<int64_t>(component)
                                                          : component);
  if (number == 0 || number > file.fields.size()) return nullptr;
  return &file.fields[number - 1];
}

}  // namespace

ViewState::ViewState(View& view) : view_(view), primary_(*view.declaration().primary) {
  const int files = view.FileCount();
  joins_.resize(static_cast<size_t>(files - 1));
  for (int f = 1; f < files; ++f) {
    JoinStage& stage = joins_[static_cast<size_t>(f - 1)];
    stage.decl = view.joinOf_[static_cast<size_t>(f)];
    stage.file = &view.File(f);
    stage.parent = view.parentOf_[static_cast<size_t>(f)];
    if (stage.parent == 0) topJoins_.push_back(f - 1);
    else joins_[static_cast<size_t>(stage.parent - 1)].children.push_back(f - 1);
    stage.slot = stage.file->recordSize;
    for (const MemoDescriptor& m : stage.file->memos) stage.slot += m.size;
  }
  current_.assign(joins_.size(), -1);
}

// ---- properties ----

Code ViewState::SetProperty(const DriverArgs& args) {
  switch (args.number) {
    case kViewPropertyOrder:
    case kViewPropertyFilter: {
      int rc = 0;
      if (args.number == kViewPropertyOrder) {
        // A refused text leaves the view without order.
        rc = view_detail::ParseOrder(args.text, &items_);
        orderText_ = rc ? std::string() : args.text;
      } else {
        filter_.reset();
        filterText_.clear();
        if (args.text.find_first_not_of(" \t") != std::string::npos) {
          filter_ = lang::CompileExpression(args.text);
          if (filter_) filterText_ = args.text;
          else rc = lang::ErrorCode() ? lang::ErrorCode() : lang::kErrInvalidExpression;
        }
      }
      // Either way the pipeline is rebuilt and the sequence starts over.
      dirty_ = true;
      start_ = Start::kSet;
      setCount_ = 0;
      return rc;
    }
    case kViewPropertyOption:
      option_ = args.text.empty() ? 0 : static_cast<uint8_t>(args.text[0]);
      return 0;
    default:
      return kErrUnsupportedFunction;
  }
}

// ---- pipeline ----

Code ViewState::Build() {
  if (!dirty_) return 0;
  for (JoinStage& stage : joins_) {
    if (stage.decl->key > 0 || stage.expression) continue;
    stage.expression = lang::CompileExpression(stage.decl->expression);
    if (!stage.expression) return lang::ErrorCode() ? lang::ErrorCode() : lang::kErrInvalidExpression;
  }
  skipMemo_ = MemoUnused();
  prefix_ = FilterPrefix();
  prefixReads_ = prefixPasses_ = 0;
  key_ = view_detail::KeyDeliveringOrder(primary_, items_);
  path_ = items_.empty() ? Path::kRecord : key_ ? Path::kKey : Path::kSorted;
  live_ = false;
  havePrimary_ = false;
  cur_ = -1;
  dirty_ = false;
  if (path_ == Path::kSorted) {
    int rc = BuildSorted();
    if (rc) {
      dirty_ = true;
      return rc;
    }
  }
  return 0;
}

Code ViewState::BuildSorted() {
  std::vector<std::string> saved;
  SaveBuffers(&saved);
  const bool watch = watch_;
  watch_ = false;
  path_ = Path::kRecord;
  rowPosition_.clear();
  rowValues_.clear();
  args_.key = 0;
  int rc = CallDriver(kOpSetFile, primary_, args_);
  live_ = true;
  havePrimary_ = false;
  while (rc == 0 && (rc = StepSequence(true)) == 0) {
    for (view_detail::OrderItem& item : items_) {
      rowValues_.emplace_back();
      view_detail::Capture(*item.expression, &rowValues_.back());
    }
    std::string position;
    rc = CurrentPosition(true, &position);
    if (rc == 0) rowPosition_.push_back(std::move(position));
  }
  watch_ = watch;
  path_ = Path::kSorted;
  live_ = false;
  havePrimary_ = false;
  RestoreBuffers(saved);
  if (rc != kErrRecordNotAvailable) return rc;
  sorted_.resize(rowPosition_.size());
  std::iota(sorted_.begin(), sorted_.end(), 0u);
  const size_t n = items_.size();
  std::stable_sort(sorted_.begin(), sorted_.end(), [&](uint32_t a, uint32_t b) {
    return CompareRowTo(a, &rowValues_[static_cast<size_t>(b) * n], n) < 0;
  });
  cur_ = -1;
  return 0;
}

int ViewState::CompareRowTo(uint32_t row, const CapturedValue* values, size_t n) const {
  const CapturedValue* mine = &rowValues_[static_cast<size_t>(row) * items_.size()];
  for (size_t i = 0; i < n; ++i) {
    int c = view_detail::CompareCaptured(mine[i], values[i]);
    if (items_[i].descending) c = -c;
    if (c) return c;
  }
  return 0;
}

bool ViewState::Passes() { return !filter_ || filter_->EvaluateBool(); }

// ---- positioning ----

Code ViewState::SetView(int64_t items) {
  size_t n = items < 0 ? 0 : std::min<size_t>(static_cast<size_t>(items), items_.size());
  setCount_ = n;
  setValues_.resize(n);
  for (size_t i = 0; i < n; ++i) view_detail::Capture(*items_[i].expression, &setValues_[i]);
  setKeyBytes_.clear();
  if (int key = view_detail::KeyDeliveringOrder(primary_, items_)) {
    const KeyDescriptor& kd = primary_.keys[static_cast<size_t>(key - 1)];
    for (size_t i = 0; i < n; ++i) {
      const FieldDescriptor* f = ComponentField(primary_, kd.components[i]);
      setKeyBytes_.append(primary_.record + f->offset, f->size);
    }
  }
  start_ = Start::kSet;
  return Build();
}

Code ViewState::ResetViewFile(int64_t index) {
  if (index < 0 || index >= view_.FileCount()) return kErrInvalidParameters;
  int rc = Build();
  if (rc) return rc;
  const bool keyForm = path_ == Path::kKey;
  args_.key = keyForm ? key_ : 0;
  rc = CallDriver(keyForm ? kOpPositionKey : kOpPositionFile, primary_, args_);
  if (rc) return rc;
  std::string position(1, keyForm ? 'K' : 'F');
  position.push_back(static_cast<char>(keyForm ? key_ : 0));
  AppendPart(&position, args_.result);
  for (int f = 1; f < view_.FileCount(); ++f) {
    if (f == index) {
      args_.key = 0;
      rc = CallDriver(kOpPositionFile, view_.File(f), args_);
      if (rc) return rc;
      AppendPart(&position, args_.result);
    } else {
      AppendPart(&position, {});
    }
  }
  startPosition_ = std::move(position);
  start_ = Start::kReset;
  return 0;
}

Code ViewState::Reset(std::string_view position) {
  int rc = Build();
  if (rc) return rc;
  char tag;
  int key;
  std::vector<std::string_view> parts;
  if (!ParsePosition(position, view_.FileCount(), &tag, &key, &parts)) return kErrRecordNotFound;
  startPosition_.assign(position.data(), position.size());
  start_ = Start::kReset;
  return 0;
}

Code ViewState::Reget(std::string_view position) {
  char tag;
  int key;
  std::vector<std::string_view> parts;
  if (!ParsePosition(position, view_.FileCount(), &tag, &key, &parts)) return kErrRecordNotFound;
  DriverArgs args;
  args.key = tag == 'K' ? key : 0;
  args.text.assign(parts[0].data(), parts[0].size());
  int rc = CallDriver(tag == 'K' ? kOpRegetKey : kOpRegetFile, primary_, args);
  if (rc) return rc;
  for (int f = 1; f < view_.FileCount(); ++f) {
    if (parts[static_cast<size_t>(f)].empty()) {
      ClearJoin(f - 1);
      continue;
    }
    args.key = 0;
    args.text.assign(parts[static_cast<size_t>(f)].data(), parts[static_cast<size_t>(f)].size());
    rc = CallDriver(kOpRegetFile, view_.File(f), args);
    if (rc) return rc;
  }
  return 0;
}

// The primary's part of a position in the form the current path needs: a key position of
// key_ (wantKey) or a record position. A part of the other form is converted by reading it.
Code ViewState::PrimaryPositionAs(char tag, int key, std::string_view text, bool wantKey,
                                 std::string* out) {
  if ((wantKey && tag == 'K' && key == key_) || (!wantKey && tag == 'F')) {
    out->assign(text.data(), text.size());
    return 0;
  }
  DriverArgs args;
  args.key = tag == 'K' ? key : 0;
  args.text.assign(text.data(), text.size());
  int rc = CallDriver(tag == 'K' ? kOpRegetKey : kOpRegetFile, primary_, args);
  if (rc) return rc;
  args.key = wantKey ? key_ : 0;
  rc = CallDriver(wantKey ? kOpPositionKey : kOpPositionFile, primary_, args);
  if (rc == 0) *out = std::move(args.result);
  return rc;
}

Code ViewState::ApplyStart(bool forward) {
  const Start start = start_;
  start_ = Start::kNone;
  havePrimary_ = false;
  resetJoined_.clear();
  const bool keyPath = path_ == Path::kKey;
  switch (start) {
    case Start::kAtEnd:
      if (forward == endForward_) {
        start_ = Start::kAtEnd;
        return kErrRecordNotAvailable;
      }
      break;  // the other direction starts over from that end
    case Start::kReset:
    case Start::kResume: {
      char tag;
      int key;
      std::vector<std::string_view> parts;
      if (!ParsePosition(startPosition_, view_.FileCount(), &tag, &key, &parts))
        return kErrRecordNotFound;
      std::string primaryPart;
      int rc = PrimaryPositionAs(tag, key, parts[0], keyPath, &primaryPart);
      if (rc) return rc;
      args_.key = keyPath ? key_ : 0;
      args_.text = primaryPart;
      rc = CallDriver(keyPath ? kOpResetKey : kOpResetFile, primary_, args_);
      if (rc) return rc;
      live_ = true;
      for (size_t f = 1; f < parts.size(); ++f) resetJoined_.emplace_back(parts[f]);
      if (start == Start::kReset) return 0;
      // Resume: read the record back; when it is still there the sequence goes on from it.
      args_.key = keyPath ? key_ : 0;
      rc = CallDriver(kOpNext, primary_, args_);
      if (rc == 0) {
        rc = CallDriver(keyPath ? kOpPositionKey : kOpPositionFile, primary_, args_);
        if (rc == 0 && args_.result == primaryPart) {
          havePrimary_ = true;
          std::vector<std::string> joined = std::move(resetJoined_);
          resetJoined_.clear();
          if (!joins_.empty()) {
            rc = ExpandJoins();
            if (rc) return rc;
            std::vector<std::string_view> views(joined.begin(), joined.end());
            combo_ = FindCombo(views);
            if (combo_ < 0) combo_ = forward ? -1 : comboCount_;
            else LoadCombo(combo_);
          }
          return 0;
        }
      }
      // The record is gone: the nearest records in each direction come next.
      args_.key = keyPath ? key_ : 0;
      args_.text = primaryPart;
      return CallDriver(keyPath ? kOpResetKey : kOpResetFile, primary_, args_);
    }
    case Start::kSet:
      if (keyPath && setCount_ > 0) {
        const KeyDescriptor& kd = primary_.keys[static_cast<size_t>(key_ - 1)];
        std::string saved;
        for (int32_t c : kd.components) {
          const FieldDescriptor* f = ComponentField(primary_, c);
          saved.append(primary_.record + f->offset, f->size);
        }
        size_t at = 0;
        for (size_t i = 0; i < kd.components.size(); ++i) {
          const FieldDescriptor* f = ComponentField(primary_, kd.components[i]);
          if (i < setCount_) {
            std::memcpy(primary_.record + f->offset, setKeyBytes_.data() + at, f->size);
            at += f->size;
          } else {
            // The free components take the value that comes first in the walk's direction.
            view_detail::FillExtreme(*f, primary_.record, forward == (kd.components[i] < 0));
          }
        }
        args_.key = key_;
        int rc = CallDriver(kOpSetKeyKey, primary_, args_);
        at = 0;
        for (int32_t c : kd.components) {
          const FieldDescriptor* f = ComponentField(primary_, c);
          std::memcpy(primary_.record + f->offset, saved.data() + at, f->size);
          at += f->size;
        }
        if (rc) return rc;
        live_ = true;
        return 0;
      }
      break;
    default:
      break;
  }
  args_.key = keyPath ? key_ : 0;
  int rc = CallDriver(keyPath ? kOpSetKey : kOpSetFile, primary_, args_);
  live_ = rc == 0;
  return rc;
}

// ---- reading ----

Code ViewState::Step(bool forward) {
  int rc = Build();
  if (rc) return rc;
  if (path_ == Path::kSorted) return StepSorted(forward);
  if (start_ != Start::kNone || !live_) {
    rc = ApplyStart(forward);
    if (rc) return rc;
  }
  return StepSequence(forward);
}

// A memo the view neither projects nor names in its order or filter is not read: a walk then
// reads the records alone.
bool ViewState::MemoUnused() const {
  const ViewDeclaration& d = view_.declaration();
  if (primary_.memos.empty() || d.project.empty()) return false;
  for (int p : d.project)
    if (p > static_cast<int>(primary_.fields.size())) return false;
  auto upper = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
  };
  const std::string texts = upper(filterText_ + " " + orderText_);
  for (const MemoDescriptor& m : primary_.memos) {
    std::string name = m.label.substr(m.label.find(':') + 1);
    if (name.empty() || texts.find(upper(name)) != std::string::npos) return false;
  }
  return true;
}

// The bytes from the start of the primary record that hold every field the filter reads, when
// reading records only that far first can pay: the filter alone decides (no joins), the memo is
// not read, the bytes are few and the driver can read part of a record. 0: records are read
// whole. The filter's functions read nothing but their arguments.
uint32_t ViewState::FilterPrefix() {
  if (!filter_ || !joins_.empty() || (!primary_.memos.empty() && !skipMemo_) ||
      !primary_.record || primary_.recordSize == 0)
    return 0;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(primary_.record);
  const uintptr_t end = begin + primary_.recordSize;
  uintptr_t last = begin + 1;
  for (uint32_t i = 0; i < filter_->NodeCount(); ++i) {
    const lang::ExpressionNode& n = filter_->Node(i);
    if (n.op != lang::kNodeVariable && n.op != lang::kNodeSubscript) continue;
    const uintptr_t at = reinterpret_cast<uintptr_t>(n.var.address);
    const uint64_t span = static_cast<uint64_t>(n.var.size) * n.var.ElementCount();
    if (at >= end || at + span <= begin) continue;
    last = std::max<uintptr_t>(last, std::min<uintptr_t>(at + span, end));
  }
  const uint32_t bytes = static_cast<uint32_t>(last - begin);
  if (bytes > primary_.recordSize / 4) return 0;
  args_.text = kPropertyReadPrefix;
  if (CallDriver(kOpGetProperty, primary_, args_) != 0 || args_.result != "1") return 0;
  return bytes;
}

// The primary record the filter passed after a read in part, read again whole, as the
// sequence's own read would have read it.
Code ViewState::ReadWhole() {
  int rc = CallDriver(kOpPositionFile, primary_, args_);
  if (rc) return rc;
  args_.text = args_.result;
  if (skipMemo_) (void)CallDriver(kOpNoMemo, primary_, args_);
  return CallDriver(kOpRegetFile, primary_, args_);
}

Code ViewState::PrimaryRead(uint8_t op, bool inPart) {
  args_.key = path_ == Path::kKey ? key_ : 0;
  // A read in part reads no memo anyway; its code is always 0.
  if (skipMemo_ && !inPart) (void)CallDriver(kOpNoMemo, primary_, args_);
  int rc = CallDriver(op, primary_, args_);
  // Drivers watch the record they stand on, so the watch follows the read; of the records a
  // filter passes over, the last one read is the one watched.
  if (rc == 0 && watch_) rc = CallDriver(kOpWatch, primary_, args_);
  return rc;
}

Code ViewState::StepSequence(bool forward) {
  const int64_t step = forward ? 1 : -1;
  for (;;) {
    if (havePrimary_ && !joins_.empty()) {
      const int64_t next = combo_ + step;
      if (next >= 0 && next < comboCount_) {
        combo_ = next;
        LoadCombo(combo_);
        if (Passes()) {
          watch_ = false;
          return 0;
        }
        continue;
      }
    }
    // A filter that passes over most records reads the bytes it needs first (joins and watches
    // read whole records); the counts follow the records met lately.
    const bool part = prefix_ && !watch_ && joins_.empty() &&
                      (prefixReads_ < 16 || prefixPasses_ * 2 < prefixReads_);
    if (part) {
      args_.text = kPropertyReadPrefix;
      args_.number = prefix_;
      (void)CallDriver(kOpSetProperty, primary_, args_);  // a driver that can't reads whole
    }
    int rc = PrimaryRead(forward ? kOpNext : kOpPrevious, part);
    if (rc) {
      havePrimary_ = false;
      endForward_ = forward;
      return rc;
    }
    havePrimary_ = true;
    if (!joins_.empty()) {
      rc = ExpandJoins();
      if (rc) return rc;
      if (comboCount_ == 0) continue;
      combo_ = forward ? 0 : comboCount_ - 1;
      if (!resetJoined_.empty()) {
        std::vector<std::string_view> views(resetJoined_.begin(), resetJoined_.end());
        const bool any = std::any_of(views.begin(), views.end(),
                                     [](std::string_view v) { return !v.empty(); });
        if (any) {
          int64_t found = FindCombo(views);
          if (found >= 0) combo_ = found;
        }
        resetJoined_.clear();
      }
      LoadCombo(combo_);
    }
    resetJoined_.clear();
    if (prefix_ && ++prefixReads_ >= 512) {
      prefixReads_ /= 2;
      prefixPasses_ /= 2;
    }
    if (!Passes()) continue;
    if (prefix_) ++prefixPasses_;
    if (part) {
      rc = ReadWhole();
      if (rc == kErrRecordNotFound) continue;  // another station deleted it in between
      if (rc) {
        havePrimary_ = false;
        return rc;
      }
      if (!Passes()) continue;  // or changed it
    }
    watch_ = false;
    return 0;
  }
}

int64_t ViewState::FindRow(std::string_view position) const {
  char tag, rowTag;
  int key, rowKey;
  std::vector<std::string_view> parts, rowParts;
  if (!ParsePosition(position, view_.FileCount(), &tag, &key, &parts)) return -1;
  for (size_t i = 0; i < sorted_.size(); ++i) {
    if (!ParsePosition(rowPosition_[sorted_[i]], view_.FileCount(), &rowTag, &rowKey, &rowParts))
      continue;
    bool same = rowParts[0] == parts[0];
    for (size_t f = 1; same && f < parts.size(); ++f)
      same = parts[f].empty() || parts[f] == rowParts[f];
    if (same) return static_cast<int64_t>(i);
  }
  return -1;
}

Code ViewState::StepSorted(bool forward) {
  const int64_t size = static_cast<int64_t>(sorted_.size());
  const size_t n = items_.size();
  int64_t target = cur_ + (forward ? 1 : -1);
  const Start start = start_;
  start_ = Start::kNone;
  // First row that does not come before values (lower) or that comes after them (upper).
  auto bound = [&](const CapturedValue* values, size_t count, bool upper) {
    int64_t lo = 0, hi = size;
    while (lo < hi) {
      int64_t mid = (lo + hi) / 2;
      int c = CompareRowTo(sorted_[static_cast<size_t>(mid)], values, count);
      if (c < 0 || (upper && c == 0)) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  };
  switch (start) {
    case Start::kSet:
      if (setCount_ == 0) target = forward ? 0 : size - 1;
      else target = forward ? bound(setValues_.data(), setCount_, false)
                            : bound(setValues_.data(), setCount_, true) - 1;
      break;
    case Start::kAtEnd:
      if (forward == endForward_) target = forward ? size : -1;
      else target = forward ? 0 : size - 1;
      break;
    case Start::kBetween:
      betweenNext_ = std::min(betweenNext_, size);
      target = forward ? betweenNext_ : betweenNext_ - 1;
      break;
    case Start::kReset:
    case Start::kResume: {
      char tag;
      int key;
      std::vector<std::string_view> parts;
      if (!ParsePosition(startPosition_, view_.FileCount(), &tag, &key, &parts))
        return kErrRecordNotFound;
      std::string normal;
      if (tag == 'K') {
        // Rows keep record positions; a key position is turned into one by reading it.
        std::string primaryPart;
        int rc = PrimaryPositionAs(tag, key, parts[0], false, &primaryPart);
        if (rc) return rc;
        normal.assign(1, 'F');
        normal.push_back('\0');
        AppendPart(&normal, primaryPart);
        for (size_t f = 1; f < parts.size(); ++f) AppendPart(&normal, parts[f]);
      } else {
        normal = startPosition_;
      }
      int64_t found = FindRow(normal);
      if (found >= 0) {
        target = start == Start::kReset ? found : found + (forward ? 1 : -1);
        break;
      }
      // Not among the rows: place it by its order values.
      std::vector<CapturedValue> values;
      if (start == Start::kResume) {
        values = resumeValues_;
      } else {
        std::vector<std::string> saved;
        SaveBuffers(&saved);
        int rc = Reget(normal);
        if (rc) return rc;
        values.resize(n);
        for (size_t i = 0; i < n; ++i) view_detail::Capture(*items_[i].expression, &values[i]);
        RestoreBuffers(saved);
      }
      const int64_t lower = bound(values.data(), n, false);
      target = forward ? lower : lower - 1;
      break;
    }
    default:
      break;
  }
  if (target < 0) {
    cur_ = -1;
    endForward_ = false;
    return kErrRecordNotAvailable;
  }
  if (target >= size) {
    cur_ = size;
    endForward_ = true;
    return kErrRecordNotAvailable;
  }
  cur_ = target;
  int rc = Reget(rowPosition_[sorted_[static_cast<size_t>(cur_)]]);
  if (rc == 0 && watch_) rc = CallDriver(kOpWatch, primary_, args_);
  if (rc == 0) watch_ = false;
  return rc;
}

Code ViewState::Skip(int64_t count) {
  const bool forward = count >= 0;
  for (int64_t i = 0, n = forward ? count : -count; i < n; ++i) {
    int rc = Step(forward);
    if (rc) return rc;
  }
  return 0;
}

Code ViewState::CurrentPosition(bool fileForm, std::string* out) {
  if (!havePrimary_) return kErrRecordNotAvailable;
  const bool keyForm = !fileForm && path_ == Path::kKey;
  args_.key = keyForm ? key_ : 0;
  int rc = CallDriver(keyForm ? kOpPositionKey : kOpPositionFile, primary_, args_);
  if (rc) return rc;
  out->assign(1, keyForm ? 'K' : 'F');
  out->push_back(static_cast<char>(keyForm ? key_ : 0));
  AppendPart(out, args_.result);
  for (size_t j = 0; j < joins_.size(); ++j) {
    int32_t m = comboCount_ > 0 && combo_ >= 0 && combo_ < comboCount_
                    ? combos_[static_cast<size_t>(combo_) * joins_.size() + j]
                    : -1;
    AppendPart(out, m >= 0 ? std::string_view(joins_[j].positions[static_cast<size_t>(m)])
                           : std::string_view());
  }
  return 0;
}

Code ViewState::Position(std::string* out) {
  if (dirty_) return kErrRecordNotAvailable;
  if (path_ == Path::kSorted) {
    if (cur_ < 0 || cur_ >= static_cast<int64_t>(sorted_.size())) return kErrRecordNotAvailable;
    *out = rowPosition_[sorted_[static_cast<size_t>(cur_)]];
    return 0;
  }
  return CurrentPosition(false, out);
}

Code ViewState::Records(int64_t* out) {
  int rc = Build();
  if (rc) return rc;
  if (path_ == Path::kSorted) {
    *out = static_cast<int64_t>(sorted_.size());
    return 0;
  }
  if (!filter_ && joins_.empty()) {
    args_.key = path_ == Path::kKey ? key_ : 0;
    rc = CallDriver(path_ == Path::kKey ? kOpRecordsKey : kOpRecordsFile, primary_, args_);
    if (rc == 0) *out = args_.value;
    return rc;
  }
  // Count by walking, then put the sequence back where it was.
  std::vector<std::string> saved;
  SaveBuffers(&saved);
  std::string here;
  const bool wasOn = havePrimary_ && start_ == Start::kNone;
  if (wasOn) {
    rc = CurrentPosition(false, &here);
    if (rc) return rc;
  }
  const Start savedStart = start_;
  const bool savedLive = live_, savedEnd = endForward_, watch = watch_;
  watch_ = false;
  args_.key = path_ == Path::kKey ? key_ : 0;
  rc = CallDriver(path_ == Path::kKey ? kOpSetKey : kOpSetFile, primary_, args_);
  live_ = true;
  havePrimary_ = false;
  int64_t count = 0;
  while (rc == 0 && (rc = StepSequence(true)) == 0) ++count;
  watch_ = watch;
  int restore = 0;
  if (wasOn) {
    startPosition_ = here;
    start_ = Start::kResume;
    restore = ApplyStart(true);
  } else if (savedStart == Start::kNone && savedLive) {
    start_ = Start::kAtEnd;
    endForward_ = savedEnd;
  } else {
    start_ = savedStart;
    live_ = false;
  }
  RestoreBuffers(saved);
  if (rc != kErrRecordNotAvailable) return rc;
  *out = count;
  return restore;
}

Code ViewState::Flush() {
  if (dirty_) return 0;
  if (path_ == Path::kSorted) {
    if (start_ == Start::kNone) {
      const int64_t size = static_cast<int64_t>(sorted_.size());
      if (cur_ >= 0 && cur_ < size) {
        const uint32_t row = sorted_[static_cast<size_t>(cur_)];
        const size_t n = items_.size();
        startPosition_ = rowPosition_[row];
        resumeValues_.assign(rowValues_.begin() + static_cast<std::ptrdiff_t>(row * n),
                             rowValues_.begin() + static_cast<std::ptrdiff_t>((row + 1) * n));
        start_ = Start::kResume;
      } else {
        start_ = Start::kAtEnd;
        endForward_ = cur_ >= size;
      }
    }
    dirty_ = true;
    return 0;
  }
  // Joined records are the only thing kept; read them again around the current record.
  if (havePrimary_ && !joins_.empty() && start_ == Start::kNone) {
    int rc = CurrentPosition(false, &startPosition_);
    if (rc) return rc;
    start_ = Start::kResume;
  }
  return 0;
}

Code ViewState::ApplyToPrimary(uint8_t op, DriverArgs& args) {
  // Where a deleted record stood, so that the walk (and a count in between) goes on from its
  // neighbours rather than from wherever the driver's sequence is left.
  std::string here;
  if (op == kOpDelete && !dirty_ && path_ != Path::kSorted && havePrimary_ &&
      start_ == Start::kNone && CurrentPosition(false, &here) != 0)
    here.clear();
  int rc = CallDriver(op, primary_, args);
  if (rc || op != kOpDelete || dirty_) return rc;
  if (path_ == Path::kSorted) {
    if (cur_ >= 0 && cur_ < static_cast<int64_t>(sorted_.size()) && start_ == Start::kNone) {
      sorted_.erase(sorted_.begin() + cur_);
      betweenNext_ = cur_;
      start_ = Start::kBetween;
    }
  } else {
    // Its joined rows are dropped; the next read resumes at the gap it left.
    havePrimary_ = false;
    if (!here.empty()) {
      startPosition_ = std::move(here);
      start_ = Start::kResume;
    }
  }
  return 0;
}

// ---- joins ----

Code ViewState::ExpandJoins() {
  combos_.clear();
  comboCount_ = 0;
  for (JoinStage& stage : joins_) stage.count = 0;
  std::fill(current_.begin(), current_.end(), -1);
  return Expand(topJoins_);
}

Code ViewState::Expand(std::vector<int> todo) {
  if (todo.empty()) {
    combos_.insert(combos_.end(), current_.begin(), current_.end());
    ++comboCount_;
    return 0;
  }
  const int j = todo.front();
  std::vector<int> rest(todo.begin() + 1, todo.end());
  JoinStage& stage = joins_[static_cast<size_t>(j)];
  const size_t first = stage.count;
  int rc = FetchMatches(j);
  if (rc) return rc;
  const size_t last = joins_[static_cast<size_t>(j)].count;
  const int64_t before = comboCount_;
  for (size_t m = first; m < last; ++m) {
    LoadMatch(j, static_cast<int32_t>(m));
    current_[static_cast<size_t>(j)] = static_cast<int32_t>(m);
    std::vector<int> next = joins_[static_cast<size_t>(j)].children;
    next.insert(next.end(), rest.begin(), rest.end());
    rc = Expand(std::move(next));
    if (rc) return rc;
  }
  current_[static_cast<size_t>(j)] = -1;
  if (comboCount_ > before) return 0;
  if (joins_[static_cast<size_t>(j)].decl->inner) return 0;
  // Outer join without a joined record: the enclosing record comes once, with this join and
  // everything nested in it cleared.
  std::vector<int> clear{j};
  while (!clear.empty()) {
    int c = clear.back();
    clear.pop_back();
    ClearJoin(c);
    current_[static_cast<size_t>(c)] = -1;
    const std::vector<int>& kids = joins_[static_cast<size_t>(c)].children;
    clear.insert(clear.end(), kids.begin(), kids.end());
  }
  return Expand(std::move(rest));
}

Code ViewState::FetchMatches(int join) {
  JoinStage& stage = joins_[static_cast<size_t>(join)];
  FileDescriptor& file = *stage.file;
  DriverArgs& a = args_;
  if (stage.decl->key <= 0) {
    a.key = 0;
    int rc = CallDriver(kOpSetFile, file, a);
    while (rc == 0 && (rc = CallDriver(kOpNext, file, a)) == 0)
      if (stage.expression->EvaluateBool()) Append(stage);
    return rc == kErrRecordNotAvailable ? 0 : rc;
  }
  const FileDescriptor& enclosing = view_.File(stage.parent);
  const KeyDescriptor& key = file.keys[static_cast<size_t>(stage.decl->key - 1)];
  const bool nocase = (key.attributes & kKeyNoCase) != 0;
  const size_t linked = std::min(stage.decl->linkFields.size(), key.components.size());
  for (size_t i = 0; i < key.components.size(); ++i) {
    const FieldDescriptor* f = ComponentField(file, key.components[i]);
    if (i < linked) {
      const FieldDescriptor& link =
          enclosing.fields[static_cast<size_t>(stage.decl->linkFields[i] - 1)];
      CopyField(link, enclosing.record, *f, file.record);
    } else {
      view_detail::FillExtreme(*f, file.record, key.components[i] < 0);
    }
  }
  a.key = stage.decl->key;
  int rc = CallDriver(kOpSetKeyKey, file, a);
  while (rc == 0 && (rc = CallDriver(kOpNext, file, a)) == 0) {
    bool same = true;
    for (size_t i = 0; i < linked && same; ++i) {
      const FieldDescriptor& link =
          enclosing.fields[static_cast<size_t>(stage.decl->linkFields[i] - 1)];
      same = CompareFields(*ComponentField(file, key.components[i]), file.record,
                                        link, enclosing.record, nocase) == 0;
    }
    if (!same) break;
    Append(stage);
  }
  return rc == kErrRecordNotAvailable ? 0 : rc;
}

void ViewState::Append(JoinStage& stage) {
  FileDescriptor& file = *stage.file;
  const size_t at = stage.count * stage.slot;
  if (stage.arena.size() < at + stage.slot) stage.arena.resize(at + stage.slot);
  char* out = stage.arena.data() + at;
  std::memcpy(out, file.record, file.recordSize);
  out += file.recordSize;
  for (const MemoDescriptor& m : file.memos) {
    if (m.buffer) std::memcpy(out, m.buffer, m.size);
    out += m.size;
  }
  if (stage.positions.size() <= stage.count) stage.positions.emplace_back();
  DriverArgs args;
  args.key = 0;
  if (CallDriver(kOpPositionFile, file, args) == 0) stage.positions[stage.count].swap(args.result);
  else stage.positions[stage.count].clear();
  ++stage.count;
}

void ViewState::LoadMatch(int join, int32_t match) {
  JoinStage& stage = joins_[static_cast<size_t>(join)];
  FileDescriptor& file = *stage.file;
  const char* in = stage.arena.data() + static_cast<size_t>(match) * stage.slot;
  std::memcpy(file.record, in, file.recordSize);
  in += file.recordSize;
  for (const MemoDescriptor& m : file.memos) {
    if (m.buffer) std::memcpy(m.buffer, in, m.size);
    in += m.size;
  }
}

void ViewState::ClearJoin(int join) { ClearRecord(*joins_[static_cast<size_t>(join)].file); }

void ViewState::LoadCombo(int64_t combo) {
  const size_t width = joins_.size();
  for (size_t j = 0; j < width; ++j) {
    const int32_t m = combos_[static_cast<size_t>(combo) * width + j];
    if (m >= 0) LoadMatch(static_cast<int>(j), m);
    else ClearJoin(static_cast<int>(j));
  }
}

int64_t ViewState::FindCombo(const std::vector<std::string_view>& joined) const {
  const size_t width = joins_.size();
  for (int64_t c = 0; c < comboCount_; ++c) {
    bool same = true;
    for (size_t j = 0; j < width && j < joined.size() && same; ++j) {
      if (joined[j].empty()) continue;
      const int32_t m = combos_[static_cast<size_t>(c) * width + j];
      same = m >= 0 && joins_[j].positions[static_cast<size_t>(m)] == joined[j];
    }
    if (same) return c;
  }
  return -1;
}

void ViewState::SaveBuffers(std::vector<std::string>* out) const {
  out->clear();
  for (int f = 0; f < view_.FileCount(); ++f) {
    const FileDescriptor& file = view_.File(f);
    std::string copy(file.record, file.recordSize);
    for (const MemoDescriptor& m : file.memos)
      if (m.buffer) copy.append(m.buffer, m.size);
    out->push_back(std::move(copy));
  }
}

void ViewState::RestoreBuffers(const std::vector<std::string>& saved) {
  for (int f = 0; f < view_.FileCount() && static_cast<size_t>(f) < saved.size(); ++f) {
    FileDescriptor& file = view_.File(f);
    const char* in = saved[static_cast<size_t>(f)].data();
    std::memcpy(file.record, in, file.recordSize);
    in += file.recordSize;
    for (const MemoDescriptor& m : file.memos) {
      if (m.buffer) {
        std::memcpy(m.buffer, in, m.size);
        in += m.size;
      }
    }
  }
}

}  // namespace korawin::storage

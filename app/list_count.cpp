#include "app/list_count.h"

#include <cstring>

#include "app/dictionary.h"
#include "framework/browse.h"
#include "storage/field_values.h"
#include "lang/bind.h"
#include "lang/charset.h"
#include "lang/picture.h"
#include "storage/view/view.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/window.h"

namespace korawin::app {

namespace {

// Counts queued or running in any list.
std::mutex gActiveMu;
std::condition_variable gActiveCv;
int gActive = 0;

void AddActive(int delta) {
  std::lock_guard<std::mutex> lock(gActiveMu);
  gActive += delta;
  if (gActive == 0) gActiveCv.notify_all();
}

// Records read between two looks at whether the count is still wanted.
constexpr int64_t kCancelStride = 64;

bool NameStart(unsigned char c) { return lang::IsLetter(c) || c == '_'; }
bool NameChar(unsigned char c) {
  return lang::IsLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == ':';
}

// The names a filter text reads, outside its quoted texts.
std::vector<std::string> NamesOf(std::string_view text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\'') {
      // A quoted text ends at a quote not doubled.
      for (++i; i < text.size(); ++i) {
        if (text[i] != '\'') continue;
        if (i + 1 < text.size() && text[i + 1] == '\'') ++i;
        else break;
      }
      ++i;
    } else if (c >= '0' && c <= '9') {
      while (i < text.size() && NameChar(static_cast<unsigned char>(text[i]))) ++i;
    } else if (NameStart(c)) {
      size_t start = i;
      while (i < text.size() && NameChar(static_cast<unsigned char>(text[i]))) ++i;
      out.emplace_back(text.substr(start, i - start));
    } else {
      ++i;
    }
  }
  return out;
}

std::string ClipText(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return std::string(s);
}

bool IsText(uint8_t type) { return lang::ResultTypeOf(type) == lang::kText; }

// The order text of key's components, as the view manager writes it.
std::string KeyOrder(const storage::FileDescriptor& fd, int key) {
  const storage::KeyDescriptor& k = fd.keys[static_cast<size_t>(key) - 1];
  std::string out;
  for (int32_t c : k.components) {
    const storage::FieldDescriptor& f = fd.fields[static_cast<size_t>(std::abs(c)) - 1];
    if (!out.empty()) out += ",";
    if (c < 0) out += "-";
    const bool upper = (k.attributes & storage::kKeyNoCase) && IsText(f.type);
    out += upper ? "UPPER(" + f.label + ")" : f.label;
  }
  return out;
}

// True when an OPT key leaves the record in the buffer out: every component blank.
bool LeftOutOfKey(const storage::FileDescriptor& fd, int key) {
  if (key < 1) return false;
  const storage::KeyDescriptor& k = fd.keys[static_cast<size_t>(key) - 1];
  if (!(k.attributes & storage::kKeyOpt)) return false;
  for (int32_t c : k.components) {
    const storage::FieldDescriptor& f = fd.fields[static_cast<size_t>(std::abs(c)) - 1];
    const char* b = fd.record + f.offset;
    const char blank = IsText(f.type) ? ' ' : '\0';
    for (uint32_t i = 0; i < f.size; ++i)
      if (b[i] != blank) return false;
  }
  return true;
}

}  // namespace

ViewCount::~ViewCount() { Kill(); }

void ViewCount::Init(LexiconFile file, framework::BrowseClass& browse, int control) {
  file_ = file;
  browse_ = &browse;
  control_ = control;
  thread_ = ui::Runtime::ThreadNumber();
}

void ViewCount::Kill() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    ++latest_;  // a count under way stops at its next look
  }
  cv_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void ViewCount::Start() {
  if (!browse_ || browse_->Order.empty()) return;
  framework::BrowseClass& b = *browse_;
  const framework::SortOrder& order = b.CurrentOrder();
  auto job = std::make_unique<CountJob>();
  job->key = order.MainKey;
  if (b.FilterRefused()) {
    // The view runs without filter and range after "View Open Error"; so does the count.
  } else if (order.LimitType == framework::RangeValue || order.LimitType == framework::RangeFile ||
             order.LimitType == framework::RangeSingle) {
    std::string scratch;
    for (const framework::RangeItem& r : order.RangeList) {
      lang::Value v = lang::ReadVariable(r.Value, r.Value.address);
      job->rangeFields.push_back(r.Field);
      job->rangeValues.push_back(ClipText(lang::ValueToText(v, &scratch)));
    }
    for (const framework::FilterEntry& f : order.Filter)
      job->filter += (job->filter.empty() ? "(" : " AND (") + f.Filter + ")";
  } else {
    // A range between two bounds stays in the filter: the count then reads the whole file.
    job->filter = b.FilterText();
  }

  // The names the filter reads, as this thread's scopes resolve them now.
  const storage::FileDescriptor& fd = Declared(file_).fd();
  for (const std::string& name : NamesOf(job->filter)) {
    lang::SymbolInfo info;
    if (!lang::LookupName(name, &info) || info.kind != lang::kSymbolVariable) continue;
    CountedName n;
    n.name = name;
    n.var = info.var;
    const char* at = static_cast<const char*>(info.var.address);
    if (at >= fd.record && at < fd.record + fd.recordSize) {
      n.recordOffset = at - fd.record;
    } else {
      uint64_t bytes = static_cast<uint64_t>(info.var.size) * info.var.ElementCount();
      n.value.assign(at, static_cast<size_t>(bytes));
    }
    n.var.address = nullptr;
    job->names.push_back(std::move(n));
  }

  // A different view (another tab, another entry, another fragment) blanks the old number;
  // the same view shows it until the new one arrives.
  std::string key = std::to_string(job->key) + '\x1E' + job->filter + '\x1E';
  for (const std::string& v : job->rangeValues) key += v + '\x1F';
  for (const CountedName& n : job->names) key += n.value + '\x1F';
  ui::Window* w = b.UiWindow();
  if (key != lastKey_) {
    lastKey_ = key;
    shown_ = -1;
    if (w && control_) w->SetText(control_, "");
  }

  {
    std::lock_guard<std::mutex> lock(mu_);
    job->generation = ++latest_;
    pending_ = std::move(job);
    stop_ = false;
    if (!busy_) {
      busy_ = true;
      AddActive(1);
    }
  }
  if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
  cv_.notify_all();
}

bool ViewCount::Show() {
  int64_t count;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (doneGeneration_ != latest_.load() || doneGeneration_ == shownGeneration_) return false;
    shownGeneration_ = doneGeneration_;
    count = doneCount_;
  }
  if (count < 0) return false;  // the file could not be read: nothing to show
  shown_ = count;
  ui::Window* w = browse_ ? browse_->UiWindow() : nullptr;
  if (w && control_) {
    std::string text;
    const ui::ControlDesc* d = w->Describe(control_);
    lang::FormatPicture(lang::Value::Int(count), d ? d->picture : std::string_view("@n_5"), &text);
    w->SetText(control_, text);
  }
  return true;
}

void ViewCount::Run() {
  // Names this thread binds are its own: a barrier keeps the program's buffers out of reach.
  lang::PUSHSCOPE(0);
  DeclaredFile file = DeclareFile(file_, Declared(file_).fd().driver, DatabaseFolder());
  bool open = false;
  for (;;) {
    std::unique_ptr<CountJob> job;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [&] { return stop_ || pending_; });
      if (stop_) {
        if (busy_) {
          busy_ = false;
          AddActive(-1);
        }
        break;
      }
      job = std::move(pending_);
    }
    int64_t count = -1;
    bool cancelled = false;
    if (!open) {
      storage::DriverArgs a;
      a.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
      open = storage::CallDriver(storage::kOpOpen, file.fd(), a) == 0;
    }
    if (open) count = Count(*job, file, &cancelled);
    bool post = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!cancelled && latest_.load() == job->generation) {
        doneGeneration_ = job->generation;
        doneCount_ = count;
        post = true;
      }
    }
    // Posted before the count is marked done, so that a test that waits for the counts finds
    // the result on its way to the list.
    if (post) ui::Runtime::PostToThread(thread_, ui::EventKind::User, control_);
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!pending_ && busy_) {
        busy_ = false;
        AddActive(-1);
      }
    }
  }
  if (open) (void)storage::CallDriver(storage::kOpClose, file.fd());  // read only: nothing to lose
  lang::POPSCOPE();
}

int64_t ViewCount::Count(const CountJob& job, DeclaredFile& file, bool* cancelled) {
  storage::FileDescriptor& fd = file.fd();
  const uint64_t generation = job.generation;

  // Without filter and range the key's own count answers at once.
  if (job.filter.empty() && job.rangeFields.empty()) {
    storage::DriverArgs a;
    a.key = job.key;
    int rc = storage::CallDriver(job.key ? storage::kOpRecordsKey : storage::kOpRecordsFile, fd, a);
    return rc == 0 ? a.value : -1;
  }

  lang::ClearBinds();
  for (const storage::FieldDescriptor& f : fd.fields)
    lang::BIND(f.label, lang::Variable::Field(f.type, fd.record + f.offset, f.size, f.decimalPlaces));
  std::vector<std::string> values;
  values.reserve(job.names.size());
  for (const CountedName& n : job.names) {
    lang::Variable v = n.var;
    if (n.recordOffset >= 0) {
      v.address = fd.record + n.recordOffset;
    } else {
      values.push_back(n.value);
      v.address = values.back().data();
    }
    lang::BIND(n.name, v);
  }

  storage::ViewDeclaration decl;
  decl.primary = &fd;
  for (size_t k = 1; k <= fd.fields.size(); ++k) decl.project.push_back(static_cast<int>(k));
  storage::View view(decl);
  if (storage::CallView(storage::kOpOpen, view) != 0) return -1;
  auto set = [&](int64_t property, const std::string& text) {
    storage::DriverArgs a;
    a.number = property;
    a.text = text;
    return storage::CallView(storage::kOpSetProperty, view, a) == 0;
  };
  if (!set(storage::kViewPropertyFilter, job.filter)) {
    (void)storage::CallView(storage::kOpClose, view);  // nothing was read
    return -1;
  }
  const bool ranged = !job.rangeFields.empty() && job.key > 0;
  std::vector<bool> nocase;
  if (ranged) {
    const storage::KeyDescriptor& k = fd.keys[static_cast<size_t>(job.key) - 1];
    for (int field : job.rangeFields) {
      const storage::FieldDescriptor& f = fd.fields[static_cast<size_t>(field)];
      nocase.push_back((k.attributes & storage::kKeyNoCase) && IsText(f.type));
    }
  }
  auto inRange = [&] {
    for (size_t i = 0; i < job.rangeFields.size(); ++i) {
      const storage::FieldDescriptor& f = fd.fields[static_cast<size_t>(job.rangeFields[i])];
      if (!storage::SameText(storage::FieldText(f, fd.record), job.rangeValues[i], nocase[i]))
        return false;
    }
    return true;
  };

  // One walk: along the key from the range's first record until a record leaves the range
  // (given up after limit records), or through the file in record order, passing over the
  // records the range or an OPT key leaves out. The count, or -1.
  auto walk = [&](bool alongKey, int64_t limit, bool* gaveUp) -> int64_t {
    bool ok = set(storage::kViewPropertyOrder, alongKey ? KeyOrder(fd, job.key) : std::string());
    storage::DriverArgs start;
    if (alongKey) {
      for (size_t i = 0; i < job.rangeFields.size(); ++i) {
        const storage::FieldDescriptor& f = fd.fields[static_cast<size_t>(job.rangeFields[i])];
        (void)lang::StoreVariable(
            lang::Variable::Field(f.type, fd.record + f.offset, f.size, f.decimalPlaces),
            lang::Value::Text(job.rangeValues[i]));  // a text always stores
      }
      start.number = static_cast<int64_t>(job.rangeFields.size());
    }
    ok = ok && storage::CallView(storage::kOpSetView, view, start) == 0;
    int64_t count = 0;
    for (int64_t reads = 0; ok; ++reads) {
      if (reads % kCancelStride == 0 && Cancelled(generation)) {
        *cancelled = true;
        return -1;
      }
      if (alongKey && reads > limit) {
        *gaveUp = true;
        return -1;
      }
      int rc = storage::CallView(storage::kOpNext, view);
      if (rc == storage::kErrRecordNotAvailable) return count;
      if (rc) return -1;
      if (alongKey) {
        if (!inRange()) return count;
      } else if ((ranged && !inRange()) || LeftOutOfKey(fd, job.key)) {
        continue;
      }
      ++count;
    }
    return -1;
  };

  int64_t count = -1;
  bool gaveUp = false;
  if (ranged) {
    // A range's records are quickest found along the key; past a quarter of the file a
    // straight read of the whole file is quicker. With the file in memory a keyed read costs
    // little more than a plain one (a theme's 8,300 of 100,000 cards were counted 8 ms after
    // its page showed along the key, 73 ms through the file); from the disk, more.
    storage::DriverArgs records;
    const int64_t total =
        storage::CallDriver(storage::kOpRecordsFile, fd, records) == 0 ? records.value : 0;
    count = walk(true, std::max<int64_t>(2000, total / 4), &gaveUp);
  }
  if (!ranged || gaveUp) count = walk(false, 0, &gaveUp);
  (void)storage::CallView(storage::kOpClose, view);  // the count is known by now
  return *cancelled ? -1 : count;
}

bool WaitForCounts(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(gActiveMu);
  return gActiveCv.wait_for(lock, timeout, [] { return gActive == 0; });
}

}  // namespace korawin::app

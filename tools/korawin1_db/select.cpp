// korawin1-db select DIR FILE [--key KEY] [--filter TEXT] [--bind NAME=VALUE ...]
// [--from VALUE] [--reverse] [--limit N] --json: a view over one data file, as the lists of the
// program read it, printed as dump prints records.
#include <cstdio>
#include <cstring>
#include <deque>

#include "lang/bind.h"
#include "lang/types.h"
#include "platform/codepage.h"
#include "platform/field_codec.h"
#include "storage/driver.h"
#include "storage/view/view.h"
#include "tools/korawin1_db/commands.h"
#include "app/folder.h"

namespace korawin::tools {

namespace {

using namespace storage;

struct SelectArgs {
  std::string dir, file, key, filter;
  std::vector<std::pair<std::string, std::string>> binds;
  bool haveFrom = false;
  std::string from;
  bool reverse = false;
  int64_t limit = -1;
};

// Text given on the command line (UTF-8) in the data's code page.
bool ToData(const std::string& utf8, const char* what, std::string* out) {
  std::optional<std::string> t = platform::Utf8ToCp1251(utf8);
  if (!t) {
    std::fprintf(stderr, "korawin1-db select: %s: '%s' has characters outside Windows-1251\n",
                 what, utf8.c_str());
    return false;
  }
  *out = std::move(*t);
  return true;
}

int ParseArgs(const std::vector<std::string>& args, SelectArgs* s) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--json") continue;
    if (a == "--reverse") {
      s->reverse = true;
    } else if (a == "--key" && hasValue) {
      s->key = args[++i];
    } else if (a == "--filter" && hasValue) {
      s->filter = args[++i];
    } else if (a == "--from" && hasValue) {
      s->haveFrom = true;
      s->from = args[++i];
    } else if (a == "--limit" && hasValue) {
      const std::string& n = args[++i];
      if (n.empty() || n.size() > 12 || n.find_first_not_of("0123456789") != std::string::npos)
        return 2;
      s->limit = std::stoll(n);
    } else if (a == "--bind" && hasValue) {
      const std::string& b = args[++i];
      size_t eq = b.find('=');
      if (eq == 0 || eq == std::string::npos) return 2;
      s->binds.emplace_back(b.substr(0, eq), b.substr(eq + 1));
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return 2;
    } else {
      rest.push_back(a);
    }
  }
  if (rest.size() != 2) return 2;
  s->dir = rest[0];
  s->file = rest[1];
  if (s->haveFrom && s->key.empty()) return 2;
  return 0;
}

// The order text that walks key: its components by label, a NOCASE text component as
// UPPER(label), a descending one with "-".
std::string OrderText(const FileDescriptor& fd, int key) {
  const KeyDescriptor& kd = fd.keys[static_cast<size_t>(key - 1)];
  std::string order;
  for (int32_t c : kd.components) {
    const FieldDescriptor& f = fd.fields[static_cast<size_t>(c < 0 ? -c : c) - 1];
    if (!order.empty()) order += ",";
    if (c < 0) order += "-";
    if (platform::IsTextType(f.type) && (kd.attributes & kKeyNoCase))
      order += "UPPER(" + f.label + ")";
    else
      order += f.label;
  }
  return order;
}

// Puts the --from value into the field of the key's first component.
bool SetFrom(FileDescriptor& fd, int key, const std::string& utf8) {
  const KeyDescriptor& kd = fd.keys[static_cast<size_t>(key - 1)];
  int32_t c = kd.components[0];
  const FieldDescriptor& f = fd.fields[static_cast<size_t>(c < 0 ? -c : c) - 1];
  char* p = fd.record + f.offset;
  if (platform::IsTextType(f.type)) {
    std::string v;
    if (!ToData(utf8, "--from", &v)) return false;
    size_t n = std::min<size_t>(v.size(), f.size);
    std::memset(p, f.type == kTypeString ? ' ' : '\0', f.size);
    std::memcpy(p, v.data(), n);
    return true;
  }
  bool number = false, integer = false;
  double r = lang::TextToReal(utf8, &number, &integer);
  if (!number) {
    std::fprintf(stderr, "korawin1-db select: --from: '%s' is not a number\n", utf8.c_str());
    return false;
  }
  int64_t i = static_cast<int64_t>(r);
  switch (f.type) {
    case kTypeByte: { uint8_t v = static_cast<uint8_t>(i); std::memcpy(p, &v, 1); return true; }
    case kTypeShort: { int16_t v = static_cast<int16_t>(i); std::memcpy(p, &v, 2); return true; }
    case kTypeUShort: { uint16_t v = static_cast<uint16_t>(i); std::memcpy(p, &v, 2); return true; }
    case kTypeLong: case kTypeDate: case kTypeTime: {
      int32_t v = static_cast<int32_t>(i); std::memcpy(p, &v, 4); return true;
    }
    case kTypeULong: { uint32_t v = static_cast<uint32_t>(i); std::memcpy(p, &v, 4); return true; }
    case kTypeReal: std::memcpy(p, &r, 8); return true;
    case kTypeSReal: { float v = static_cast<float>(r); std::memcpy(p, &v, 4); return true; }
    default:
      std::fprintf(stderr, "korawin1-db select: --from is not supported on a field of type %s\n",
                   std::string(FieldTypeName(f.type)).c_str());
      return false;
  }
}

}  // namespace

int RunSelect(const std::vector<std::string>& args) {
  SelectArgs s;
  if (ParseArgs(args, &s)) {
    std::fprintf(stderr,
                 "usage: korawin1-db select DIR FILE [--key KEY] [--filter TEXT] "
                 "[--bind NAME=VALUE ...] [--from VALUE] [--reverse] [--limit N] --json\n"
                 "       (--from needs --key)\n");
    return 2;
  }
  app::FolderFile f;
  int err = app::FindFolderFile(s.dir, s.file, &f);
  if (err) {
    std::fprintf(stderr, "korawin1-db select: %s: %s\n", s.file.c_str(),
                 app::ErrorWords(err).c_str());
    return 1;
  }
  FileDescriptor& fd = f.decl.fd();
  int key = 0;
  if (!s.key.empty() && (key = app::FindKey(fd, s.key)) == 0) {
    std::fprintf(stderr, "korawin1-db select: %s has no key '%s'\n", f.label.c_str(),
                 s.key.c_str());
    return 2;
  }

  // The file's fields and memo under their labels, then the variables of --bind.
  for (const FieldDescriptor& field : fd.fields)
    lang::BIND(field.label, lang::Variable::Field(field.type, fd.record + field.offset,
                                                  field.size, field.decimalPlaces));
  for (const MemoDescriptor& m : fd.memos)
    if (m.buffer) lang::BIND(m.label, lang::Variable::String(m.buffer, m.size));
  std::deque<std::string> values;  // the variables' storage for the whole run
  for (const auto& [name, value] : s.binds) {
    std::string v;
    if (!ToData(value, "--bind", &v)) return 2;
    if (v.empty()) v = ' ';  // a STRING has at least one byte; clip() makes it ''
    values.push_back(std::move(v));
    lang::BIND(name, lang::Variable::String(values.back().data(),
                                            static_cast<uint32_t>(values.back().size())));
  }
  std::string filter;
  if (!ToData(s.filter, "--filter", &filter)) return 2;

  DriverArgs a;
  a.mode = kOpenReadOnly | kShareDenyNone;
  err = CallDriver(kOpOpen, fd, a);
  if (err) {
    std::fprintf(stderr, "korawin1-db select: %s: %s\n", f.path.c_str(),
                 app::ErrorWords(err).c_str());
    return 1;
  }
  ViewDeclaration decl;
  decl.primary = &fd;
  for (size_t i = 1; i <= fd.fields.size() + fd.memos.size(); ++i)
    decl.project.push_back(static_cast<int>(i));
  View view(decl);
  int status = 0;
  const char* step = "open";
  err = CallView(kOpOpen, view);
  if (!err && key) {
    step = "order";
    DriverArgs p;
    p.number = kViewPropertyOrder;
    p.text = OrderText(fd, key);
    err = CallView(kOpSetProperty, view, p);
  }
  if (!err && !filter.empty()) {
    step = "filter";
    DriverArgs p;
    p.number = kViewPropertyFilter;
    p.text = filter;
    err = CallView(kOpSetProperty, view, p);
  }
  if (!err) {
    step = "start";
    DriverArgs p;
    p.number = 0;
    if (s.haveFrom) {
      if (!SetFrom(fd, key, s.from)) status = 2;
      p.number = 1;
    }
    if (!status) err = CallView(kOpSetView, view, p);
  }
  int64_t printed = 0;
  if (!err && !status) {
    step = "read";
    const uint8_t op = s.reverse ? kOpPrevious : kOpNext;
    while ((s.limit < 0 || printed < s.limit) && (err = CallView(op, view)) == 0) {
      DriverArgs p;
      err = CallDriver(kOpPointerFile, fd, p);
      if (err) break;
      std::printf("%s\n", app::RecordJson(fd, p.value).dump().c_str());
      ++printed;
    }
    if (err == kErrRecordNotAvailable) err = 0;
  }
  if (err) {
    // The evaluator's codes (a filter that doesn't compile) have texts of their own.
    std::string words = err >= 800 && err < 900
                            ? "error " + std::to_string(err) + " (" + lang::ErrorText() + ")"
                            : app::ErrorWords(err);
    std::fprintf(stderr, "korawin1-db select: %s: %s: %s\n", f.path.c_str(), step, words.c_str());
    status = 1;
  }
  // Read-only: closing writes nothing that could fail.
  (void)CallView(kOpClose, view);
  (void)CallDriver(kOpClose, fd);
  return status;
}

}  // namespace korawin::tools

#include "storage/view/view_fields.h"

#include <algorithm>
#include <cfloat>
#include <cstring>

#include "lang/charset.h"
#include "lang/types.h"

namespace korawin::storage::view_detail {

namespace {

lang::Variable VariableOf(const FieldDescriptor& f, const char* record) {
  return lang::Variable::Field(f.type, record + f.offset, f.size, f.decimalPlaces);
}

lang::Value ValueOf(const FieldDescriptor& f, const char* record) {
  lang::Variable v = VariableOf(f, record);
  return lang::ReadVariable(v, v.address);
}

int CompareTextValues(std::string_view a, std::string_view b, bool nocase) {
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (nocase) {
      ca = lang::UpperChar(ca);
      cb = lang::UpperChar(cb);
    }
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

int CompareNumbers(const lang::Value& a, const lang::Value& b) {
  if (a.type == lang::kInteger && b.type == lang::kInteger) return a.i < b.i ? -1 : a.i > b.i;
  double x = lang::ValueToReal(a), y = lang::ValueToReal(b);
  return x < y ? -1 : x > y;
}

template <typename T>
void Store(char* at, T v) {
  std::memcpy(at, &v, sizeof v);  // little-endian host, as the record layout
}

void StoreNumber(const FieldDescriptor& f, char* at, const lang::Value& v) {
  switch (f.type) {
    case kTypeByte: Store(at, static_cast<uint8_t>(lang::ValueToInt(v))); return;
    case kTypeShort: Store(at, static_cast<int16_t>(lang::ValueToInt(v))); return;
    case kTypeUShort: Store(at, static_cast<uint16_t>(lang::ValueToInt(v))); return;
    case kTypeLong: Store(at, static_cast<int32_t>(lang::ValueToInt(v))); return;
    case kTypeULong: Store(at, static_cast<uint32_t>(lang::ValueToInt(v))); return;
    case kTypeSReal: Store(at, static_cast<float>(lang::ValueToReal(v))); return;
    case kTypeReal: Store(at, lang::ValueToReal(v)); return;
    default: std::memset(at, 0, f.size); return;  // no conversion into packed or date forms
  }
}

}  // namespace

bool IsTextField(uint8_t type) {
  return type == kTypeString || type == kTypeCString || type == kTypePString ||
         type == kTypeGroup || type == kTypeMemo;
}

int CompareFields(const FieldDescriptor& a, const char* aRecord, const FieldDescriptor& b,
                  const char* bRecord, bool nocase) {
  lang::Value va = ValueOf(a, aRecord), vb = ValueOf(b, bRecord);
  if (va.type == lang::kText && vb.type == lang::kText) return CompareTextValues(va.s, vb.s, nocase);
  return CompareNumbers(va, vb);
}

void CopyField(const FieldDescriptor& from, const char* fromRecord, const FieldDescriptor& to,
               char* toRecord) {
  char* dst = toRecord + to.offset;
  if (from.type == to.type && from.size == to.size) {
    std::memmove(dst, fromRecord + from.offset, to.size);
    return;
  }
  lang::Value v = ValueOf(from, fromRecord);
  if (!IsTextField(to.type)) {
    StoreNumber(to, dst, v);
    return;
  }
  std::string scratch;
  std::string_view text = lang::ValueToText(v, &scratch);
  switch (to.type) {
    case kTypeCString: {
      size_t n = std::min<size_t>(text.size(), to.size ? to.size - 1 : 0);
      std::memset(dst, 0, to.size);
      std::memcpy(dst, text.data(), n);
      return;
    }
    case kTypePString: {
      size_t n = std::min<size_t>(text.size(), to.size ? to.size - 1 : 0);
      std::memset(dst, ' ', to.size);
      if (to.size) dst[0] = static_cast<char>(n);
      std::memcpy(dst + 1, text.data(), n);
      return;
    }
    default: {
      size_t n = std::min<size_t>(text.size(), to.size);
      std::memcpy(dst, text.data(), n);
      std::memset(dst + n, ' ', to.size - n);
      return;
    }
  }
}

void FillExtreme(const FieldDescriptor& f, char* record, bool high) {
  char* at = record + f.offset;
  switch (f.type) {
    case kTypeShort: Store(at, high ? INT16_MAX : INT16_MIN); return;
    case kTypeLong: Store(at, high ? INT32_MAX : INT32_MIN); return;
    case kTypeSReal: Store(at, high ? FLT_MAX : -FLT_MAX); return;
    case kTypeReal: Store(at, high ? DBL_MAX : -DBL_MAX); return;
    case kTypeDecimal:
    case kTypePDecimal:
      // All nines; the sign bit of the first byte makes the lowest value.
      std::memset(at, 0x99, f.size);
      if (f.size) at[0] = static_cast<char>(high ? 0x09 : 0x89);
      return;
    default:  // texts, unsigned numbers and the byte forms: all bits off or on
      std::memset(at, high ? 0xFF : 0x00, f.size);
      return;
  }
}

void ClearRecord(FileDescriptor& file) {
  if (file.record == nullptr) return;
  std::memset(file.record, 0, file.recordSize);
  for (const FieldDescriptor& f : file.fields) {
    if ((f.type == kTypeString || f.type == kTypePString) && f.offset + f.size <= file.recordSize)
      std::memset(file.record + f.offset, ' ', f.size);
    if (f.type == kTypePString && f.size && f.offset < file.recordSize) file.record[f.offset] = 0;
  }
  for (MemoDescriptor& m : file.memos)
    if (m.buffer) std::memset(m.buffer, ' ', m.size);
}

int ParseOrder(std::string_view text, std::vector<OrderItem>* items) {
  items->clear();
  std::vector<OrderItem> out;
  size_t at = 0;
  auto skip = [&] {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  };
  skip();
  if (at == text.size()) return 0;
  for (;;) {
    skip();
    OrderItem item;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      item.descending = text[at] == '-';
      ++at;
    }
    size_t consumed = 0;
    item.expression = lang::CompilePartialExpression(text.substr(at), &consumed);
    if (!item.expression) {
      int code = lang::ErrorCode();
      return code ? code : lang::kErrInvalidExpression;
    }
    at += consumed;
    skip();
    const lang::Expression& e = *item.expression;
    const lang::ExpressionNode& root = e.Node(e.Root());
    if (root.op == lang::kNodeVariable) {
      item.address = root.var.address;
    } else if (root.op == lang::kNodeCall && root.code == 15 /* UPPER */ && root.argc == 1 &&
               e.NodeCount() == 2) {
      const lang::ExpressionNode& arg = e.Node(e.Root() == 0 ? 1 : 0);
      if (arg.op == lang::kNodeVariable) {
        item.address = arg.var.address;
        item.upper = true;
      }
    }
    out.push_back(std::move(item));
    if (at == text.size()) break;
    if (text[at] != ',') {
      lang::SetError(lang::kErrInvalidExpression);
      return lang::kErrInvalidExpression;
    }
    ++at;
  }
  *items = std::move(out);
  return 0;
}

int KeyDeliveringOrder(const FileDescriptor& file, const std::vector<OrderItem>& items) {
  if (items.empty() || file.record == nullptr) return 0;
  for (size_t k = 0; k < file.keys.size(); ++k) {
    const KeyDescriptor& key = file.keys[k];
    // An INDEX exists only after a build, and an unstored key has no file to walk.
    if (key.attributes & (kKeyIndex | kKeyNotStored)) continue;
    if (key.components.size() < items.size()) continue;
    bool delivers = true;
    for (size_t i = 0; i < items.size() && delivers; ++i) {
      const int32_t c = key.components[i];
      const size_t number = static_cast<size_t>(c < 0 ? -static_cast<int64_t>(c) : c);
      if (number == 0 || number > file.fields.size()) {
        delivers = false;
        break;
      }
      const FieldDescriptor& f = file.fields[number - 1];
      const bool foldsCase = IsTextField(f.type) && (key.attributes & kKeyNoCase);
      delivers = items[i].address == file.record + f.offset &&
                 items[i].descending == (c < 0) && items[i].upper == foldsCase;
    }
    if (delivers) return static_cast<int>(k + 1);
  }
  return 0;
}

void Capture(lang::Expression& expression, CapturedValue* out) {
  lang::Value v = expression.Evaluate();
  out->type = v.type;
  out->i = v.i;
  out->r = v.r;
  if (v.type == lang::kText) out->s.assign(v.s.data(), v.s.size());
  else out->s.clear();
}

int CompareCaptured(const CapturedValue& a, const CapturedValue& b) {
  if (a.type == lang::kText && b.type == lang::kText) return lang::CompareTexts(a.s, b.s);
  auto asValue = [](const CapturedValue& c) {
    if (c.type == lang::kText) return lang::Value::Text(c.s);
    return c.type == lang::kInteger ? lang::Value::Int(c.i) : lang::Value::Real(c.r);
  };
  return CompareNumbers(asValue(a), asValue(b));
}

}  // namespace korawin::storage::view_detail

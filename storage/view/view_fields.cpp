#include "storage/view/view_fields.h"

#include <algorithm>
#include <cfloat>
#include <cstring>

#include "platform/field_codec.h"
#include "lang/types.h"

namespace korawin::storage::view_detail {

namespace {

template <typename T>
void Store(char* at, T v) {
  std::memcpy(at, &v, sizeof v);  // little-endian host, as the record layout
}

}  // namespace

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

Code ParseOrder(std::string_view text, std::vector<OrderItem>* items) {
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
      const bool foldsCase = platform::IsBytesType(f.type) && (key.attributes & kKeyNoCase);
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
  lang::Value x = asValue(a), y = asValue(b);
  if (x.type == lang::kInteger && y.type == lang::kInteger) return x.i < y.i ? -1 : x.i > y.i;
  double rx = lang::ValueToReal(x), ry = lang::ValueToReal(y);
  return rx < ry ? -1 : rx > ry;
}

}  // namespace korawin::storage::view_detail

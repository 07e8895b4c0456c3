// Helpers of the view engine over record buffer fields and order items: the lowest and
// highest value of a key component, the order list with its compiled items, the key that delivers an order, and captured values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lang/expression.h"
#include "storage/driver.h"

namespace korawin::storage::view_detail {

// Puts into a field the value that sorts first (high false) or last (high true) in a key.
void FillExtreme(const FieldDescriptor& field, char* record, bool high);

// One item of an order list.
struct OrderItem {
  std::unique_ptr<lang::Expression> expression;
  bool descending = false;
  const void* address = nullptr;  // a plain variable or the argument of UPPER: its address
  bool upper = false;             // the item is UPPER(variable)
};

// Parses and compiles an order text; 0, or the evaluator's error (800 when the text is not a
// list of expressions, 801 for a name without BIND) with items left empty.
Code ParseOrder(std::string_view text, std::vector<OrderItem>* items);

// The number (from 1) of the first key of file whose leading components are the items, in
// order and direction (a text component of a NOCASE key matches only UPPER of its field, any
// other component only the field itself); 0 when none.
int KeyDeliveringOrder(const FileDescriptor& file, const std::vector<OrderItem>& items);

// A value captured from an evaluation, kept beyond the next evaluation.
struct CapturedValue {
  lang::ResultType type = lang::kInteger;
  int64_t i = 0;
  double r = 0;
  std::string s;
};
void Capture(lang::Expression& expression, CapturedValue* out);
// Three-way comparison: texts byte by byte with blank padding, numbers by value.
int CompareCaptured(const CapturedValue& a, const CapturedValue& b);

}  // namespace korawin::storage::view_detail

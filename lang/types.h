// Values of the expression evaluator and the variables that texts refer to through bound names.
//
// Value conversions (one set of rules used everywhere in the evaluator):
// - Integers are 64-bit; integer +, -, * wrap on overflow (two's complement), never trap.
// - Text to number: the text without leading and trailing blanks must be a whole number
//   (optional sign, digits, optional decimal point and digits, optional exponent); anything
//   else, and the empty text, is 0. A text that reads as a whole number gives an integer,
//   otherwise a real.
// - Number to text (for "&", text arguments, text results): an integer in decimal digits with a
//   leading "-"; a real with an integral value below 1e15 as an integer, otherwise the shortest
//   text that reads back as the same number ("0.1", "2.5e+20").
// - Real to integer: truncated toward zero, clamped to the 64-bit range; an undefined real is 0.
// - Truth (AND, OR, XOR, NOT, filters): an integer or real is true when it is not zero; a text
//   is true when it holds a character other than a blank.
// - Arithmetic: "+", "-", "*" and "%" keep integers when both sides are integers; "/" and "^"
//   always give reals; a text operand makes the result real. "%" is the remainder with the sign
//   of the dividend. An arithmetic fault (division or remainder by zero, a result that overflows
//   to infinity or is undefined, such as the square root of a negative number) gives 0.
// - Comparison of texts: byte by byte in code order, the shorter text padded with blanks, so
//   'abc' = 'abc   ' and CLIP(x) = '' holds for a blank x; case is significant.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/field_codec.h"

namespace korawin::lang {

// Runtime type codes of bound variables: the record field type codes. The evaluator reads
// BYTE, SHORT, USHORT, DATE (4 bytes: day, month, year (16-bit); read as a day number, 0 when
// zero), TIME (4 bytes: hundredths, seconds, minutes, hours; read as a clock time + 1), LONG,
// ULONG, SREAL, REAL, DECIMAL and PDECIMAL (packed, sign in the high bit of the first byte),
// STRING (blank padded), CSTRING (NUL terminated within its size), PSTRING (length byte
// first), MEMO and GROUP (their bytes).
using VarType = platform::FieldType;
using enum platform::FieldType;

// Result types of names, nodes and values.
enum ResultType : uint8_t { kInteger = 1, kReal = 2, kText = 4 };

// Result type of a variable type code: up to 6 integer, 7 to 17 real, 18 and above text.
ResultType ResultTypeOf(uint8_t varType);

// A program variable or record field: where it lives and how to read it. Integers and reals
// are little-endian. An array has up to four dimensions; size is the size of one element.
struct Variable {
  uint8_t type = 0;
  const void* address = nullptr;
  uint32_t size = 0;
  uint8_t places = 0;  // DECIMAL: digits after the decimal point
  uint8_t dimCount = 0;
  uint32_t dims[4] = {0, 0, 0, 0};

  // A record buffer field as a field descriptor gives it (type code, address, size, places).
  static Variable Field(uint8_t type, const void* address, uint32_t size, uint8_t places = 0);
  static Variable Of(const uint8_t* v) { return Field(kTypeByte, v, 1); }
  static Variable Of(const int16_t* v) { return Field(kTypeShort, v, 2); }
  static Variable Of(const uint16_t* v) { return Field(kTypeUShort, v, 2); }
  static Variable Of(const int32_t* v) { return Field(kTypeLong, v, 4); }
  static Variable Of(const uint32_t* v) { return Field(kTypeULong, v, 4); }
  static Variable Of(const float* v) { return Field(kTypeSReal, v, 4); }
  static Variable Of(const double* v) { return Field(kTypeReal, v, 8); }
  static Variable String(const char* buffer, uint32_t size) {
    return Field(kTypeString, buffer, size);
  }
  static Variable CString(const char* buffer, uint32_t size) {
    return Field(kTypeCString, buffer, size);
  }
  static Variable PString(const char* buffer, uint32_t size) {
    return Field(kTypePString, buffer, size);
  }
  static Variable Decimal(const void* buffer, uint32_t size, uint8_t places) {
    return Field(kTypeDecimal, buffer, size, places);
  }
  // The same variable seen as an array of the given dimensions.
  Variable Dim(std::initializer_list<uint32_t> d) const;

  uint64_t ElementCount() const;
  // True when the type is one the evaluator reads and the size fits the type.
  bool Valid() const;
};

// An evaluated value. A text is a view that stays valid until the expression that produced it
// is evaluated again (it points into a record buffer, a literal or the expression's own buffers).
struct Value {
  ResultType type = kInteger;
  int64_t i = 0;
  double r = 0;
  std::string_view s;

  static Value Int(int64_t v) { Value x; x.type = kInteger; x.i = v; return x; }
  static Value Real(double v) { Value x; x.type = kReal; x.r = v; return x; }
  static Value Text(std::string_view v) { Value x; x.type = kText; x.s = v; return x; }
};

// Conversions of values by the rules above.
int64_t RealToInt(double v);
double TextToReal(std::string_view text, bool* isNumber = nullptr, bool* isInteger = nullptr);
int64_t ValueToInt(const Value& v);
double ValueToReal(const Value& v);
bool ValueTruth(const Value& v);
// Writes the text of a number to out (replacing its contents) and returns a view of it.
std::string_view IntToText(int64_t v, std::string* out);
std::string_view RealToText(double v, std::string* out);
// The text of v: v.s itself for a text, else the number written into *scratch.
std::string_view ValueToText(const Value& v, std::string* scratch);
// Three-way comparison of texts with the shorter padded with blanks.
int CompareTexts(std::string_view a, std::string_view b);
// Reads the current value of a (non-array or chosen) element of a variable at address.
Value ReadVariable(const Variable& var, const void* address);
// Stores v into the variable's first element by the conversions above: numbers truncated to
// integer types, texts cut or padded with blanks (CSTRING and PSTRING keep their terminator or
// length byte). False, with nothing stored, for DECIMAL and GROUP variables, which the windows
// never edit.
bool StoreVariable(const Variable& var, const Value& v);

// Error codes of the evaluator. A failure leaves its code and text as the thread's current
// error, the same one the drivers set (platform/current_error.h).
enum LangError : int {
  kErrInvalidExpression = 800,  // "Invalid expression for EVALUATE"
  kErrNoBind = 801,             // "No BIND on variable"
  kErrScopeMismatch = 802,      // "Mismatched PUSHSCOPE/POPSCOPE"
};
// The table's text of an evaluator error code ("" for codes that are not the evaluator's).
std::string_view LangErrorText(int code);
// The thread's current error and its text (the evaluator's table text for its own codes).
int ErrorCode();
std::string ErrorText();
// Sets the current thread's error; an empty text takes the table's text.
void SetError(int code, std::string_view text = {});
void ClearError();

}  // namespace korawin::lang

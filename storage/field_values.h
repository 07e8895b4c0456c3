// Values of declared fields in a record buffer: the field codec of platform/field_codec.h
// applied through a FieldDescriptor. The framework, the view engine and the tools read, copy,
// clear and compare record fields only through here.
#pragma once

#include <string>
#include <string_view>

#include "storage/driver.h"

namespace korawin::storage {

// A numeric field's value as a real number (0 for a field that holds no number).
double ReadNumber(const FieldDescriptor& f, const char* record);
// Stores value in a numeric field (truncated and clamped to the type).
void WriteNumber(const FieldDescriptor& f, char* record, double value);
// Clears a field: text blank (a CSTRING all NUL, a PSTRING empty), numbers zero; high puts its
// highest value instead (text 0xFF, numbers their maximum).
void ClearField(const FieldDescriptor& f, char* record, bool high);
// Clears every field of the record buffer but GROUPs (their members are cleared) and blanks
// the memos.
void ClearRecord(FileDescriptor& file);
// The field's value as text: text without trailing blanks and NULs, numbers in decimal.
std::string FieldText(const FieldDescriptor& f, const char* record);
// Assigns one field to another the way the language assigns a value: text cut or blank-padded
// (a CSTRING ended by NUL, a PSTRING with its length), numbers converted between types, a
// number written as text, text read as a number.
void CopyField(const FieldDescriptor& from, const char* fromRecord, const FieldDescriptor& to,
               char* toRecord);
// Three-way comparison of two fields' values: texts blank-padded (case folded when nocase),
// numbers by value.
int CompareFields(const FieldDescriptor& a, const char* aRecord, const FieldDescriptor& b,
                  const char* bRecord, bool nocase);
// Whether two texts are equal with trailing blanks and NULs ignored; nocase folds case.
bool SameText(std::string_view a, std::string_view b, bool nocase);

}  // namespace korawin::storage

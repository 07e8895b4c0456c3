#include "storage/driver.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/current_error.h"

namespace korawin::storage {

std::string_view FieldTypeName(uint8_t type) {
  static constexpr std::array<std::string_view, 31> kNames = {
      "END",     "BYTE",    "SHORT",   "USHORT", "DATE",     "TIME",   "LONG",  "ULONG",
      "SREAL",   "REAL",    "DECIMAL", "PDECIMAL", "DUM1",   "BFLOAT4", "BFLOAT8", "ANY",
      "TEMPUFO", "(17)",    "STRING",  "CSTRING", "PSTRING", "MEMO",  "GROUP", "CLASS",
      "ARRAY",   "FIELD",   "QUEUE",   "BLOB",   "STACKSTR", "PICTURE", "STDNUM"};
  return type < kNames.size() ? kNames[type] : std::string_view("UNKNOWN");
}

std::string_view OperationName(uint8_t op) {
  static constexpr std::array<std::string_view, 94> kNames = {
      "(0)",          "ADD",          "BOF",          "BUILDfile",     "APPEND",
      "BUILDdyn",     "BUILDkey",     "CLOSE",        "COMMIT",        "COPY",
      "CREATE",       "DELETE",       "DUPLICATE",    "EMPTY",         "EOF",
      "GETfilekey",   "GETfileptr",   "GETkeyptr",    "HOLDfile",      "HOLDfilesec",
      "LOCKfile",     "LOCKfilesec",  "LOGOUT",       "NAME",          "NEXT",
      "OPEN",         "PACK",         "POINTERfile",  "POINTERkey",    "FLUSH",
      "PUT",          "PREVIOUS",     "RECORDSfile",  "RECORDSkey",    "BUILDdynfilter",
      "(35)",         "RELEASE",      "REMOVE",       "RENAME",        "(39)",
      "ROLLBACK",     "SETfile",      "SETfilekey",   "SETfileptr",    "SETkey",
      "SETkeykey",    "SETkeyptr",    "SETkeykeyptr", "SHARE",         "SKIP",
      "UNLOCK",       "ADDfilelen",   "BYTES",        "GETfileptrlen", "PUTfileptr",
      "PUTfileptrlen", "STREAM",      "DUPLICATEkey", "WATCH",         "APPENDlen",
      "SEND",         "POSITIONfile", "POSITIONkey",  "RESETfile",     "RESETkey",
      "NOMEMO",       "REGETfile",    "REGETkey",     "NULL",          "SETNULL",
      "SETNONULL",    "SET_PROPERTY", "GET_PROPERTY", "QUERY_KEY",     "QUERY_VIEW",
      "BLOB_YIELD",   "BLOB_TAKE",    "BLOB_SIZE",    "BLOB_GET_PROP", "BLOB_SET_PROP",
      "BUFFER",       "SETview",      "CLEAR",        "RESETviewfile", "BUILDevent",
      "SETPROPERTYkey", "GETPROPERTYkey", "Internal", "DO_PROPERTY",   "DOPROPERTYkey",
      "DOPROPERTYblob", "Internal",   "INVIEW",       "ENDVIEW"};
  return op < kNames.size() ? kNames[op] : std::string_view();
}

bool DriverRegistration::Supports(uint8_t op) const {
  return std::find(operations.begin(), operations.end(), op) != operations.end();
}

namespace {

struct ErrorEntry {
  int code;
  std::string_view text;
};

constexpr ErrorEntry kErrorTable[] = {
    {2, "File Not Found"},
    {3, "Path Not Found"},
    {4, "Too Many Open Files"},
    {5, "Access Denied"},
    {7, "Memory Corrupted"},
    {8, "Insufficient Memory"},
    {30, "Entry Not Found"},
    {32, "File Is Already Locked"},
    {33, "Record Not Available"},
    {35, "Record Not Found"},
    {36, "Invalid Data File"},
    {37, "File Not Open"},
    {38, "Invalid Key File"},
    {40, "Creates Duplicate Key"},
    {43, "Record Is Already Held"},
    {45, "Invalid Filename"},
    {46, "Key File Must Be Rebuilt"},
    {47, "Invalid Record Declaration"},
    {48, "Unable To Log Transaction"},
    {52, "File Already Open"},
    {53, "Invalid Velmora File"},
    {54, "No Create Attribute"},
    {55, "File Must Be Shared"},
    {56, "LOGOUT Already Active"},
    {57, "Invalid Memo File"},
    {63, "Exclusive Access Required"},
    {64, "Sharing Violation"},
    {65, "Unable To ROLLBACK Transaction"},
    {73, "Memo File Missing"},
    {75, "Invalid Field Type Descriptor"},
    {76, "Invalid Index String"},
    {77, "Unable To Access Index"},
    {78, "Invalid Number Of Parameters "},
    {79, "Unsupported Data Type In File"},
    {80, "Unsupported File Driver Function"},
    {81, "Unknown Error Posted"},
    {88, "Invalid Key Length"},
    {89, "Record Changed By Another Station"},
    {90, "File System Error"},
    {91, "LOGOUT Not Active"},
    {92, "BUILD In Progress"},
    {93, "BUILD Cancelled"},
    // Operating-system texts: 300 + the system error number.
    {301, "Invalid Function"},
    {302, "File Not Found"},
    {303, "Path Not Found"},
    {304, "Too Many Open Files"},
    {305, "Access Denied"},
    {306, "Invalid Handle"},
    {308, "Not Enough Memory"},
    {315, "Invalid Drive"},
    {319, "Disk Is Write-Protected"},
    {321, "Drive Not Ready"},
    {329, "Write Fault"},
    {330, "Read Fault"},
    {331, "General Failure"},
    {332, "Sharing Violation"},
    {333, "Lock Violation"},
    {339, "Disk Full"},
    {380, "File Exists"},
};

}  // namespace

std::string_view ErrorTextOf(int code) {
  for (const ErrorEntry& e : kErrorTable)
    if (e.code == code) return e.text;
  return {};
}

Code DriverCodeFromSystem(int systemError) {
  if (systemError == 0) return 0;
  return systemError < 19 ? systemError : kErrAccessDenied;
}

int ErrorCode() { return platform::ThreadError().code; }

std::string ErrorText() {
  const platform::CurrentError& e = platform::ThreadError();
  if (!e.text.empty()) return e.text;
  return std::string(ErrorTextOf(e.code));
}

int DriverErrorCode() { return platform::ThreadError().ownCode; }
std::string DriverErrorText() {
  const platform::CurrentError& e = platform::ThreadError();
  return e.ownCode ? e.text : std::string();
}

void SetError(int code) {
  platform::CurrentError& e = platform::ThreadError();
  e.code = code;
  e.ownCode = 0;
  e.text.clear();
}

void SetDriverError(int code, int driverCode, std::string driverText) {
  platform::CurrentError& e = platform::ThreadError();
  e.code = code;
  e.ownCode = driverCode;
  e.text = std::move(driverText);
}

Code CallDriver(uint8_t op, FileDescriptor& file, DriverArgs& args) {
  if (!file.driver) {
    SetError(kErrFileNotOpen);
    return kErrFileNotOpen;
  }
  int code = file.driver(op, file, args);
  // A driver that posted its own text keeps it for this code.
  if (DriverErrorCode() == 0 || ErrorCode() != code) SetError(code);
  return code;
}

Code CallDriver(uint8_t op, FileDescriptor& file) {
  DriverArgs args;
  return CallDriver(op, file, args);
}

}  // namespace korawin::storage

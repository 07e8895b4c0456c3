// The built-in message table, encoded at compile time into the block that AddErrors reads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "framework/error_manager.h"

namespace korawin::framework {

namespace {

struct Def {
  uint16_t id;
  uint8_t level;
  std::string_view title;
  std::string_view text;
};

// The order here is the order of the block.
constexpr Def kDefs[] = {
    {InvalidKey, LevelNotify, "Invalid Key", "%File key file is invalid. Key must be rebuilt."},
    {KeyNotBuilt, LevelFatal, "Key was not built", "Error: (%ErrorText) repairing key for %File."},
    {FileCreationError, LevelFatal, "File Creation Error", "Error: (%ErrorText) creating %File."},
    {ProcedureNotDefined, LevelNotify, "Procedure not defined",
     "The Procedure %Message has not been defined."},
    {RangeErrorLower, LevelNotify, "Range Error",
     "The value of %Field must be lower than %Message."},
    {RangeErrorHigher, LevelNotify, "Range Error",
     "The value of %Field must be higher than %Message."},
    {RangeErrorBetween, LevelNotify, "Range Error",
     "The value of %Field must be between %Message."},
    {FieldContentsError, LevelNotify, "Field contents error",
     "The value of %Field must be found in the %Message file."},
    {ReferentialUpdateError, LevelNotify, "Referential Integrity Update Error",
     "This record is referenced from the file %File. Linking field(s) have been restricted from "
     "change and have been reset to original values."},
    {ReferentialDeleteError, LevelNotify, "Referential Integrity Delete Error",
     "This record is referenced from the file %File. This record cannot be deleted while these "
     "references exist."},
    {RecordInsertError, LevelNotify, "Record Insert Error",
     "An error was experienced during the creation of a record. Error: %ErrorText."},
    {RecordChangedByOther, LevelNotify, "Record Was Not Updated",
     "This record was changed by another station."},
    {RecordChangedByOtherOnForm, LevelNotify, "Record Was Not Updated",
     "This record was changed by another station. Those changes will now be displayed. Use the "
     "Ditto Button or Ctrl+' to recall your changes."},
    {RecordUpdateError, LevelUser, "Record Update Error",
     "An error was experienced changing this record. Do you want to try to save again?"},
    {RecordDeleteError, LevelUser, "Record Delete Error",
     "An error was experienced deleting this record. Do you want to try to delete it again?"},
    {InvalidRequestInsert, LevelNotify, "Invalid Request",
     "This form cannot be used to insert a record"},
    {InvalidRequestUpdate, LevelNotify, "Invalid Request",
     "This form cannot be used to update a record"},
    {InvalidRequestDelete, LevelNotify, "Invalid Request",
     "This form cannot be used to delete a record"},
    {ChangesWillBeLost, LevelUser, "Changes will be lost!", "Are you sure you want to cancel?"},
    {DuplicateKeyError, LevelNotify, "Duplicate Key Error",
     "Adding this record creates a duplicate entry for the key: %Message"},
    {AutoIncrementError, LevelUser, "Auto Increment Error",
     "Attempts to automatically number this record have failed.  Error: %ErrorText. Try Again?"},
    {FileLoadError, LevelNotify, "File Load Error", "%File File Load Error.  Error: %ErrorText."},
    {BeginningOfFile, LevelUser, "Beginning of File Error",
     "The beginning of the file was encountered. Do you want to start again from the end of the "
     "file?"},
    {EndOfFile, LevelUser, "End of File Error",
     "The end of the file was encountered. Do you want to start again from the beginning?"},
    {FileAccessError, LevelFatal, "File Access Error",
     "File (%File) could not be opened.  Error: %ErrorText."},
    {RecordNotUpdated, LevelNotify, "Record was not updated",
     "An error (%ErrorText) was experienced when making changes to the %File file."},
    {RecordNotDeleted, LevelNotify, "Record was not deleted",
     "An error (%ErrorText) was experienced when deleting a record from the %File file."},
    {ConfirmDelete, LevelUser, "Confirm Delete",
     "Are you sure you want to delete the highlighted record?"},
    {SaveRecord, LevelUser, "Save Record", "Do you want to save the changes to this record?"},
    {TransactionCancelled, LevelNotify, "Transaction cancelled",
     "Error: (%ErrorText) attempting to frame the transaction on %File."},
    {RecordRetrievalError, LevelNotify, "Record Retrieval Error",
     "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to "
     "previous window."},
    {ViewOpenError, LevelNotify, "View Open Error",
     "Error: (%ErrorText) attempting to open the current VIEW. Filter and Range Limits ignored."},
    {RecordAdded, LevelUser, "Record Added",
     "This record has been added to the file. Do you want to add another record?"},
    {RecordNotRead, LevelNotify, "Record not read",
     "A record held by another station was encountered reading from the %File file."},
    {AddNewRecord, LevelNotify, "Add New Record?",
     "Record match not found, do you wish to add a new one?"},
    {ValueError, LevelNotify, "Value Error",
     "The value of %Field must be in the list : %Message."},
    {NoRecords, LevelNotify, "No Records", "There are no records available to process."},
    {AccessDenied, LevelNotify, "Access Denied",
     "Could not get write access to %File so trying read-only."},
    {FileUsageError, LevelProgram, "File Usage Error",
     "Attempt to use file (%File) before it was opened"},
};

static_assert(std::size(kDefs) == 39);

constexpr size_t BlockSize() {
  size_t n = 2;
  for (const Def& d : kDefs) n += 2 + 1 + 1 + d.title.size() + 1 + d.text.size();
  return n;
}

constexpr bool TextsFit() {
  for (const Def& d : kDefs)
    if (d.title.size() > 255 || d.text.size() > 255) return false;
  return true;
}
static_assert(TextsFit(), "a title or message longer than 255 bytes cannot be encoded");

constexpr std::array<uint8_t, BlockSize()> Encode() {
  std::array<uint8_t, BlockSize()> b{};
  size_t p = 0;
  auto put16 = [&](uint16_t v) {
    b[p++] = static_cast<uint8_t>(v & 0xFF);
    b[p++] = static_cast<uint8_t>(v >> 8);
  };
  auto putText = [&](std::string_view s) {
    b[p++] = static_cast<uint8_t>(s.size());
    for (char c : s) b[p++] = static_cast<uint8_t>(c);
  };
  put16(static_cast<uint16_t>(std::size(kDefs)));
  for (const Def& d : kDefs) {
    put16(d.id);
    b[p++] = d.level;
    putText(d.title);
    putText(d.text);
  }
  return b;
}

constexpr std::array<uint8_t, BlockSize()> kBlock = Encode();

}  // namespace

std::span<const uint8_t> DefaultErrors() { return kBlock; }

}  // namespace korawin::framework

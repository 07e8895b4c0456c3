// The relation manager: owns one file's relations to other files and applies their
// referential-integrity rules (restrict, clear, cascade) when the file's record is changed
// or deleted, inside a driver transaction when UseLogout is set.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "framework/file_manager.h"

namespace korawin::framework {

// Relation modes (UpdateMode and DeleteMode).
enum RiMode : uint8_t { RiNone = 0, RiClear = 1, RiRestrict = 2, RiCascade = 3 };

// A linking field pair: a field of this file and the matching field of the related file
// (indexes in their field lists, from 0), with the saved value of this file's field.
struct RelationLink {
  int Left = 0;
  int Right = 0;
  std::vector<char> Saved;  // empty until SaveLinkingFields
};

class RelationManager;

struct Relation {
  RelationManager* File = nullptr;
  std::vector<RelationLink> Fields;
  int HisKey = 0;  // key of the related file led by the linking fields; 0 for a lookup
  uint8_t UpdateMode = RiNone;
  uint8_t DeleteMode = RiNone;
};

class RelationManager {
 public:
  RelationManager() = default;
  RelationManager(const RelationManager&) = delete;
  RelationManager& operator=(const RelationManager&) = delete;
  virtual ~RelationManager() = default;

  // Binds the manager to its file manager.
  void Init(FileManager& me, bool useLogout);
  // Releases the relations.
  void Kill();

  // Declares a relation to file: modes, the related file's key (from 1) and the linking
  // pairs as field numbers from 1 (this file's field, the related file's field).
  void AddRelation(RelationManager& file, uint8_t updateMode, uint8_t deleteMode, int hisKey,
                   std::vector<std::pair<int, int>> links);
  // Declares the reverse side of a relation: no links, no rules.
  void AddRelation(RelationManager& file);

  // Opens this file for real and every related file once (through their Open).
  virtual Level Open();
  // Closes them all once.
  virtual Level Close();
  // Writes the record and applies the update rules of the relations whose linking fields
  // changed since SaveLinkingFields. mode is an UpdateMessageMode.
  virtual Level Update(int mode = UpdateShow);
  // Deletes the current record after applying the delete rules; ask asks ConfirmDelete.
  virtual Level Delete(bool ask = true);
  // One attempt of Delete without its retry question, for a caller that asks its own (an
  // update form offers Cancel as well): LevelCancel when the confirmation is declined.
  Level DeleteNoRetry(bool ask);
  // Applied on the related file: rewrites (or refuses, or clears) the records that carry
  // the parent's old linking values.
  virtual Level CascadeUpdate(const Relation& relation, FileManager& parent, uint8_t mode);
  // Applied on the related file: deletes (or refuses, or clears) the records that carry the
  // parent's linking values.
  virtual Level CascadeDelete(const Relation& relation, FileManager& parent, uint8_t mode);
  // Sends QUICKSCAN on or off to this file and, when propagate, to every related file.
  virtual void SetQuickScan(bool on, bool propagate);
  // Saves the current values of all linking fields (call after reading the record to edit).
  virtual void SaveLinkingFields();
  // Deletes the record that Me reserved for automatic numbering, with the delete rules.
  virtual void CancelAutoInc();

  FileManager* Me = nullptr;
  std::vector<Relation> Relations;
  RelationManager* AliasFile = nullptr;
  bool UseLogout = false;
  int32_t LastTouched = 0;

 protected:
  // Writes Me (mode passed on) and cascades; *shown tells whether a message was shown.
  Level WriteAndCascade(int mode, bool* shown);
  Level DeleteOnce(const std::string& position);
  // File positions of this file's records whose linking fields hold the parent's values
  // (saved ones when useSaved); LevelFatal after a read error.
  Level LinkedRecords(const Relation& relation, FileManager& parent, bool useSaved, uint8_t mode,
                      MessageId refusal, std::vector<std::string>* positions);
  Level FindLinked(const Relation& relation, FileManager& parent, bool useSaved,
                   bool firstOnly, std::vector<std::string>* positions);
  bool LinksChanged(const Relation& relation) const;
  void RestoreLinks();
  // Reports a referential message naming the related file.
  Level ReportReference(uint16_t id, RelationManager& related);

  // Transactions: the thread's one LOGOUT, started by the outermost operation.
  Level BeginTransaction(bool deleting, bool* started);
  // Ends the transaction that started with a COMMIT. A COMMIT that fails (the changes are not
  // known to be on disk) rolls the transaction back instead and reports id with the COMMIT's
  // code, shown when show: the result is then 5, as for any other failure of the statement.
  Level CommitTransaction(bool started, uint16_t id, bool show);
  // Ends the transaction that started for a statement that failed: rolls it back (unless
  // AbortTransaction already did).
  void EndTransaction(bool started);
  // Rolls the thread's transaction back now (before a message is shown).
  static void AbortTransaction();

 private:
  enum class Walk { kOpen, kClose, kQuickScanOn, kQuickScanOff };
  Level Visit(Walk walk, int32_t stamp, bool first, bool propagate);
  void Collect(bool deleting, std::vector<RelationManager*>* out);
};

// A transaction a procedure frames around several statements of its thread, so that a form
// writes its record and the records it keeps in step with it (in other files) as one change.
// The relation managers' Update and Delete inside it join it instead of framing their own; a
// failure in any of them rolls the whole of it back before its message shows. Nothing inside
// may wait for the user: the journal is the program's, and another procedure's writes while
// this one waits would join it.
class TransactionFrame {
 public:
  TransactionFrame() = default;
  TransactionFrame(const TransactionFrame&) = delete;
  TransactionFrame& operator=(const TransactionFrame&) = delete;
  // Rolls back what was neither committed nor rolled back.
  ~TransactionFrame();

  // Starts one LOGOUT over files (each made usable first). 0 also when the driver frames no
  // transactions (80): the statements then run without one. Another failure, or a thread
  // already inside a transaction, reports TransactionCancelled through the first file's
  // manager (shown when show) and gives 5.
  Level Begin(const std::vector<FileManager*>& files, bool show = true);
  // Ends it with a COMMIT. A COMMIT that fails rolls back instead and reports id through the
  // first file's manager (shown when show): 5. 0 when nothing was framed.
  Level Commit(uint16_t id = RecordNotUpdated, bool show = true);
  // Rolls back (unless a failed statement inside did already).
  void Rollback();
  // True between a Begin that started a transaction and its end.
  bool Active() const { return active_; }

 private:
  bool active_ = false;
  FileManager* first_ = nullptr;
};

}  // namespace korawin::framework

#include "framework/relation_manager.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/field_codec.h"
#include "storage/field_values.h"

namespace korawin::framework {

using storage::CallDriver;
using storage::FieldDescriptor;

namespace {

// Relation walks are program-wide: one walk at a time, so the stamps of two threads'
// walks cannot mix.
std::recursive_mutex walkMu;
int32_t walkCounter = 0;

// The calling thread's transaction.
struct Transaction {
  bool active = false;
  bool rolledBack = false;
  storage::FileDescriptor* file = nullptr;  // any file of the LOGOUT: COMMIT/ROLLBACK go to all
};
thread_local Transaction tx;

const FieldDescriptor& FieldOf(FileManager& fm, int index) {
  return fm.File->fields[static_cast<size_t>(index)];
}


}  // namespace

void RelationManager::Init(FileManager& me, bool useLogout) {
  Me = &me;
  UseLogout = useLogout;
  LastTouched = 0;
}

void RelationManager::Kill() { Relations.clear(); }

void RelationManager::AddRelation(RelationManager& file, uint8_t updateMode, uint8_t deleteMode,
                                  int hisKey, std::vector<std::pair<int, int>> links) {
  Relation r;
  r.File = &file;
  r.HisKey = hisKey;
  r.UpdateMode = updateMode;
  r.DeleteMode = deleteMode;
  for (const auto& [mine, his] : links) {
    RelationLink link;
    link.Left = mine - 1;
    link.Right = his - 1;
    r.Fields.push_back(std::move(link));
  }
  Relations.push_back(std::move(r));
}

void RelationManager::AddRelation(RelationManager& file) { AddRelation(file, RiNone, RiNone, 0, {}); }

// ---- Walks ------------------------------------------------------------------------------

Level RelationManager::Visit(Walk walk, int32_t stamp, bool first, bool propagate) {
  LastTouched = stamp;
  Level result = LevelBenign;
  switch (walk) {
    case Walk::kOpen: result = first ? Me->OpenFile(true, true, true) : Me->Open(); break;
    case Walk::kClose: (void)Me->Close(); break;  // a file manager's Close always gives 0
    // A driver that doesn't know QUICKSCAN ignores it: the walk goes on either way.
    case Walk::kQuickScanOn: (void)Me->Send("QUICKSCAN=on"); break;
    case Walk::kQuickScanOff: (void)Me->Send("QUICKSCAN=off"); break;
  }
  if (!propagate) return result;
  for (Relation& r : Relations) {
    if (r.File->LastTouched == stamp) continue;
    Level l = r.File->Visit(walk, stamp, false, propagate);
    if (result == LevelBenign) result = l;
  }
  return result;
}

Level RelationManager::Open() {
  std::lock_guard<std::recursive_mutex> lock(walkMu);
  return Visit(Walk::kOpen, ++walkCounter, true, true);
}

Level RelationManager::Close() {
  std::lock_guard<std::recursive_mutex> lock(walkMu);
  return Visit(Walk::kClose, ++walkCounter, true, true);
}

void RelationManager::SetQuickScan(bool on, bool propagate) {
  std::lock_guard<std::recursive_mutex> lock(walkMu);
  // A hint only.
  (void)Visit(on ? Walk::kQuickScanOn : Walk::kQuickScanOff, ++walkCounter, true, propagate);
}

// ---- Linking fields ---------------------------------------------------------------------

void RelationManager::SaveLinkingFields() {
  for (Relation& r : Relations) {
    for (RelationLink& link : r.Fields) {
      const FieldDescriptor& f = FieldOf(*Me, link.Left);
      link.Saved.assign(Me->Buffer + f.offset, Me->Buffer + f.offset + f.size);
    }
  }
}

bool RelationManager::LinksChanged(const Relation& relation) const {
  for (const RelationLink& link : relation.Fields) {
    if (link.Saved.empty()) continue;  // never saved: there is no old value to follow
    const FieldDescriptor& f = FieldOf(*Me, link.Left);
    if (std::memcmp(Me->Buffer + f.offset, link.Saved.data(), f.size) != 0) return true;
  }
  return false;
}

void RelationManager::RestoreLinks() {
  for (const Relation& r : Relations) {
    for (const RelationLink& link : r.Fields) {
      if (link.Saved.empty()) continue;
      const FieldDescriptor& f = FieldOf(*Me, link.Left);
      std::memcpy(Me->Buffer + f.offset, link.Saved.data(), f.size);
    }
  }
}

Level RelationManager::ReportReference(uint16_t id, RelationManager& related) {
  ErrorClass& errors = *Me->Errors;
  errors.SetErrors();
  errors.SetFile(related.Me->FileNameValue);
  return errors.TakeError(id);
}

// ---- Transactions -----------------------------------------------------------------------

void RelationManager::Collect(bool deleting, std::vector<RelationManager*>* out) {
  if (std::find(out->begin(), out->end(), this) != out->end()) return;
  out->push_back(this);
  for (Relation& r : Relations) {
    uint8_t mode = deleting ? r.DeleteMode : r.UpdateMode;
    // Cleared records are written through their own update rules; cascaded deletes
    // through their own delete rules.
    if (mode == RiCascade || mode == RiClear) r.File->Collect(deleting && mode == RiCascade, out);
  }
}

Level RelationManager::BeginTransaction(bool deleting, bool* started) {
  *started = false;
  if (tx.active || !UseLogout) return LevelBenign;
  std::vector<RelationManager*> files;
  Collect(deleting, &files);
  int logged = 0;
  for (RelationManager* rm : files) {
    if (Level l = rm->Me->UseFile()) return l;
    int err = CallDriver(storage::kOpLogout, *rm->Me->File);
    if (err == storage::kErrUnsupportedFunction) {
      // The driver frames no transactions: go on without, from now on.
      UseLogout = false;
      // A rollback that fails keeps its journal: the next OPEN of these files rolls them back.
      if (logged) (void)CallDriver(storage::kOpRollback, *Me->File);
      return LevelBenign;
    }
    if (err != 0) {
      Me->SetError(TransactionCancelled);
      // Even the LOGOUT that failed may have opened the journal for part of its file.
      // A rollback that fails keeps its journal: the next OPEN of these files rolls them back.
      (void)CallDriver(storage::kOpRollback, *Me->File);
      return Me->Throw();
    }
    ++logged;
  }
  tx.active = true;
  tx.rolledBack = false;
  tx.file = Me->File;
  *started = true;
  return LevelBenign;
}

Level RelationManager::CommitTransaction(bool started, uint16_t id, bool show) {
  if (!started) return LevelBenign;
  if (tx.rolledBack || CallDriver(storage::kOpCommit, *tx.file) == 0) {
    tx = Transaction();
    return LevelBenign;
  }
  // The driver keeps the journal of a COMMIT that failed: the statement is undone rather than
  // left to a rollback by some later open, and the user learns that it did not happen.
  Me->SetError(id);
  AbortTransaction();
  tx = Transaction();
  if (show) (void)Me->Throw();  // shown; the level returned below stands
  return LevelNotify;
}

void RelationManager::EndTransaction(bool started) {
  if (!started) return;
  // A rollback that fails keeps its journal: the next OPEN of these files rolls them back.
  if (!tx.rolledBack) (void)CallDriver(storage::kOpRollback, *tx.file);
  tx = Transaction();
}

void RelationManager::AbortTransaction() {
  if (!tx.active || tx.rolledBack) return;
  // A rollback that fails keeps its journal: the next OPEN of these files rolls them back.
  (void)CallDriver(storage::kOpRollback, *tx.file);
  tx.rolledBack = true;
}

// ---- Finding related records ------------------------------------------------------------

Level RelationManager::FindLinked(const Relation& relation, FileManager& parent, bool useSaved,
                                  bool firstOnly, std::vector<std::string>* positions) {
  if (relation.HisKey <= 0 || static_cast<size_t>(relation.HisKey) > Me->File->keys.size())
    return LevelBenign;  // a lookup relation has no key to find its records by
  const storage::KeyDescriptor& key = Me->File->keys[static_cast<size_t>(relation.HisKey) - 1];
  bool nocase = (key.attributes & storage::kKeyNoCase) != 0;
  char* rec = Me->Buffer;
  for (const FieldDescriptor& f : Me->File->fields)
    if (f.type != storage::kTypeGroup) storage::ClearField(f, rec, false);
  std::vector<int> linked;
  for (const RelationLink& link : relation.Fields) {
    const FieldDescriptor& from = FieldOf(parent, link.Left);
    const FieldDescriptor& to = FieldOf(*Me, link.Right);
    if (useSaved && !link.Saved.empty()) {
      FieldDescriptor savedField = from;
      savedField.offset = 0;
      storage::CopyField(savedField, link.Saved.data(), to, rec);
    } else {
      storage::CopyField(from, parent.Buffer, to, rec);
    }
    linked.push_back(link.Right);
  }
  for (int32_t c : key.components) {
    int index = std::abs(c) - 1;
    if (std::find(linked.begin(), linked.end(), index) != linked.end()) continue;
    storage::ClearField(FieldOf(*Me, index), rec, c < 0);
  }
  std::vector<std::string> expected;
  for (int index : linked) {
    const FieldDescriptor& f = FieldOf(*Me, index);
    expected.emplace_back(rec + f.offset, f.size);
  }
  if (Level l = Me->TrySetOrder(relation.HisKey, true)) return l == LevelNotify ? LevelFatal : l;
  for (;;) {
    Level l = Me->TryNext();
    if (l == LevelNotify && Me->Info().AtEOF) return LevelBenign;
    if (l != LevelBenign) return LevelFatal;
    for (size_t i = 0; i < linked.size(); ++i) {
      const FieldDescriptor& f = FieldOf(*Me, linked[i]);
      std::string_view now(rec + f.offset, f.size);
      bool same = platform::IsBytesType(f.type) ? storage::SameText(now, expected[i], nocase)
                            : std::memcmp(now.data(), expected[i].data(), f.size) == 0;
      if (!same) return LevelBenign;
    }
    positions->push_back(Me->FilePosition());
    if (firstOnly) return LevelBenign;
  }
}

// ---- Update -----------------------------------------------------------------------------

Level RelationManager::Update(int mode) {
  if (Level l = Open()) {
    (void)Close();  // closing gives 0; the statement\'s level stands
    return l;
  }
  bool shown = false;
  Level result = WriteAndCascade(mode, &shown);
  (void)Close();  // closing gives 0; the statement\'s level stands
  return result;
}

Level RelationManager::WriteAndCascade(int mode, bool* shown) {
  *shown = false;
  // Restrict rules are checked before anything is written, so a refusal never depends on
  // a transaction to undo the parent's change.
  for (Relation& r : Relations) {
    if (r.UpdateMode != RiRestrict || !LinksChanged(r)) continue;
    std::vector<std::string> found;
    r.File->Me->SaveFile();
    Level l = r.File->FindLinked(r, *Me, true, true, &found);
    r.File->Me->RestoreFile();
    if (l == LevelBenign && found.empty()) continue;
    // Shown; the level returned below stands.
    if (l == LevelBenign) (void)ReportReference(ReferentialUpdateError, *r.File);
    else (void)r.File->Me->Throw();  // shown; the level returned below stands
    RestoreLinks();
    *shown = true;
    return LevelNotify;
  }
  bool started = false;
  if (Level l = BeginTransaction(false, &started)) {
    *shown = true;
    return l;
  }
  // Inside a transaction (its own or one the caller framed) the message waits until the
  // rollback has put the files back.
  const bool framed = started || tx.active;
  const std::string pos = Me->Position();
  int code = 0;
  if (Level l = Me->UpdateRecord(mode, mode != UpdateQuiet && !framed, &code)) {
    AbortTransaction();
    EndTransaction(started);
    // The rollback made the driver forget the record it had read again and watched.
    if (framed && code == storage::kErrRecordChanged) Me->WatchAfresh(pos);
    // Shown; the level returned below stands.
    if (framed && mode != UpdateQuiet) (void)Me->Throw();
    *shown = mode != UpdateQuiet;
    return l;
  }
  for (Relation& r : Relations) {
    if (r.UpdateMode == RiNone || !LinksChanged(r)) continue;
    if (r.File->CascadeUpdate(r, *Me, r.UpdateMode) != LevelBenign) {
      RestoreLinks();
      EndTransaction(started);
      *shown = true;
      return LevelNotify;
    }
  }
  if (Level l = CommitTransaction(started, RecordNotUpdated, mode != UpdateQuiet)) {
    *shown = mode != UpdateQuiet;
    return l;
  }
  SaveLinkingFields();
  return LevelBenign;
}

// The positions of the records linked to parent; a read failure, or any linked record under a
// restrict rule, ends the transaction with its message and gives LevelNotify.
Level RelationManager::LinkedRecords(const Relation& relation, FileManager& parent, bool useSaved,
                                     uint8_t mode, MessageId refusal,
                                     std::vector<std::string>* positions) {
  if (FindLinked(relation, parent, useSaved, mode == RiRestrict, positions) != LevelBenign) {
    AbortTransaction();
    (void)Me->Throw();  // shown; the level returned below stands
    return LevelNotify;
  }
  if (mode == RiRestrict && !positions->empty()) {
    AbortTransaction();
    (void)ReportReference(refusal, *this);  // shown; the level returned below stands
    return LevelNotify;
  }
  return LevelBenign;
}

Level RelationManager::CascadeUpdate(const Relation& relation, FileManager& parent, uint8_t mode) {
  Me->SaveFile();
  std::vector<std::string> positions;
  Level result = LinkedRecords(relation, parent, true, mode, ReferentialUpdateError, &positions);
  if (result == LevelBenign) {
    for (const std::string& pos : positions) {
      if (Me->TryRegetFile(pos) != LevelBenign) continue;  // gone meanwhile
      SaveLinkingFields();
      uint16_t before = Me->SaveBuffer();
      for (const RelationLink& link : relation.Fields) {
        const FieldDescriptor& to = FieldOf(*Me, link.Right);
        if (mode == RiClear) storage::ClearField(to, Me->Buffer, false);
        else storage::CopyField(FieldOf(parent, link.Left), parent.Buffer, to, Me->Buffer);
      }
      bool shown = false;
      if (WriteAndCascade(UpdateQuiet, &shown) != LevelBenign) {
        Me->RestoreBuffer(before, true);
        if (!shown) {
          // The failed write captured its code; the rollback must not replace it.
          Me->Info().LastError = RecordNotUpdated;
          AbortTransaction();
          (void)Me->Throw();  // shown; the level returned below stands
        }
        AbortTransaction();
        result = LevelNotify;
        break;
      }
      Me->RestoreBuffer(before, true);  // releases the copy; the file state is restored below
    }
  }
  Me->RestoreFile();
  return result;
}

// ---- Delete -----------------------------------------------------------------------------

Level RelationManager::Delete(bool ask) {
  if (ask && Me->ThrowError(ConfirmDelete) != LevelBenign) return LevelNotify;
  for (;;) {
    if (Level l = Open()) {
      (void)Close();  // closing gives 0; the statement\'s level stands
      return l;
    }
    std::string pos = Me->Position();
    Level result = DeleteOnce(pos);
    (void)Close();  // closing gives 0; the statement\'s level stands
    if (result == LevelBenign) return result;
    if (Me->ThrowError(RecordDeleteError) != LevelBenign) return result;
  }
}

Level RelationManager::DeleteNoRetry(bool ask) {
  if (ask && Me->ThrowError(ConfirmDelete) != LevelBenign) return LevelCancel;
  if (Level l = Open()) {
    (void)Close();  // always 0
    return l;
  }
  std::string pos = Me->Position();
  Level result = DeleteOnce(pos);
  (void)Close();  // always 0
  return result;
}

Level RelationManager::DeleteOnce(const std::string& position) {
  bool started = false;
  if (Level l = BeginTransaction(true, &started)) return l;
  auto fail = [&](Level l) {
    AbortTransaction();
    EndTransaction(started);
    return l;
  };
  if (Me->TryReget(position) != LevelBenign) {
    Me->SetError(RecordNotDeleted);
    AbortTransaction();
    (void)Me->Throw();  // shown; the level returned below stands
    return fail(LevelNotify);
  }
  // Restrict rules first: a refusal must not follow a cascade that already deleted.
  for (Relation& r : Relations) {
    if (r.DeleteMode != RiRestrict) continue;
    std::vector<std::string> found;
    r.File->Me->SaveFile();
    Level l = r.File->FindLinked(r, *Me, false, true, &found);
    r.File->Me->RestoreFile();
    if (l == LevelBenign && found.empty()) continue;
    AbortTransaction();
    // Shown; the level returned below stands.
    if (l == LevelBenign) (void)ReportReference(ReferentialDeleteError, *r.File);
    else (void)r.File->Me->Throw();  // shown; the level returned below stands
    return fail(LevelNotify);
  }
  for (Relation& r : Relations) {
    if (r.DeleteMode == RiNone || r.DeleteMode == RiRestrict) continue;
    if (r.File->CascadeDelete(r, *Me, r.DeleteMode) != LevelBenign) return fail(LevelNotify);
  }
  // The cascades read other files only, but a relation may lead back to this one.
  if (Me->TryReget(position) != LevelBenign || Me->TryDeleteRecord() != LevelBenign) {
    Me->SetError(RecordNotDeleted);
    AbortTransaction();
    (void)Me->Throw();  // shown; the level returned below stands
    return fail(LevelNotify);
  }
  return CommitTransaction(started, RecordNotDeleted, true);
}

Level RelationManager::CascadeDelete(const Relation& relation, FileManager& parent, uint8_t mode) {
  Me->SaveFile();
  std::vector<std::string> positions;
  Level result = LinkedRecords(relation, parent, false, mode, ReferentialDeleteError, &positions);
  if (result == LevelBenign) {
    for (const std::string& pos : positions) {
      if (Me->TryRegetFile(pos) != LevelBenign) continue;  // gone meanwhile
      if (mode == RiClear) {
        SaveLinkingFields();
        for (const RelationLink& link : relation.Fields)
          storage::ClearField(FieldOf(*Me, link.Right), Me->Buffer, false);
        bool shown = false;
        if (WriteAndCascade(UpdateQuiet, &shown) != LevelBenign) {
          if (!shown) {
            Me->Info().LastError = RecordNotUpdated;  // the write's code is already captured
            AbortTransaction();
            (void)Me->Throw();  // shown; the level returned below stands
          }
          AbortTransaction();
          result = LevelNotify;
          break;
        }
        continue;
      }
      // Cascade: this record's own delete rules first, then the record.
      bool failed = false;
      for (Relation& r : Relations) {
        if (r.DeleteMode == RiNone) continue;
        if (r.File->CascadeDelete(r, *Me, r.DeleteMode) != LevelBenign) {
          failed = true;
          break;
        }
      }
      if (!failed && (Me->TryRegetFile(pos) != LevelBenign || Me->TryDeleteRecord() != LevelBenign)) {
        Me->SetError(RecordNotDeleted);
        AbortTransaction();
        (void)Me->Throw();  // shown; the level returned below stands
        failed = true;
      }
      if (failed) {
        AbortTransaction();
        result = LevelNotify;
        break;
      }
    }
  }
  Me->RestoreFile();
  return result;
}

void RelationManager::CancelAutoInc() { Me->CancelAutoInc(this); }

// ---- Transactions framed by the caller ------------------------------------------------------

TransactionFrame::~TransactionFrame() {
  if (active_) Rollback();
}

Level TransactionFrame::Begin(const std::vector<FileManager*>& files, bool show) {
  active_ = false;
  first_ = files.empty() ? nullptr : files.front();
  if (!first_) return LevelBenign;
  if (tx.active) {
    first_->SetError(TransactionCancelled);
    return show ? first_->Throw() : LevelNotify;
  }
  size_t logged = 0;
  for (FileManager* fm : files) {
    if (Level l = fm->UseFile()) {
      if (logged) (void)CallDriver(storage::kOpRollback, *first_->File);  // the open's failure is the one reported
      return l;
    }
    int err = CallDriver(storage::kOpLogout, *fm->File);
    if (err == 0) {
      ++logged;
      continue;
    }
    if (logged || err != storage::kErrUnsupportedFunction)
      (void)CallDriver(storage::kOpRollback, *first_->File);  // the LOGOUT's failure is the one reported
    if (err == storage::kErrUnsupportedFunction) return LevelBenign;
    first_->SetError(TransactionCancelled);
    return show ? first_->Throw() : LevelNotify;
  }
  tx.active = true;
  tx.rolledBack = false;
  tx.file = first_->File;
  active_ = true;
  return LevelBenign;
}

Level TransactionFrame::Commit(uint16_t id, bool show) {
  if (!active_) return LevelBenign;
  active_ = false;
  if (tx.rolledBack) {
    tx = Transaction();
    return LevelNotify;
  }
  if (CallDriver(storage::kOpCommit, *tx.file) == 0) {
    tx = Transaction();
    return LevelBenign;
  }
  first_->SetError(id);
  (void)CallDriver(storage::kOpRollback, *tx.file);  // the COMMIT's failure is the one reported
  tx = Transaction();
  if (show) (void)first_->Throw();  // shown; 5 follows
  return LevelNotify;
}

void TransactionFrame::Rollback() {
  if (!active_) return;
  active_ = false;
  if (!tx.rolledBack) (void)CallDriver(storage::kOpRollback, *tx.file);  // what failed was reported
  tx = Transaction();
}

}  // namespace korawin::framework

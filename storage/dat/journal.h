// The rollback journal of LOGOUT transactions: one per program, shared by every file that
// takes part. The writes of a participating stream (data, key or memo file) are kept in memory;
// at a stage the bytes they will overwrite or cut off are appended to the journal, which is
// flushed once, and then the kept writes go to the files. COMMIT stages what is kept, flushes
// the files that changed and cuts the journal to nothing (the moment the transaction is
// committed); ROLLBACK forgets what is kept and copies the journal's bytes back in reverse
// order. A stage happens at COMMIT, when the kept writes pass a memory bound (a large
// transaction is flushed in stages), before a file is cut, and when a file leaves.
//
// Flushes: a transaction that writes M data files with F files in all (data, key and memo
// files) and fits the bound flushes at most 3 + 2M + F times: the journal once, each of its M
// markers and its folder once (the journal's folder with the first stage), each written file
// once at COMMIT, and the journal's cut. A further stage adds one when it saves old bytes (one
// that only appends saves nothing and flushes nothing), plus the markers of files that first
// write in it; a cut of a file in a transaction adds up to two.
//
// A marker file "<data file>.LOG" names the journal, so that the next OPEN after a crash can
// roll the interrupted transaction back. Journal, markers and their names are on disk before
// any byte they protect is written.
//
// Journal layout (only this driver reads it): a sequence of entries, each
//   head (8): length (2), 0 (2), check (4)
//   length bytes
//   trailer (8): position (4), length (2), file number (2)
// The check is a CRC-32 of the entry's offset in the journal (8) and every byte of the entry
// but the check itself, so a crash in the middle of an append leaves a tail that recovery
// recognises and ignores; since the journal is flushed before the writes it protects, nothing
// behind such a tail has been written.
//  - file number 0: a registration; the length bytes are: file number (2), flags (1), path
//    length (2), path, marker length (2), marker path, padded to at least 83.
//  - length 0: the file grew at position; a rollback cuts it there.
//  - otherwise: the length old bytes that stood at position.
// The journal holds a lock on its byte 0 while its transaction is live, so that another
// program never rolls back a transaction that is still running. A marker whose journal no
// longer exists belongs to a transaction that ended (the journal goes only after it was
// emptied), so recovery just removes it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file.h"
#include "storage/dat/dat_io.h"

namespace korawin::storage::dat {

class Journal : public WriteObserver {
 public:
  // The program's journal.
  static Journal& Instance();

  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Makes stream take part in the transaction, opening the journal when none is open.
  // dataPath is the data file the stream belongs to (it names the marker). onRollback, when
  // given, runs after a rollback restored the stream (to drop cached headers); onSettled, when
  // given, runs once nothing of the stream is kept in memory any more (after a stage, COMMIT or
  // ROLLBACK). beforeCommit, when given, runs at COMMIT before anything is staged, outside
  // the journal's lock, to write what the stream's owner still holds back; its failure is
  // COMMIT's and leaves the transaction running. Codes: 56 when no journal name can be made,
  // 48 when the journal cannot be created.
  Code Join(DatStream& stream, const std::string& dataPath,
            std::function<void()> onRollback = nullptr,
            std::function<void()> onSettled = nullptr,
            std::function<Code()> beforeCommit = nullptr);
  // The stream is about to close: what is kept of it is staged, and the journal keeps its path
  // to flush it at COMMIT or reopen it for a rollback. A stage that fails gives its code; the
  // transaction can only be rolled back then.
  Code Leave(DatStream& stream);

  bool active() const;
  bool TakesPart(const DatStream& stream) const;
  std::string path() const;
  // Whether writes of the stream wait in memory (other stations must not see its file yet).
  bool Keeps(const DatStream& stream) const;

  // Ends the transaction keeping every change, once every file that changed is flushed.
  // A flush failure gives its code and leaves the transaction running (ROLLBACK still works).
  Code Commit();
  // Undoes every change of the transaction, then ends it. 65 when the replay fails.
  Code Rollback();

  // At OPEN of dataPath: when its marker exists and no transaction runs in this program, rolls
  // back the interrupted transaction the marker names and removes journal and markers.
  // Codes: 56 marker or journal that cannot be opened, 65 a short marker, a marker naming no
  // journal, a journal naming a file it never registered or a file whose marker does not
  // name this journal, or a replay that fails.
  Code RecoverInterrupted(const std::string& dataPath);

  // The bytes kept in memory beyond which a transaction is staged (tests make it small).
  static constexpr size_t kDefaultKeepLimit = 32u << 20;
  void set_keep_limit(size_t bytes);

  Code Write(DatStream& stream, uint64_t pos, const void* bytes, size_t n, bool* taken) override;
  Code BeforeTruncate(DatStream& stream, uint64_t size) override;
  void Overlay(const DatStream& stream, uint64_t pos, void* buf, size_t n, size_t* got) override;
  uint64_t KeptEnd(const DatStream& stream) override;
  bool DefersSync(const DatStream& stream) override;

 private:
  struct Participant {
    uint16_t number = 0;
    DatStream* stream = nullptr;  // nullptr once the stream closed
    std::string path;
    std::string dataPath;
    std::string marker;
    bool registered = false;  // its registration (and marker) is in the journal: it wrote
    std::function<void()> onRollback;
    std::function<void()> onSettled;
    std::function<Code()> beforeCommit;
    // Writes not yet in the file: start -> bytes, disjoint and not touching.
    std::map<uint64_t, std::string> kept;
    // What the journal already holds for this file: the ranges whose bytes before the
    // transaction it saved, and the lowest size it will cut the file back to. A later write
    // there needs no entry (the replay, last entry first, ends with the earliest ones).
    std::map<uint64_t, uint64_t> saved;  // start -> end, disjoint
    uint64_t cutTo = UINT64_MAX;
  };

  Journal() = default;

  Code OpenJournalLocked();
  Participant* Find(const DatStream& stream);
  const Participant* Find(const DatStream& stream) const;
  // Writes batch at the journal's end and flushes it; on failure the journal is cut back.
  Code AppendLocked(const std::string& batch);
  Code SaveRangeLocked(Participant& p, uint64_t from, uint64_t to, std::string* batch);
  // Adds to batch what the journal needs before p's file changes from pos to pos + n (n == 0:
  // a cut at pos) and records it as saved; *grew tells whether the file's end was logged.
  Code ProtectLocked(Participant& p, uint64_t pos, uint64_t n, bool cut, std::string* batch,
                     std::vector<std::pair<uint64_t, uint64_t>>* gaps, bool* grew);
  void RecordSaved(Participant& p, const std::vector<std::pair<uint64_t, uint64_t>>& gaps);
  // Makes the markers of the participants that will write first in this stage.
  Code MakeMarkersLocked(const std::vector<Participant*>& starting);
  // Puts every kept write into the files, their undo first in the journal.
  Code StageLocked();
  // Flushes every file that wrote in the transaction.
  Code SyncParticipantsLocked();
  void EndLocked(bool removeJournal);
  void RecountLocked();
  // The onSettled callbacks of every participant, to run outside the lock.
  std::vector<std::function<void()>> SettledLocked();

  mutable std::mutex mu_;
  platform::File journal_;
  std::string journalPath_;
  uint64_t journalEnd_ = 0;
  bool journalNamed_ = false;  // the journal's folder was flushed since it was created
  bool broken_ = false;        // a failed append could not be cut back: log nothing more
  uint16_t nextNumber_ = 1;
  size_t keptBytes_ = 0;
  size_t keepLimit_ = kDefaultKeepLimit;
  std::vector<Participant> participants_;
  std::vector<std::string> markers_;
};

// The marker file of a data file ("<name>.LOG").
std::string MarkerPathOf(const std::string& dataPath);

// What the next OPEN of a data file will find of a transaction left behind, read without
// changing anything.
struct PendingTransaction {
  enum class State {
    kNone,         // no marker
    kRunning,      // another program still holds the journal: its transaction is live
    kEnded,        // the journal is gone: the transaction ended, OPEN only removes the marker
    kInterrupted,  // OPEN rolls the transaction back
    kUnreadable,   // OPEN fails with code
  };
  // One file the rollback writes: the data file or one of its key or memo files.
  struct File {
    std::string path;        // as the journal registered it
    size_t ranges = 0;       // ranges of old bytes copied back
    uint64_t bytes = 0;      // their size in all
    uint64_t cutTo = UINT64_MAX;  // the length it is cut back to, if it grew
  };
  State state = State::kNone;
  int code = 0;         // kUnreadable: 56 or 65, as OPEN would give
  std::string journal;  // the journal the marker names
  std::vector<File> files;  // the files of the data file's marker, in registration order
};

// Reads the marker of dataPath and the journal it names, as RecoverInterrupted would, but
// only to tell what it would do.
PendingTransaction InspectInterrupted(const std::string& dataPath);

// The bytes of one journal entry that starts at offset offset of its journal.
std::string EncodeJournalEntry(uint64_t offset, uint32_t pos, uint16_t number,
                               const std::string& bytes);

}  // namespace korawin::storage::dat

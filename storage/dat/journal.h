// The rollback journal of LOGOUT transactions: one per program, shared by every file that
// takes part. Before a participating stream (data, key or memo file) changes, the bytes it is
// about to overwrite or cut off are appended to the journal and flushed; ROLLBACK copies them
// back in reverse order, COMMIT flushes the files and throws the journal away. A marker file
// "<data file>.LOG" names the journal, so that the next OPEN after a crash can roll the
// interrupted transaction back.
//
// Journal layout (only this driver reads it): a sequence of entries, each
//   head (8): length (2), 0 (2), check (4)
//   length bytes
//   trailer (8): position (4), length (2), file number (2)
// The check is a CRC-32 of the entry's offset in the journal (8) and every byte of the entry
// but the check itself, so a crash in the middle of an append leaves a tail that recovery
// recognises and ignores; since the journal is flushed before the write it protects, nothing
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
  // given, runs after a rollback restored the stream (to drop cached headers).
  // Codes: 56 when no journal name can be made, 48 when the journal cannot be created.
  Code Join(DatStream& stream, const std::string& dataPath,
           std::function<void()> onRollback = nullptr);
  // The stream is about to close: the journal keeps its path to reopen it for a rollback.
  void Leave(DatStream& stream);

  bool active() const;
  bool TakesPart(const DatStream& stream) const;
  std::string path() const;

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

  Code BeforeWrite(DatStream& stream, uint64_t pos, size_t n) override;
  Code BeforeTruncate(DatStream& stream, uint64_t size) override;

 private:
  struct Participant {
    uint16_t number = 0;
    DatStream* stream = nullptr;  // nullptr once the stream closed
    std::string path;
    std::string dataPath;
    std::string marker;
    bool registered = false;
    std::function<void()> onRollback;
    // What the journal already holds for this file: the ranges whose bytes before the
    // transaction it saved, and the lowest size it will cut the file back to. A later write
    // there needs no entry (the replay, last entry first, ends with the earliest ones).
    std::map<uint64_t, uint64_t> saved;  // start -> end, disjoint
    uint64_t cutTo = UINT64_MAX;
  };

  Journal() = default;

  Code OpenJournalLocked();
  Participant* Find(const DatStream& stream);
  // Makes the marker and adds the registration to batch when p has not written yet.
  Code StartLoggingLocked(Participant& p, std::string* batch);
  // Writes batch at the journal's end and flushes it; on failure the journal is cut back.
  Code AppendLocked(const std::string& batch);
  Code SaveRangeLocked(Participant& p, uint64_t from, uint64_t to, std::string* batch);
  // Logs what a change of stream from pos to pos + n (n == 0: a cut at pos) destroys.
  Code ProtectLocked(DatStream& stream, uint64_t pos, uint64_t n, bool cut);
  // Flushes every file that wrote in the transaction.
  Code SyncParticipantsLocked();
  void EndLocked(bool removeJournal);

  mutable std::mutex mu_;
  platform::File journal_;
  std::string journalPath_;
  uint64_t journalEnd_ = 0;
  bool broken_ = false;  // a failed append could not be cut back: log nothing more
  uint16_t nextNumber_ = 1;
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

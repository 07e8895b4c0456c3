// The rollback journal of LOGOUT transactions: one per program, shared by every file that
// takes part. Before a participating stream (data, key or memo file) changes, the bytes it is
// about to overwrite or cut off are appended to the journal; ROLLBACK copies them back in
// reverse order, COMMIT throws them away. A marker file "<data file>.LOG" names the journal,
// so that the next OPEN after a crash can roll the interrupted transaction back.
//
// Journal layout (only this driver reads it): a sequence of entries, each followed by an
// 8-byte trailer: position (4), length (2), file number (2).
//  - file number 0: a registration; the length bytes before the trailer are: file number (2),
//    flags (1), path length (2), path, marker length (2), marker path, padded to at least 83.
//  - length 0: the file grew at position; a rollback cuts it there.
//  - otherwise: the length old bytes that stood at position.
// The journal holds a lock on its byte 0 while its transaction is live, so that another
// program never rolls back a transaction that is still running.
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
  int Join(DatStream& stream, const std::string& dataPath,
           std::function<void()> onRollback = nullptr);
  // The stream is about to close: the journal keeps its path to reopen it for a rollback.
  void Leave(DatStream& stream);

  bool active() const;
  bool TakesPart(const DatStream& stream) const;
  std::string path() const;

  // Ends the transaction keeping every change.
  int Commit();
  // Undoes every change of the transaction, then ends it. 65 when the replay fails.
  int Rollback();

  // At OPEN of dataPath: when its marker exists and no transaction runs in this program, rolls
  // back the interrupted transaction the marker names and removes journal and markers.
  // Codes: 56 marker or journal that cannot be opened, 65 a short or malformed journal/marker.
  int RecoverInterrupted(const std::string& dataPath);

  int BeforeWrite(DatStream& stream, uint64_t pos, size_t n) override;
  int BeforeTruncate(DatStream& stream, uint64_t size) override;

 private:
  struct Participant {
    uint16_t number = 0;
    DatStream* stream = nullptr;  // nullptr once the stream closed
    std::string path;
    std::string dataPath;
    std::string marker;
    bool registered = false;
    std::function<void()> onRollback;
  };

  Journal() = default;

  int OpenJournalLocked();
  Participant* Find(const DatStream& stream);
  int StartLoggingLocked(Participant& p);
  int AppendLocked(const std::string& bytes);
  int SaveRangeLocked(Participant& p, uint64_t from, uint64_t to, std::string* out);
  void EndLocked(bool removeJournal);

  mutable std::mutex mu_;
  platform::File journal_;
  std::string journalPath_;
  uint64_t journalEnd_ = 0;
  uint16_t nextNumber_ = 1;
  std::vector<Participant> participants_;
  std::vector<std::string> markers_;
};

// The marker file of a data file ("<name>.LOG").
std::string MarkerPathOf(const std::string& dataPath);

}  // namespace korawin::storage::dat

// The files of the journal fuzz target, shared with its seed generator. Both work in a folder
// of their own (the current folder), so that every name the journal and the marker carry is
// a bare relative name and a seed made in one folder replays in another.
//
// An input is two parts, each behind a 4-byte little-endian length: the journal's bytes and
// the marker's bytes. The journal is always laid down as kJournalName; the marker as the
// data file's marker, so that the OPEN of the data file recovers whatever it names.
#pragma once

#include <algorithm>
#include <string>

#include "fuzz/dat_fuzz_files.h"

namespace korawin::fuzz {

// The data file is "j" (j.DAT, its keys j.K01 and j.K02, its memo j.MEM, its marker j.LOG).
inline constexpr char kJournalData[] = "j";
inline constexpr char kJournalMarker[] = "j.LOG";
inline constexpr char kJournalName[] = "VWFUZZ00.TR$";

// A marker's text: the journal's path, NUL-padded to at least 79 bytes.
inline std::string MarkerNaming(std::string journal) {
  journal.resize(std::max<size_t>(79, journal.size() + 1), '\0');
  return journal;
}

// Sets the record (name, number) and the memo of f.
inline void SetJournalRecord(FuzzFile& f, const std::string& name, int32_t num,
                             const std::string& note) {
  std::fill(f.record.begin(), f.record.end(), ' ');
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 12), f.record.begin());
  std::memcpy(f.record.data() + 12, &num, 4);
  std::fill(f.memo.begin(), f.memo.end(), ' ');
  std::copy_n(note.begin(), std::min(note.size(), f.memo.size()), f.memo.begin());
}

// Creates the small data file the journals are replayed against, in the current folder: six
// records with memos, record 3 deleted (so an ADD reuses it). Leaves it closed; 0 or a code.
inline int MakeJournalFixture() {
  using namespace storage;
  FuzzFile f(kJournalData);
  if (int err = f.Call(kOpCreate)) return err;
  if (int err = f.Call(kOpOpen)) return err;
  for (int i = 1; i <= 6; ++i) {
    SetJournalRecord(f, "rec" + std::to_string(i), i % 3,
                     std::string(static_cast<size_t>(40 * i), static_cast<char>('a' + i)));
    if (int err = f.Call(kOpAdd)) return err;
  }
  if (int err = f.Call(kOpGetFilePtr, 0, 3)) return err;
  if (int err = f.Call(kOpDelete)) return err;
  return f.Call(kOpClose);
}

}  // namespace korawin::fuzz

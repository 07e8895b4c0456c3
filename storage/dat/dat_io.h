// One physical file of the DAT driver (data, key or memo file). Every read and write of the
// driver goes through here, so that the transaction journal sees each write before it happens
// (and may keep it in memory until its undo is on disk) and so that system errors come back as
// driver codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

class DatStream;

// Sees every change of a stream before it happens (the journal of a LOGOUT transaction).
class WriteObserver {
 public:
  virtual ~WriteObserver() = default;
  // Called for n bytes to be written at pos. A non-zero code stops the write (48); *taken set
  // means the observer keeps the bytes (to write them later), else the stream writes them.
  virtual Code Write(DatStream& stream, uint64_t pos, const void* bytes, size_t n,
                     bool* taken) = 0;
  // Called before the file is cut to size.
  virtual Code BeforeTruncate(DatStream& stream, uint64_t size) = 0;
  // Lays the bytes kept for the stream over a read at pos: buf holds *got bytes of the file
  // (at most n); kept bytes replace them and may make *got longer (a hole reads as zeros).
  virtual void Overlay(const DatStream& stream, uint64_t pos, void* buf, size_t n,
                       size_t* got) {}
  // The end of the bytes kept for the stream, 0 when none: the file is at least that long.
  virtual uint64_t KeptEnd(const DatStream& stream) { return 0; }
  // Whether flushing the stream's file is left to the observer (it flushes at its end).
  virtual bool DefersSync(const DatStream& stream) { return false; }
};

class DatStream {
 public:
  DatStream() = default;
  DatStream(const DatStream&) = delete;
  DatStream& operator=(const DatStream&) = delete;

  // Open with a driver access mode (access bits and sharing bits). Codes: driver codes.
  Code Open(const std::string& path, unsigned mode);
  // Create or truncate for read and write, shared (sharing 0x40); keepBytes as File::Create.
  Code Create(const std::string& path, bool keepBytes = false);
  void Close();
  bool is_open() const { return file_.is_open(); }
  bool read_only() const { return file_.access() == platform::Access::kRead; }
  const std::string& path() const { return file_.path(); }
  platform::File& file() { return file_; }

  // Reads exactly n bytes at pos: 0, shortCode when fewer bytes exist, or a driver code.
  Code Read(uint64_t pos, void* buf, size_t n, int shortCode = 330);
  // Reads up to n bytes; *got receives the count.
  Code ReadSome(uint64_t pos, void* buf, size_t n, size_t* got);
  // Writes n bytes at pos (n > 0), after the observer has saved what it needs.
  Code Write(uint64_t pos, const void* buf, size_t n);
  // A hint that n bytes at pos will be read soon.
  void Prefetch(uint64_t pos, size_t n) { file_.Prefetch(pos, n); }
  // Cuts the file at size.
  Code Truncate(uint64_t size);
  // Flushes the file's data to the disk.
  Code Sync();
  // The file's size in *size; a failure gives its driver code and leaves *size alone.
  Code Size(uint64_t* size);
  // The file's size, 0 when it cannot be learnt (for callers that check sizes anyway).
  uint64_t Size();

  void set_observer(WriteObserver* observer) { observer_ = observer; }
  WriteObserver* observer() const { return observer_; }
  // Number of this file in the journal it takes part in (0: none yet).
  uint16_t journal_number() const { return journalNumber_; }
  void set_journal_number(uint16_t n) { journalNumber_ = n; }

 private:
  platform::File file_;
  WriteObserver* observer_ = nullptr;
  uint16_t journalNumber_ = 0;
};

// Little-endian helpers for the on-disk layouts.
inline uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void Put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace korawin::storage::dat

// The memo file of a DAT file: a 6-byte header (signature "M3", first free block) followed by
// 256-byte blocks, each a 4-byte link to the next block of its chain and 252 bytes of text.
// A record keeps the number of its memo's first block; free blocks form one chain from the
// header. Every read and write goes through a DatStream, so a transaction journal attached to
// stream() sees each change.
//
// Chains are never trusted: a link that points past the file, back into the chain, or into
// another chain is reported (57) instead of being followed, and the buffer given to Read is
// never written beyond its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/dat/dat_io.h"

namespace korawin::storage::dat {

inline constexpr uint16_t kMemoSignature = 0x334D;  // "M3"
inline constexpr uint32_t kMemoHeaderSize = 6;
inline constexpr uint32_t kMemoBlockSize = 256;
inline constexpr uint32_t kMemoLinkSize = 4;
inline constexpr uint32_t kMemoBlockData = kMemoBlockSize - kMemoLinkSize;  // 252

// CRC-16/ARC (reflected polynomial 0xA001): crc is the value of the bytes before these, 0 at
// the start.
uint16_t Crc16Arc(const void* data, size_t n, uint16_t crc = 0);

// The memo file's name for a data file: its extension replaced by ".MEM".
std::string MemoFileName(const std::string& dataPath);

// The length of a memo text without its trailing blanks (binary: trailing NUL bytes).
size_t MemoLength(const char* text, size_t n, bool binary);

// One record's memo for Check: the record number and its first block (0 = no memo).
struct MemoOwner {
  uint32_t record = 0;
  uint32_t firstBlock = 0;
};

// What Check found. fault is empty when the file is sound.
struct MemoCheckResult {
  std::string fault;         // the first fault in words
  uint32_t blocks = 0;       // whole blocks in the file
  uint32_t usedBlocks = 0;   // blocks in record chains
  uint32_t freeBlocks = 0;   // blocks on the free chain
  uint32_t lostBlocks = 0;   // blocks in no chain (wasted, not a fault)
};

class MemoFile {
 public:
  MemoFile() = default;
  MemoFile(const MemoFile&) = delete;
  MemoFile& operator=(const MemoFile&) = delete;

  // Creates (truncates) the file with an empty header and leaves it open for read and write.
  Code Create(const std::string& path);
  // Opens an existing file (found without regard to case) with a driver access mode and reads
  // its header: 73 when it is missing or the header can't be read, 57 for a wrong signature,
  // else a driver code of the open.
  Code Open(const std::string& path, unsigned mode);
  void Close();
  bool is_open() const { return stream_.is_open(); }

  // Fills buf (n bytes) with blanks, then with the chain from firstBlock until buf is full or
  // the chain ends, and remembers what was read for Write. A chain that loops or runs past the
  // file gives 57 (fault() says where); buf then holds what was read before the fault.
  Code Read(uint32_t firstBlock, char* buf, size_t n);
  // Forgets what the last Read saw, so that the next Write writes (after a read without memo).
  void ForgetRead();

  // Stores buf (n bytes) as the memo of a record whose chain starts at currentFirst (0 =
  // none) and sets *newFirst. An empty text stores no memo and frees the old chain; a text
  // equal byte for byte to the one read from the same chain writes nothing. Otherwise the old
  // chain is reused, then free blocks, then blocks appended; the last block links 0 and the
  // surplus of the old chain goes to the free chain.
  Code Write(uint32_t currentFirst, const char* buf, size_t n, bool binary, uint32_t* newFirst);

  // Returns the chain from firstBlock to the free chain (0 frees nothing). A chain that can't
  // be walked is left as it is (its blocks are lost, the free chain stays sound) and gives 57.
  Code Free(uint32_t firstBlock);

  // Rewrites the header with no free blocks and cuts the file to the header.
  Code Empty();
  // Reads the header again (another station or a rollback may have changed the free chain).
  Code Reload();

  // Verifies the header, the free chain and every owner's chain: no loop, no block past the
  // end of the file, no block in two chains. Returns 0, or 57 with result->fault set; a read
  // failure returns its code.
  Code Check(const std::vector<MemoOwner>& owners, MemoCheckResult* result);

  // The first free block of the header as last read or written.
  uint32_t first_free() const { return firstFree_; }
  // The check value and first block of the last Read.
  uint16_t read_check() const;
  // The text of the chain at first as the last Read or Write left it in a buffer of n bytes;
  // false when that isn't the chain last read or written.
  bool Remembered(uint32_t first, size_t n, std::string* text) const;
  // Whether Write(first, buf, n) would find the text the chain at first holds, as the last Read
  // or Write left it, and write nothing.
  bool Unchanged(uint32_t first, const char* buf, size_t n) const {
    return first != 0 && readFirst_ == first && SameAsRemembered(buf, n);
  }
  // Unchanged, and the text is not empty, so that Write would find nothing to do at all
  // (an empty text frees the chain).
  bool UnchangedText(uint32_t first, const char* buf, size_t n, bool binary) const;
  uint32_t read_first() const { return readFirst_; }
  // The fault found by the last failing Read, Write or Free, in words.
  const std::string& fault() const { return fault_; }
  // Number of whole blocks in the file.
  uint32_t BlockCount();

  DatStream& stream() { return stream_; }

 private:
  static uint64_t BlockOffset(uint32_t block) {
    return kMemoHeaderSize + static_cast<uint64_t>(block - 1) * kMemoBlockSize;
  }
  Code ReadHeader();
  Code WriteHeader(uint32_t firstFree);
  Code ReadLink(uint32_t block, uint32_t* link);
  Code WriteLink(uint32_t block, uint32_t link);
  // Puts the chain first..last (last linking 0) at the head of the free chain.
  Code PushFree(uint32_t first, uint32_t last);
  // Walks the chain from first up to limit blocks (0: no limit), appending its blocks to out.
  // *next receives the link after the last block taken. A bad link gives 57 and sets fault_.
  Code WalkChain(uint32_t first, uint32_t blockCount, size_t limit, const char* what,
                std::vector<uint32_t>* out, uint32_t* next);
  Code Fault(std::string text);

  DatStream stream_;
  uint32_t firstFree_ = 0;
  bool readValid_ = false;
  uint32_t readFirst_ = 0;
  // The buffer as the last Read (or Write) left it: readCopy_, then readPad_ up to readSize_.
  std::string readCopy_;
  size_t readSize_ = 0;
  char readPad_ = ' ';
  // Remembers buf[0, n) of which the bytes from used on are all pad.
  void Remember(uint32_t first, const char* buf, size_t used, size_t n, char pad);
  // Whether buf[0, n) is what was remembered.
  bool SameAsRemembered(const char* buf, size_t n) const;
  std::string fault_;
};

}  // namespace korawin::storage::dat

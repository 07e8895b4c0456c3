#include "storage/dat/memo_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

#include "platform/field_codec.h"
#include "platform/paths.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

std::string Num(uint64_t n) { return std::to_string(n); }

}  // namespace

uint16_t Crc16Arc(const void* data, size_t n, uint16_t crc) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ p[i]) & 0xFF]);
  return crc;
}

std::string MemoFileName(const std::string& dataPath) {
  return platform::ReplaceExtension(dataPath, ".MEM");
}

namespace {

// Whether the n bytes at p are all c.
bool AllBytes(const char* p, size_t n, char c) {
  return n == 0 || (p[0] == c && std::memcmp(p, p + 1, n - 1) == 0);
}

}  // namespace

size_t MemoLength(const char* text, size_t n, bool binary) {
  const char pad = binary ? '\0' : ' ';
  return platform::TrimTrailing(std::string_view(text, n), std::string_view(&pad, 1)).size();
}

uint16_t MemoFile::read_check() const {
  if (!readValid_) return 0;
  uint16_t crc = Crc16Arc(readCopy_.data(), readCopy_.size());
  for (size_t i = readCopy_.size(); i < readSize_; ++i) crc = Crc16Arc(&readPad_, 1, crc);
  return crc;
}

bool MemoFile::Remembered(uint32_t first, size_t n, std::string* text) const {
  if (!readValid_ || readFirst_ != first || readSize_ != n) return false;
  *text = readCopy_;
  text->resize(n, readPad_);
  return true;
}

void MemoFile::Remember(uint32_t first, const char* buf, size_t used, size_t n, char pad) {
  readFirst_ = first;
  readCopy_.assign(buf, std::min(used, n));
  readSize_ = n;
  readPad_ = pad;
  readValid_ = true;
}

bool MemoFile::SameAsRemembered(const char* buf, size_t n) const {
  return readValid_ && readSize_ == n &&
         std::memcmp(readCopy_.data(), buf, readCopy_.size()) == 0 &&
         AllBytes(buf + readCopy_.size(), n - readCopy_.size(), readPad_);
}

bool MemoFile::UnchangedText(uint32_t first, const char* buf, size_t n, bool binary) const {
  if (!Unchanged(first, buf, n)) return false;
  // buf is the remembered text followed by the read's pad: its length is the text's, unless
  // that pad is not the pad of this kind of memo.
  if (readPad_ != (binary ? '\0' : ' ') && n > readCopy_.size()) return true;
  return MemoLength(readCopy_.data(), readCopy_.size(), binary) != 0;
}

Code MemoFile::Create(const std::string& path) {
  Close();
  int err = stream_.Create(path);
  if (err) return err;
  err = WriteHeader(0);
  if (err) stream_.Close();
  return err;
}

Code MemoFile::Open(const std::string& path, unsigned mode) {
  Close();
  int err = stream_.Open(platform::ResolveExisting(path), mode);
  if (err == kErrFileNotFound || err == kErrPathNotFound) return kErrMemoMissing;
  if (err) return err;
  err = ReadHeader();
  if (err) stream_.Close();
  return err;
}

void MemoFile::Close() {
  stream_.Close();
  firstFree_ = 0;
  ForgetRead();
  fault_.clear();
}

void MemoFile::ForgetRead() {
  readValid_ = false;
  readFirst_ = 0;
  readCopy_.clear();
}

uint32_t MemoFile::BlockCount() {
  uint64_t size = stream_.Size();
  if (size <= kMemoHeaderSize) return 0;
  uint64_t blocks = (size - kMemoHeaderSize) / kMemoBlockSize;
  return blocks > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(blocks);
}

Code MemoFile::Reload() {
  if (!is_open()) return kErrFileNotOpen;
  return ReadHeader();
}

Code MemoFile::ReadHeader() {
  unsigned char h[kMemoHeaderSize];
  int err = stream_.Read(0, h, sizeof h, kErrMemoMissing);
  if (err) return err == kErrMemoMissing ? err : kErrMemoMissing;
  if (Get16(h) != kMemoSignature) return kErrInvalidMemoFile;
  firstFree_ = Get32(h + 2);
  return 0;
}

Code MemoFile::WriteHeader(uint32_t firstFree) {
  unsigned char h[kMemoHeaderSize];
  Put16(h, kMemoSignature);
  Put32(h + 2, firstFree);
  int err = stream_.Write(0, h, sizeof h);
  if (err == 0) firstFree_ = firstFree;
  return err;
}

Code MemoFile::ReadLink(uint32_t block, uint32_t* link) {
  unsigned char b[kMemoLinkSize];
  int err = stream_.Read(BlockOffset(block), b, sizeof b);
  if (err) return err;
  *link = Get32(b);
  return 0;
}

Code MemoFile::WriteLink(uint32_t block, uint32_t link) {
  unsigned char b[kMemoLinkSize];
  Put32(b, link);
  return stream_.Write(BlockOffset(block), b, sizeof b);
}

Code MemoFile::Fault(std::string text) {
  fault_ = std::move(text);
  return kErrInvalidMemoFile;
}

Code MemoFile::WalkChain(uint32_t first, uint32_t blockCount, size_t limit, const char* what,
                        std::vector<uint32_t>* out, uint32_t* next) {
  std::unordered_set<uint32_t> seen;
  uint32_t block = first;
  uint32_t from = 0;  // the block whose link led here
  *next = 0;
  while (block != 0 && (limit == 0 || out->size() < limit)) {
    if (block > blockCount) {
      return Fault(std::string(what) + " runs past the end of the file: " +
                   (from ? "block " + Num(from) + " links to" : "it starts at") + " block " +
                   Num(block) + ", the file has " + Num(blockCount) + " blocks");
    }
    if (!seen.insert(block).second)
      return Fault(std::string(what) + " loops: block " + Num(from) + " links back to block " +
                   Num(block));
    out->push_back(block);
    uint32_t link = 0;
    int err = ReadLink(block, &link);
    if (err) return err;
    from = block;
    block = link;
  }
  *next = block;
  return 0;
}

Code MemoFile::Read(uint32_t firstBlock, char* buf, size_t n) {
  fault_.clear();
  ForgetRead();
  // Whatever the chain gives, the rest of the buffer is blank, also when the read fails.
  size_t done = 0;
  struct Blanker {
    char* buf;
    const size_t& done;
    size_t n;
    ~Blanker() { std::memset(buf + done, ' ', n - done); }
  } blanker{buf, done, n};
  const uint32_t blockCount = firstBlock ? BlockCount() : 0;
  std::vector<uint32_t> seen;  // a memo spans few blocks
  unsigned char block[kMemoBlockSize];
  uint32_t at = firstBlock;
  uint32_t from = 0;
  while (at != 0 && done < n) {
    if (at > blockCount)
      return Fault("memo chain from block " + Num(firstBlock) + " runs past the end of the file: " +
                   (from ? "block " + Num(from) + " links to" : "it starts at") + " block " +
                   Num(at) + ", the file has " + Num(blockCount) + " blocks");
    if (std::find(seen.begin(), seen.end(), at) != seen.end())
      return Fault("memo chain from block " + Num(firstBlock) + " loops: block " + Num(from) +
                   " links back to block " + Num(at));
    seen.push_back(at);
    int err = stream_.Read(BlockOffset(at), block, sizeof block);
    if (err) return err;
    size_t take = std::min<size_t>(kMemoBlockData, n - done);
    std::memcpy(buf + done, block + kMemoLinkSize, take);
    done += take;
    from = at;
    at = Get32(block);
  }
  Remember(firstBlock, buf, done, n, ' ');
  return 0;
}

Code MemoFile::Write(uint32_t currentFirst, const char* buf, size_t n, bool binary,
                    uint32_t* newFirst) {
  fault_.clear();
  *newFirst = currentFirst;
  if (stream_.read_only()) return kErrAccessDenied;
  const size_t length = MemoLength(buf, n, binary);

  if (length == 0) {
    if (currentFirst != 0) {
      int err = Free(currentFirst);
      // A chain that can't be walked stays lost; the record simply has no memo any more.
      if (err && err != kErrInvalidMemoFile) return err;
    }
    *newFirst = 0;
    ForgetRead();
    return 0;
  }

  // Decide "unchanged" by the bytes: two texts may share a check value.
  if (Unchanged(currentFirst, buf, n)) return 0;

  const uint32_t blockCount = BlockCount();
  const size_t needed = (length + kMemoBlockData - 1) / kMemoBlockData;

  // The record's old chain. A damaged chain is reused up to the damage and never freed.
  std::vector<uint32_t> old;
  bool oldSound = true;
  if (currentFirst != 0) {
    uint32_t next = 0;
    int err = WalkChain(currentFirst, blockCount, 0, "memo chain", &old, &next);
    if (err == kErrInvalidMemoFile) oldSound = false;
    else if (err) return err;
  }
  std::vector<uint32_t> blocks(old.begin(), old.begin() + std::min(needed, old.size()));
  std::vector<uint32_t> surplus;
  if (oldSound && old.size() > needed) surplus.assign(old.begin() + needed, old.end());

  // Then the head of the free chain. A free block that is also in the old chain, or a damaged
  // free chain, ends the free chain there: its rest is lost rather than handed out twice.
  uint32_t freeHead = firstFree_;
  if (blocks.size() < needed && freeHead != 0) {
    std::vector<uint32_t> taken;
    uint32_t next = 0;
    int err = WalkChain(freeHead, blockCount, needed - blocks.size(), "free chain", &taken, &next);
    if (err && err != kErrInvalidMemoFile) return err;
    if (err) next = 0;
    for (size_t i = 0; i < taken.size(); ++i) {
      if (std::find(old.begin(), old.end(), taken[i]) != old.end()) {
        fault_ = "free chain shares block " + Num(taken[i]) + " with a memo chain";
        taken.resize(i);
        next = 0;
        break;
      }
    }
    if (next > blockCount) next = 0;
    blocks.insert(blocks.end(), taken.begin(), taken.end());
    freeHead = next;
  }

  // Then new blocks at the end of the file.
  for (uint32_t b = blockCount + 1; blocks.size() < needed; ++b) blocks.push_back(b);

  // Take the free blocks off the free chain before using them: should a later write fail,
  // they are lost, never handed out twice.
  if (freeHead != firstFree_) {
    int err = WriteHeader(freeHead);
    if (err) return err;
  }

  // Write the chain, one write per run of consecutive blocks; the last block links 0.
  std::string run;
  for (size_t i = 0; i < needed;) {
    size_t j = i;
    run.clear();
    do {
      unsigned char block[kMemoBlockSize];
      Put32(block, j + 1 < needed ? blocks[j + 1] : 0);
      size_t off = j * kMemoBlockData;
      size_t take = std::min<size_t>(kMemoBlockData, length - off);
      std::memcpy(block + kMemoLinkSize, buf + off, take);
      std::memset(block + kMemoLinkSize + take, ' ', kMemoBlockData - take);
      run.append(reinterpret_cast<const char*>(block), sizeof block);
      ++j;
    } while (j < needed && blocks[j] == blocks[j - 1] + 1);
    int err = stream_.Write(BlockOffset(blocks[i]), run.data(), run.size());
    if (err) {
      ForgetRead();
      return err;
    }
    i = j;
  }

  // The shrunk chain's surplus goes to the head of the free chain.
  if (!surplus.empty()) {
    int err = PushFree(surplus.front(), surplus.back());
    if (err) return err;
  }

  *newFirst = blocks.front();
  Remember(*newFirst, buf, length, n, binary ? '\0' : ' ');
  return 0;
}

Code MemoFile::Free(uint32_t firstBlock) {
  fault_.clear();
  if (firstBlock == 0) return 0;
  if (stream_.read_only()) return kErrAccessDenied;
  std::vector<uint32_t> chain;
  uint32_t next = 0;
  int err = WalkChain(firstBlock, BlockCount(), 0, "memo chain", &chain, &next);
  if (err) return err;
  if (readFirst_ == firstBlock) ForgetRead();
  return PushFree(firstBlock, chain.back());
}

Code MemoFile::PushFree(uint32_t first, uint32_t last) {
  int err = WriteLink(last, firstFree_);
  if (err) return err;
  err = WriteHeader(first);
  // Without the header the chain must end again, or its memo would run into the free chain.
  if (err) (void)WriteLink(last, 0);  // best effort; the header's error is the one reported
  return err;
}

Code MemoFile::Empty() {
  fault_.clear();
  if (stream_.read_only()) return kErrAccessDenied;
  ForgetRead();
  int err = WriteHeader(0);
  if (err) return err;
  return stream_.Truncate(kMemoHeaderSize);
}

Code MemoFile::Check(const std::vector<MemoOwner>& owners, MemoCheckResult* result) {
  *result = MemoCheckResult();
  fault_.clear();
  int err = ReadHeader();
  if (err == kErrInvalidMemoFile) {
    result->fault = "the memo file's signature is wrong";
    return err;
  }
  if (err) {
    result->fault = "the memo file's header can't be read";
    return err;
  }
  const uint32_t blockCount = BlockCount();
  result->blocks = blockCount;
  // Owner of each block: 0 none, kFree the free chain, else the record number.
  constexpr uint32_t kFree = UINT32_MAX;
  std::vector<uint32_t> owner(static_cast<size_t>(blockCount) + 1, 0);
  auto fail = [&](std::string text) {
    result->fault = std::move(text);
    fault_ = result->fault;
    return kErrInvalidMemoFile;
  };
  auto walk = [&](uint32_t first, uint32_t who, const std::string& what, uint32_t* count) -> int {
    uint32_t from = 0;
    for (uint32_t b = first; b != 0;) {
      if (b > blockCount)
        return fail(what + " runs past the end of the file: " +
                    (from ? "block " + Num(from) + " links to" : "it starts at") + " block " +
                    Num(b) + ", the file has " + Num(blockCount) + " blocks");
      if (owner[b] == who)
        return fail(what + " loops: block " + Num(from) + " links back to block " + Num(b));
      if (owner[b] == kFree)
        return fail(what + " uses block " + Num(b) + ", which is on the free chain");
      if (owner[b] != 0)
        return fail(what + " uses block " + Num(b) + ", which belongs to the memo of record " +
                    Num(owner[b]));
      owner[b] = who;
      ++*count;
      uint32_t link = 0;
      int e = ReadLink(b, &link);
      if (e) return e;
      from = b;
      b = link;
    }
    return 0;
  };
  err = walk(firstFree_, kFree, "the free chain", &result->freeBlocks);
  if (err) return err;
  for (const MemoOwner& o : owners) {
    if (o.firstBlock == 0) continue;
    err = walk(o.firstBlock, o.record, "the memo chain of record " + Num(o.record),
               &result->usedBlocks);
    if (err) return err;
  }
  result->lostBlocks = blockCount - result->usedBlocks - result->freeBlocks;
  return 0;
}

}  // namespace korawin::storage::dat

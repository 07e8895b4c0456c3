// One key file: a B+-tree of 512-byte pages whose leaf entries pair an encoded key value with
// a record number. Entries are ordered by value, then by record number (unsigned). Every read
// and write goes through a DatStream so that the transaction journal sees the changes; every
// page read is checked, and a page that lies gives 46, never a crash or an endless walk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/dat/dat_io.h"
#include "storage/dat/key_build.h"
#include "storage/dat/key_codec.h"
#include "storage/dat/page_cache.h"

namespace korawin::storage::dat {

// The 35-byte header at offset 0 of a key file.
struct KeyFileHeader {
  uint32_t root = 1;
  uint32_t entries = 0;
  uint32_t pages = 1;       // highest page number in use
  uint32_t lastLeaf = 1;
  uint32_t word16 = 0;      // kept by other writers; read, written back as 0
  uint32_t word20 = 0;
  uint32_t firstFree = 0;   // head of the chain of freed pages
  uint8_t flags = 0;
  uint8_t entriesPerPage = 0;
  uint8_t components = 0;
  uint16_t entryLength = 0;
  uint16_t levels = 1;      // 1: the root is a leaf

  static constexpr size_t kSize = 35;
  void Decode(const unsigned char* b);
  void Encode(unsigned char* b) const;
};

// Where a search ended.
enum class SearchResult { kFound = 0, kBefore = 1, kPastEnd = 2 };

class KeyFile {
 public:
  KeyFile() = default;
  ~KeyFile() { Close(); }
  KeyFile(const KeyFile&) = delete;
  KeyFile& operator=(const KeyFile&) = delete;

  // Creates (or truncates) an empty key file of the given shape and leaves it open for read and
  // write: header with root 1, one empty leaf, file of 1024 bytes. Without empty the file is
  // left for a Build to write every page once, over the old file's bytes: its header is
  // cleared at once, so that until Build writes the new one the file reads as needing a rebuild.
  Code Create(const std::string& path, const KeyShape& shape, bool empty = true);
  // Opens an existing key file with a driver access mode and checks it against the shape: 46
  // when missing, short or different. liveRecords >= 0 also checks the entry count (equal, or
  // for an OPT key not above it); -1 skips that check (IGNORECORRUPTIONS).
  Code Open(const std::string& path, unsigned mode, const KeyShape& shape, int64_t liveRecords);
  void Close();
  bool is_open() const { return stream_.is_open(); }
  // Recreates the open file empty (EMPTY of the data file); the position is lost.
  Code Empty();

  // The stream of the file, for the journal's observer.
  DatStream& stream() { return stream_; }
  const KeyFileHeader& header() const { return h_; }
  const KeyShape& shape() const { return shape_; }

  // Whether other stations may change the file between calls (set by Open from the sharing
  // mode; CREATE opens shared). Every call on a shared file reads the header and the pages it
  // needs again, from the file's mapping where it has one (platform::File); a walk finds its
  // entry where it left it without a search from the root.
  void set_shared(bool shared) { shared_ = shared; }
  // Whether each header write is followed by a flush to the disk (on by default; off in a
  // STREAM batch). With defer also set, the header of a file no other station shares and no
  // transaction watches is written only at the next Flush, Close or switch back on.
  void set_flush_headers(bool on, bool defer = false);
  // While the data file's header lock is held the header is read once; outside that span a
  // shared file reads it again (and forgets its cached pages) at each call.
  void BeginHeaderCache();
  void EndHeaderCache();
  // Writes what a batch put off (pages, then the header); flushes the file to the disk.
  Code Flush();
  // Writes what a batch put off, without a flush.
  Code WriteWaiting();
  // Forgets the cached header, pages, position and held entries (after a rollback rewrote the
  // file).
  void Invalidate();

  // The number of entries (RECORDSkey).
  Code Entries(uint32_t* count);

  // Finds (value, recno); recno 0 matches any record. Positions on the entry when found, else
  // before the first greater entry (or past the end). Codes: 0, 46, I/O codes.
  Code Search(const unsigned char* value, uint32_t recno, SearchResult* result);
  // Like Search, but always positions before the entry found, so that Next reads it.
  Code Seek(const unsigned char* value, uint32_t recno, SearchResult* result);
  // Whether an entry with this value exists, without moving the position; *recno receives the
  // record number of the first such entry.
  Code Lookup(const unsigned char* value, bool* found, uint32_t* recno);
  // Positions before the first entry or after the last one.
  void SetToStart();
  void SetToEnd();
  // Moves to the next (previous) entry in key order: 33 past either end.
  Code Next();
  Code Previous();
  // Positions on the n-th entry (from 1): 33 when there is none.
  Code SeekNth(uint64_t n);
  // The entry the position is on: 33 when it is on none.
  bool has_current() const { return cursor_ == Cursor::kOn; }
  // The record number of the entry after (before) the current one when it lies on the same
  // cached leaf; 0 when that isn't known without reading. Moves nothing.
  uint32_t PeekRecno(bool forward) const;
  Code Current(std::string* value, uint32_t* recno) const;

  // What the caller of Insert knows: that the key holds no entry of the value yet (a key
  // without DUP it has just checked under the same lock), and that recno is above every record
  // number in the key (a record added at the end of its file), so that the entry goes after
  // every other of its value without looking at their record numbers.
  struct InsertHint {
    bool checked;
    bool last;
  };
  // Adds an entry. 40 when a key without DUP already holds the value (or the same entry
  // exists); nothing is written then. In a batch on a file no other station shares, an entry
  // of a DUP key known to come last in its run is held in memory instead, with the others
  // held so far: they go into the tree together, in key order, at the next other operation on
  // the file (or when they pass a memory bound). Into an empty tree, or one they are a good
  // part of, they go as Build lays a tree out.
  Code Insert(const unsigned char* value, uint32_t recno, InsertHint hint = {});
  // Puts the held entries into the tree. A failure loses them: the key then answers 46 and
  // its header is cleared, so that this open and the next ask for a rebuild.
  Code ApplyHeld();
  // Removes the entry (value, recno); 35 when it is not there.
  Code Remove(const unsigned char* value, uint32_t recno);

  // Rewrites the file from the builder's entries: sorted by value and record number, pages
  // written in order, levels built bottom-up. For a key without DUP, equal values write the
  // report file at reportPath (when not empty) and give 40, leaving the key file empty;
  // describe turns a record number into the text shown for its value. order, when given, is
  // the order SortedOrder or Sort gave, worked out beforehand.
  Code Build(KeyBuilder& builder, const std::string& reportPath,
            const std::function<std::string(uint32_t)>& describe = nullptr,
            std::vector<uint32_t>* order = nullptr);

  // Walks the whole tree and the free chain. 0 when sound, else 46 with the first fault found
  // described in *fault.
  Code Check(std::string* fault);

 private:
  using Page = PageCache::Page;
  struct Step {
    uint32_t page;
    int idx;
  };
  using Path = std::vector<Step>;
  enum class Cursor { kNone, kStart, kEnd, kOn, kBefore };

  Code Prepare();
  Code ReadHeader();
  Code WriteHeader();
  Code ReadPage(uint32_t n, Page** page);
  Page* NewPage(uint32_t n) { return cache_.Fresh(n); }
  Code WritePage(uint32_t n, Page* page);
  Code AllocPage(uint32_t* n);
  // A batch on a file no other station shares: key entries may wait in memory.
  bool Batch() const { return !flushHeaders_ && deferHeaders_ && !shared_; }
  // Whether writes may wait in the cache: a batch that no transaction watches.
  bool WriteBack() const { return Batch() && !stream_.observer(); }
  // Writes the pages that wait in the cache, runs of consecutive pages in one write each.
  Code FlushPages();
  // Forgets every cached page; pages that still wait are written first.
  Code DropCache();
  // Forgets every cached page, written or not (the file is being rewritten from scratch).
  void DiscardCache();
  Code WriteHeaderNow();

  unsigned char* Entry(Page* p, int i) const { return p->b + kPageHeaderSize + i * entryLength_; }
  int CompareEntry(const unsigned char* e, const unsigned char* v, uint32_t r) const;
  int LeafLowerBound(Page* p, const unsigned char* v, uint32_t r) const;
  // lastOfValue: (v, r) comes after every entry of the value v (see InsertHint::last).
  Code Descend(const unsigned char* v, uint32_t r, Path* path, bool lastOfValue = false);
  Code LastEntryBelow(uint32_t page, int level, const unsigned char** entry);
  Code MoveRight(Path* path);
  Code MoveRightAt(int level, Path* path);
  Code ShiftRight(int level, const Path& path, const unsigned char* entry, bool* done);
  Code SetKeyAbove(int level, const Path& path, const unsigned char* key);
  Code FirstLeaf(uint32_t* leaf);
  Code LocateCursor(uint32_t* leaf, int* idx);
  Code PlaceCursor(const Path& path, SearchResult* result, bool before,
                  const unsigned char* v, uint32_t r);
  void SetOn(Page* p, uint32_t leaf, int idx);
  Code CrossTo(uint32_t from, uint32_t to, bool forward, Page** page);

  // Puts the entries of held into the tree (see ApplyHeld).
  Code PutIn(KeyBuilder& held);
  // Insert without holding the entry.
  Code InsertNow(const unsigned char* value, uint32_t recno, InsertHint hint);
  Code InsertAt(int level, Path& path, const unsigned char* entry);
  Code RaiseKey(int level, const Path& path, const unsigned char* key);
  Code RemoveAt(int level, Path& path);
  Code LowerKey(int level, const Path& path, const unsigned char* key);
  Code WriteEmpty();
  // Writes a header page of zeros, which no open takes for a key file; flushed when flush and
  // headers are flushed.
  Code ClearHeader(bool flush);
  // Sets the header and the cache up for the shape, as for a file with no entries.
  void SetShape();

  DatStream stream_;
  std::string path_;
  KeyShape shape_;
  KeyFileHeader h_;
  uint32_t keyLength_ = 0;
  uint32_t entryLength_ = 0;
  uint32_t epp_ = 0;
  bool shared_ = false;
  bool headerCached_ = false;
  bool headerFresh_ = false;
  bool flushHeaders_ = true;
  bool headerDirty_ = false;  // a header write put off in a batch
  bool deferHeaders_ = false;
  PageCache cache_;
  HeldEntries held_{0};  // entries held in a batch (see Insert), in the order they came
  bool lost_ = false;   // held entries could not be put in: the key must be rebuilt

  Cursor cursor_ = Cursor::kNone;
  std::string curValue_;
  uint32_t curRecno_ = 0;
  uint32_t curLeaf_ = 0;
  int curIdx_ = 0;
  uint64_t curGeneration_ = ~uint64_t{0};
  uint64_t crossings_ = 0;  // leaf changes in one direction: a walk can't go round in circles
  bool crossingForward_ = true;
};

}  // namespace korawin::storage::dat

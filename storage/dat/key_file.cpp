#include "storage/dat/key_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "platform/paths.h"

namespace korawin::storage::dat {

namespace {

// Pages kept between calls of a file no other station changes (8 MB). A key of long values
// holds two entries a page, so its tree is deep and its inner pages are worth keeping.
constexpr size_t kCacheLimit = 16384;
// Bytes a key's entries take, held short in a batch, before they go into its tree (4 MB),
// and what they take whole once they go (32 MB: blank values are held in a few bytes each).
constexpr size_t kHeldLimit = 4u << 20;
constexpr size_t kHeldWholeLimit = 32u << 20;
constexpr uint64_t kPagesAheadOfFile = 65536;
constexpr uint16_t kMaxLevels = 64;

uint8_t Count(const unsigned char* p) { return p[0]; }
uint32_t NextOf(const unsigned char* p) { return Get32(p + 1); }
uint32_t PrevOf(const unsigned char* p) { return Get32(p + 5); }
void SetNext(unsigned char* p, uint32_t n) { Put32(p + 1, n); }
void SetPrev(unsigned char* p, uint32_t n) { Put32(p + 5, n); }

}  // namespace

#define KEY_TRY(expr)          \
  do {                         \
    int rc_ = (expr);          \
    if (rc_ != 0) return rc_;  \
  } while (0)

void KeyFileHeader::Decode(const unsigned char* b) {
  root = Get32(b);
  entries = Get32(b + 4);
  pages = Get32(b + 8);
  lastLeaf = Get32(b + 12);
  word16 = Get32(b + 16);
  word20 = Get32(b + 20);
  firstFree = Get32(b + 24);
  flags = b[28];
  entriesPerPage = b[29];
  components = b[30];
  entryLength = Get16(b + 31);
  levels = Get16(b + 33);
}

void KeyFileHeader::Encode(unsigned char* b) const {
  Put32(b, root);
  Put32(b + 4, entries);
  Put32(b + 8, pages);
  Put32(b + 12, lastLeaf);
  Put32(b + 16, word16);
  Put32(b + 20, word20);
  Put32(b + 24, firstFree);
  b[28] = flags;
  b[29] = entriesPerPage;
  b[30] = components;
  Put16(b + 31, entryLength);
  Put16(b + 33, levels);
}

// ---- Opening and closing -------------------------------------------------------------------

Code KeyFile::Create(const std::string& path, const KeyShape& shape, bool empty) {
  Close();
  KEY_TRY(stream_.Create(path, /*keepBytes=*/!empty));
  path_ = path;
  shape_ = shape;
  shared_ = true;  // CREATE opens with sharing 0x40
  if (empty) return WriteEmpty();
  SetShape();
  return ClearHeader(/*flush=*/false);  // Build clears it again, flushed
}

Code KeyFile::ClearHeader(bool flush) {
  const unsigned char cleared[kPageSize] = {};
  KEY_TRY(stream_.Write(0, cleared, sizeof cleared));
  if (flush && flushHeaders_) KEY_TRY(stream_.Sync());
  return 0;
}

void KeyFile::SetShape() {
  keyLength_ = shape_.keyLength;
  entryLength_ = shape_.entry_length();
  epp_ = shape_.entries_per_page();
  h_ = KeyFileHeader();
  h_.flags = shape_.flags;
  h_.entriesPerPage = static_cast<uint8_t>(epp_);
  h_.components = shape_.componentCount;
  h_.entryLength = static_cast<uint16_t>(entryLength_);
  held_ = HeldEntries(keyLength_);
  lost_ = false;
  DiscardCache();
  cursor_ = Cursor::kNone;
  headerDirty_ = false;
}

Code KeyFile::WriteEmpty() {
  SetShape();
  unsigned char buf[2 * kPageSize] = {};
  h_.Encode(buf);
  KEY_TRY(stream_.Truncate(0));
  KEY_TRY(stream_.Write(0, buf, sizeof buf));
  if (flushHeaders_) KEY_TRY(stream_.Sync());
  return 0;
}

Code KeyFile::Empty() {
  if (!is_open()) return kErrFileNotOpen;
  return WriteEmpty();
}

Code KeyFile::Open(const std::string& path, unsigned mode, const KeyShape& shape,
                  int64_t liveRecords) {
  Close();
  int rc = stream_.Open(platform::ResolveExisting(path), mode);
  if (rc == kErrFileNotFound || rc == kErrPathNotFound) return kErrKeyRebuild;
  if (rc) return rc;
  path_ = path;
  shape_ = shape;
  held_ = HeldEntries(shape.keyLength);
  lost_ = false;
  shared_ = (mode & 0x70) == kShareDenyNone;
  // A file no one else changes is read through the page cache above, which keeps what it
  // reads: a mapping would keep every page read a second time, resident, for as long as the
  // file stays open. A shared file drops that cache often and is read through its mapping.
  if (!shared_) stream_.file().ReadWithoutMapping();
  rc = ReadHeader();
  if (rc == 0) {
    Page* root;
    rc = ReadPage(h_.root, &root);
  }
  if (rc == 0 && liveRecords >= 0) {
    uint64_t live = static_cast<uint64_t>(liveRecords);
    bool bad = shape_.opt() ? h_.entries > live : h_.entries != live;
    if (bad) rc = kErrKeyRebuild;
  }
  if (rc) {
    Close();
    return rc == kErrReadFault ? kErrKeyRebuild : rc;
  }
  return 0;
}

void KeyFile::Close() {
  if (stream_.is_open()) (void)ApplyHeld();  // a failure shows at the next OPEN
  if (stream_.is_open() && (headerDirty_ || cache_.has_dirty()))
    (void)WriteHeaderNow();  // a failure shows at the next OPEN
  headerDirty_ = false;
  DiscardCache();
  stream_.Close();
  cursor_ = Cursor::kNone;
  headerCached_ = headerFresh_ = false;
}

Code KeyFile::ReadHeader() {
  unsigned char b[KeyFileHeader::kSize];
  int rc = stream_.Read(0, b, sizeof b, kErrKeyRebuild);
  if (rc) return rc;
  KeyFileHeader h;
  h.Decode(b);
  const uint8_t kCompared = kKeyFlagDup | kKeyFlagNoCase | kKeyFlagNotOpt;
  if (h.components != shape_.componentCount || h.entryLength != shape_.entry_length() ||
      (h.flags & kCompared) != (shape_.flags & kCompared))
    return kErrKeyRebuild;
  // A page count far past the file's end is a lie (a station between its page and header
  // writes is never that far ahead); believing it would size the page cache by it.
  uint64_t size = stream_.file().size_seen();
  if (h.pages > size / kPageSize + kPagesAheadOfFile) {
    // Only then ask the system: a shared file is read at every call.
    if (stream_.Size(&size) != 0) return kErrKeyRebuild;
    if (h.pages > size / kPageSize + kPagesAheadOfFile) return kErrKeyRebuild;
  }
  // A file written elsewhere may pack its pages differently; take its count if it fits.
  uint32_t epp = h.entriesPerPage;
  if (epp == 0 || kPageHeaderSize + epp * h.entryLength > kPageSize) return kErrKeyRebuild;
  if (h.pages == 0 || h.root == 0 || h.root > h.pages || h.lastLeaf == 0 ||
      h.lastLeaf > h.pages || h.firstFree > h.pages || h.levels == 0 || h.levels > kMaxLevels)
    return kErrKeyRebuild;
  h_ = h;
  keyLength_ = shape_.keyLength;
  entryLength_ = h.entryLength;
  epp_ = epp;
  return 0;
}

void KeyFile::set_flush_headers(bool on, bool defer) {
  // A failure shows at the next write or Flush.
  if (on && is_open()) (void)ApplyHeld();
  flushHeaders_ = on;
  deferHeaders_ = !on && defer;
  if (on && (headerDirty_ || cache_.has_dirty())) (void)WriteHeaderNow();
}

Code KeyFile::WriteWaiting() {
  KEY_TRY(ApplyHeld());
  return headerDirty_ || cache_.has_dirty() ? WriteHeaderNow() : Code(0);
}

Code KeyFile::Flush() {
  KEY_TRY(ApplyHeld());
  if (headerDirty_ || cache_.has_dirty()) KEY_TRY(WriteHeaderNow());
  return stream_.Sync();
}

Code KeyFile::WriteHeader() {
  if (WriteBack()) {
    headerDirty_ = true;
    return 0;
  }
  return WriteHeaderNow();
}

Code KeyFile::WriteHeaderNow() {
  if (lost_) return kErrKeyRebuild;
  KEY_TRY(FlushPages());  // the pages first: the header never names pages not yet written
  headerDirty_ = false;
  unsigned char b[KeyFileHeader::kSize];
  KeyFileHeader h = h_;
  h.word16 = h.word20 = 0;
  h.Encode(b);
  KEY_TRY(stream_.Write(0, b, sizeof b));
  if (flushHeaders_) KEY_TRY(stream_.Sync());
  return 0;
}

void KeyFile::BeginHeaderCache() {
  headerCached_ = true;
  headerFresh_ = false;
}

void KeyFile::EndHeaderCache() { headerCached_ = headerFresh_ = false; }

void KeyFile::Invalidate() {
  held_ = HeldEntries(shape_.keyLength);
  lost_ = false;  // the rollback took the records that lost their entries away too
  DiscardCache();
  headerFresh_ = false;
  cursor_ = Cursor::kNone;
  if (is_open()) (void)ReadHeader();  // a failure shows at the next call that reads
}

Code KeyFile::FlushPages() {
  return cache_.Flush([this](uint64_t pos, const void* bytes, size_t n) {
    return stream_.Write(pos, bytes, n);
  });
}

Code KeyFile::DropCache() {
  Code rc = FlushPages();
  DiscardCache();
  return rc;
}

void KeyFile::DiscardCache() { cache_.Clear(); }

// Called at the start of every public operation.
Code KeyFile::Prepare() {
  if (!is_open()) return kErrFileNotOpen;
  if (lost_) return kErrKeyRebuild;
  if (held_.size() != 0) KEY_TRY(ApplyHeld());
  if (shared_ && !(headerCached_ && headerFresh_)) {
    // Another station may have changed the tree since the last call: the header and the pages
    // are read again (from the file's mapping, where it has one, at the cost of a copy).
    KEY_TRY(DropCache());
    int rc = ReadHeader();
    if (rc) return rc == kErrReadFault ? kErrKeyRebuild : rc;
    headerFresh_ = headerCached_;
  } else if (cache_.size() > kCacheLimit) {
    KEY_TRY(FlushPages());
    // Every other page goes, the root stays; nothing holds a page between calls.
    cache_.EvictHalf(h_.root);
  } else if (cache_.has_dirty() && !WriteBack()) {
    KEY_TRY(FlushPages());
  }
  return 0;
}

Code KeyFile::Entries(uint32_t* count) {
  KEY_TRY(Prepare());
  *count = h_.entries;
  return 0;
}

// ---- Pages ---------------------------------------------------------------------------------

Code KeyFile::ReadPage(uint32_t n, Page** page) {
  if (n == 0 || n > h_.pages) return kErrKeyRebuild;
  if (Page* cached = cache_.Find(n)) {
    *page = cached;
    return 0;
  }
  // Read before the page takes a cache slot: a page number past the file's end is refused
  // without sizing the cache by it.
  unsigned char b[kPageSize];
  int rc = stream_.Read(static_cast<uint64_t>(n) * kPageSize, b, kPageSize, kErrKeyRebuild);
  if (rc) return rc;
  if (Count(b) > epp_) return kErrKeyRebuild;
  Page* p = cache_.Put(n);
  std::memcpy(p->b, b, kPageSize);
  *page = p;
  return 0;
}

Code KeyFile::WritePage(uint32_t n, Page* page) {
  std::memset(page->b + 9, 0, 4);  // the page word kept by other writers
  if (WriteBack()) {
    // The page waits in the cache until the batch ends or the cache sheds pages.
    cache_.MarkDirty(n, page);
    return 0;
  }
  return stream_.Write(static_cast<uint64_t>(n) * kPageSize, page->b, kPageSize);
}

Code KeyFile::AllocPage(uint32_t* n) {
  if (h_.firstFree != 0) {
    Page* f;
    KEY_TRY(ReadPage(h_.firstFree, &f));
    uint32_t next = NextOf(f->b);
    if (next > h_.pages || next == h_.firstFree) return kErrKeyRebuild;
    *n = h_.firstFree;
    h_.firstFree = next;
    NewPage(*n);
    return 0;
  }
  if (h_.pages == UINT32_MAX) return kErrKeyRebuild;
  *n = ++h_.pages;
  NewPage(*n);
  return 0;
}

// ---- Searching -----------------------------------------------------------------------------

int KeyFile::CompareEntry(const unsigned char* e, const unsigned char* v, uint32_t r) const {
  int c = std::memcmp(e + 4, v, keyLength_);
  if (c) return c;
  uint32_t er = Get32(e);
  return er < r ? -1 : er > r ? 1 : 0;
}

// The first entry of a leaf not less than (v, r).
int KeyFile::LeafLowerBound(Page* p, const unsigned char* v, uint32_t r) const {
  int lo = 0, hi = Count(p->b);
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (CompareEntry(Entry(p, mid), v, r) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// Walks from the root to the leaf position of the first entry not less than (v, r), recording
// the entry taken at each level. At the end of a leaf the walk goes on into the next one, so
// the position is either on an entry or past the last entry of the last leaf.
Code KeyFile::Descend(const unsigned char* v, uint32_t r, Path* path, bool lastOfValue) {
  path->assign(h_.levels, Step{0, 0});
  uint32_t page = h_.root;
  for (int level = 0; level + 1 < h_.levels; ++level) {
    Page* p;
    KEY_TRY(ReadPage(page, &p));
    int count = Count(p->b);
    if (count == 0) return kErrKeyRebuild;
    int lo = 0, hi = count;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (std::memcmp(Entry(p, mid) + 4, v, keyLength_) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    // A run of children whose highest value equals v (a DUP key with a common value): the
    // first child whose highest entry is not below (v, r), so that an insert or a positioned
    // search doesn't walk the run's leaves one by one.
    if (r != 0 && lo < count && std::memcmp(Entry(p, lo) + 4, v, keyLength_) == 0) {
      int end = lo + 1, hiEq = count;
      while (end < hiEq) {
        int mid = (end + hiEq) / 2;
        if (std::memcmp(Entry(p, mid) + 4, v, keyLength_) == 0)
          end = mid + 1;
        else
          hiEq = mid;
      }
      // New records usually come last in their run: try the run's last child first.
      int a = lo, b = end - 1;
      if (lastOfValue) {
        a = b = end;
      } else {
        const unsigned char* runLast = nullptr;
        KEY_TRY(LastEntryBelow(Get32(Entry(p, end - 1)), level + 1, &runLast));
        if (CompareEntry(runLast, v, r) < 0) a = b = end;
      }
      while (a < b) {
        int mid = (a + b) / 2;
        const unsigned char* last = nullptr;
        KEY_TRY(LastEntryBelow(Get32(Entry(p, mid)), level + 1, &last));
        if (CompareEntry(last, v, r) < 0)
          a = mid + 1;
        else
          b = mid;
      }
      lo = a;
    }
    // Past every entry: the rightmost child; the leaf walk below finds the place.
    if (lo == count) lo = count - 1;
    (*path)[level] = Step{page, lo};
    page = Get32(Entry(p, lo));
  }
  Page* leaf;
  KEY_TRY(ReadPage(page, &leaf));
  int idx = LeafLowerBound(leaf, v, r);
  (*path)[h_.levels - 1] = Step{page, idx};
  uint32_t guard = 0;
  while (idx == Count(leaf->b) && NextOf(leaf->b) != 0) {
    if (++guard > h_.pages) return kErrKeyRebuild;
    KEY_TRY(MoveRight(path));
    KEY_TRY(ReadPage(path->back().page, &leaf));
    idx = LeafLowerBound(leaf, v, r);
    path->back().idx = idx;
  }
  return 0;
}

// The last leaf entry under page, which lies at the given level (0 is the root's).
Code KeyFile::LastEntryBelow(uint32_t page, int level, const unsigned char** entry) {
  for (;; ++level) {
    Page* p;
    KEY_TRY(ReadPage(page, &p));
    int count = Count(p->b);
    if (count == 0) return kErrKeyRebuild;
    if (level + 1 >= h_.levels) {
      *entry = Entry(p, count - 1);
      return 0;
    }
    page = Get32(Entry(p, count - 1));
  }
}

// Moves the path to the next leaf, which must be the current leaf's next link.
Code KeyFile::MoveRight(Path* path) { return MoveRightAt(h_.levels - 1, path); }

// Moves the path at level (and the steps above it) to the page that follows on that level:
// 33 when there is none.
Code KeyFile::MoveRightAt(int leafLevel, Path* path) {
  Page* leaf;
  KEY_TRY(ReadPage((*path)[leafLevel].page, &leaf));
  uint32_t target = NextOf(leaf->b);
  if (target == 0) return kErrRecordNotAvailable;
  int k = leafLevel - 1;
  for (; k >= 0; --k) {
    Page* q;
    KEY_TRY(ReadPage((*path)[k].page, &q));
    if ((*path)[k].idx + 1 < Count(q->b)) {
      ++(*path)[k].idx;
      break;
    }
  }
  if (k < 0) return kErrKeyRebuild;  // a next link the tree above doesn't know
  for (int j = k; j < leafLevel; ++j) {
    Page* q;
    KEY_TRY(ReadPage((*path)[j].page, &q));
    uint32_t child = Get32(Entry(q, (*path)[j].idx));
    (*path)[j + 1] = Step{child, 0};
    if (j + 1 < leafLevel) {
      Page* c;
      KEY_TRY(ReadPage(child, &c));
      if (Count(c->b) == 0) return kErrKeyRebuild;
    }
  }
  if ((*path)[leafLevel].page != target) return kErrKeyRebuild;
  return 0;
}

Code KeyFile::FirstLeaf(uint32_t* leaf) {
  uint32_t page = h_.root;
  for (int level = 0; level + 1 < h_.levels; ++level) {
    Page* p;
    KEY_TRY(ReadPage(page, &p));
    if (Count(p->b) == 0) return kErrKeyRebuild;
    page = Get32(Entry(p, 0));
  }
  *leaf = page;
  return 0;
}

void KeyFile::SetOn(Page* p, uint32_t leaf, int idx) {
  cursor_ = Cursor::kOn;
  curLeaf_ = leaf;
  curIdx_ = idx;
  curGeneration_ = cache_.generation();
  const unsigned char* e = Entry(p, idx);
  curValue_.assign(reinterpret_cast<const char*>(e + 4), keyLength_);
  curRecno_ = Get32(e);
}

Code KeyFile::PlaceCursor(const Path& path, SearchResult* result, bool before,
                         const unsigned char* v, uint32_t r) {
  crossings_ = 0;
  Step s = path.back();
  Page* leaf;
  KEY_TRY(ReadPage(s.page, &leaf));
  if (s.idx >= Count(leaf->b)) {
    *result = SearchResult::kPastEnd;
    cursor_ = Cursor::kEnd;
    return 0;
  }
  const unsigned char* e = Entry(leaf, s.idx);
  bool found = std::memcmp(e + 4, v, keyLength_) == 0 && (r == 0 || Get32(e) == r);
  *result = found ? SearchResult::kFound : SearchResult::kBefore;
  SetOn(leaf, s.page, s.idx);
  if (!found || before) cursor_ = Cursor::kBefore;  // before the entry just taken
  return 0;
}

Code KeyFile::Search(const unsigned char* value, uint32_t recno, SearchResult* result) {
  KEY_TRY(Prepare());
  if (h_.entries == 0) {
    *result = SearchResult::kPastEnd;
    SetToEnd();
    return 0;
  }
  Path path;
  KEY_TRY(Descend(value, recno, &path));
  return PlaceCursor(path, result, false, value, recno);
}

Code KeyFile::Seek(const unsigned char* value, uint32_t recno, SearchResult* result) {
  KEY_TRY(Prepare());
  if (h_.entries == 0) {
    *result = SearchResult::kPastEnd;
    SetToEnd();
    return 0;
  }
  Path path;
  KEY_TRY(Descend(value, recno, &path));
  return PlaceCursor(path, result, true, value, recno);
}

Code KeyFile::Lookup(const unsigned char* value, bool* found, uint32_t* recno) {
  KEY_TRY(Prepare());
  *found = false;
  if (h_.entries == 0) return 0;
  Path path;
  KEY_TRY(Descend(value, 0, &path));
  Page* leaf;
  KEY_TRY(ReadPage(path.back().page, &leaf));
  int idx = path.back().idx;
  if (idx < Count(leaf->b) && std::memcmp(Entry(leaf, idx) + 4, value, keyLength_) == 0) {
    *found = true;
    if (recno) *recno = Get32(Entry(leaf, idx));
  }
  return 0;
}

// ---- Walking -------------------------------------------------------------------------------

void KeyFile::SetToStart() {
  cursor_ = Cursor::kStart;
  crossings_ = 0;
}

void KeyFile::SetToEnd() {
  cursor_ = Cursor::kEnd;
  crossings_ = 0;
}

// Steps from one leaf to its neighbour, which must link back; a walk that changes leaves in one
// direction more often than there are pages is going round in circles.
Code KeyFile::CrossTo(uint32_t from, uint32_t to, bool forward, Page** page) {
  if (forward != crossingForward_) {
    crossingForward_ = forward;
    crossings_ = 0;
  }
  if (++crossings_ > h_.pages) return kErrKeyRebuild;
  KEY_TRY(ReadPage(to, page));
  if ((forward ? PrevOf((*page)->b) : NextOf((*page)->b)) != from) return kErrKeyRebuild;
  return 0;
}

// Finds the leaf place of a remembered position again when pages may have changed since.
Code KeyFile::LocateCursor(uint32_t* leaf, int* idx) {
  if (curGeneration_ == cache_.generation()) {
    *leaf = curLeaf_;
    *idx = curIdx_;
    return 0;
  }
  // The entry is still where it was (a walk along a shared file, say): no need to look for it
  // from the root. An entry names one place only, so finding it there is proof enough.
  const auto* v = reinterpret_cast<const unsigned char*>(curValue_.data());
  Page* p = nullptr;
  if (curLeaf_ != 0 && curLeaf_ <= h_.pages && ReadPage(curLeaf_, &p) == 0 &&
      curIdx_ < Count(p->b) && CompareEntry(Entry(p, curIdx_), v, curRecno_) == 0) {
    *leaf = curLeaf_;
    *idx = curIdx_;
    curGeneration_ = cache_.generation();
    return 0;
  }
  Path path;
  KEY_TRY(Descend(v, curRecno_, &path));
  *leaf = path.back().page;
  *idx = path.back().idx;
  if (cursor_ == Cursor::kOn) {
    Page* p;
    KEY_TRY(ReadPage(*leaf, &p));
    if (*idx >= Count(p->b) || CompareEntry(Entry(p, *idx), v, curRecno_) != 0)
      cursor_ = Cursor::kBefore;  // the entry went away: stand before its successor
  }
  curLeaf_ = *leaf;
  curIdx_ = *idx;
  curGeneration_ = cache_.generation();
  return 0;
}

Code KeyFile::Next() {
  KEY_TRY(Prepare());
  uint32_t leaf = 0;
  int idx = 0;
  switch (cursor_) {
    case Cursor::kNone:
    case Cursor::kEnd:
      return kErrRecordNotAvailable;
    case Cursor::kStart:
      KEY_TRY(FirstLeaf(&leaf));
      idx = 0;
      break;
    case Cursor::kOn:
    case Cursor::kBefore:
      KEY_TRY(LocateCursor(&leaf, &idx));
      if (cursor_ == Cursor::kOn) ++idx;
      break;
  }
  Page* p;
  KEY_TRY(ReadPage(leaf, &p));
  uint32_t guard = 0;
  while (idx >= Count(p->b)) {
    uint32_t next = NextOf(p->b);
    if (next == 0) {
      cursor_ = Cursor::kEnd;
      return kErrRecordNotAvailable;
    }
    if (++guard > h_.pages) return kErrKeyRebuild;
    KEY_TRY(CrossTo(leaf, next, true, &p));
    leaf = next;
    idx = 0;
  }
  SetOn(p, leaf, idx);
  return 0;
}

Code KeyFile::Previous() {
  KEY_TRY(Prepare());
  uint32_t leaf = 0;
  int idx = 0;
  Page* p;
  switch (cursor_) {
    case Cursor::kNone:
    case Cursor::kStart:
      return kErrRecordNotAvailable;
    case Cursor::kEnd:
      leaf = h_.lastLeaf;
      KEY_TRY(ReadPage(leaf, &p));
      idx = Count(p->b) - 1;
      break;
    case Cursor::kOn:
    case Cursor::kBefore:
    default:
      KEY_TRY(LocateCursor(&leaf, &idx));
      KEY_TRY(ReadPage(leaf, &p));
      --idx;
      break;
  }
  uint32_t guard = 0;
  while (idx < 0) {
    uint32_t prev = PrevOf(p->b);
    if (prev == 0) {
      cursor_ = Cursor::kStart;
      return kErrRecordNotAvailable;
    }
    if (++guard > h_.pages) return kErrKeyRebuild;
    KEY_TRY(CrossTo(leaf, prev, false, &p));
    leaf = prev;
    idx = Count(p->b) - 1;
  }
  SetOn(p, leaf, idx);
  return 0;
}

Code KeyFile::SeekNth(uint64_t n) {
  KEY_TRY(Prepare());
  crossings_ = 0;
  if (n == 0 || n > h_.entries) return kErrRecordNotAvailable;
  Page* p;
  uint32_t guard = 0;
  if (n <= h_.entries / 2) {
    uint32_t leaf;
    KEY_TRY(FirstLeaf(&leaf));
    uint64_t before = 0;  // entries in the leaves passed
    for (;;) {
      KEY_TRY(ReadPage(leaf, &p));
      if (n <= before + Count(p->b)) {
        SetOn(p, leaf, static_cast<int>(n - before - 1));
        return 0;
      }
      before += Count(p->b);
      leaf = NextOf(p->b);
      if (leaf == 0 || ++guard > h_.pages) return kErrKeyRebuild;
    }
  }
  uint64_t fromEnd = h_.entries - n;  // entries after the one wanted
  uint32_t leaf = h_.lastLeaf;
  uint64_t after = 0;
  for (;;) {
    KEY_TRY(ReadPage(leaf, &p));
    if (fromEnd < after + Count(p->b)) {
      SetOn(p, leaf, static_cast<int>(Count(p->b) - 1 - (fromEnd - after)));
      return 0;
    }
    after += Count(p->b);
    leaf = PrevOf(p->b);
    if (leaf == 0 || ++guard > h_.pages) return kErrKeyRebuild;
  }
}

uint32_t KeyFile::PeekRecno(bool forward) const {
  const Page* p = cache_.Find(curLeaf_);
  if (held_.size() != 0 || cursor_ != Cursor::kOn || curGeneration_ != cache_.generation() ||
      !p)
    return 0;
  int idx = forward ? curIdx_ + 1 : curIdx_ - 1;
  if (idx < 0 || idx >= static_cast<int>(Count(p->b))) return 0;
  return Get32(p->b + kPageHeaderSize + static_cast<size_t>(idx) * entryLength_);
}

Code KeyFile::Current(std::string* value, uint32_t* recno) const {
  if (cursor_ != Cursor::kOn) return kErrRecordNotAvailable;
  if (value) *value = curValue_;
  if (recno) *recno = curRecno_;
  return 0;
}

// ---- Changing ------------------------------------------------------------------------------

Code KeyFile::Insert(const unsigned char* value, uint32_t recno, InsertHint hint) {
  if (hint.last && shape_.dup() && Batch() && is_open()) {
    held_.Add(value, recno);
    const bool room = held_.bytes() < kHeldLimit &&
                      held_.size() * (keyLength_ + 4) < kHeldWholeLimit;
    return room ? Code(0) : ApplyHeld();
  }
  return InsertNow(value, recno, hint);
}

Code KeyFile::InsertNow(const unsigned char* value, uint32_t recno, InsertHint hint) {
  KEY_TRY(Prepare());
  if (!shape_.dup() && !hint.checked) {
    bool found = false;
    KEY_TRY(Lookup(value, &found, nullptr));
    if (found) return kErrDuplicateKey;
  }
  Path path;
  KEY_TRY(Descend(value, recno, &path, hint.last));
  Page* leaf;
  KEY_TRY(ReadPage(path.back().page, &leaf));
  if (path.back().idx < Count(leaf->b) &&
      CompareEntry(Entry(leaf, path.back().idx), value, recno) == 0)
    return kErrDuplicateKey;
  std::vector<unsigned char> entry(entryLength_, 0);
  Put32(entry.data(), recno);
  std::memcpy(entry.data() + 4, value, keyLength_);
  KeyFileHeader saved = h_;
  int rc = InsertAt(h_.levels - 1, path, entry.data());
  if (rc == 0) {
    ++h_.entries;
    // The pages already hold the entry (and any new root): the header must follow them, or
    // the tree it describes loses pages. One more try before giving up.
    rc = WriteHeader();
    if (rc) rc = WriteHeader();
  }
  cache_.Bump();
  if (rc) {
    // Pages may be half-written; read them again rather than trust the cache. The pages that
    // still wait are written first: the change's failure is the one reported.
    (void)DropCache();
    h_ = saved;
  }
  return rc;
}

Code KeyFile::ApplyHeld() {
  if (held_.size() == 0) return 0;
  KeyBuilder held(keyLength_);
  held.Reserve(held_.size());
  held_.MoveInto(&held);
  Code rc = PutIn(held);
  if (rc) {
    // The key now lacks entries of records the data file has, which its entry count alone
    // may not show (an OPT key counts fewer entries than records anyway): it answers 46 from
    // now on and its header goes, so that the next open asks for a rebuild too.
    lost_ = true;
    (void)ClearHeader(/*flush=*/true);
  }
  return rc;
}

Code KeyFile::PutIn(KeyBuilder& held) {
  std::vector<uint32_t> order = held.Sort();
  KEY_TRY(Prepare());
  const size_t count = held.size();
  if (count < h_.entries / 8 || cursor_ == Cursor::kOn || cursor_ == Cursor::kBefore) {
    // A few: one at a time in key order, the path down staying in the cache from one to the
    // next. Each comes after every entry of its value already in the tree (InsertHint::last).
    for (size_t i = 0; i < count; ++i)
      KEY_TRY(InsertNow(held.entry(i), held.recno(i), {true, true}));
    return 0;
  }
  // Many: the tree's entries, read leaf by leaf in key order, are merged with them and the
  // whole is written as a BUILD lays it out, each page once.
  if (h_.entries != 0) {
    held.Reserve(count + h_.entries);
    uint32_t leaf = 0;
    KEY_TRY(FirstLeaf(&leaf));
    // Leaves a BUILD laid out follow each other in the file: while they do, they are read
    // in growing runs of pages, one read a run. A run stops at the file's end: the pages
    // past it wait in the cache.
    constexpr uint32_t kRunPages = 128;
    uint64_t size = 0;
    KEY_TRY(stream_.Size(&size));
    const uint32_t inFile = static_cast<uint32_t>(
        std::min<uint64_t>(h_.pages, size / kPageSize == 0 ? 0 : size / kPageSize - 1));
    std::vector<unsigned char> run(kRunPages * kPageSize);
    uint32_t runFrom = 0, runPages = 0, ahead = 1, previous = 0;
    const unsigned char* b = nullptr;
    for (uint32_t pages = 0; leaf != 0; previous = leaf, leaf = NextOf(b)) {
      if (leaf > h_.pages || ++pages > h_.pages) return kErrKeyRebuild;
      if (const Page* cached = cache_.Find(leaf)) {
        b = cached->b;
      } else {
        if (leaf < runFrom || leaf >= runFrom + runPages) {
          ahead = leaf == previous + 1 ? std::min(ahead * 2, kRunPages) : 1;
          runFrom = leaf;
          if (leaf > inFile) return kErrKeyRebuild;
          runPages = std::min(ahead, inFile - leaf + 1);
          KEY_TRY(stream_.Read(static_cast<uint64_t>(leaf) * kPageSize, run.data(),
                               static_cast<size_t>(runPages) * kPageSize, kErrKeyRebuild));
        }
        b = run.data() + static_cast<size_t>(leaf - runFrom) * kPageSize;
      }
      if (Count(b) > epp_) return kErrKeyRebuild;
      for (int i = 0; i < Count(b); ++i) {
        const unsigned char* e = b + kPageHeaderSize + static_cast<size_t>(i) * entryLength_;
        held.Add(e + 4, Get32(e));
      }
    }
    if (held.size() != count + h_.entries) return kErrKeyRebuild;
    order.resize(held.size());
    std::iota(order.begin() + static_cast<std::ptrdiff_t>(count), order.end(),
              static_cast<uint32_t>(count));
    const size_t stride = keyLength_ + 4;
    std::inplace_merge(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count),
                       order.end(), [&](uint32_t x, uint32_t y) {
                         return std::memcmp(held.entry(x), held.entry(y), stride) < 0;
                       });
  }
  const Cursor at = cursor_;
  KEY_TRY(Build(held, std::string(), nullptr, &order));
  cursor_ = at;
  return 0;
}

// A full page passes entries on to the pages that follow it on its level, as far as the first
// one with room (a few pages at most): a split then happens only where a stretch of the level is
// full, so pages stay full and the tree as shallow as a BUILD leaves it, whatever the order the
// entries come in. *done tells whether the entry found a place so.
Code KeyFile::ShiftRight(int level, const Path& path, const unsigned char* entry, bool* done) {
  constexpr int kReach = 4;
  *done = false;
  if (level == 0) return 0;  // the root has no neighbours
  std::vector<Path> chain{path};
  for (int j = 0; j < kReach; ++j) {
    Path next = chain.back();
    Code rc = MoveRightAt(level, &next);
    if (rc == kErrRecordNotAvailable) return 0;
    KEY_TRY(rc);
    chain.push_back(std::move(next));
    Page* q;
    KEY_TRY(ReadPage(chain.back()[level].page, &q));
    if (static_cast<uint32_t>(Count(q->b)) < epp_) break;
    if (j + 1 == kReach) return 0;
  }
  // The page's entries with the new one, the last of which moves on; each full page after it
  // takes the one handed on at its front and hands on its own last; the page with room keeps it.
  std::vector<unsigned char> carry(entryLength_), all((epp_ + 1) * entryLength_);
  for (size_t j = 0; j + 1 < chain.size(); ++j) {
    const Step s = chain[j][level];
    Page* p;
    KEY_TRY(ReadPage(s.page, &p));
    const unsigned char* in = j == 0 ? entry : carry.data();
    const int at = j == 0 ? s.idx : 0;
    std::memcpy(all.data(), Entry(p, 0), static_cast<size_t>(at) * entryLength_);
    std::memcpy(all.data() + static_cast<size_t>(at) * entryLength_, in, entryLength_);
    std::memcpy(all.data() + static_cast<size_t>(at + 1) * entryLength_, Entry(p, at),
                static_cast<size_t>(epp_ - at) * entryLength_);
    std::memcpy(carry.data(), all.data() + static_cast<size_t>(epp_) * entryLength_,
                entryLength_);
    std::memcpy(Entry(p, 0), all.data(), static_cast<size_t>(epp_) * entryLength_);
    KEY_TRY(WritePage(s.page, p));
    // Its highest value is now the one before the entry handed on.
    KEY_TRY(SetKeyAbove(level - 1, chain[j], Entry(p, epp_ - 1) + 4));
  }
  const Step last = chain.back()[level];
  Page* q;
  KEY_TRY(ReadPage(last.page, &q));
  int count = Count(q->b);
  std::memmove(Entry(q, 1), Entry(q, 0), static_cast<size_t>(count) * entryLength_);
  std::memcpy(Entry(q, 0), carry.data(), entryLength_);
  q->b[0] = static_cast<unsigned char>(count + 1);
  KEY_TRY(WritePage(last.page, q));
  *done = true;
  return 0;
}

// The entries above the page at level + 1 of path carry key, its highest value now.
Code KeyFile::SetKeyAbove(int level, const Path& path, const unsigned char* key) {
  for (int l = level; l >= 0; --l) {
    Page* p;
    KEY_TRY(ReadPage(path[l].page, &p));
    unsigned char* e = Entry(p, path[l].idx);
    if (std::memcmp(e + 4, key, keyLength_) == 0) return 0;
    std::memcpy(e + 4, key, keyLength_);
    KEY_TRY(WritePage(path[l].page, p));
    if (path[l].idx != Count(p->b) - 1) return 0;
  }
  return 0;
}

Code KeyFile::InsertAt(int level, Path& path, const unsigned char* entry) {
  uint32_t pn = path[level].page;
  int idx = path[level].idx;
  Page* p;
  KEY_TRY(ReadPage(pn, &p));
  int count = Count(p->b);
  if (static_cast<uint32_t>(count) >= epp_) {
    bool done = false;
    KEY_TRY(ShiftRight(level, path, entry, &done));
    if (done) return 0;
  }
  if (static_cast<uint32_t>(count) < epp_) {
    unsigned char* at = Entry(p, idx);
    std::memmove(at + entryLength_, at, static_cast<size_t>(count - idx) * entryLength_);
    std::memcpy(at, entry, entryLength_);
    p->b[0] = static_cast<unsigned char>(count + 1);
    KEY_TRY(WritePage(pn, p));
    if (idx == count && level > 0) KEY_TRY(RaiseKey(level - 1, path, entry + 4));
    return 0;
  }

  // Split: the entries plus the new one, spread over this page and a new right neighbour.
  uint32_t total = epp_ + 1;
  std::vector<unsigned char> all(static_cast<size_t>(total) * entryLength_);
  std::memcpy(all.data(), Entry(p, 0), static_cast<size_t>(idx) * entryLength_);
  std::memcpy(all.data() + static_cast<size_t>(idx) * entryLength_, entry, entryLength_);
  std::memcpy(all.data() + static_cast<size_t>(idx + 1) * entryLength_, Entry(p, idx),
              static_cast<size_t>(count - idx) * entryLength_);
  // An entry that goes last on its page (loading in order, or the newest record of a run of
  // equal values in a DUP key) leaves the left page full: later ones follow it to the right.
  uint32_t left = idx == count ? epp_ : (total + 1) / 2;
  uint32_t right = total - left;

  uint32_t nn;
  KEY_TRY(AllocPage(&nn));
  KEY_TRY(ReadPage(pn, &p));  // the cache may have grown; pointers stay valid, but be plain
  Page* n = NewPage(nn);
  n->b[0] = static_cast<unsigned char>(right);
  std::memcpy(Entry(n, 0), all.data() + static_cast<size_t>(left) * entryLength_,
              static_cast<size_t>(right) * entryLength_);
  uint32_t after = NextOf(p->b);
  SetNext(n->b, after);
  SetPrev(n->b, pn);
  if (after != 0) {
    Page* a;
    KEY_TRY(ReadPage(after, &a));
    SetPrev(a->b, nn);
    KEY_TRY(WritePage(after, a));
  }
  std::memset(p->b + kPageHeaderSize, 0, kPageSize - kPageHeaderSize);
  std::memcpy(Entry(p, 0), all.data(), static_cast<size_t>(left) * entryLength_);
  p->b[0] = static_cast<unsigned char>(left);
  SetNext(p->b, nn);
  KEY_TRY(WritePage(nn, n));
  KEY_TRY(WritePage(pn, p));
  if (level == h_.levels - 1 && h_.lastLeaf == pn) h_.lastLeaf = nn;

  const unsigned char* leftMax = all.data() + static_cast<size_t>(left - 1) * entryLength_ + 4;
  const unsigned char* rightMax = all.data() + static_cast<size_t>(total - 1) * entryLength_ + 4;
  std::vector<unsigned char> up(entryLength_);
  if (level == 0) {
    // The root split: a new root above the two halves.
    if (h_.levels >= kMaxLevels) return kErrKeyRebuild;
    uint32_t rn;
    KEY_TRY(AllocPage(&rn));
    Page* r = NewPage(rn);
    r->b[0] = 2;
    Put32(Entry(r, 0), pn);
    std::memcpy(Entry(r, 0) + 4, leftMax, keyLength_);
    Put32(Entry(r, 1), nn);
    std::memcpy(Entry(r, 1) + 4, rightMax, keyLength_);
    KEY_TRY(WritePage(rn, r));
    h_.root = rn;
    ++h_.levels;
    return 0;
  }
  Page* parent;
  KEY_TRY(ReadPage(path[level - 1].page, &parent));
  std::memcpy(Entry(parent, path[level - 1].idx) + 4, leftMax, keyLength_);
  Put32(up.data(), nn);
  std::memcpy(up.data() + 4, rightMax, keyLength_);
  ++path[level - 1].idx;
  return InsertAt(level - 1, path, up.data());
}

// A page got a new highest value: the entries above that point to it follow.
Code KeyFile::RaiseKey(int level, const Path& path, const unsigned char* key) {
  for (int l = level; l >= 0; --l) {
    Page* p;
    KEY_TRY(ReadPage(path[l].page, &p));
    unsigned char* e = Entry(p, path[l].idx);
    if (std::memcmp(e + 4, key, keyLength_) >= 0) return 0;
    std::memcpy(e + 4, key, keyLength_);
    KEY_TRY(WritePage(path[l].page, p));
    if (path[l].idx != Count(p->b) - 1) return 0;
  }
  return 0;
}

// A page lost its highest entry: the entries above carry its new highest value.
Code KeyFile::LowerKey(int level, const Path& path, const unsigned char* key) {
  for (int l = level; l >= 0; --l) {
    Page* p;
    KEY_TRY(ReadPage(path[l].page, &p));
    unsigned char* e = Entry(p, path[l].idx);
    if (std::memcmp(e + 4, key, keyLength_) == 0) return 0;
    std::memcpy(e + 4, key, keyLength_);
    KEY_TRY(WritePage(path[l].page, p));
    if (path[l].idx != Count(p->b) - 1) return 0;
  }
  return 0;
}

Code KeyFile::Remove(const unsigned char* value, uint32_t recno) {
  KEY_TRY(Prepare());
  if (h_.entries == 0) return kErrRecordNotFound;
  Path path;
  KEY_TRY(Descend(value, recno, &path));
  Page* leaf;
  KEY_TRY(ReadPage(path.back().page, &leaf));
  if (path.back().idx >= Count(leaf->b) ||
      CompareEntry(Entry(leaf, path.back().idx), value, recno) != 0)
    return kErrRecordNotFound;
  KeyFileHeader saved = h_;
  int rc = RemoveAt(h_.levels - 1, path);
  if (rc == 0) {
    --h_.entries;
    rc = WriteHeader();
    if (rc) rc = WriteHeader();  // as in Insert: the pages no longer hold the entry
  }
  cache_.Bump();
  if (rc) {
    (void)DropCache();  // as in Insert
    h_ = saved;
  }
  return rc;
}

Code KeyFile::RemoveAt(int level, Path& path) {
  uint32_t pn = path[level].page;
  int idx = path[level].idx;
  Page* p;
  KEY_TRY(ReadPage(pn, &p));
  int count = Count(p->b);
  if (idx >= count) return kErrKeyRebuild;
  unsigned char* at = Entry(p, idx);
  std::memmove(at, at + entryLength_, static_cast<size_t>(count - idx - 1) * entryLength_);
  std::memset(Entry(p, count - 1), 0, entryLength_);
  p->b[0] = static_cast<unsigned char>(--count);

  if (count > 0) {
    KEY_TRY(WritePage(pn, p));
    if (idx == count && level > 0) KEY_TRY(LowerKey(level - 1, path, Entry(p, count - 1) + 4));
    return 0;
  }
  if (level == 0) {
    // The root stays the root; emptied, it is an empty leaf again.
    SetNext(p->b, 0);
    SetPrev(p->b, 0);
    h_.levels = 1;
    h_.lastLeaf = pn;
    return WritePage(pn, p);
  }
  // An emptied page leaves its level's chain and goes to the head of the free chain.
  uint32_t prev = PrevOf(p->b), next = NextOf(p->b);
  if (prev != 0) {
    Page* q;
    KEY_TRY(ReadPage(prev, &q));
    SetNext(q->b, next);
    KEY_TRY(WritePage(prev, q));
  }
  if (next != 0) {
    Page* q;
    KEY_TRY(ReadPage(next, &q));
    SetPrev(q->b, prev);
    KEY_TRY(WritePage(next, q));
  }
  if (level == h_.levels - 1 && h_.lastLeaf == pn) h_.lastLeaf = prev;
  std::memset(p->b, 0, kPageSize);
  SetNext(p->b, h_.firstFree);
  h_.firstFree = pn;
  KEY_TRY(WritePage(pn, p));
  return RemoveAt(level - 1, path);
}

// ---- Building ------------------------------------------------------------------------------

Code KeyFile::Build(KeyBuilder& builder, const std::string& reportPath,
                   const std::function<std::string(uint32_t)>& describe,
                   std::vector<uint32_t>* sorted) {
  if (!is_open()) return kErrFileNotOpen;
  if (builder.key_length() != shape_.keyLength) return kErrInvalidKeyLength;
  if (builder.size() > UINT32_MAX) return kErrInvalidKeyFile;
  std::vector<uint32_t> order;
  if (sorted) order.swap(*sorted);
  else order = builder.SortedOrder();
  if (!shape_.dup()) {
    std::string report = DuplicateReport(builder, order, describe);
    if (!report.empty()) {
      KEY_TRY(WriteEmpty());
      if (!reportPath.empty()) {
        DatStream out;
        KEY_TRY(out.Create(reportPath));
        KEY_TRY(out.Write(0, report.data(), report.size()));
        out.Close();
      }
      return kErrDuplicateKey;
    }
  }
  if (order.empty()) return WriteEmpty();
  // The old tree's pages, written or waiting, are of no further use: each page of the new one
  // is written once, in order, over the old file's bytes, and the header last names them. The
  // old header goes first, on disk too, so that a Build that does not end leaves a file that
  // reads as needing a rebuild, never an old header over new pages.
  SetShape();
  KEY_TRY(ClearHeader(/*flush=*/true));
  BuiltTree tree;
  KEY_TRY(WriteTree(builder, order, epp_, kMaxLevels,
                    [this](uint64_t pos, const void* bytes, size_t n) {
                      return stream_.Write(pos, bytes, n);
                    },
                    &tree));
  h_.root = tree.root;
  h_.entries = static_cast<uint32_t>(order.size());
  h_.pages = tree.pages;
  h_.lastLeaf = tree.lastLeaf;
  h_.levels = tree.levels;
  h_.firstFree = 0;
  // What is left of the old file past the new tree goes; the header written last makes it whole.
  const uint64_t end = (static_cast<uint64_t>(tree.pages) + 1) * kPageSize;
  uint64_t size = 0;
  KEY_TRY(stream_.Size(&size));
  if (size > end) KEY_TRY(stream_.Truncate(end));
  return WriteHeader();
}

// ---- Checking ------------------------------------------------------------------------------

Code KeyFile::Check(std::string* fault) {
  fault->clear();
  auto fail = [&](const std::string& text) {
    *fault = text;
    return kErrKeyRebuild;
  };
  int rc = Prepare();
  if (rc == 0) rc = FlushPages();  // the file's size counts below
  if (rc) return fail("the header can't be read or doesn't match the key (code " +
                      std::to_string(rc) + ")");
  const uint64_t need = (static_cast<uint64_t>(h_.pages) + 1) * kPageSize;
  if (stream_.Size() < need)
    return fail("the file is shorter than its " + std::to_string(h_.pages) + " pages");
  std::vector<char> seen(static_cast<size_t>(h_.pages) + 1, 0);
  auto pageText = [](uint32_t n) { return "page " + std::to_string(n); };

  // Each level: walk its chain and compare it with the children listed by the level above.
  std::vector<uint32_t> expected{h_.root};
  std::vector<std::string> bounds;  // the key each child carries in its parent
  uint64_t leafEntries = 0;
  std::string lastEntry;  // the previous leaf entry, across pages
  for (int level = 0; level < h_.levels; ++level) {
    bool isLeaf = level == h_.levels - 1;
    std::vector<uint32_t> children;
    std::vector<std::string> childBounds;
    uint32_t prevPage = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
      uint32_t pn = expected[i];
      if (pn == 0 || pn > h_.pages)
        return fail("level " + std::to_string(level + 1) + " points to " + pageText(pn) +
                    " beyond the " + std::to_string(h_.pages) + " pages");
      if (seen[pn]) return fail(pageText(pn) + " is reached twice");
      seen[pn] = 1;
      Page* p;
      rc = ReadPage(pn, &p);
      if (rc) return fail(pageText(pn) + " can't be read or holds more entries than fit");
      int count = Count(p->b);
      if (PrevOf(p->b) != prevPage)
        return fail(pageText(pn) + " has a wrong previous link");
      uint32_t next = NextOf(p->b);
      uint32_t want = i + 1 < expected.size() ? expected[i + 1] : 0;
      if (next != want) return fail(pageText(pn) + " has a wrong next link");
      if (count == 0 && !(level == 0 && isLeaf)) return fail(pageText(pn) + " is empty");
      for (int j = 0; j < count; ++j) {
        const unsigned char* e = Entry(p, j);
        if (j > 0 && std::memcmp(Entry(p, j - 1) + 4, e + 4, keyLength_) > 0)
          return fail(pageText(pn) + " is out of order");
        if (isLeaf) {
          std::string cur(reinterpret_cast<const char*>(e), entryLength_);
          if (!lastEntry.empty()) {
            int c = std::memcmp(lastEntry.data() + 4, e + 4, keyLength_);
            if (c > 0 || (c == 0 && Get32(reinterpret_cast<const unsigned char*>(
                                        lastEntry.data())) >= Get32(e)))
              return fail(pageText(pn) + " is out of order");
            if (c == 0 && !shape_.dup())
              return fail(pageText(pn) + " holds a duplicate value in a unique key");
          }
          lastEntry = cur;
        } else {
          children.push_back(Get32(e));
          childBounds.emplace_back(reinterpret_cast<const char*>(e + 4), keyLength_);
        }
      }
      // The parent's key for this page: not below the page's highest value, and not above
      // the lowest value of the page that follows.
      if (level > 0 && count > 0) {
        const std::string& bound = bounds[i];
        if (std::memcmp(Entry(p, count - 1) + 4, bound.data(), keyLength_) > 0)
          return fail(pageText(pn) + " holds values above its parent's key");
        if (i > 0) {
          const std::string& before = bounds[i - 1];
          if (std::memcmp(before.data(), Entry(p, 0) + 4, keyLength_) > 0)
            return fail(pageText(pn) + " holds values below its left neighbour's key");
        }
      }
      if (isLeaf) leafEntries += count;
      prevPage = pn;
    }
    if (isLeaf) {
      if (prevPage != h_.lastLeaf) return fail("the header's last leaf is not the last leaf");
    } else {
      expected.swap(children);
      bounds.swap(childBounds);
    }
  }
  if (leafEntries != h_.entries)
    return fail("the header counts " + std::to_string(h_.entries) + " entries, the leaves " +
                std::to_string(leafEntries));
  uint32_t free = h_.firstFree, steps = 0;
  while (free != 0) {
    if (free > h_.pages) return fail("the free chain points beyond the pages");
    if (seen[free]) return fail(pageText(free) + " is both in use and free");
    if (++steps > h_.pages) return fail("the free chain loops");
    seen[free] = 1;
    Page* p;
    rc = ReadPage(free, &p);
    if (rc) return fail("free " + pageText(free) + " can't be read");
    free = NextOf(p->b);
  }
  return 0;
}

}  // namespace korawin::storage::dat

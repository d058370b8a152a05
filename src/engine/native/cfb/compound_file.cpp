#include "engine/native/cfb/compound_file.h"

#include "engine/native/le.h"
#include "engine/native/name_hash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

namespace msiarc::cfb {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint64_t kMiniCutoff = 4096;
constexpr size_t kHeaderSize = 512;
constexpr uint32_t kHeaderFatSlots = 109;
constexpr uint32_t kDirEntrySize = 128;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

class FileSource final : public Source {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~FileSource() override { close(fd_); }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, uint8_t* dest, size_t count) const override {
    while (count != 0) {
      if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
      ssize_t n = pread(fd_, dest, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // an error, or the file is shorter now
      dest += n;
      offset += static_cast<uint64_t>(n);
      count -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

class MemorySource final : public Source {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, uint8_t* dest, size_t count) const override {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    if (count != 0) std::memcpy(dest, bytes_.data() + offset, count);
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// Names compare case-insensitively by lower-casing, as the reference
// enumerator does; stream names are either encoded (all above U+3800, no case)
// or ASCII, so ASCII and Latin-1 letters are all that matter.
char16_t LowerUnit(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

}  // namespace

std::unique_ptr<Source> OpenFile(const char* path) {
  // The type is judged before the file is opened: opening a pipe waits for a
  // writer, and opening a device may act on it. Opened, it is judged again,
  // in case the name was given to something else meanwhile.
  struct stat st {};
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    close(fd);
    return nullptr;
  }
  Source* source = new (std::nothrow) FileSource(fd, static_cast<uint64_t>(st.st_size));
  if (source == nullptr) close(fd);
  return std::unique_ptr<Source>(source);
}

std::unique_ptr<Source> CopyBytes(const uint8_t* data, size_t size) {
  return std::make_unique<MemorySource>(std::vector<uint8_t>(data, data + size));
}

bool NameLess(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = LowerUnit(a[i]);
    char16_t y = LowerUnit(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

Status CompoundFile::Open(std::unique_ptr<Source> source, std::unique_ptr<CompoundFile>* out,
                          const char** why) {
  Status status = Status::NotCompound;
  const char* failure = "no file";
  if (source) {
    std::unique_ptr<CompoundFile> file(new (std::nothrow) CompoundFile());
    status = Status::NoMemory;
    failure = "out of memory";
    if (file) {
      file->source_ = std::move(source);
      try {
        status = file->Parse();
      } catch (const std::bad_alloc&) {
        status = file->Fail(Status::NoMemory, "out of memory");
      }
      failure = file->failure_;
      if (status == Status::Ok) *out = std::move(file);
    }
  }
  if (why != nullptr) *why = failure;
  return status;
}

Status CompoundFile::ReadSectors(const std::vector<uint32_t>& sectors, uint8_t missing,
                                 uint8_t* dest) const {
  for (size_t i = 0; i < sectors.size();) {
    uint8_t* at = dest + (i << sectorShift_);
    if (sectors[i] >= sectorCount_) {
      std::memset(at, missing, sectorSize_);
      ++i;
      continue;
    }
    size_t n = 1;
    while (i + n < sectors.size() && sectors[i + n] == static_cast<uint64_t>(sectors[i]) + n &&
           sectors[i + n] < sectorCount_) {
      ++n;
    }
    uint64_t offset = (static_cast<uint64_t>(sectors[i]) + 1) << sectorShift_;
    size_t bytes = n << sectorShift_;
    size_t have = static_cast<size_t>(std::min<uint64_t>(bytes, fileSize_ - offset));
    if (!source_->Read(offset, at, have)) return Status::ReadFault;
    std::memset(at + have, 0, bytes - have);
    i += n;
  }
  return Status::Ok;
}

namespace {

// Whether a chain visits a sector twice. A chain written in one go runs
// upwards and is seen at once to visit each sector once; any other is
// sorted.
bool UsesASectorTwice(const std::vector<uint32_t>& chain) {
  if (std::adjacent_find(chain.begin(), chain.end(), std::greater_equal<uint32_t>()) ==
      chain.end()) {
    return false;
  }
  std::vector<uint32_t> sorted(chain);
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
}

}  // namespace

Status CompoundFile::Chain(uint32_t start, uint64_t minBytes, bool whole,
                           std::vector<uint32_t>* out) const {
  out->clear();
  // A stream needs only the sectors that hold its size; whatever the chain
  // has beyond them is never looked at.
  uint64_t needed = (minBytes + sectorSize_ - 1) >> sectorShift_;
  uint32_t sector = start;
  while (sector != kEndOfChain && (whole || out->size() < needed)) {
    // A link the FAT does not cover (one it lost with the end of a cut file
    // reads as free) breaks the chain.
    if (sector >= fat_.size() || (whole && sector >= sectorCount_)) return Status::Corrupt;
    if (out->size() >= sectorCount_) return Status::Corrupt;  // a loop
    out->push_back(sector);
    sector = fat_[sector];
  }
  if (out->size() < needed) return Status::Corrupt;
  // Cut short, a looping chain shows as a sector used twice.
  if (!whole && UsesASectorTwice(*out)) return Status::Corrupt;
  return Status::Ok;
}

Status CompoundFile::MiniChain(uint32_t start, uint64_t minBytes,
                               std::vector<uint32_t>* out) const {
  out->clear();
  uint64_t capacity = static_cast<uint64_t>(miniStreamSectors_.size()) << sectorShift_;
  uint64_t limit = std::min<uint64_t>(miniFat_.size(), capacity / kMiniSectorSize);
  uint64_t needed = (minBytes + kMiniSectorSize - 1) / kMiniSectorSize;
  uint32_t sector = start;
  while (out->size() < needed) {
    if (sector >= limit) return Status::Corrupt;
    out->push_back(sector);
    sector = miniFat_[sector];
  }
  if (UsesASectorTwice(*out)) return Status::Corrupt;
  return Status::Ok;
}

// The fields of the 512-byte header that the later phases read.
struct CompoundFile::Header {
  uint32_t fatCount = 0;
  uint32_t fatSectors[kHeaderFatSlots] = {};  // the first FAT sectors
  uint32_t difatStart = 0;
  uint32_t difatCount = 0;
  uint32_t directoryStart = 0;
  uint32_t miniFatStart = 0;
};

Status CompoundFile::Fail(Status status, const char* why) {
  failure_ = why;
  return status;
}

Status CompoundFile::Parse() {
  Header header;
  std::vector<uint8_t> broken;
  Status status = ReadHeader(&header);
  if (status == Status::Ok) status = ReadFat(header);
  if (status == Status::Ok) status = ReadDirectory(header, &broken);
  if (status == Status::Ok) status = ReadMiniFat(header);
  if (status == Status::Ok) status = ListRootChildren(broken);
  return status;
}

Status CompoundFile::ReadHeader(Header* header) {
  fileSize_ = source_->Size();
  uint8_t h[kHeaderSize];
  if (fileSize_ < sizeof h) return Fail(Status::NotCompound, "shorter than a header");
  if (!source_->Read(0, h, sizeof h)) return Fail(Status::ReadFault, "header unreadable");
  if (std::memcmp(h, kSignature, sizeof kSignature) != 0) {
    return Fail(Status::NotCompound, "no signature");
  }
  if (Le16(h + 0x1C) != 0xFFFE) return Fail(Status::Corrupt, "byte order mark");
  const uint16_t shift = Le16(h + 0x1E);
  if (shift != 9 && shift != 12) return Fail(Status::Corrupt, "sector size");
  if (Le16(h + 0x20) != 6) return Fail(Status::Corrupt, "mini sector size");
  if (Le32(h + 0x38) != kMiniCutoff) return Fail(Status::Corrupt, "mini stream cutoff");
  sectorShift_ = shift;
  sectorSize_ = 1u << shift;
  sectorCount_ = fileSize_ > sectorSize_ ? (fileSize_ - sectorSize_ + sectorSize_ - 1) >> shift : 0;
  if (sectorCount_ > kMaxRegSect) sectorCount_ = kMaxRegSect;
  header->fatCount = Le32(h + 0x2C);
  header->directoryStart = Le32(h + 0x30);
  header->miniFatStart = Le32(h + 0x3C);
  header->difatStart = Le32(h + 0x44);
  header->difatCount = Le32(h + 0x48);
  for (uint32_t i = 0; i < kHeaderFatSlots; ++i) header->fatSectors[i] = Le32(h + 0x4C + 4 * i);
  return Status::Ok;
}

// The FAT sectors: those the header names, then the DIFAT chain. A file cut
// short may lack some of them, and DIFAT sectors that name more: their part
// of the FAT is unknown, which breaks only the chains that need it.
Status CompoundFile::ReadFat(const Header& header) {
  const uint32_t fatCount = header.fatCount;
  if (fatCount > sectorCount_) return Fail(Status::Corrupt, "more FAT sectors than the file has");
  std::vector<uint32_t> fatSectors;
  fatSectors.reserve(fatCount);
  for (uint32_t i = 0; i < kHeaderFatSlots && fatSectors.size() < fatCount; ++i) {
    fatSectors.push_back(header.fatSectors[i]);
  }
  uint32_t difat = header.difatStart;
  const uint32_t perDifat = sectorSize_ / 4 - 1;
  std::vector<uint8_t> sector(sectorSize_);
  uint64_t difatSeen = 0;
  while (fatSectors.size() < fatCount) {
    if (difat > kMaxRegSect) return Fail(Status::Corrupt, "DIFAT chain ends before the FAT");
    if (difatSeen >= header.difatCount) return Fail(Status::Corrupt, "DIFAT longer than its count");
    if (difatSeen >= sectorCount_) return Fail(Status::Corrupt, "DIFAT chain loops");
    if (difat >= sectorCount_) break;
    ++difatSeen;
    Status status = ReadSectors({difat}, 0, sector.data());
    if (status != Status::Ok) return Fail(status, "DIFAT sector unreadable");
    for (uint32_t i = 0; i < perDifat && fatSectors.size() < fatCount; ++i) {
      fatSectors.push_back(Le32(sector.data() + 4 * i));
    }
    difat = Le32(sector.data() + 4 * perDifat);
  }
  for (uint32_t fatSector : fatSectors) {
    if (fatSector > kMaxRegSect) return Fail(Status::Corrupt, "FAT sector number out of range");
  }
  std::vector<uint8_t> raw(fatSectors.size() << sectorShift_);
  Status status = ReadSectors(fatSectors, 0xFF, raw.data());
  if (status != Status::Ok) return Fail(status, "FAT unreadable");
  fat_.assign(static_cast<size_t>(fatCount) * (sectorSize_ / 4), kFreeSect);
  for (size_t i = 0; i < raw.size() / 4; ++i) fat_[i] = Le32(raw.data() + 4 * i);
  return Status::Ok;
}

// Every entry of the directory, read a slice of sectors at a time, the
// names into one buffer for all of them; broken[i] marks an entry whose
// damage matters only if the tree reaches it.
Status CompoundFile::ReadDirectory(const Header& header, std::vector<uint8_t>* broken) {
  std::vector<uint32_t> chain;
  if (Chain(header.directoryStart, kDirEntrySize, true, &chain) != Status::Ok) {
    return Fail(Status::Corrupt, "directory chain");
  }
  const size_t perSector = sectorSize_ / kDirEntrySize;
  const size_t entryCount = chain.size() * perSector;
  entries_.resize(entryCount);
  std::vector<uint32_t> nameAt(entryCount, 0);
  std::vector<uint8_t> nameLength(entryCount, 0);
  broken->assign(entryCount, 0);
  const bool smallSectors = sectorSize_ < 4096;
  constexpr size_t kSlice = 256;  // sectors per read
  std::vector<uint8_t> dir;
  for (size_t first = 0; first < chain.size(); first += kSlice) {
    const std::vector<uint32_t> slice(chain.begin() + static_cast<std::ptrdiff_t>(first),
                                      chain.begin() + static_cast<std::ptrdiff_t>(
                                                          std::min(chain.size(), first + kSlice)));
    dir.resize(slice.size() << sectorShift_);
    Status status = ReadSectors(slice, 0, dir.data());
    if (status != Status::Ok) return Fail(status, "directory unreadable");
    for (size_t k = 0; k < dir.size() / kDirEntrySize; ++k) {
      const size_t i = first * perSector + k;
      const uint8_t* e = dir.data() + k * kDirEntrySize;
      DirEntry& d = entries_[i];
      uint8_t type = e[0x42];
      d.type = (type == 1 || type == 2 || type == 5) ? static_cast<EntryType>(type) : EntryType::Unused;
      if (d.type == EntryType::Unused) continue;
      uint16_t nameBytes = Le16(e + 0x40);
      if (nameBytes > 64 || (nameBytes & 1) != 0) {
        d.type = EntryType::Unused;
        (*broken)[i] = 1;
        continue;
      }
      size_t units = nameBytes >= 2 ? nameBytes / 2 - 1 : 0;
      nameAt[i] = static_cast<uint32_t>(names_.size());
      for (size_t n = 0; n < units; ++n) {
        char16_t c = static_cast<char16_t>(Le16(e + 2 * n));
        if (c == 0) break;
        names_.push_back(c);
        ++nameLength[i];
      }
      d.left = Le32(e + 0x44);
      d.right = Le32(e + 0x48);
      d.child = Le32(e + 0x4C);
      if (i == 0) std::memcpy(rootClsid_, e + 0x50, 16);
      d.start = Le32(e + 0x74);
      d.size = Le64(e + 0x78);
      if (smallSectors) d.size &= 0xFFFFFFFFu;
    }
  }
  // The buffer no longer moves: the names can point into it.
  names_.shrink_to_fit();
  for (size_t i = 0; i < entryCount; ++i) {
    entries_[i].name = std::u16string_view(names_.data() + nameAt[i], nameLength[i]);
  }
  if (entryCount == 0 || entries_[0].type != EntryType::Root) {
    return Fail(Status::Corrupt, "first directory entry is not the root");
  }
  return Status::Ok;
}

// The mini stream (the root's data) and the mini FAT.
Status CompoundFile::ReadMiniFat(const Header& header) {
  miniStreamSize_ = entries_[0].size;
  if (miniStreamSize_ != 0 &&
      Chain(entries_[0].start, miniStreamSize_, false, &miniStreamSectors_) != Status::Ok) {
    return Fail(Status::Corrupt, "mini stream chain");
  }
  if (header.miniFatStart == kEndOfChain || header.miniFatStart == kFreeSect) return Status::Ok;
  std::vector<uint32_t> chain;
  if (Chain(header.miniFatStart, 0, true, &chain) != Status::Ok) {
    return Fail(Status::Corrupt, "mini FAT chain");
  }
  std::vector<uint8_t> raw(chain.size() << sectorShift_);
  Status status = ReadSectors(chain, 0, raw.data());
  if (status != Status::Ok) return Fail(status, "mini FAT unreadable");
  miniFat_.resize(raw.size() / 4);
  for (size_t i = 0; i < miniFat_.size(); ++i) miniFat_[i] = Le32(raw.data() + 4 * i);
  return Status::Ok;
}

// The children of the root: walk the tree, each node once.
Status CompoundFile::ListRootChildren(const std::vector<uint8_t>& broken) {
  const size_t entryCount = entries_.size();
  std::vector<uint8_t> seen(entryCount, 0);
  std::vector<uint32_t> stack;
  if (entries_[0].child != kNoStream) stack.push_back(entries_[0].child);
  seen[0] = 1;
  while (!stack.empty()) {
    uint32_t id = stack.back();
    stack.pop_back();
    if (id >= entryCount) return Fail(Status::Corrupt, "directory link out of range");
    if (seen[id] != 0) return Fail(Status::Corrupt, "directory tree loops");
    if (broken[id] != 0) return Fail(Status::Corrupt, "directory tree reaches a damaged entry");
    seen[id] = 1;
    const DirEntry& d = entries_[id];
    if (d.type == EntryType::Unused || d.type == EntryType::Root) continue;
    children_.push_back(id);
    if (d.left != kNoStream) stack.push_back(d.left);
    if (d.right != kNoStream) stack.push_back(d.right);
  }
  auto less = [this](uint32_t a, uint32_t b) { return NameLess(entries_[a].name, entries_[b].name); };
  std::stable_sort(children_.begin(), children_.end(), less);
  // Each name once: the enumeration moves from one name to the next greater.
  children_.erase(std::unique(children_.begin(), children_.end(),
                              [&less](uint32_t a, uint32_t b) { return !less(a, b) && !less(b, a); }),
                  children_.end());
  // The children by name: open addressing over their ids.
  childBits_ = 4;
  while ((size_t{1} << childBits_) < children_.size() * 2) ++childBits_;
  const size_t mask = (size_t{1} << childBits_) - 1;
  childIndex_.assign(mask + 1, kNoStream);
  for (uint32_t id : children_) {
    const std::u16string_view name = entries_[id].name;
    size_t at = NameSlot(NameHash(name, name.size()), childBits_);
    while (childIndex_[at] != kNoStream) at = (at + 1) & mask;
    childIndex_[at] = id;
  }
  return Status::Ok;
}

int64_t CompoundFile::FindChild(std::u16string_view rawName) const {
  if (childIndex_.empty()) return -1;
  const size_t mask = childIndex_.size() - 1;
  for (size_t at = NameSlot(NameHash(rawName, rawName.size()), childBits_);
       childIndex_[at] != kNoStream; at = (at + 1) & mask) {
    if (entries_[childIndex_[at]].name == rawName) return childIndex_[at];
  }
  return -1;
}

bool CompoundFile::SizeFits(uint32_t id) const {
  if (id >= entries_.size()) return false;
  uint64_t size = entries_[id].size;
  if (size < kMiniCutoff) return size <= miniStreamSize_;
  return size <= (sectorCount_ << sectorShift_);
}

Status CompoundFile::Layout(uint32_t id, std::vector<Run>* runs, bool* endsEarly) const {
  runs->clear();
  if (endsEarly != nullptr) *endsEarly = false;
  if (id >= entries_.size() || entries_[id].type != EntryType::Stream) return Status::Corrupt;
  const DirEntry& d = entries_[id];
  uint64_t size = d.size;
  if (size == 0) return Status::Ok;
  if (size > 0x80000000u && sectorSize_ < 4096) return Status::Corrupt;
  // The bytes of [offset, offset + length) that the file holds.
  auto inside = [this](uint64_t offset, uint32_t length) -> uint32_t {
    return offset < fileSize_ ? static_cast<uint32_t>(std::min<uint64_t>(length, fileSize_ - offset)) : 0;
  };
  uint64_t laid = 0;
  auto add = [&](uint64_t offset, uint32_t length, uint32_t zeros) {
    uint64_t position = laid;
    laid += static_cast<uint64_t>(length) + zeros;
    if (length == 0 && zeros == 0) return;
    if (!runs->empty()) {
      Run& last = runs->back();
      if (last.zeros == 0 && last.offset + last.length == offset) {
        last.length += length;
        last.zeros = zeros;
        return;
      }
    }
    runs->push_back(Run{offset, length, zeros, position});
  };
  std::vector<uint32_t> chain;
  uint64_t remaining = size;
  if (size < kMiniCutoff) {
    if (MiniChain(d.start, size, &chain) != Status::Ok) return Status::Corrupt;
    for (uint32_t mini : chain) {
      uint64_t pos = static_cast<uint64_t>(mini) * kMiniSectorSize;
      uint32_t sectorIndex = static_cast<uint32_t>(pos >> sectorShift_);
      uint64_t offset = ((static_cast<uint64_t>(miniStreamSectors_[sectorIndex]) + 1) << sectorShift_) +
                        (pos & (sectorSize_ - 1));
      uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(remaining, kMiniSectorSize));
      // The mini stream is as long as the root entry says: a sector that
      // reaches past it ends the bytes there, and reading on fails.
      uint32_t inMini = pos < miniStreamSize_
                            ? static_cast<uint32_t>(std::min<uint64_t>(length, miniStreamSize_ - pos))
                            : 0;
      // Each mini sector is read on its own: what the file holds of it is
      // completed with zeros, and one it lacks fails the stream.
      uint32_t held = inside(offset, inMini);
      if (inMini != 0 && held == 0) return Status::Corrupt;
      add(offset, held, inMini - held);
      if (inMini < length) {
        if (endsEarly != nullptr) *endsEarly = true;
        break;
      }
      remaining -= length;
    }
    return Status::Ok;
  }
  if (Chain(d.start, size, false, &chain) != Status::Ok) return Status::Corrupt;
  for (uint32_t sector : chain) {
    uint64_t offset = (static_cast<uint64_t>(sector) + 1) << sectorShift_;
    uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(remaining, sectorSize_));
    uint32_t held = inside(offset, length);
    remaining -= length;
    if (remaining == 0) {
      if (held == 0) return Status::Corrupt;
      add(offset, held, length - held);
      break;
    }
    add(offset, held, 0);
    if (held < length) break;  // the file ends here, and so do the stream's bytes
  }
  return Status::Ok;
}

uint64_t CompoundFile::Length(const std::vector<Run>& runs) {
  if (runs.empty()) return 0;
  const Run& last = runs.back();
  return last.position + last.length + last.zeros;
}

Status CompoundFile::Copy(const std::vector<Run>& runs, uint64_t position, uint8_t* dest,
                          size_t count, size_t* hint) const {
  auto holds = [&runs, position](size_t i) {
    return i < runs.size() && runs[i].position <= position &&
           (i + 1 == runs.size() || position < runs[i + 1].position);
  };
  auto it = runs.begin();
  if (hint != nullptr && holds(*hint)) {
    it += static_cast<std::ptrdiff_t>(*hint);
  } else if (hint != nullptr && holds(*hint + 1)) {
    it += static_cast<std::ptrdiff_t>(*hint + 1);
  } else {
    it = std::upper_bound(runs.begin(), runs.end(), position,
                          [](uint64_t p, const Run& r) { return p < r.position; });
    if (it != runs.begin()) --it;
  }
  for (; it != runs.end() && count != 0; ++it) {
    if (hint != nullptr) *hint = static_cast<size_t>(it - runs.begin());
    const Run& run = *it;
    uint64_t runLength = run.length + run.zeros;
    if (position < run.position || position >= run.position + runLength) return Status::Corrupt;
    uint64_t within = position - run.position;
    size_t take = static_cast<size_t>(std::min<uint64_t>(count, runLength - within));
    size_t fromFile = 0;
    if (within < run.length) fromFile = static_cast<size_t>(std::min<uint64_t>(take, run.length - within));
    if (fromFile != 0 && !source_->Read(run.offset + within, dest, fromFile)) return Status::ReadFault;
    if (take > fromFile) std::memset(dest + fromFile, 0, take - fromFile);
    dest += take;
    count -= take;
    position += take;
  }
  return count == 0 ? Status::Ok : Status::Corrupt;
}

Status CompoundFile::ReadAll(uint32_t id, std::vector<uint8_t>* out) const {
  std::vector<Run> runs;
  Status status = Layout(id, &runs);
  if (status != Status::Ok) return status;
  if (Length(runs) != entries_[id].size) return Status::Corrupt;
  out->resize(static_cast<size_t>(entries_[id].size));
  return Copy(runs, 0, out->data(), out->size());
}

}  // namespace msiarc::cfb

// Read-only access to a compound file (structured storage), versions 3 and 4.
//
// The file is read with positioned reads (or handed over as bytes), never
// mapped: a file that another program shortens while it is open makes a read
// fail, it cannot fault. Opening validates the header, reads the FAT,
// follows the directory chain and the mini-stream chain, and lists the
// children of the root storage. Nothing else is read until asked. Every
// sector number, chain and directory link is checked before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace msiarc::cfb {

// ReadFault: the file no longer holds bytes it held when it was opened.
enum class Status : uint8_t { Ok, NotCompound, Corrupt, NoMemory, ReadFault };

// Where the bytes of the file come from.
class Source {
 public:
  virtual ~Source() = default;
  // The size when the file was opened; everything else is judged by it.
  virtual uint64_t Size() const = 0;
  // Copies count bytes at offset; false when they are no longer all there.
  virtual bool Read(uint64_t offset, uint8_t* dest, size_t count) const = 0;
};

// A regular file, or null. Anything else (a folder, pipe, socket, device) is
// refused at once, without waiting for a writer or touching the device.
std::unique_ptr<Source> OpenFile(const char* path);
std::unique_ptr<Source> CopyBytes(const uint8_t* data, size_t size);

enum class EntryType : uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };

struct DirEntry {
  std::u16string_view name;  // raw name as stored, in the file's buffer of names
  EntryType type = EntryType::Unused;
  uint32_t left = 0xFFFFFFFF;
  uint32_t right = 0xFFFFFFFF;
  uint32_t child = 0xFFFFFFFF;
  uint32_t start = 0;
  uint64_t size = 0;
};

// Where the bytes of one stream lie: a list of runs of the file (ordinary
// sectors) or of the mini stream, in stream order.
struct Run {
  uint64_t offset;    // file offset, already resolved for mini sectors
  uint64_t length;    // bytes of this run that are inside the file
  uint32_t zeros;     // bytes past the end of the file that read as zeros
  uint64_t position;  // where the run begins in the stream
};

class CompoundFile {
 public:
  // *why (when given) names the check a file failed, a fixed text for tests
  // and tools; null on success.
  static Status Open(std::unique_ptr<Source> source, std::unique_ptr<CompoundFile>* out,
                     const char** why = nullptr);

  const DirEntry& Root() const { return entries_[0]; }
  // The root's class id: what kind of file this is.
  const uint8_t* RootClsid() const { return rootClsid_; }
  // Children of the root storage, in enumeration order (shorter names first,
  // then case-insensitively), each name once.
  const std::vector<uint32_t>& RootChildren() const { return children_; }
  const DirEntry& Entry(uint32_t id) const { return entries_[id]; }
  // Finds a root child by raw name; -1 if there is none.
  int64_t FindChild(std::u16string_view rawName) const;

  // Whether a stream's recorded size can be held by the file at all: a chain
  // visits each sector once, so no stream outgrows the file (or, below the
  // cutoff, the mini stream). A size that lies is never worth reading.
  bool SizeFits(uint32_t id) const;
  // Resolves a stream entry into file runs, in stream order, covering the
  // bytes of it that the file holds: its whole size, or less when the file
  // ends inside its chain. As the reference engine reads a whole stream,
  // the bytes stop at the first sector the file does not hold whole, except
  // that a last sector the file holds in part is completed with zeros. A
  // stream whose last sector, or any of whose mini sectors, lies wholly past
  // the end cannot be read at all. The bytes of a stream in the mini stream
  // also stop where the root entry's size ends the mini stream; *endsEarly
  // (when given) then says that reading past them fails rather than ends.
  Status Layout(uint32_t id, std::vector<Run>* runs, bool* endsEarly = nullptr) const;
  // How many bytes of the stream a layout covers.
  static uint64_t Length(const std::vector<Run>& runs);
  // Reads a whole stream that must be complete (a table, the string pool,
  // the summary information).
  Status ReadAll(uint32_t id, std::vector<uint8_t>* out) const;
  // Copies bytes [position, position + count) of a laid-out stream, which
  // lie within Length(runs). A reader going through a stream in order keeps
  // *hint (the run its position is in, 0 at first) between calls, so that
  // each call starts where the last one ended instead of searching.
  Status Copy(const std::vector<Run>& runs, uint64_t position, uint8_t* dest,
              size_t count, size_t* hint = nullptr) const;

 private:
  struct Header;
  CompoundFile() = default;
  // Opening, phase by phase; every failure leaves through Fail.
  Status Parse();
  Status ReadHeader(Header* header);
  Status ReadFat(const Header& header);
  Status ReadDirectory(const Header& header, std::vector<uint8_t>* broken);
  Status ReadMiniFat(const Header& header);
  Status ListRootChildren(const std::vector<uint8_t>& broken);
  // Keeps why opening failed and returns status.
  Status Fail(Status status, const char* why);
  // The sectors of a chain: all of it (whole: the directory and the mini
  // FAT, which must lie inside the file), or those that hold minBytes (a
  // stream's, which may run past the end of the file).
  Status Chain(uint32_t start, uint64_t minBytes, bool whole, std::vector<uint32_t>* out) const;
  Status MiniChain(uint32_t start, uint64_t minBytes, std::vector<uint32_t>* out) const;
  // Reads whole sectors one after another into dest, joining neighbours into
  // one read. A sector past the end of the file reads as `missing` bytes; the
  // part of the last sector past the end reads as zeros.
  Status ReadSectors(const std::vector<uint32_t>& sectors, uint8_t missing, uint8_t* dest) const;

  std::unique_ptr<Source> source_;
  uint64_t fileSize_ = 0;
  uint32_t sectorShift_ = 9;
  uint32_t sectorSize_ = 512;
  uint64_t sectorCount_ = 0;     // sectors that begin inside the file
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> miniFat_;
  std::vector<uint32_t> miniStreamSectors_;
  uint64_t miniStreamSize_ = 0;
  std::vector<DirEntry> entries_;
  std::vector<uint32_t> children_;
  std::u16string names_;              // every entry's name, one after another
  uint8_t rootClsid_[16] = {};
  std::vector<uint32_t> childIndex_;  // root children by hash of their names
  unsigned childBits_ = 0;            // childIndex_ holds 2^childBits_ slots
  const char* failure_ = nullptr;
};

// Enumeration order of directory names: shorter first, then by lower-cased
// code units.
bool NameLess(std::u16string_view a, std::u16string_view b);

}  // namespace msiarc::cfb

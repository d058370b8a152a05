// Listing: the ReadHeader family. Each call hands out the next entry of the
// catalogue (built on the first call), measures it and fills the host's
// record; only the fields listed below are written, every other byte of the
// record stays as the host left it.
#include <cstring>
#include <new>
#include <vector>

#include "archive/archive.h"
#include "archive/refcount.h"
#include "plugin/exports.h"
#include "plugin/host_conventions.h"
#include "render/render.h"
#include "tree/tree.h"

namespace {

struct ListedEntry {
  WString name;  // as the host reads it
  DWORD size;
  int time;
};

// The common body of the three exports: the next entry, or false at the end.
bool NextListedEntry(MsiArchive* archive, ListedEntry& listed) {
  const int time = HostFileTime(archive->archiveTime);
  FileEntry* entry = AdvanceCursor(archive);
  if (entry == nullptr) return false;
  struct Release {
    FileEntry* entry;
    ~Release() { ReleaseEntry(entry); }
  } release{entry};
  listed.name = HostEntryName(entry->name);
  listed.size = GetContentSize(entry);
  listed.time = time;
  return true;
}

}  // namespace

// WideCharToMultiByte into a code page, always NUL-terminated: a name that
// does not fit is shortened to the longest run of whole characters (a
// surrogate pair counts as one) that does.
void StoreNameInCodePage(UINT codePage, char* field, int fieldBytes,
                         const WString& name) {
  // Windows refuses WC_COMPOSITECHECK for UTF-8, the ANSI code page of a
  // system set to "use Unicode UTF-8": the conversion then goes without it.
  DWORD flags = WC_COMPOSITECHECK;
  auto convert = [&](size_t units, char* out, int outBytes) {
    if (units == 0) return 0;
    const int length = static_cast<int>(units);
    int n = WideCharToMultiByte(codePage, flags, name.c_str(), length, out,
                                outBytes, nullptr, nullptr);
    if (n == 0 && flags != 0) {
      flags = 0;
      n = WideCharToMultiByte(codePage, 0, name.c_str(), length, out, outBytes,
                              nullptr, nullptr);
    }
    return n;
  };
  auto fits = [&](size_t units) {
    const int bytes = convert(units, nullptr, 0);
    return bytes >= 0 && bytes < fieldBytes;
  };
  std::vector<size_t> cuts;  // unit counts that end on a character boundary
  for (size_t i = 1; i <= name.size(); ++i) {
    const WCHAR last = name[i - 1];
    if (i < name.size() && last >= 0xD800 && last <= 0xDBFF) continue;
    cuts.push_back(i);
  }
  size_t units = 0;
  if (!cuts.empty() && fits(cuts.back())) {
    units = cuts.back();
  } else {
    size_t low = 0, high = cuts.size();  // cuts[0, low) known to fit
    while (low < high) {
      const size_t mid = (low + high) / 2;
      if (fits(cuts[mid])) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    units = low == 0 ? 0 : cuts[low - 1];
  }
  const int written = convert(units, field, fieldBytes - 1);
  field[written > 0 ? written : 0] = '\0';
}

void StoreAnsiName(char* field, int fieldBytes, const WString& name) {
  StoreNameInCodePage(CP_ACP, field, fieldBytes, name);
}

namespace {

// The fields both extended records share: 64-bit sizes, time, attributes.
template <typename Record>
void FillExtendedFields(Record& h, const ListedEntry& e) {
  h.packSize = e.size;
  h.packSizeHigh = 0;
  h.unpSize = e.size;
  h.unpSizeHigh = 0;
  h.fileTime = e.time;
  h.fileAttr = HostFileAttributes();
}

template <typename Record, typename Fill>
int ListOne(HANDLE handle, Record* header, Fill fill) {
  try {
    ArchiveCall call(handle);
    MsiArchive* archive = call.get();
    if (archive == nullptr) return kHostNotSupported;
    ListedEntry listed;
    if (!NextListedEntry(archive, listed)) return kHostEndArchive;
    if (header != nullptr) fill(*header, listed);
    return kHostSuccess;
  } catch (const std::bad_alloc&) {
    // No memory for the name, say.
    return kHostNoMemory;
  } catch (...) {
    return kHostNotSupported;
  }
}

}  // namespace

FileEntry* AdvanceCursor(MsiArchive* archive) {
  if (archive->nextEntry == nullptr) {
    // Built once, whatever the outcome: a build cut short by a failure
    // lists what it made and is never run again over half its tables.
    try {
      BuildCatalogue(archive);
    } catch (...) {
    }
    archive->nextEntry = archive->entries.next;
  }
  if (archive->nextEntry == &archive->entries) return nullptr;
  FileEntry* entry = ListOwner<FileEntry>(archive->nextEntry);
  archive->nextEntry = archive->nextEntry->next;
  try {
    MeasureContent(archive, entry);
  } catch (...) {
    // Not measured: extraction measures it again.
  }
  TakeReference(&entry->refCount);  // the caller's
  if (archive->currentEntry != nullptr) {
    ReleaseEntry(archive->currentEntry);
    archive->currentEntry = nullptr;
  }
  TakeReference(&entry->refCount);  // currentEntry's
  archive->currentEntry = entry;
  return entry;
}

DWORD PackDosDateTime(FILETIME time) {
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  FileTimeToSystemTime(&time, &utc);
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  return ((static_cast<DWORD>(local.wYear - 1980) & 0x7F) << 25) |
         ((static_cast<DWORD>(local.wMonth) & 0x0F) << 21) |
         ((static_cast<DWORD>(local.wDay) & 0x1F) << 16) |
         ((static_cast<DWORD>(local.wHour) & 0x1F) << 11) |
         ((static_cast<DWORD>(local.wMinute) & 0x3F) << 5) |
         ((static_cast<DWORD>(local.wSecond / 2)) & 0x1F);
}

extern "C" {

int WINAPI ReadHeader(HANDLE handle, HeaderData* header) {
  return ListOne(handle, header, [](HeaderData& h, const ListedEntry& e) {
    StoreAnsiName(h.fileName, sizeof h.fileName, e.name);
    h.packSize = static_cast<int>(e.size);
    h.unpSize = static_cast<int>(e.size);
    h.fileTime = e.time;
    h.fileAttr = HostFileAttributes();
  });
}

int WINAPI ReadHeaderEx(HANDLE handle, HeaderDataEx* header) {
  return ListOne(handle, header, [](HeaderDataEx& h, const ListedEntry& e) {
    StoreAnsiName(h.fileName, sizeof h.fileName, e.name);
    FillExtendedFields(h, e);
  });
}

int WINAPI ReadHeaderExW(HANDLE handle, HeaderDataExW* header) {
  return ListOne(handle, header, [](HeaderDataExW& h, const ListedEntry& e) {
    constexpr size_t kUnits = sizeof h.fileName / sizeof h.fileName[0];
    const size_t n = e.name.size() < kUnits - 1 ? e.name.size() : kUnits - 1;
    std::memcpy(h.fileName, e.name.data(), n * sizeof(WCHAR));
    h.fileName[n] = 0;
    FillExtendedFields(h, e);
  });
}

}  // extern "C"

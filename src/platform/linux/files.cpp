// File existence, last-write time, reading and writing. Paths are the host's, in
// UTF-16, used as given: "/" separates folders and a backslash is part of a
// name, as everywhere on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "platform/linux/files.h"
#include "platform/linux/utf.h"
#include "platform/win32.h"

namespace msiarc::platform {

std::string NativePath(LPCWSTR path) {
  size_t units = 0;
  while (path[units] != 0) ++units;
  return utf::Utf16ToUtf8(path, units);
}

FILETIME ToFileTime(const struct timespec& when) {
  // 100-nanosecond ticks since 1601-01-01.
  constexpr int64_t kEpochOffset = 11644473600LL;
  const int64_t ticks =
      (static_cast<int64_t>(when.tv_sec) + kEpochOffset) * 10000000LL +
      when.tv_nsec / 100;
  const uint64_t value = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

struct timespec FromFileTime(const FILETIME& when) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kEpochTicks = 11644473600LL * kTicksPerSecond;
  const uint64_t ticks =
      (static_cast<uint64_t>(when.dwHighDateTime) << 32) | when.dwLowDateTime;
  // Ticks are below 2^63 for every FILETIME Windows accepts; a larger value
  // is held there rather than wrapped.
  const int64_t since1970 =
      static_cast<int64_t>(ticks > INT64_MAX ? INT64_MAX : ticks) - kEpochTicks;
  int64_t seconds = since1970 / kTicksPerSecond;
  int64_t rest = since1970 % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  struct timespec out {};
  out.tv_sec = static_cast<time_t>(seconds);
  out.tv_nsec = static_cast<long>(rest * 100);
  return out;
}

}  // namespace msiarc::platform

namespace {

constexpr uint32_t kFileMagic = 0x454C4946;    // "FILE"
constexpr uint32_t kSearchMagic = 0x48435253;  // "SRCH"

struct FileObject {
  uint32_t magic;
  int fd;
  // A file this handle made empty and has written from the start ends where
  // writing stopped: cutting it there has nothing to cut.
  bool endsAtPosition;
};

struct SearchObject {
  uint32_t magic;
};

FileObject* AsFile(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* file = static_cast<FileObject*>(handle);
  return file->magic == kFileMagic ? file : nullptr;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW data) {
  if (path == nullptr || data == nullptr || path[0] == 0) {
    return INVALID_HANDLE_VALUE;
  }
  const std::string native = msiarc::platform::NativePath(path);
  struct stat info;
  if (stat(native.c_str(), &info) != 0) return INVALID_HANDLE_VALUE;
  auto* search = new (std::nothrow) SearchObject{kSearchMagic};
  if (search == nullptr) return INVALID_HANDLE_VALUE;

  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                 : FILE_ATTRIBUTE_ARCHIVE;
  data->ftCreationTime = msiarc::platform::ToFileTime(info.st_ctim);
  data->ftLastAccessTime = msiarc::platform::ToFileTime(info.st_atim);
  data->ftLastWriteTime = msiarc::platform::ToFileTime(info.st_mtim);
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);

  // The found name is the last component of the path.
  size_t start = 0, units = 0;
  for (; path[units] != 0; ++units) {
    if (path[units] == u'/') start = units + 1;
  }
  size_t n = 0;
  for (size_t i = start; i < units && n + 1 < MAX_PATH; ++i) {
    data->cFileName[n++] = path[i];
  }
  data->cFileName[n] = 0;
  return search;
}

BOOL FindClose(HANDLE search) {
  if (search == nullptr || search == INVALID_HANDLE_VALUE) return FALSE;
  auto* object = static_cast<SearchObject*>(search);
  if (object->magic != kSearchMagic) return FALSE;
  object->magic = 0;
  delete object;
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, void*, DWORD disposition,
                   DWORD, HANDLE) {
  if (path == nullptr || path[0] == 0) return INVALID_HANDLE_VALUE;
  int flags = O_CLOEXEC;
  const bool read = (access & GENERIC_READ) != 0;
  const bool write = (access & GENERIC_WRITE) != 0;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  // A pipe without a writer must not hold up a reader: it reads as empty.
  if (!write) flags |= O_NONBLOCK;
  switch (disposition) {
    case 1:  // CREATE_NEW
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case 4:  // OPEN_ALWAYS
      flags |= O_CREAT;
      break;
    case 5:  // TRUNCATE_EXISTING
      flags |= O_TRUNC;
      break;
    default:
      return INVALID_HANDLE_VALUE;
  }
  const std::string native = msiarc::platform::NativePath(path);
  int fd;
  do {
    fd = open(native.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  auto* file = new (std::nothrow) FileObject{kFileMagic, fd, (flags & (O_TRUNC | O_EXCL)) != 0};
  if (file == nullptr) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// Reads up to `bytes`, fewer only at the end of the file.
BOOL ReadFile(HANDLE handle, LPVOID data, DWORD bytes, LPDWORD got, void*) {
  if (got != nullptr) *got = 0;
  FileObject* file = AsFile(handle);
  if (file == nullptr || (data == nullptr && bytes != 0)) return FALSE;
  char* p = static_cast<char*>(data);
  DWORD done = 0;
  while (done < bytes) {
    const ssize_t n = ::read(file->fd, p + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (got != nullptr) *got = done;
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (got != nullptr) *got = done;
  return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD bytes, LPDWORD written,
               void*) {
  if (written != nullptr) *written = 0;
  FileObject* file = AsFile(handle);
  if (file == nullptr || (data == nullptr && bytes != 0)) return FALSE;
  const char* p = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < bytes) {
    const ssize_t n = write(file->fd, p + done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  return done == bytes ? TRUE : FALSE;
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance,
                      PLARGE_INTEGER position, DWORD method) {
  FileObject* file = AsFile(handle);
  if (file == nullptr || method != FILE_BEGIN || distance.QuadPart < 0) return FALSE;
  const off_t at = lseek(file->fd, static_cast<off_t>(distance.QuadPart), SEEK_SET);
  if (at < 0) return FALSE;
  if (position != nullptr) position->QuadPart = at;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE handle) {
  FileObject* file = AsFile(handle);
  if (file == nullptr) return FALSE;
  if (file->endsAtPosition) return TRUE;
  const off_t position = lseek(file->fd, 0, SEEK_CUR);
  if (position < 0) return FALSE;
  return ftruncate(file->fd, position) == 0 ? TRUE : FALSE;
}

BOOL SetFileTime(HANDLE handle, const FILETIME*, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
  FileObject* file = AsFile(handle);
  if (file == nullptr) return FALSE;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = times[0];
  if (lastAccess != nullptr) times[0] = msiarc::platform::FromFileTime(*lastAccess);
  if (lastWrite != nullptr) times[1] = msiarc::platform::FromFileTime(*lastWrite);
  return futimens(file->fd, times) == 0 ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE handle) {
  FileObject* file = AsFile(handle);
  if (file == nullptr) return FALSE;
  const int result = close(file->fd);
  file->magic = 0;
  delete file;
  return result == 0 ? TRUE : FALSE;
}

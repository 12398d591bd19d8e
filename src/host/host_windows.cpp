// The Windows side of the host layer.
//
// Working files are locked with a byte-range lock far beyond their end, where
// no read or write ever goes; files are opened sharing reading, writing and
// deletion, so that the lock alone decides who holds a file, and a library
// that a run reads can still be replaced by another run.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <vector>

#include "host/host.h"
#include "host/wide.h"

namespace host {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Stale files and links are removed before the file is taken; a name that
// keeps changing under the run gives up after this many attempts.
constexpr int kTakeAttempts = 100;
// A file being removed by its holder is refused for a moment only; a name
// refused for longer is one the run may not use.
constexpr int kDeniedAttempts = 200;
// How long the new library waits for readers that keep it from taking the
// library's name.
constexpr int kPatienceMs = 10000;

bool move_file(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

HANDLE handle_of(std::FILE* fp) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp))); }

// A stream over a handle; the handle is closed when that fails.
std::FILE* stream_of(HANDLE h, int flags, const char* mode) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* fp = _fdopen(fd, mode);
  if (fp == nullptr) _close(fd);
  return fp;
}

bool identify(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) { return GetFileInformationByHandle(h, &info) != 0; }

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Whether `h` is open on the file that `name` stands for now.
bool is_at(HANDLE h, const std::wstring& name) {
  HANDLE named = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  bool same = identify(h, a) && identify(named, b) && same_file(a, b);
  CloseHandle(named);
  return same;
}

// The lock of a working file: one byte far past anything ever written.
bool lock(HANDLE h) {
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFF0;
  at.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Renames the file open as `h` to `to` (a full path, as fs_path gives it),
// replacing a file of that name.
bool rename_open_file(HANDLE h, const std::wstring& to) {
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), info->FileName);
  return SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

// A file that another program reads without letting it be replaced holds
// the replacement up: the run tries again for a while instead of failing.
bool rename_open_file_patiently(HANDLE h, const std::wstring& to) {
  for (int pause = 1, waited = 0; waited < kPatienceMs; waited += pause, pause = std::min(2 * pause, 100)) {
    if (rename_open_file(h, to)) return true;
    DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    Sleep(static_cast<DWORD>(pause));
  }
  return false;
}

// A name that is a directory or a read-only file is no working file.
bool unusable(const std::wstring& name) {
  DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
}

}  // namespace

std::FILE* open_read(const std::string& name) {
  HANDLE h = CreateFileW(fs_path(name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return unbuffered(stream_of(h, _O_RDONLY, "rb"));
}

Take take_work_file(const std::string& name, std::FILE*& fp) {
  std::wstring w = fs_path(name);
  int denied = 0;
  for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
    HANDLE h = CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      // A file that its holder is removing cannot be opened for a moment.
      if (GetLastError() != ERROR_ACCESS_DENIED || unusable(w) || ++denied > kDeniedAttempts) return Take::kFailed;
      Sleep(5);
      continue;
    }
    if (!lock(h)) {
      bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
      CloseHandle(h);
      return busy ? Take::kBusy : Take::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!identify(h, info)) {
      CloseHandle(h);
      return Take::kFailed;
    }
    // The holder this run waited for may have removed or replaced the file;
    // a link, or a file with other names, is removed and never written through.
    bool current = is_at(h, w);
    bool foreign = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks != 1;
    if (current && !foreign) {
      LARGE_INTEGER zero{};
      if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
        CloseHandle(h);
        return Take::kFailed;
      }
      fp = stream_of(h, _O_RDWR, "w+b");
      if (fp == nullptr) return Take::kFailed;
      unbuffered(fp);
      return Take::kTaken;
    }
    CloseHandle(h);
    if (current && !DeleteFileW(w.c_str())) return Take::kFailed;
  }
  return Take::kFailed;
}

bool drop_work_file(const std::string& name, std::FILE*& fp, bool remove) {
  if (fp == nullptr) return true;
  if (remove && is_at(handle_of(fp), fs_path(name))) {
    // Removed through the handle: the name goes when the file is closed.
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(handle_of(fp), FileDispositionInfo, &disposition, sizeof disposition))
      return false;
  }
  bool closed = std::fclose(fp) == 0;
  fp = nullptr;
  return closed;
}

void pause_ms(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

std::string resolve_links(const std::string& name) { return name; }

bool exists(const std::string& name) {
  return GetFileAttributesW(fs_path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool remove_file(const std::string& name) { return DeleteFileW(fs_path(name).c_str()) != 0; }

bool stream_size(std::FILE* fp, int64_t& size) {
  struct _stat64 st;
  if (_fstat64(_fileno(fp), &st) != 0) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool stream_time(std::FILE* fp, std::time_t& mtime) {
  struct _stat64 st;
  if (_fstat64(_fileno(fp), &st) != 0) return false;
  mtime = static_cast<std::time_t>(st.st_mtime);
  return true;
}

void local_time(std::time_t t, std::tm& out) { localtime_s(&out, &t); }

bool stream_stamp(std::FILE* fp, FileStamp& stamp) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
    return false;
  auto wide = [](DWORD high, DWORD low) { return static_cast<uint64_t>(high) << 32 | low; };
  stamp = FileStamp{info.dwVolumeSerialNumber, wide(info.nFileIndexHigh, info.nFileIndexLow),
                    static_cast<int64_t>(wide(info.nFileSizeHigh, info.nFileSizeLow)),
                    basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart};
  return true;
}

bool seek(std::FILE* fp, int64_t offset, int whence) { return _fseeki64(fp, offset, whence) == 0; }

// The new library has the security its directory gives a new file, as a
// library that the program creates has: only the sync is left to do.
bool finish_library(std::FILE* fresh_fp, const std::string&) {
  return std::fflush(fresh_fp) == 0 && _commit(_fileno(fresh_fp)) == 0;
}

Copy copy_range(std::FILE* from, int64_t at, int64_t length, std::FILE* to) {
  // Blocks of this size: reading and writing is the only copy there is.
  constexpr int64_t kCopyBlock = 1 << 20;
  if (!seek(from, at, SEEK_SET)) return Copy::kReadFailed;
  std::vector<char> buffer(static_cast<std::size_t>(std::min(length, kCopyBlock)));
  while (length > 0) {
    std::size_t want = static_cast<std::size_t>(std::min(length, kCopyBlock));
    if (std::fread(buffer.data(), 1, want, from) != want) return Copy::kReadFailed;
    if (std::fwrite(buffer.data(), 1, want, to) != want) return Copy::kWriteFailed;
    length -= static_cast<int64_t>(want);
  }
  return Copy::kDone;
}

void start_writeback(std::FILE*, int64_t, int64_t) {}

void release_range(std::FILE*, int64_t, int64_t) {}

bool install_library(std::FILE* fresh_fp, const std::string&, const std::string& final, const std::string& backup) {
  std::wstring final_w = fs_path(final), backup_w = fs_path(backup);
  bool moved = false;
  // A library named like its backup has no backup to make, and must not be
  // removed as the old backup before the new one takes its name.
  if (_wcsicmp(final_w.c_str(), backup_w.c_str()) != 0) {
    DeleteFileW(backup_w.c_str());
    // A hard link makes the backup while the library keeps its name; only
    // where links are not to be had is the library moved aside.
    if (exists(final) && !CreateHardLinkW(backup_w.c_str(), final_w.c_str(), nullptr)) {
      if (!move_file(final_w, backup_w)) return false;
      moved = true;
    }
  }
  // The new library is renamed through the handle that holds it, so that
  // no other run can take it over on the way.
  if (rename_open_file_patiently(handle_of(fresh_fp), final_w)) return true;
  if (moved) move_file(backup_w, final_w);
  return false;
}

bool retire_library(const std::string& final, const std::string& backup) {
  std::wstring final_w = fs_path(final), backup_w = fs_path(backup);
  if (_wcsicmp(final_w.c_str(), backup_w.c_str()) == 0) return DeleteFileW(final_w.c_str()) != 0;
  return move_file(final_w, backup_w);
}

void install_break_handler(void (*handler)(int)) { std::signal(SIGINT, handler); }
void ignore_break() { std::signal(SIGINT, SIG_IGN); }

}  // namespace host

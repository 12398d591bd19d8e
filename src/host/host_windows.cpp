// The Windows side of the host layer.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <csignal>
#include <cstdlib>

#include "host/host.h"

namespace host {

namespace {

std::wstring wide(const std::string& s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
  return w;
}

bool move_file(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

std::FILE* create_work_file(const std::string& name, std::vector<char>* buffer) {
  std::wstring w = wide(name);
  DeleteFileW(w.c_str());
  int fd = -1;
  if (_wsopen_s(&fd, w.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYNO,
                _S_IREAD | _S_IWRITE) != 0)
    return nullptr;
  std::FILE* fp = _fdopen(fd, "w+b");
  if (fp == nullptr) _close(fd);
  return buffered(fp, buffer);
}

bool exists(const std::string& name) {
  return GetFileAttributesW(wide(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool remove_file(const std::string& name) { return DeleteFileW(wide(name).c_str()) != 0; }

bool file_size(const std::string& name, int64_t& size) {
  struct _stat64 st;
  if (_wstat64(wide(name).c_str(), &st) != 0) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool file_time(const std::string& name, std::time_t& mtime) {
  struct _stat64 st;
  if (_wstat64(wide(name).c_str(), &st) != 0) return false;
  mtime = static_cast<std::time_t>(st.st_mtime);
  return true;
}

void local_time(std::time_t t, std::tm& out) { localtime_s(&out, &t); }

bool seek(std::FILE* fp, int64_t offset, int whence) { return _fseeki64(fp, offset, whence) == 0; }

int64_t tell(std::FILE* fp) { return _ftelli64(fp); }

bool sync_close(std::FILE*& fp) {
  bool ok = std::fflush(fp) == 0;
  ok = _commit(_fileno(fp)) == 0 && ok;
  ok = std::fclose(fp) == 0 && ok;
  fp = nullptr;
  return ok;
}

bool install_library(const std::string& fresh, const std::string& final, const std::string& backup) {
  std::wstring fresh_w = wide(fresh), final_w = wide(final), backup_w = wide(backup);
  // A library named like its backup has no backup to make, and must not be
  // removed as the old backup before the new one takes its name.
  if (_wcsicmp(final_w.c_str(), backup_w.c_str()) == 0) return move_file(fresh_w, final_w);
  DeleteFileW(backup_w.c_str());
  if (!exists(final)) return move_file(fresh_w, final_w);
  if (ReplaceFileW(final_w.c_str(), fresh_w.c_str(), backup_w.c_str(),
                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
    return true;
  DWORD error = GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The old library went to the backup name but the new one did not follow.
    move_file(backup_w, final_w);
    return false;
  }
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) return false;
  // Volumes without ReplaceFileW: plain renames, the old library restored on failure.
  if (!move_file(final_w, backup_w)) return false;
  if (move_file(fresh_w, final_w)) return true;
  move_file(backup_w, final_w);
  return false;
}

void install_break_handler(void (*handler)(int)) { std::signal(SIGINT, handler); }
void ignore_break() { std::signal(SIGINT, SIG_IGN); }

}  // namespace host

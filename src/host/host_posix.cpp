// The POSIX side of the host layer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "host/host.h"

namespace host {

namespace {

// Makes a rename durable: the directory holding the name is synced.
void sync_dir_of(const std::string& fs_path) {
  std::size_t slash = fs_path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : fs_path.substr(0, slash + 1);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The new library gets the old one's permissions, or those a newly created
// file would get; the working file it was written as is private.
void give_library_mode(const std::string& fresh_fs, const std::string& final_fs) {
  mode_t mask = ::umask(0);
  ::umask(mask);
  mode_t mode = 0666 & ~mask;
  struct stat st;
  if (::stat(final_fs.c_str(), &st) == 0) mode = st.st_mode & 07777;
  ::chmod(fresh_fs.c_str(), mode);
}

}  // namespace

std::FILE* create_work_file(const std::string& name, std::vector<char>* buffer) {
  std::string path = fs_name(name);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* fp = ::fdopen(fd, "w+b");
  if (fp == nullptr) ::close(fd);
  return buffered(fp, buffer);
}

bool exists(const std::string& name) {
  struct stat st;
  return ::lstat(fs_name(name).c_str(), &st) == 0;
}

bool remove_file(const std::string& name) { return ::unlink(fs_name(name).c_str()) == 0; }

bool file_size(const std::string& name, int64_t& size) {
  struct stat st;
  if (::stat(fs_name(name).c_str(), &st) != 0) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool file_time(const std::string& name, std::time_t& mtime) {
  struct stat st;
  if (::stat(fs_name(name).c_str(), &st) != 0) return false;
  mtime = st.st_mtime;
  return true;
}

void local_time(std::time_t t, std::tm& out) { ::localtime_r(&t, &out); }

bool seek(std::FILE* fp, int64_t offset, int whence) {
  return ::fseeko(fp, static_cast<off_t>(offset), whence) == 0;
}

int64_t tell(std::FILE* fp) { return static_cast<int64_t>(::ftello(fp)); }

bool sync_close(std::FILE*& fp) {
  bool ok = std::fflush(fp) == 0;
  ok = ::fsync(::fileno(fp)) == 0 && ok;
  ok = std::fclose(fp) == 0 && ok;
  fp = nullptr;
  return ok;
}

bool install_library(const std::string& fresh, const std::string& final, const std::string& backup) {
  std::string fresh_fs = fs_name(fresh), final_fs = fs_name(final), backup_fs = fs_name(backup);
  give_library_mode(fresh_fs, final_fs);
  bool moved = false;
  // A library named like its backup has no backup to make, and must not be
  // removed as the old backup before the new one takes its name.
  if (backup_fs != final_fs) {
    ::unlink(backup_fs.c_str());
    if (exists(final)) {
      // A hard link makes the backup while the library keeps its name; only
      // where links are not to be had is the library moved aside.
      if (::link(final_fs.c_str(), backup_fs.c_str()) != 0) {
        if (std::rename(final_fs.c_str(), backup_fs.c_str()) != 0) return false;
        moved = true;
      }
    }
  }
  if (std::rename(fresh_fs.c_str(), final_fs.c_str()) != 0) {
    if (moved) std::rename(backup_fs.c_str(), final_fs.c_str());
    return false;
  }
  sync_dir_of(final_fs);
  return true;
}

void install_break_handler(void (*handler)(int)) { std::signal(SIGINT, handler); }
void ignore_break() { std::signal(SIGINT, SIG_IGN); }

}  // namespace host

// The POSIX side of the host layer. A call that not every system has is
// used where the build found it (host/host_config.h), with a POSIX fallback
// where it did not.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "host/host.h"
#include "host/host_config.h"

// Offsets of files past 2 GiB reach the system whole.
static_assert(sizeof(off_t) >= sizeof(int64_t), "the build takes 64-bit file offsets (_FILE_OFFSET_BITS=64)");

namespace host {

namespace {

// Syncs a file to the device. Where the system has F_FULLFSYNC, fsync does
// not empty the drive's own cache, and F_FULLFSYNC does; a file system that
// refuses it gets fsync.
bool sync_fd(int fd) {
#if VORNA_HAVE_F_FULLFSYNC
  if (::fcntl(fd, F_FULLFSYNC) == 0) return true;
  if (errno != ENOTSUP && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOTTY) return false;
#endif
  return ::fsync(fd) == 0;
}

// Makes a rename durable: the directory holding the name is synced.
void sync_dir_of(const std::string& fs_path) {
  std::size_t slash = fs_path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : fs_path.substr(0, slash + 1);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  sync_fd(fd);
  ::close(fd);
}

// The new library gets the old one's owner (where the run may give it),
// group and permissions, or those a newly created file would get; the
// working file it was written as is private.
void give_library_mode(int fd, const std::string& final_fs) {
  struct stat st;
  if (::stat(final_fs.c_str(), &st) != 0) {
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return;
  }
  // Ownership first: changing it may clear the set-group-ID bit. Keeping the
  // owner takes privilege; a member of the library's group keeps the group.
  if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
    [[maybe_unused]] int group_kept = ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  }
  ::fchmod(fd, st.st_mode & 07777);
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when `fp` is open on the file that `name` stands for now.
bool is_file_at(std::FILE* fp, const std::string& name) {
  struct stat held, named;
  return ::fstat(::fileno(fp), &held) == 0 && ::stat(fs_name(name).c_str(), &named) == 0 && same_file(held, named);
}

// A file that a run may take over as its working file: a regular file of
// its own with no other name, readable and writable by nobody else.
bool is_private_file(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Removes what stands at a working file's name and must not be used: a
// link, a file of another owner. False when it cannot be removed (a
// directory, a file in a directory that does not allow it).
bool remove_foreign(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

// Stale files and links are removed before the file is taken; a name that
// keeps changing under the run gives up after this many attempts.
constexpr int kTakeAttempts = 100;

}  // namespace

std::FILE* open_read(const std::string& name) { return unbuffered(std::fopen(fs_name(name).c_str(), "rb")); }

std::size_t write_fast(const void* p, std::size_t n, std::FILE* fp) {
#if VORNA_HAVE_FWRITE_UNLOCKED
  return fwrite_unlocked(p, 1, n, fp);
#else
  return std::fwrite(p, 1, n, fp);
#endif
}

Take take_work_file(const std::string& name, std::FILE*& fp) {
  std::string path = fs_name(name);
  for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno != ELOOP && errno != EACCES && errno != EPERM) return Take::kFailed;
      if (!remove_foreign(path)) return Take::kFailed;
      continue;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      bool busy = errno == EWOULDBLOCK;
      ::close(fd);
      return busy ? Take::kBusy : Take::kFailed;
    }
    struct stat held, named;
    if (::fstat(fd, &held) != 0) {
      ::close(fd);
      return Take::kFailed;
    }
    // The holder this run waited for may have removed or replaced the file.
    // A stale file is removed rather than emptied: on some file systems a
    // file emptied and written again is written out when it is closed,
    // which a working file never needs.
    bool current = ::lstat(path.c_str(), &named) == 0 && same_file(held, named);
    if (current && is_private_file(held) && held.st_size == 0) {
      if (::fchmod(fd, 0600) != 0) {
        ::close(fd);
        return Take::kFailed;
      }
      fp = ::fdopen(fd, "w+b");
      if (fp == nullptr) {
        ::close(fd);
        return Take::kFailed;
      }
      unbuffered(fp);
      return Take::kTaken;
    }
    if (current && ::unlink(path.c_str()) != 0) {
      ::close(fd);
      return Take::kFailed;
    }
    ::close(fd);
  }
  return Take::kFailed;
}

bool drop_work_file(const std::string& name, std::FILE*& fp, bool remove) {
  if (fp == nullptr) return true;
  if (remove && is_file_at(fp, name) && ::unlink(fs_name(name).c_str()) != 0) return false;
  bool closed = std::fclose(fp) == 0;
  fp = nullptr;
  return closed;
}

void pause_ms(int milliseconds) {
  struct timespec t{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  ::nanosleep(&t, nullptr);
}

std::string resolve_links(const std::string& name) {
  std::string path = fs_name(name);
  // As many links as the system itself follows in one name.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) break;
    target.resize(static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : path.substr(0, path.rfind('/') + 1) + target;
  }
  return path;
}

bool exists(const std::string& name) {
  struct stat st;
  return ::lstat(fs_name(name).c_str(), &st) == 0;
}

bool remove_file(const std::string& name) { return ::unlink(fs_name(name).c_str()) == 0; }

void local_time(std::time_t t, std::tm& out) { ::localtime_r(&t, &out); }

bool seek(std::FILE* fp, int64_t offset, int whence) {
  return ::fseeko(fp, static_cast<off_t>(offset), whence) == 0;
}

bool stream_size(std::FILE* fp, int64_t& size) {
  struct stat st;
  if (::fstat(::fileno(fp), &st) != 0) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool stream_time(std::FILE* fp, std::time_t& mtime) {
  struct stat st;
  if (::fstat(::fileno(fp), &st) != 0) return false;
  mtime = st.st_mtime;
  return true;
}

namespace {

// The times a file's contents and its status last changed, in nanoseconds,
// as exactly as the system keeps them: in whole seconds where struct stat
// has no finer times.
#if VORNA_HAVE_STAT_MTIM || VORNA_HAVE_STAT_MTIMESPEC
int64_t nanoseconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }
#endif
#if VORNA_HAVE_STAT_MTIM
int64_t modified_ns(const struct stat& st) { return nanoseconds(st.st_mtim); }
int64_t changed_ns(const struct stat& st) { return nanoseconds(st.st_ctim); }
#elif VORNA_HAVE_STAT_MTIMESPEC
int64_t modified_ns(const struct stat& st) { return nanoseconds(st.st_mtimespec); }
int64_t changed_ns(const struct stat& st) { return nanoseconds(st.st_ctimespec); }
#else
int64_t modified_ns(const struct stat& st) { return static_cast<int64_t>(st.st_mtime) * 1000000000; }
int64_t changed_ns(const struct stat& st) { return static_cast<int64_t>(st.st_ctime) * 1000000000; }
#endif

}  // namespace

bool stream_stamp(std::FILE* fp, FileStamp& stamp) {
  struct stat st;
  if (::fstat(::fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  stamp = FileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                    static_cast<int64_t>(st.st_size), modified_ns(st), changed_ns(st)};
  return true;
}

namespace {

#if VORNA_HAVE_COPY_FILE_RANGE
// Reasons for the system's copy to decline, where reading and writing still work.
bool copy_unsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL || error == EBADF;
}
#endif

// The copy by reading and writing, in blocks of this size: where the system
// has no copy of its own, the fastest exact way there is.
constexpr std::size_t kCopyBlock = 1 << 20;

Copy copy_by_blocks(int in, off_t at, int64_t length, int out) {
  std::vector<char> buffer(static_cast<std::size_t>(std::min<int64_t>(length, kCopyBlock)));
  while (length > 0) {
    ssize_t got = ::pread(in, buffer.data(), static_cast<std::size_t>(std::min<int64_t>(length, kCopyBlock)), at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Copy::kReadFailed;
    for (ssize_t put = 0; put < got;) {
      ssize_t n = ::write(out, buffer.data() + put, static_cast<std::size_t>(got - put));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Copy::kWriteFailed;
      put += n;
    }
    at += got;
    length -= got;
  }
  return Copy::kDone;
}

}  // namespace

#if VORNA_HAVE_COPY_FILE_RANGE
Copy copy_range(std::FILE* from, int64_t at, int64_t length, std::FILE* to) {
  int in = ::fileno(from), out = ::fileno(to);
  off_t position = static_cast<off_t>(at);
  while (length > 0) {
    ssize_t n = ::copy_file_range(in, &position, out, nullptr, static_cast<std::size_t>(length), 0);
    if (n > 0) {
      length -= n;
      continue;
    }
    if (n == 0) return Copy::kReadFailed;  // the file ended before the bytes it should hold
    if (errno == EINTR) continue;
    if (copy_unsupported(errno)) return copy_by_blocks(in, position, length, out);
    return Copy::kWriteFailed;
  }
  return Copy::kDone;
}
#else
Copy copy_range(std::FILE* from, int64_t at, int64_t length, std::FILE* to) {
  return copy_by_blocks(::fileno(from), static_cast<off_t>(at), length, ::fileno(to));
}
#endif

#if VORNA_HAVE_FALLOCATE_PUNCH_HOLE
void release_range(std::FILE* fp, int64_t at, int64_t length) {
  ::fallocate(::fileno(fp), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(at), static_cast<off_t>(length));
}
#elif VORNA_HAVE_F_PUNCHHOLE
// The system punches holes of whole blocks only: those within the range.
void release_range(std::FILE* fp, int64_t at, int64_t length) {
  struct stat st;
  if (::fstat(::fileno(fp), &st) != 0 || st.st_blksize <= 0) return;
  int64_t block = st.st_blksize;
  int64_t first = (at + block - 1) / block * block, end = (at + length) / block * block;
  if (end <= first) return;
  struct fpunchhole hole = {0, 0, static_cast<off_t>(first), static_cast<off_t>(end - first)};
  ::fcntl(::fileno(fp), F_PUNCHHOLE, &hole);
}
#else
void release_range(std::FILE*, int64_t, int64_t) {}
#endif

#if VORNA_HAVE_SYNC_FILE_RANGE
void start_writeback(std::FILE* fp, int64_t at, int64_t length) {
  ::sync_file_range(::fileno(fp), static_cast<off_t>(at), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}
#else
void start_writeback(std::FILE*, int64_t, int64_t) {}
#endif

bool finish_library(std::FILE* fresh_fp, const std::string& final) {
  if (std::fflush(fresh_fp) != 0) return false;
  give_library_mode(::fileno(fresh_fp), fs_name(final));
  return sync_fd(::fileno(fresh_fp));
}

bool install_library(std::FILE*, const std::string& fresh, const std::string& final, const std::string& backup) {
  std::string fresh_fs = fs_name(fresh), final_fs = fs_name(final), backup_fs = fs_name(backup);
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

bool retire_library(const std::string& final, const std::string& backup) {
  std::string final_fs = fs_name(final), backup_fs = fs_name(backup);
  bool done = final_fs == backup_fs ? ::unlink(final_fs.c_str()) == 0
                                    : std::rename(final_fs.c_str(), backup_fs.c_str()) == 0;
  if (done) sync_dir_of(final_fs);
  return done;
}

void install_break_handler(void (*handler)(int)) { std::signal(SIGINT, handler); }
void ignore_break() { std::signal(SIGINT, SIG_IGN); }

}  // namespace host

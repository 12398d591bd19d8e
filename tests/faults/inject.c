/* I/O fault injection for the tests: a library loaded into the program with
 * LD_PRELOAD that counts the program's operations on files and acts on one
 * of them.
 *
 * Counted operations, each of one kind:
 *   write   a write(2) of data to a file, or a copy_file_range(2) into one
 *   sync    fsync or fdatasync
 *   close   closing a file descriptor or a stream
 *   rename, link, unlink
 * Only operations on files and directories count; the standard streams
 * (descriptors 0 to 2), pipes and devices do not.
 *
 * The C library's streams write through internal calls that no preloaded
 * library sees, so every stream the program opens on a file (fopen, fdopen)
 * is made a cookie stream over the same descriptor: its buffering is the
 * C library's own, but each write, seek and close reaches the file through
 * this library, where it is counted. fileno gives the descriptor back.
 *
 * Environment:
 *   VORNA_FAULT_LOG     file that gets one line per counted operation:
 *                       "<kind> <n> <path>", and " *" after the one acted on
 *   VORNA_FAULT_KIND    the kind to act on, or "any" (all kinds counted as one)
 *   VORNA_FAULT_N       act on the n-th operation of that kind (from 1)
 *   VORNA_FAULT_ACTION  fail: the operation fails (ENOSPC for write, EIO
 *                       otherwise; a failing close still closes, as on Linux)
 *                       kill: SIGKILL before the operation
 *                       interrupt: SIGINT, then the operation as usual
 *                       absent: count only
 */
/* The calls wrapped here keep the C library's own names: 64-bit file
 * offsets, which the rest of the build takes, would turn fopen into
 * fopen64, which is wrapped under its own name below. */
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum Kind { kWrite, kSync, kClose, kRename, kLink, kUnlink, kKinds };
static const char* const kKindNames[kKinds] = {"write", "sync", "close", "rename", "link", "unlink"};

enum Action { kCount, kFail, kKill, kInterrupt };

static struct {
  int ready;
  int log_fd;
  int any_kind;
  int kind;
  long n;
  enum Action action;
  long counts[kKinds];
  long total;
} g = {0, -1, 0, -1, 0, kCount, {0}, 0};

static int real_close(int fd) { return ((int (*)(int))dlsym(RTLD_NEXT, "close"))(fd); }
static ssize_t real_write(int fd, const void* buf, size_t n) {
  return ((ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write"))(fd, buf, n);
}

static void set_up(void) {
  if (g.ready) return;
  g.ready = 1;
  const char* log = getenv("VORNA_FAULT_LOG");
  if (log != NULL) g.log_fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const char* kind = getenv("VORNA_FAULT_KIND");
  const char* n = getenv("VORNA_FAULT_N");
  const char* action = getenv("VORNA_FAULT_ACTION");
  if (kind == NULL || n == NULL || action == NULL) return;
  g.any_kind = strcmp(kind, "any") == 0;
  for (int k = 0; k < kKinds; ++k)
    if (strcmp(kind, kKindNames[k]) == 0) g.kind = k;
  g.n = atol(n);
  if (strcmp(action, "fail") == 0) g.action = kFail;
  if (strcmp(action, "kill") == 0) g.action = kKill;
  if (strcmp(action, "interrupt") == 0) g.action = kInterrupt;
}

static void log_op(int kind, long n, const char* path, int chosen) {
  if (g.log_fd < 0) return;
  char line[PATH_MAX + 64];
  int len = snprintf(line, sizeof line, "%s %ld %s%s\n", kKindNames[kind], n, path, chosen ? " *" : "");
  if (len > 0) real_write(g.log_fd, line, (size_t)len < sizeof line ? (size_t)len : sizeof line - 1);
}

/* Counts one operation; returns 1 when it is to fail. Kill and interrupt
 * are carried out here. */
static int fault_here(int kind, const char* path) {
  set_up();
  long n = ++g.counts[kind];
  ++g.total;
  int chosen = g.action != kCount && (g.any_kind ? g.total == g.n : g.kind == kind && n == g.n);
  log_op(kind, n, path, chosen);
  if (!chosen) return 0;
  switch (g.action) {
    case kKill: raise(SIGKILL); return 0;
    case kInterrupt: raise(SIGINT); return 0;
    case kFail: return 1;
    default: return 0;
  }
}

/* A file or directory open on fd, other than the standard streams and the log. */
static int is_file_fd(int fd) {
  struct stat st;
  if (fd <= 2 || fd == g.log_fd || fstat(fd, &st) != 0) return 0;
  return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

static void fd_path(int fd, char* path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t len = readlink(link, path, size - 1);
  path[len < 0 ? 0 : len] = '\0';
}

/* ---- descriptors ---- */

/* Counts an operation of `kind` on the file open on fd; true (errno set
   to `error`) when it is the one to fail. */
static int fails_on_fd(int fd, int kind, int error) {
  set_up();
  if (!is_file_fd(fd)) return 0;
  char path[PATH_MAX];
  fd_path(fd, path, sizeof path);
  if (!fault_here(kind, path)) return 0;
  errno = error;
  return 1;
}

ssize_t write(int fd, const void* buf, size_t n) {
  if (fails_on_fd(fd, kWrite, ENOSPC)) return -1;
  return real_write(fd, buf, n);
}

ssize_t copy_file_range(int fd_in, off64_t* off_in, int fd_out, off64_t* off_out, size_t n, unsigned flags) {
  if (fails_on_fd(fd_out, kWrite, ENOSPC)) return -1;
  return ((ssize_t(*)(int, off64_t*, int, off64_t*, size_t, unsigned))dlsym(RTLD_NEXT, "copy_file_range"))(
      fd_in, off_in, fd_out, off_out, n, flags);
}

static int sync_op(const char* name, int fd) {
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, name);
  if (fails_on_fd(fd, kSync, EIO)) return -1;
  return real(fd);
}

int fsync(int fd) { return sync_op("fsync", fd); }
int fdatasync(int fd) { return sync_op("fdatasync", fd); }

static int counted_close(int fd) {
  if (!is_file_fd(fd)) return real_close(fd);
  char path[PATH_MAX];
  fd_path(fd, path, sizeof path);
  int fail = fault_here(kClose, path);
  int result = real_close(fd);
  if (!fail) return result;
  errno = EIO;
  return -1;
}

int close(int fd) {
  set_up();
  return counted_close(fd);
}

/* ---- names ---- */

static int name_op(int kind, const char* path) {
  if (!fault_here(kind, path)) return 0;
  errno = EIO;
  return 1;
}

int rename(const char* from, const char* to) {
  if (name_op(kRename, from)) return -1;
  return ((int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename"))(from, to);
}

int link(const char* from, const char* to) {
  if (name_op(kLink, from)) return -1;
  return ((int (*)(const char*, const char*))dlsym(RTLD_NEXT, "link"))(from, to);
}

int unlink(const char* path) {
  if (name_op(kUnlink, path)) return -1;
  return ((int (*)(const char*))dlsym(RTLD_NEXT, "unlink"))(path);
}

/* ---- streams ---- */

enum { kMaxStreams = 64 };
static struct {
  FILE* fp;
  int fd;
} streams[kMaxStreams];

static ssize_t cookie_read(void* cookie, char* buf, size_t n) { return read(*(int*)cookie, buf, n); }

/* A cookie stream's write reports a failure as 0 bytes written, never as -1. */
static ssize_t cookie_write(void* cookie, const char* buf, size_t n) {
  ssize_t done = write(*(int*)cookie, buf, n);
  return done < 0 ? 0 : done;
}

static int cookie_seek(void* cookie, off64_t* offset, int whence) {
  off64_t at = lseek64(*(int*)cookie, *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

static int cookie_close(void* cookie) {
  int* fd = (int*)cookie;
  for (int i = 0; i < kMaxStreams; ++i)
    if (streams[i].fp != NULL && &streams[i].fd == fd) streams[i].fp = NULL;
  return counted_close(*fd);
}

/* A cookie stream over fd, or NULL when no slot is free. */
static FILE* wrap(int fd, const char* mode) {
  static const cookie_io_functions_t io = {cookie_read, cookie_write, cookie_seek, cookie_close};
  for (int i = 0; i < kMaxStreams; ++i) {
    if (streams[i].fp != NULL) continue;
    streams[i].fd = fd;
    streams[i].fp = fopencookie(&streams[i].fd, mode, io);
    return streams[i].fp;
  }
  return NULL;
}

static FILE* real_fdopen(int fd, const char* mode) {
  return ((FILE * (*)(int, const char*)) dlsym(RTLD_NEXT, "fdopen"))(fd, mode);
}

FILE* fdopen(int fd, const char* mode) {
  set_up();
  FILE* fp = is_file_fd(fd) ? wrap(fd, mode) : NULL;
  return fp != NULL ? fp : real_fdopen(fd, mode);
}

static int open_flags(const char* mode) {
  int flags = 0;
  switch (mode[0]) {
    case 'r': flags = O_RDONLY; break;
    case 'w': flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case 'a': flags = O_WRONLY | O_CREAT | O_APPEND; break;
    default: return -1;
  }
  for (const char* m = mode + 1; *m != '\0'; ++m) {
    if (*m == '+') flags = (flags & ~O_ACCMODE) | O_RDWR;
    if (*m == 'x') flags |= O_EXCL;
    if (*m == 'e') flags |= O_CLOEXEC;
  }
  return flags;
}

FILE* fopen(const char* path, const char* mode) {
  set_up();
  int flags = open_flags(mode);
  if (flags < 0) {
    errno = EINVAL;
    return NULL;
  }
  int fd = open(path, flags, 0666);
  if (fd < 0) return NULL;
  FILE* fp = fdopen(fd, mode);
  if (fp == NULL) real_close(fd);
  return fp;
}

FILE* fopen64(const char* path, const char* mode) { return fopen(path, mode); }

int fileno(FILE* fp) {
  for (int i = 0; i < kMaxStreams; ++i)
    if (streams[i].fp == fp && fp != NULL) return streams[i].fd;
  return ((int (*)(FILE*))dlsym(RTLD_NEXT, "fileno"))(fp);
}

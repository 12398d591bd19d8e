// What differs between the Windows and the POSIX build hosts.
//
// On Windows a name is split only at '\' (and ':' for a drive). On a POSIX
// host '/' is the directory separator, and a '\' splits a name too, so that
// build scripts and command files written for Windows work unchanged; a name
// that reaches the file system has its '\' turned into '/'.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace host {

#ifdef _WIN32
constexpr char kDirSep = '\\';
inline bool is_dir_sep(char c) { return c == '\\'; }
inline int getc_fast(std::FILE* fp) { return _getc_nolock(fp); }
inline int putc_fast(int c, std::FILE* fp) { return _putc_nolock(c, fp); }
// The system's msvcrt.dll has no _fwrite_nolock; one lock per block costs nothing.
inline std::size_t write_fast(const void* p, std::size_t n, std::FILE* fp) { return std::fwrite(p, 1, n, fp); }
#else
constexpr char kDirSep = '/';
inline bool is_dir_sep(char c) { return c == '\\' || c == '/'; }
inline int getc_fast(std::FILE* fp) { return getc_unlocked(fp); }
inline int putc_fast(int c, std::FILE* fp) { return putc_unlocked(c, fp); }
inline std::size_t write_fast(const void* p, std::size_t n, std::FILE* fp) { return fwrite_unlocked(p, 1, n, fp); }
#endif

// Position just after the last directory separator; 0 when there is none.
std::size_t after_dir_sep(const std::string& name);
// Position where the base name starts: after the last directory separator,
// else after the last ':' (a drive), else 0.
std::size_t base_start(const std::string& name);
inline std::string base_name(const std::string& name) { return name.substr(base_start(name)); }
// A directory from the environment, with a separator appended unless it
// already ends in one.
std::string with_final_sep(std::string dir);
// The name as the file system takes it.
std::string fs_name(const std::string& name);

// A non-empty environment variable.
std::optional<std::string> env(const char* var);

std::FILE* open_read(const std::string& name, std::vector<char>* buffer = nullptr);
std::FILE* open_text_read(const std::string& name);
std::FILE* open_text_write(const std::string& name);
// A file the program writes for the user (extract): created or truncated.
std::FILE* open_write(const std::string& name);
// Gives a stream opened by the host layer its large buffer: `buffer` when
// one is given (made 64 KiB long; it must outlive the stream). Without one
// the C library may still allocate a single disk block, whatever size is
// asked for, and a stream that carries a whole library would take a system
// call for every 4 KiB.
std::FILE* buffered(std::FILE* fp, std::vector<char>* buffer);
// A working file: a stale file or link of that name is removed first (a link
// is never followed), then the file is created exclusively, readable and
// writable by its owner only, open for reading and writing.
std::FILE* create_work_file(const std::string& name, std::vector<char>* buffer);

bool exists(const std::string& name);
bool remove_file(const std::string& name);
bool file_size(const std::string& name, int64_t& size);
bool file_time(const std::string& name, std::time_t& mtime);
void local_time(std::time_t t, std::tm& out);

bool seek(std::FILE* fp, int64_t offset, int whence);
int64_t tell(std::FILE* fp);
// Flushes, syncs to the device and closes; the stream is closed afterwards
// in every case. False when any step failed.
bool sync_close(std::FILE*& fp);

// Puts the new library `fresh` in the place of `final`. An old library of
// that name becomes `backup`; the name `final` never disappears on the way.
// On failure the old library stays under its name.
bool install_library(const std::string& fresh, const std::string& final, const std::string& backup);

void install_break_handler(void (*handler)(int));
void ignore_break();

}  // namespace host

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

namespace host {

#ifdef _WIN32
constexpr char kDirSep = '\\';
inline bool is_dir_sep(char c) { return c == '\\'; }
// The system's msvcrt.dll has no _fwrite_nolock; one lock per block costs nothing.
inline std::size_t write_fast(const void* p, std::size_t n, std::FILE* fp) { return std::fwrite(p, 1, n, fp); }
#else
constexpr char kDirSep = '/';
inline bool is_dir_sep(char c) { return c == '\\' || c == '/'; }
// Writes without taking the stream's lock where the system offers that.
std::size_t write_fast(const void* p, std::size_t n, std::FILE* fp);
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

// The \\?\ form of a full Windows path, in which the system takes a path of
// any length: \\?\C:\..., and \\?\UNC\server\share\... for a share. A path in
// that form already, or a device path (\\.\...), stays as it is.
std::wstring long_path_form(const std::wstring& full);

// A non-empty environment variable.
std::optional<std::string> env(const char* var);

// Names and text. Inside the program every name is the host's own text: on
// Windows UTF-8, so that a name in any script reaches the file system
// unchanged (the arguments and the environment are read wide, and every
// call that reaches the file system hands the system the full path of the
// name in its \\?\ form); on a POSIX host the bytes as given.
#ifdef _WIN32
// Runs a program's `main` on the arguments of wmain, as names of the program.
int run_main(int (*main)(int, char**), int argc, wchar_t** argv);
// The same on the wide arguments that the C run-time reads from the
// command line, as the start-up code of a wmain program reads them.
int run_main_on_wide_arguments(int (*main)(int, char**));
// The entry point of a program whose work `program_main` does: on Windows
// it takes the wide arguments, every name that Windows takes, whatever the
// code page. A toolchain whose start-up code calls only main (zig's
// MinGW-w64 run-time has no wide start-up; the build checks that a wmain
// program links) gets a main that fetches the wide arguments itself.
#ifdef HOST_START_UP_CALLS_MAIN
#define HOST_PROGRAM_MAIN(program_main) \
  int main() { return host::run_main_on_wide_arguments(program_main); }
#else
#define HOST_PROGRAM_MAIN(program_main) \
  int wmain(int argc, wchar_t** argv) { return host::run_main(program_main, argc, argv); }
#endif
#else
#define HOST_PROGRAM_MAIN(program_main) \
  int main(int argc, char** argv) { return program_main(argc, argv); }
#endif
// A module's name is its file's base name as libraries hold it: on Windows
// in the ANSI code page, as libraries always have; nullopt when that code
// page cannot represent the name. On a POSIX host the name itself.
std::optional<std::string> stored_module_name(const std::string& base);
// A stored module name as a name of the program: the name of the file that
// it stands for, which names given for the module are compared with.
std::string module_file_name(const std::string& stored);
// A name as standard output can show it: on Windows in the code page of the
// console (the ANSI code page when the output is no console), a character
// the code page lacks as '?'.
std::string for_console(const std::string& name);
// A name as a text file that also holds stored module names shows it (the
// listing): on Windows in the ANSI code page, a character it lacks as '?'.
std::string for_text_file(const std::string& name);
// A line of a text file that a user or a tool wrote (a command file) as
// text of the program: on Windows a line that is valid UTF-8 as it is, any
// other line read in the ANSI code page.
std::string from_text_file(const std::string& line);

// Opens a stream by name in a mode of fopen.
std::FILE* open_stream(const std::string& name, const char* mode);
// Files of records are read and written by the program's own blocks, so
// their streams are unbuffered; text files keep the C library's buffering.
std::FILE* open_read(const std::string& name);
std::FILE* open_text_read(const std::string& name);
std::FILE* open_text_write(const std::string& name);
// A file the program writes for the user (extract): created or truncated.
std::FILE* open_write(const std::string& name);
// Takes the C library's buffer away from a stream opened by the host layer.
std::FILE* unbuffered(std::FILE* fp);
// Working files are private to the run that holds them. A run takes each
// working file under its fixed name and holds it, locked, until it lets it
// go; another run that wants a file of the same name waits until then. The
// lock lives on the file itself and is released by the system when the
// holder ends in any way, so nothing a killed run leaves blocks a later run:
// its stale file is taken over. A name is only ever removed by the run that
// holds its file.
enum class Take { kTaken, kBusy, kFailed };
// Tries to take the working file `name`: creates it, or takes over an empty
// private file of that name that a run left. Anything else at the name (a
// stale file with contents, a link, a file of another owner or with other
// links, anything not private) is removed first and never written
// through. kBusy when another run holds the file; `fp` is then left alone.
Take take_work_file(const std::string& name, std::FILE*& fp);
// Lets go of a held working file: its name is removed when `remove` is set
// and the name still stands for the held file; then the file is closed.
// False when the removal or the close failed (the file is closed anyway).
bool drop_work_file(const std::string& name, std::FILE*& fp, bool remove);
// Waits a little before the next attempt to take a busy file.
void pause_ms(int milliseconds);

// The file a name stands for once symbolic links are followed (also when
// the last link leads to no file yet); the name itself when it is no link.
std::string resolve_links(const std::string& name);

bool exists(const std::string& name);
bool remove_file(const std::string& name);
// Size and modification time of the file a stream is open on.
bool stream_size(std::FILE* fp, int64_t& size);
bool stream_time(std::FILE* fp, std::time_t& mtime);
void local_time(std::time_t t, std::tm& out);
// What tells a file that has changed from the one looked at before: which
// file it is, its size and the times its contents and its status last
// changed, as exactly as the system keeps them.
struct FileStamp {
  uint64_t device = 0;
  uint64_t file = 0;
  int64_t size = 0;
  int64_t modified = 0;
  int64_t changed = 0;
  bool operator==(const FileStamp&) const = default;
};
// False also for a stream that is not on a plain file (a pipe, a device),
// which cannot be read again.
bool stream_stamp(std::FILE* fp, FileStamp& stamp);

bool seek(std::FILE* fp, int64_t offset, int whence);

// How a copy between files ended.
enum class Copy { kDone, kReadFailed, kWriteFailed };
// Copies `length` bytes of the file `from` is open on, from its position
// `at`, to where the unbuffered stream `to` stands; the system copies them
// itself where it can.
Copy copy_range(std::FILE* from, int64_t at, int64_t length, std::FILE* to);
// Starts sending `length` bytes of the file from `at` on to the device
// without waiting for them; a hint only, a failure shows at the sync.
void start_writeback(std::FILE* fp, int64_t at, int64_t length);
// Gives the memory and room that `length` bytes of a working file from `at`
// on hold back to the system, as far as it can: what it gives back reads as
// zeros afterwards. Where the system cannot, nothing happens.
void release_range(std::FILE* fp, int64_t at, int64_t length);

// Makes the new library, held open as `fresh_fp`, the file it is to be
// under the name `final`: it gets the old library's owner, group and mode
// (or what a new file would get), and is then flushed and synced to the
// device, so that what is synced is the library as it will stand. False
// when the flush or the sync failed.
bool finish_library(std::FILE* fresh_fp, const std::string& final);
// Puts the new library, held open as `fresh_fp` under the name `fresh` and
// finished, in the place of `final`. An old library of that name becomes
// `backup`; the name `final` never disappears on the way. On failure the old
// library stays under its name.
bool install_library(std::FILE* fresh_fp, const std::string& fresh, const std::string& final,
                     const std::string& backup);
// Takes a library out of use: it becomes `backup` (or goes, when it has its
// backup's name).
bool retire_library(const std::string& final, const std::string& backup);

void install_break_handler(void (*handler)(int));
void ignore_break();

}  // namespace host

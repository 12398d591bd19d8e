// Names and text on Windows.
//
// Every name inside the program is UTF-8. The system gets it in UTF-16, as
// the \\?\ form of its full path, so that neither its length nor its script
// is limited by a code page or by MAX_PATH. Module names stay in the ANSI
// code page, the bytes that libraries have always held; what goes to
// standard output is in the code page the console shows.
#include <windows.h>

#include <vector>

#include "host/host.h"
#include "host/wide.h"

// The C run-time's own reading of the command line, which the start-up code
// of a wmain program calls: the wide arguments, and their environment.
struct StartupInfo {
  int new_mode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand_wildcards,
                              StartupInfo* info);

namespace host {

namespace {

std::wstring widen(const std::string& s, UINT code_page) {
  if (s.empty()) return std::wstring();
  int length = static_cast<int>(s.size());
  int n = MultiByteToWideChar(code_page, 0, s.data(), length, nullptr, 0);
  std::wstring w(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(code_page, 0, s.data(), length, w.data(), n);
  return w;
}

// `w` in the code page `code_page`. A character the code page lacks (no
// look-alike stands in for it) makes the result nullopt when `exact` is
// set, else it becomes '?'.
std::optional<std::string> narrow(const std::wstring& w, UINT code_page, bool exact) {
  if (w.empty()) return std::string();
  int length = static_cast<int>(w.size());
  // UTF-8 has every character, and takes neither a default character nor best-fit flags.
  bool utf8_page = code_page == CP_UTF8;
  DWORD flags = utf8_page ? (exact ? WC_ERR_INVALID_CHARS : 0) : WC_NO_BEST_FIT_CHARS;
  const char* default_char = utf8_page ? nullptr : "?";
  BOOL defaulted = FALSE;
  BOOL* used_default = utf8_page ? nullptr : &defaulted;
  int n = WideCharToMultiByte(code_page, flags, w.data(), length, nullptr, 0, default_char, used_default);
  if (n <= 0) return exact ? std::nullopt : std::optional<std::string>(std::string(w.size(), '?'));
  std::string s(n, '\0');
  WideCharToMultiByte(code_page, flags, w.data(), length, s.data(), n, default_char, used_default);
  if (exact && defaulted) return std::nullopt;
  return s;
}

// The code page in which standard output is shown.
UINT output_code_page() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (GetFileType(out) == FILE_TYPE_CHAR && GetConsoleMode(out, &mode)) return GetConsoleOutputCP();
  return GetACP();
}

}  // namespace

std::wstring wide(const std::string& utf8) { return widen(utf8, CP_UTF8); }

std::string utf8(const std::wstring& w) { return *narrow(w, CP_UTF8, false); }

std::wstring fs_path(const std::string& name) {
  std::wstring w = wide(name);
  if (w.empty() || w.starts_with(LR"(\\?\)")) return w;
  DWORD size = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (size == 0) return w;
  std::wstring full(size, L'\0');
  DWORD n = GetFullPathNameW(w.c_str(), size, full.data(), nullptr);
  if (n == 0 || n >= size) return w;
  full.resize(n);
  return long_path_form(full);
}

int run_main(int (*main)(int, char**), int argc, wchar_t** argv) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.push_back(utf8(argv[i]));
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return main(argc, pointers.data());
}

int run_main_on_wide_arguments(int (*main)(int, char**)) {
  int argc = 0;
  wchar_t** argv = nullptr;
  wchar_t** env = nullptr;
  StartupInfo info{0};
  // Names reach the program as given, wildcards unexpanded, as in a wmain program.
  if (__wgetmainargs(&argc, &argv, &env, 0, &info) < 0) return 255;
  return run_main(main, argc, argv);
}

std::optional<std::string> env(const char* var) {
  std::wstring name = wide(var);
  DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size <= 1) return std::nullopt;  // not set, or empty
  std::wstring value(size, L'\0');
  DWORD n = GetEnvironmentVariableW(name.c_str(), value.data(), size);
  if (n == 0 || n >= size) return std::nullopt;
  value.resize(n);
  return utf8(value);
}

std::FILE* open_stream(const std::string& name, const char* mode) {
  return _wfopen(fs_path(name).c_str(), wide(mode).c_str());
}

std::optional<std::string> stored_module_name(const std::string& base) { return narrow(wide(base), GetACP(), true); }

std::string module_file_name(const std::string& stored) { return utf8(widen(stored, GetACP())); }

std::string for_console(const std::string& name) { return *narrow(wide(name), output_code_page(), false); }

std::string for_text_file(const std::string& name) { return *narrow(wide(name), GetACP(), false); }

std::string from_text_file(const std::string& line) {
  bool utf8_line = line.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(),
                                                       static_cast<int>(line.size()), nullptr, 0) > 0;
  return utf8_line ? line : utf8(widen(line, GetACP()));
}

}  // namespace host

// Splitting names at the host's directory separators.
#include "host/host.h"

namespace host {

std::size_t after_dir_sep(const std::string& name) {
  for (std::size_t i = name.size(); i > 0; --i)
    if (is_dir_sep(name[i - 1])) return i;
  return 0;
}

std::size_t base_start(const std::string& name) {
  std::size_t pos = after_dir_sep(name);
  if (pos > 0) return pos;
  std::size_t colon = name.rfind(':');
  return colon == std::string::npos ? 0 : colon + 1;
}

std::string with_final_sep(std::string dir) {
  if (dir.empty() || !is_dir_sep(dir.back())) dir.push_back(kDirSep);
  return dir;
}

std::string fs_name(const std::string& name) {
#ifdef _WIN32
  return name;
#else
  // Most names hold no '\\' at all: it is looked for, not every byte tested.
  std::string s = name;
  for (std::size_t i = s.find('\\'); i != std::string::npos; i = s.find('\\', i + 1)) s[i] = '/';
  return s;
#endif
}

std::wstring long_path_form(const std::wstring& full) {
  if (full.starts_with(LR"(\\?\)") || full.starts_with(LR"(\\.\)")) return full;
  if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

}  // namespace host

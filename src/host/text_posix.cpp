// Names and text on a POSIX host: the bytes as given, everywhere.
#include <cstdlib>

#include "host/host.h"

namespace host {

std::optional<std::string> env(const char* var) {
  const char* value = std::getenv(var);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::FILE* open_stream(const std::string& name, const char* mode) { return std::fopen(fs_name(name).c_str(), mode); }

std::optional<std::string> stored_module_name(const std::string& base) { return base; }
std::string module_file_name(const std::string& stored) { return stored; }
std::string for_console(const std::string& name) { return name; }
std::string for_text_file(const std::string& name) { return name; }
std::string from_text_file(const std::string& line) { return line; }

}  // namespace host

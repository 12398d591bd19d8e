// Opening streams by name, and the environment: alike on every host.
#include <cstdlib>

#include "host/host.h"

namespace host {

namespace {

std::FILE* open_mode(const std::string& name, const char* mode) { return std::fopen(fs_name(name).c_str(), mode); }

}  // namespace

std::FILE* unbuffered(std::FILE* fp) {
  if (fp != nullptr) std::setvbuf(fp, nullptr, _IONBF, 0);
  return fp;
}

std::optional<std::string> env(const char* var) {
  const char* value = std::getenv(var);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::FILE* open_text_read(const std::string& name) { return open_mode(name, "r"); }
std::FILE* open_text_write(const std::string& name) {
  // A listing runs to megabytes: it goes out in large blocks.
  std::FILE* fp = open_mode(name, "w");
  if (fp != nullptr) std::setvbuf(fp, nullptr, _IOFBF, 1 << 16);
  return fp;
}
std::FILE* open_write(const std::string& name) { return unbuffered(open_mode(name, "wb")); }

}  // namespace host

// Opening streams by name, and the environment: alike on every host.
#include <cstdlib>

#include "host/host.h"

namespace host {

namespace {

constexpr std::size_t kStreamBuffer = 1 << 16;

std::FILE* open_mode(const std::string& name, const char* mode, std::vector<char>* buffer = nullptr) {
  return buffered(std::fopen(fs_name(name).c_str(), mode), buffer);
}

}  // namespace

std::FILE* buffered(std::FILE* fp, std::vector<char>* buffer) {
  if (fp == nullptr) return fp;
  if (buffer != nullptr) buffer->resize(kStreamBuffer);
  std::setvbuf(fp, buffer != nullptr ? buffer->data() : nullptr, _IOFBF, kStreamBuffer);
  return fp;
}

std::optional<std::string> env(const char* var) {
  const char* value = std::getenv(var);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::FILE* open_text_read(const std::string& name) { return open_mode(name, "r"); }
std::FILE* open_text_write(const std::string& name) { return open_mode(name, "w"); }
std::FILE* open_write(const std::string& name) { return open_mode(name, "wb"); }

}  // namespace host

// Opening streams by name: alike on every host.
#include "host/host.h"

namespace host {

std::FILE* unbuffered(std::FILE* fp) {
  if (fp != nullptr) std::setvbuf(fp, nullptr, _IONBF, 0);
  return fp;
}

std::FILE* open_text_read(const std::string& name) { return open_stream(name, "r"); }
std::FILE* open_text_write(const std::string& name) {
  // A listing runs to megabytes: it goes out in large blocks.
  std::FILE* fp = open_stream(name, "w");
  if (fp != nullptr) std::setvbuf(fp, nullptr, _IOFBF, 1 << 16);
  return fp;
}
std::FILE* open_write(const std::string& name) { return unbuffered(open_stream(name, "wb")); }

}  // namespace host

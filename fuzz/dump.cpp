// vornadump over an arbitrary file: read by its content, as a library and
// as a module, as text, as JSON and as a check. Whatever the input, each
// reading ends with status 0 or 1, leaves the file as it was and writes
// no other, and the JSON document is whole: brackets balanced outside the
// strings, one line.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "dump/dump.h"
#include "dump/sinks.h"
#include "sandbox.h"

namespace {

// The document's brackets close in order and nothing follows its last one.
bool whole_json(const std::string& text) {
  std::string open;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
      else if (static_cast<unsigned char>(c) < 0x20) return false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      open += c;
    } else if (c == '}' || c == ']') {
      if (open.empty() || open.back() != (c == '}' ? '{' : '[')) return false;
      open.pop_back();
      if (open.empty()) return text.substr(i + 1) == "\n";
    }
  }
  return false;
}

std::string read_all(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::clear();
  const fuzz::Bytes input(data, data + size);
  fuzz::put("F.LIB", input);
  std::FILE* null = std::fopen("/dev/null", "w");
  for (dump::Reading reading : {dump::Reading::kByContent, dump::Reading::kLibrary, dump::Reading::kModule}) {
    for (int mode = 0; mode < 3; ++mode) {
      dump::Options options;
      options.reading = reading;
      options.check = mode != 0;
      options.json = mode == 2;
      std::FILE* out = std::tmpfile();
      fuzz::require(out != nullptr, "no scratch file for the output");
      std::unique_ptr<dump::Sink> sink = options.json    ? dump::json_sink(out)
                                         : options.check ? dump::check_sink(out)
                                                         : dump::text_sink(out);
      const dump::Status status = dump::dump_file("F.LIB", options, *sink, null);
      fuzz::require(status == dump::kClean || status == dump::kBroken, "status neither 0 nor 1");
      if (options.json) fuzz::require(whole_json(read_all(out)), "the JSON document is not whole");
      std::fclose(out);
    }
  }
  std::fclose(null);
  fuzz::require(fuzz::get("F.LIB") == input, "the file was changed");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(".")) ++files;
  fuzz::require(files == 1, "a file was written");
  return 0;
}

// vornadump over an arbitrary file: read by its content, as a library and
// as a module, as text, as JSON and as a check, and compared (--diff) with
// itself and with a library that our own append made. Whatever the input,
// each reading ends with status 0 or 1; compared with itself it is the same
// (0) or no readable library or module (2), never different; compared with
// the library it ends with 0, 1 or 2. Nothing is changed or written, and
// every JSON document is whole: brackets balanced outside the strings, one
// line.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "dump/diff.h"
#include "dump/dump.h"
#include "dump/sinks.h"
#include "sandbox.h"
#include "support/qob_writer.h"

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

// A library of two modules, made once by the librarian.
const fuzz::Bytes& valid_library() {
  static const fuzz::Bytes library = [] {
    fuzz::clear();
    fuzz::put("A.QOB", qob::Module().f0().f4(1, {{0x1000, "START"}}).f6({"PUTS"}).f8(1, {{1, 2, 3}}).end().bytes());
    fuzz::put("B.QOB", qob::Module().f0().f5({{7, "SEVEN"}}).end().bytes());
    fuzz::require(fuzz::run({"-a", "-o", "V", "-f", "A", "B"}) == 0, "the valid library was not made");
    return *fuzz::get("V.LIB");
  }();
  return library;
}

// vornadump --diff of `a` and `b`, as text and as JSON: the status, the
// same for both.
dump::Status diff(const std::string& a, const std::string& b, std::FILE* null) {
  dump::Status status = dump::kClean;
  for (bool json : {false, true}) {
    dump::Options options;
    options.diff = true;
    options.json = json;
    options.files = {a, b};
    std::FILE* out = std::tmpfile();
    fuzz::require(out != nullptr, "no scratch file for the output");
    dump::Status s = dump::diff_files(options, out, null);
    fuzz::require(!json || s == status, "text and JSON disagree");
    if (json && s != dump::kUsage) fuzz::require(whole_json(read_all(out)), "the diff's JSON document is not whole");
    std::fclose(out);
    status = s;
  }
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::Bytes& valid = valid_library();
  fuzz::clear();
  const fuzz::Bytes input(data, data + size);
  fuzz::put("F.LIB", input);
  fuzz::put("V.LIB", valid);
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
  const dump::Status self = diff("F.LIB", "F.LIB", null);
  fuzz::require(self == dump::kClean || self == dump::kUsage, "the file differs from itself");
  const dump::Status other = diff("F.LIB", "V.LIB", null);
  fuzz::require(other != dump::kUnreadable, "the comparison could not read a file");
  std::fclose(null);
  fuzz::require(fuzz::get("F.LIB") == input && fuzz::get("V.LIB") == valid, "a file was changed");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(".")) ++files;
  fuzz::require(files == 2, "a file was written");
  return 0;
}

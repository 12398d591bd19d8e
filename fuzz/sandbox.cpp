#include "sandbox.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "driver/driver.h"
#include "core/errors.h"
#include "driver/run_state.h"

namespace fuzz {

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, Bytes>;

// True when a file of the directory is still open: a run left a stream open.
bool file_open_in(const fs::path& dir) {
  const std::string prefix = dir.string() + "/";
  for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(fd.path(), ec).string().starts_with(prefix)) return true;
  }
  return false;
}

struct Place {
  fs::path dir;
  std::FILE* out;
  std::FILE* err;

  Place() {
    // A memory file system where there is one: the commits' syncs then cost nothing.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "vorna-fuzz-XXXXXX").string();
    require(::mkdtemp(pattern.data()) != nullptr, "cannot make the fuzz directory");
    dir = pattern;
    fs::current_path(dir);
    ::unsetenv("TMP");
    ::unsetenv("VORNA");
    out = std::fopen("/dev/null", "w");
    err = std::fopen("/dev/null", "w");
    require(out != nullptr && err != nullptr, "cannot open /dev/null");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(place().dir, ec);
    });
  }

  // Never destroyed: the handler that removes the directory at exit uses it.
  static Place& place() {
    static Place& p = *new Place;
    return p;
  }
};

Files snapshot() {
  Files files;
  for (const fs::directory_entry& entry : fs::directory_iterator(Place::place().dir))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = *get(entry.path().filename().string());
  return files;
}

bool is_work_file(const std::string& name) {
  return name.ends_with(".$$1") || name.ends_with(".$$2") || name.ends_with(".$$3");
}

// What the finished run knew about its files.
struct Outcome {
  int status;
  bool trace;
  Command command;  // as the letter typed selects it, also when the command line was refused
  std::string library;  // the library's name, with its extension
  std::string backup;
  std::string listing;
};

void check(const Outcome& run, const Files& before) {
  require(g_break_requested == 0, "an interrupt is pending");
  require(run.status >= 0 && run.status <= 3, "exit status out of range");
  require(!file_open_in(Place::place().dir), "a file was left open");
  const Files after = snapshot();
  const auto old_library = before.find(run.library);
  if ((run.command == Command::kList || run.command == Command::kExtract) && old_library != before.end()) {
    const auto library = after.find(run.library);
    require(library != after.end() && library->second == old_library->second, "list or extract changed the library");
  }
  if (run.trace) return;  // a traced run keeps its working files
  for (const auto& [name, bytes] : after) {
    const auto old = before.find(name);
    require(!is_work_file(name) || (old != before.end() && old->second == bytes), "a working file was left");
  }
  const bool rewrites = rewrites_library(run.command);
  if (run.status != 0) {
    if (rewrites) require(after == before, "a failed run changed a file");
    if (writes_listing(run.command)) {
      const auto listing = after.find(run.listing);
      const auto old = before.find(run.listing);
      require(listing == after.end() || (old != before.end() && listing->second == old->second),
              "a failed list left its listing");
      Files rest_before = before, rest_after = after;
      rest_before.erase(run.listing);
      rest_after.erase(run.listing);
      require(rest_after == rest_before, "a failed list changed a file");
    }
    return;
  }
  if (rewrites && old_library != before.end() && run.backup != run.library) {
    const auto backup = after.find(run.backup);
    require(backup != after.end() && backup->second == old_library->second, "the backup is not the old library");
  }
}

}  // namespace

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "vorna fuzz check failed: %s\n", what);
  std::abort();
}

void clear() {
  for (const fs::directory_entry& entry : fs::directory_iterator(Place::place().dir)) fs::remove_all(entry.path());
}

void put(const std::string& name, const Bytes& bytes) {
  Place::place();
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  require(out.good(), "cannot write an input file");
}

void put(const std::string& name, std::string_view text) { put(name, Bytes(text.begin(), text.end())); }

std::optional<Bytes> get(const std::string& name) {
  Place::place();
  std::ifstream in(name, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  Bytes bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

int run(const std::vector<std::string>& args) {
  Place& place = Place::place();
  const Files before = snapshot();
  std::vector<std::string> words{"vorna"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  Outcome outcome;
  {
    RunState rs(place.out, place.err);
    outcome.status = run_vorna(rs, static_cast<int>(words.size()), argv.data());
    outcome.trace = rs.line.trace;
    outcome.command = command_of(rs.line.cmd_code);
    outcome.library = rs.files.lib_name;
    outcome.backup = rs.files.path + rs.files.name + ".BAK";
    outcome.listing = rs.files.list_name;
  }
  check(outcome, before);
  return outcome.status;
}

Split split(const std::uint8_t* data, std::size_t size, std::string_view separator) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return {Bytes(data, data + size), std::nullopt};
  return {Bytes(data, data + at), Bytes(data + at + separator.size(), data + size)};
}

}  // namespace fuzz

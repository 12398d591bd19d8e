// The fuzz targets' view of the librarian: whole runs of the real command
// code, in this process, in a private directory.
//
// The first use makes a fresh directory (in /dev/shm where there is one,
// else in the system temp directory) the current one, and clears TMP and
// VORNA, so that every file a run names lies in that directory. Each input starts from an empty directory. The runs'
// standard output and error go to /dev/null.
//
// Every run is checked for what must hold whatever the input:
// - it ends with a status of 0 to 3, without an interrupt pending and with
//   no file descriptor left open;
// - unless traced (option k), it leaves no working file of its own;
// - list and extract never change the library;
// - a failed append, replace or delete leaves every file as it was; a failed
//   list removes its listing and leaves the rest as it was;
// - a successful run that rewrote an existing library made the old one the
//   backup.
// A violation aborts, which the fuzzer reports with the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

// Empties the private directory (made on first use).
void clear();
void put(const std::string& name, const Bytes& bytes);
void put(const std::string& name, std::string_view text);
std::optional<Bytes> get(const std::string& name);

// Runs the librarian with these arguments (the program name is added) and
// checks the run; returns its exit status.
int run(const std::vector<std::string>& args);

// Aborts with the message when the condition does not hold.
void require(bool condition, const char* what);

// The input cut at the first occurrence of `separator`: the part before,
// and the part after when the separator occurs.
struct Split {
  Bytes first;
  std::optional<Bytes> second;
};
Split split(const std::uint8_t* data, std::size_t size, std::string_view separator);

// Separates a library from a relocatable module in the inputs of the
// targets that take both.
inline constexpr std::string_view kModuleSeparator = "#QOB#";

}  // namespace fuzz

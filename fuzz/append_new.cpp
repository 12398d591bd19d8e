// Append of an arbitrary relocatable file into a new library.
//
// A library that append made must then work with every other command: it
// lists, extract gives the module back byte for byte (the file up to the FF
// that ends the module), a module that starts as our format requires can be
// replaced by its own file, and deleting the module leaves no library, only
// the backup.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzz::require;
  using fuzz::run;
  fuzz::clear();
  const fuzz::Bytes module(data, data + size);
  fuzz::put("M.QOB", module);
  run({"-avk", "-o", "T", "-f", "M"});  // the trace lines too
  if (run({"-a", "-o", "N", "-f", "M"}) != 0) return 0;

  require(run({"-l", "-o", "N"}) == 0, "a new library does not list");
  require(run({"-x", "-o", "N"}) == 0, "a new library does not extract");
  const auto extracted = fuzz::get("M.QOB");
  require(extracted && !extracted->empty() && extracted->size() <= size && extracted->back() == 0xFF &&
              std::equal(extracted->begin(), extracted->end(), data),
          "extract does not give the appended module back");

  constexpr std::string_view kStart("\xF0VER.A\0", 7);
  const bool our_format = std::string_view(reinterpret_cast<const char*>(data), size).starts_with(kStart);
  const int replaced = run({"-r", "-o", "N", "-f", "M"});
  if (our_format) {
    require(replaced == 0, "a module does not replace itself");
    require(run({"-l", "-o", "N"}) == 0, "a replaced library does not list");
  }
  require(run({"-d", "-o", "N", "-f", "M"}) == 0, "a new library's module cannot be deleted");
  require(!fuzz::get("N.LIB"), "deleting the last module left a library");
  return 0;
}

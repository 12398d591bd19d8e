// The delete command over an arbitrary library (the seed libraries hold
// A.QOB and B.QOB). Delete writes every remaining entry anew, so a library
// it leaves must list.
#include <cstdint>

#include "sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::Bytes library(data, data + size);
  fuzz::clear();
  fuzz::put("L.LIB", library);
  if (fuzz::run({"-d", "-o", "L", "-f", "A"}) == 0 && fuzz::get("L.LIB"))
    fuzz::require(fuzz::run({"-l", "-o", "L"}) == 0, "a library that delete wrote does not list");
  fuzz::clear();
  fuzz::put("L.LIB", library);
  fuzz::run({"-dvk", "-o", "L", "-f", "b", "A"});  // the trace lines too
  return 0;
}

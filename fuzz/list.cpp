// The list command over an arbitrary library: the whole library, and the
// symbol tables of named modules (the seed libraries hold A.QOB and B.QOB).
#include <cstdint>

#include "sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::clear();
  fuzz::put("L.LIB", fuzz::Bytes(data, data + size));
  fuzz::run({"-l", "-o", "L"});
  fuzz::run({"-lv", "-o", "L", "-f", "A"});
  fuzz::run({"-lk", "-o", "L", "-f", "B", "a"});  // the trace lines too
  return 0;
}

// The extract command over an arbitrary library: every module, and named
// ones (the seed libraries hold A.QOB and B.QOB).
#include <cstdint>

#include "sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::clear();
  fuzz::put("L.LIB", fuzz::Bytes(data, data + size));
  fuzz::run({"-x", "-o", "L"});
  fuzz::run({"-xvk", "-o", "L", "-f", "B", "a"});  // the trace lines too
  return 0;
}

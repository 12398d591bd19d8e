// Append of a relocatable file into an arbitrary existing library.
//
// Input: the library, then optionally "#QOB#" and the module to append (a
// small valid module when there is none).
#include <cstdint>

#include "sandbox.h"
#include "support/qob_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Bytes kModule = qob::Module().f0().f4(1, {{0x10, "NEW_SYM"}}).f8(1, {{1, 2, 3}}).end().bytes();
  const fuzz::Split input = fuzz::split(data, size, fuzz::kModuleSeparator);
  fuzz::clear();
  fuzz::put("L.LIB", input.first);
  fuzz::put("K.LIB", input.first);
  fuzz::put("M.QOB", input.second.value_or(kModule));
  if (fuzz::run({"-a", "-o", "L", "-f", "M"}) == 0) fuzz::run({"-l", "-o", "L"});
  fuzz::run({"-avk", "-o", "K", "-f", "M"});  // the trace lines too
  return 0;
}

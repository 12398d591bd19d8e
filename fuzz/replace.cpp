// The replace command over an arbitrary library.
//
// Input: the library, then optionally "#QOB#" and the new A.QOB (a small
// valid module when there is none); the seed libraries hold A.QOB and B.QOB.
// Replace writes every entry anew, so a library it wrote must list.
#include <cstdint>

#include "sandbox.h"
#include "support/qob_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Bytes kModule =
      qob::Module().f0().f4(1, {{0x20, "A_NEW"}}).f6({"B_PUB"}).f8(1, {{4, 5}}).end().bytes();
  const fuzz::Split input = fuzz::split(data, size, fuzz::kModuleSeparator);
  for (const char* options : {"-r", "-ruvk"}) {  // -k: the trace lines too
    fuzz::clear();
    fuzz::put("L.LIB", input.first);
    fuzz::put("A.QOB", input.second.value_or(kModule));
    if (fuzz::run({options, "-o", "L", "-f", "A"}) == 0)
      fuzz::require(fuzz::run({"-l", "-o", "L"}) == 0, "a library that replace wrote does not list");
  }
  return 0;
}

// The command line and command files.
//
// Input: text. The lines before a line "===" are the arguments, one a line
// (at most 32); whatever follows that line is the command file C.CMD. Every
// '/' and '\' becomes '_', so that no name leaves the fuzz directory. The
// directory also holds A.QOB and B.QOB, the library of the two as L.LIB and
// as M.LST (its listing's name), and N.QOB, a library of one module named
// N.QOB (its extracted module's name).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sandbox.h"
#include "support/qob_writer.h"

namespace {

struct Inputs {
  fuzz::Bytes a = qob::Module().f0().f4(1, {{1, "A_PUB"}}).f6({"B_PUB"}).f8(1, {{1}}).end().bytes();
  fuzz::Bytes b = qob::Module().f0().f4(1, {{2, "B_PUB"}}).f5({{3, "B_EQU"}}).end().bytes();
  fuzz::Bytes library;
  fuzz::Bytes self_named;

  Inputs() {
    fuzz::clear();
    put_modules();
    fuzz::require(fuzz::run({"-a", "-o", "L", "-f", "A", "B"}) == 0, "cannot make the library");
    library = *fuzz::get("L.LIB");
    fuzz::put("N.QOB", a);
    fuzz::require(fuzz::run({"-a", "-o", "T", "-f", "N"}) == 0, "cannot make the library");
    self_named = *fuzz::get("T.LIB");
  }

  void put_modules() const {
    fuzz::put("A.QOB", a);
    fuzz::put("B.QOB", b);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Inputs inputs;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::replace(text.begin(), text.end(), '/', '_');
  std::replace(text.begin(), text.end(), '\\', '_');

  std::vector<std::string> args;
  std::string cmd_file;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = std::min(text.find('\n', pos), text.size());
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line == "===") {
      if (pos < text.size()) cmd_file = text.substr(pos);
      break;
    }
    if (args.size() == 32) return 0;
    args.push_back(line.substr(0, line.find('\0')));
  }

  fuzz::clear();
  inputs.put_modules();
  fuzz::put("L.LIB", inputs.library);
  fuzz::put("M.LST", inputs.library);
  fuzz::put("N.QOB", inputs.self_named);
  fuzz::put("C.CMD", cmd_file);
  fuzz::run(args);
  return 0;
}

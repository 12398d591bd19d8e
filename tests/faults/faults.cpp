#include "faults/faults.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#ifndef VORNA_INJECT
#define VORNA_INJECT ""
#endif

namespace fs = std::filesystem;

namespace faults {

const char* action_name(Action action) {
  switch (action) {
    case Action::kFail: return "fail";
    case Action::kKill: return "kill";
    case Action::kInterrupt: return "interrupt";
  }
  return "";
}

bool is_work_file(const std::string& name) {
  for (const char* ext : {".$$1", ".$$2", ".$$3"})
    if (name.ends_with(ext)) return true;
  return false;
}

std::string describe(const Files& files) {
  std::string text;
  for (const auto& [name, bytes] : files) text += "  " + name + " (" + std::to_string(bytes.size()) + " bytes)\n";
  return text;
}

std::string differences(const Files& got, const Files& expected) {
  std::string text;
  for (const auto& [name, bytes] : got) {
    const auto found = expected.find(name);
    if (found == expected.end())
      text += "  " + name + " should not be there\n";
    else if (found->second != bytes)
      text += "  " + name + " differs (" + std::to_string(bytes.size()) + " bytes, expected " +
              std::to_string(found->second.size()) + ")\n";
  }
  for (const auto& [name, bytes] : expected)
    if (got.count(name) == 0) text += "  " + name + " is missing\n";
  return text;
}

void FaultE2E::SetUp() {
  E2E::SetUp();
  // The library is preloaded into the program itself, not into a runner, and
  // it is built for this build's own machine: a program built for another
  // one (VORNA_TARGET), even where it runs natively, cannot take it.
  if (windows_target() || std::getenv("VORNA_RUNNER") != nullptr || std::getenv("VORNA_TARGET") != nullptr)
    GTEST_SKIP() << "fault injection needs this build's own program, run natively";
  if (std::string(VORNA_INJECT).empty()) GTEST_SKIP() << "built without the injection library";
}

std::string FaultE2E::log_path() const { return (dir().parent_path() / "faults.log").string(); }

RunResult FaultE2E::run_preloaded(const NameList& args, EnvMap env) {
  env["LD_PRELOAD"] = VORNA_INJECT;
  env["VORNA_FAULT_LOG"] = log_path();
  // A sanitizer runtime wants to come first; here the injection library does.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
  fs::remove(log_path());
  return run(args, env);
}

RunResult FaultE2E::run_counted(const NameList& args, std::vector<Op>& ops, const EnvMap& env) {
  RunResult r = run_preloaded(args, env);
  ops.clear();
  std::ifstream log(log_path());
  for (std::string line; std::getline(log, line);) {
    std::istringstream fields(line);
    Op op;
    fields >> op.kind >> op.n >> std::ws;
    std::getline(fields, op.path);
    ops.push_back(op);
  }
  return r;
}

RunResult FaultE2E::run_with(const NameList& args, const Op& at, Action action, const EnvMap& env) {
  EnvMap all = env;
  all["VORNA_FAULT_KIND"] = at.kind;
  all["VORNA_FAULT_N"] = std::to_string(at.n);
  all["VORNA_FAULT_ACTION"] = action_name(action);
  return run_preloaded(args, all);
}

void FaultE2E::clear() const {
  for (const fs::directory_entry& entry : fs::directory_iterator(dir())) fs::remove_all(entry.path());
}

void FaultE2E::put(const Files& files) const {
  for (const auto& [name, bytes] : files) {
    write(name, bytes);
    // Module times go into the library, and the library's into a listing.
    set_mtime(name, 2024, 5, 6, 7, 8, 9);
  }
}

Files FaultE2E::files() const {
  static const std::regex kListingTime("date [0-9]{4}-[A-Za-z]{3}-[0-9]{2} [0-9]{2}:[0-9]{2}");
  Files found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir())) {
    const std::string name = entry.path().lexically_relative(dir()).string();
    if (entry.is_symlink()) {
      const std::string target = "-> " + fs::read_symlink(entry.path()).string();
      found[name] = qob::ByteVec(target.begin(), target.end());
    } else if (entry.is_regular_file()) {
      found[name] = read(name);
    }
  }
  for (auto& [name, bytes] : found) {
    if (!name.ends_with(".LST")) continue;
    const std::string text(bytes.begin(), bytes.end());
    const std::string blanked = std::regex_replace(text, kListingTime, "date (time)");
    bytes.assign(blanked.begin(), blanked.end());
  }
  return found;
}

}  // namespace faults

#include "dump/dump.h"

#include <cerrno>
#include <cstring>

#include "dump/library_dump.h"
#include "dump/module_dump.h"
#include "format/formats.h"
#include "format/stdfnc.h"
#include "host/host.h"

namespace dump {

namespace {

bool has_library_extension(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  return fmt::same_ignoring_case(ext, ".LIB") || fmt::same_ignoring_case(ext, ".BAK");
}

// A library's first record is F0 with the librarian's version ("V.4.00.00"),
// a module's is F0 with its format (fmt::kFormat), if it has one at all; when
// the first record tells neither, the file's extension decides.
bool is_library(RecIn& in, const std::string& name) {
  std::string first;
  if (in.peek() == fmt::kF0) {
    try {
      in.get_tag();
      first = in.get_str();
    } catch (const FormatError& e) {
      if (e.kind != FormatError::Kind::kMalformed) throw;
    }
    in.file().seek(0);
  }
  if (first == fmt::kFormat) return false;
  if (first.rfind("V.", 0) == 0) return true;
  return has_library_extension(name);
}

Status read_file(InputFile& file, int64_t size, const Options& options, Sink& sink) {
  RecIn in(file);
  bool library = reads_as_library(in, file.name(), options.reading);
  Report report;
  sink.begin_file(file.name(), library ? "library" : "module", size);
  if (library) {
    LibraryView lib = read_library(in, size, sink, report);
    check_library(lib, report);
  } else {
    sink.begin_part(Part::kModule, 0, 0);
    ModuleView m = read_module(in, size, sink, report, ModuleRole::kFile);
    sink.end_part(m.size);
  }
  sink.end_file(report, options.check);
  bool broken = options.check ? !report.clean() : report.stopped();
  return broken ? kBroken : kClean;
}

}  // namespace

bool reads_as_library(RecIn& in, const std::string& name, Reading reading) {
  return reading == Reading::kLibrary || (reading == Reading::kByContent && is_library(in, name));
}

std::FILE* open_input(const std::string& name, int64_t& size, std::FILE* err) {
  std::FILE* fp = host::open_read(name);
  if (fp == nullptr || !host::stream_size(fp, size)) {
    std::fprintf(err, "vornadump: %s: cannot be read: %s\n", host::for_console(name).c_str(), std::strerror(errno));
    if (fp != nullptr) std::fclose(fp);
    return nullptr;
  }
  return fp;
}

void cannot_read(const std::string& name, std::FILE* err) {
  std::fprintf(err, "vornadump: %s: cannot be read\n", host::for_console(name).c_str());
}

Status dump_file(const std::string& name, const Options& options, Sink& sink, std::FILE* err) {
  int64_t size = 0;
  std::FILE* fp = open_input(name, size, err);
  if (fp == nullptr) return kUnreadable;
  InputFile file;
  file.attach(fp, name);
  Status status;
  try {
    status = read_file(file, size, options, sink);
  } catch (const FormatError&) {
    cannot_read(name, err);
    status = kUnreadable;
  }
  std::fclose(fp);
  return status;
}

}  // namespace dump

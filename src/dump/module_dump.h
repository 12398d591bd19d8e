// Reads one relocatable module record by record, shows every record to a
// sink and reports the rules it breaks: a module file, or one body of a
// library.
#pragma once

#include <cstdint>

#include "dump/report.h"
#include "dump/sink.h"
#include "format/module.h"

class RecIn;

namespace dump {

enum class ModuleRole {
  kFile,  // a .QOB file: also what append or replace would refuse, bytes after the FF
  kBody,  // a body inside a library
};

// What reading one module found. Offsets are from the module's start.
struct ModuleView {
  int64_t start = 0;
  int64_t size = 0;       // the first tag through the FF, as far as it was read
  bool complete = false;  // its FF was read
  bool has_format = false;  // it holds an F0 record
  ModuleScan append;      // what append collects from it
  ModuleScan replace;     // what replace collects: the records before its first F9, FA or E1 to E6 record
};

// Reads a module from where `in` stands; `file_size` tells a record cut off
// by the end of the file from one that breaks the grammar.
ModuleView read_module(RecIn& in, int64_t file_size, Sink& sink, Report& report, ModuleRole role);

}  // namespace dump

// Reading symbol records into the per-module tables, stepping over
// module-table records, and the duplicate-definition check.
//
// The same record layouts occur in relocatable modules and in module-table
// entries (module F3/F4/F5/F6/E0 are table F3/F5/F6/F7/FA), so one reader
// of each serves both. Each reader copies what it reads to `out`; a reader
// that only collects passes a writer without a stream.
#pragma once

#include "driver/run_state.h"

class RecIn;
class RecOut;

void get_repf3(RunState& rs, RecIn& in, RecOut& out);  // one F3 descriptor
void get_repf4(RunState& rs, RecIn& in, RecOut& out);  // one block of public symbols
void get_repf5(RunState& rs, RecIn& in, RecOut& out);  // public EQU symbols
void get_repf6(RunState& rs, RecIn& in, RecOut& out);  // external names
void get_repfa(RunState& rs, RecIn& in, RecOut& out);  // public BIT symbols

// Step over the body of one module-table record whose tag was just read.
void skip_f3(RecIn& in);
void skip_f5(RecIn& in);
void skip_f6(RecIn& in);
void skip_f7(RecIn& in);
void skip_fa(RecIn& in);

// -1 when the current module defines a name that an entry already in tmp1
// defines: the name is then in the string buffer and the module holding the
// earlier definition in `redef_module`. 0 otherwise.
int pub_redef(RunState& rs);

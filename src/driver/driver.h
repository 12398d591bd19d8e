// The sequence of one run: reset, command line, files, the one command,
// closing, commit; and the error reporter that ends a failed run.
#pragma once

#include <cstdio>
#include <string>

#include "core/commit_plan.h"
#include "driver/run_state.h"

struct RunAbort;

// Performs one whole run and returns its exit status.
int run_vorna(RunState& rs, int argc, char** argv);

void init_run(RunState& rs);
// Answers --version and --help, wherever they stand among the arguments,
// on standard output; true when the run has nothing more to do.
bool answer_request(RunState& rs, int argc, char** argv);
void parse_cmdline(RunState& rs, int argc, char** argv);
void open_files(RunState& rs);
// Performs the one command; what it leaves for the commit.
CommitPlan exec_command(RunState& rs);
void close_files(RunState& rs);
void commit_library(RunState& rs, CommitPlan plan);

// Takes a working file for the run, waiting while another run holds a file
// of that name; false when it cannot be had.
bool take_work_file(RunState& rs, const std::string& name, std::FILE*& fp);

// The interrupt handler: ignores further interrupts and asks the run to end.
void break_handler(int signal);

// Writes the usage text.
void write_usage(std::FILE* to);

// Performs the clean-up, prints the message and the bell; returns the exit status.
int report_error(RunState& rs, const RunAbort& abort);

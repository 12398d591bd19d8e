// The sequence of one run: reset, command line, files, the one command,
// closing, commit.
#pragma once

#include <cstdio>
#include <string>

struct RunState;

// Performs one whole run and returns its exit status.
int run_vorna(RunState& rs, int argc, char** argv);

void init_run(RunState& rs);
// Answers --version and --help, wherever they stand among the arguments,
// on standard output; true when the run has nothing more to do.
bool answer_request(RunState& rs, int argc, char** argv);
void parse_cmdline(RunState& rs, int argc, char** argv);
void open_files(RunState& rs);
void exec_command(RunState& rs);
void close_files(RunState& rs);
void commit_library(RunState& rs);

// Takes a working file for the run, waiting while another run holds a file
// of that name; false when it cannot be had.
bool take_work_file(RunState& rs, const std::string& name, std::FILE*& fp);
// Closes the library the run reads.
void close_library(RunState& rs);

// The interrupt handler: ignores further interrupts and asks the run to end.
void break_handler(int signal);

// The commands, one per command letter.
void parse_apd(RunState& rs);
void parse_rep(RunState& rs);
void parse_del(RunState& rs);
void parse_ext(RunState& rs);
void parse_lst(RunState& rs);

// The trace output of option k: lines that show which routine runs and what
// it read, on the console's standard output. Nothing is written unless the
// option is given.
#pragma once

#include <cstdio>

class TraceOut {
 public:
  TraceOut(std::FILE* out, bool on) : out_(out), on_(on) {}

  bool on() const { return on_; }
  std::FILE* out() const { return out_; }
  void line(const char* text) const {
    if (on_) std::fputs(text, out_);
  }
  // printf's formatting, when tracing; checked here, so that a run without
  // the trace pays no call.
  template <class... Args>
  void print(const char* format, Args... args) const {
    if (on_) std::fprintf(out_, format, args...);
  }
  // Running counters stand at one place of the screen: moves the cursor to
  // `column` and `row`, counted from 0.
  void move_cursor(int column, int row) const;

 private:
  std::FILE* out_;
  bool on_;
};

// Runs one command and appends its wall-clock time and peak resident set
// size to a file, for the benchmark script.
//
//   bench_timeit RESULT_FILE COMMAND [ARG...]
//
// appends the line "SECONDS PEAK_RSS_KB" to RESULT_FILE and exits with the
// command's exit status (127 when it cannot be started). The command's own
// output goes where the caller sends it.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_timeit RESULT_FILE COMMAND [ARG...]\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
    std::perror(argv[2]);
    return 127;
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 127;
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::FILE* out = std::fopen(argv[1], "a");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 127;
  }
  std::fprintf(out, "%.6f %ld\n", elapsed.count(), usage.ru_maxrss);
  std::fclose(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

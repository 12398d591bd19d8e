// The physical floor of an operation of the benchmark: only its output
// bytes copied by the system from where they lie, nothing read or checked
// in between.
//
//   bench_floor OUT IN...            copies the INs one after another into
//                                    the new file OUT and syncs it once (a
//                                    library written)
//   bench_floor -d DIR SOURCE IN...  copies from SOURCE, which holds the INs
//                                    back to back, a piece as long as each IN
//                                    into DIR under that IN's name, without
//                                    syncing (modules extracted from a library)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Copies `length` bytes of `in`, from where it stands, to the file open as `out`.
bool copy(int in, int out, off_t length) {
  while (length > 0) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(length), 0);
    if (n <= 0) return false;
    length -= n;
  }
  return true;
}

off_t size_of(const char* name) {
  struct stat st;
  return ::stat(name, &st) == 0 ? st.st_size : -1;
}

int create(const std::string& name) { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }

}  // namespace

int main(int argc, char** argv) {
  bool extract = argc > 1 && std::strcmp(argv[1], "-d") == 0;
  if (argc < (extract ? 5 : 3)) {
    std::fprintf(stderr, "usage: bench_floor OUT IN... | bench_floor -d DIR SOURCE IN...\n");
    return 2;
  }
  if (extract) {
    int source = ::open(argv[3], O_RDONLY | O_CLOEXEC);
    if (source < 0) return 1;
    for (int i = 4; i < argc; ++i) {
      std::string base = argv[i];
      int out = create(std::string(argv[2]) + "/" + base.substr(base.rfind('/') + 1));
      if (out < 0 || !copy(source, out, size_of(argv[i])) || ::close(out) != 0) return 1;
    }
    return 0;
  }
  int out = create(argv[1]);
  if (out < 0) return 1;
  for (int i = 2; i < argc; ++i) {
    int in = ::open(argv[i], O_RDONLY | O_CLOEXEC);
    if (in < 0 || !copy(in, out, size_of(argv[i]))) return 1;
    ::close(in);
  }
  return ::fsync(out) == 0 && ::close(out) == 0 ? 0 : 1;
}

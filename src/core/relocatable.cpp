#include "core/relocatable.h"

#include "core/errors.h"
#include "core/library_files.h"
#include "host/host.h"

RelocatableFile::RelocatableFile() : in_(kLargeBlock) {}

bool RelocatableFile::try_open(const std::string& path) {
  close();
  fp_ = host::open_read(path);
  if (fp_ == nullptr) return false;
  in_.attach(fp_, path, &g_break_requested);
  return true;
}

void RelocatableFile::open(const std::string& path) {
  if (!try_open(path)) error_exit(kCantOpen, path);
}

void RelocatableFile::close() {
  in_.detach();
  close_stream(fp_);
}

#include "core/relocatable.h"

#include "core/errors.h"
#include "core/library_files.h"
#include "host/host.h"

RelocatableFile::RelocatableFile() : in_(kLargeBlock) {}

void RelocatableFile::open(const std::string& path) {
  close();
  fp_ = host::open_read(path);
  if (fp_ == nullptr) error_exit(kCantOpen, path);
  in_.attach(fp_, path, &g_break_requested);
}

void RelocatableFile::close() {
  if (fp_ == nullptr) return;
  in_.detach();
  close_stream(fp_);
}

#include "core/library_files.h"

#include "core/errors.h"

LibraryFiles::~LibraryFiles() {
  for (std::FILE** fp : {&lib_fp, &tmp1_fp, &tmp2_fp, &tmp3_fp, &list_fp}) close_stream(*fp);
}

void LibraryFiles::close_library() {
  lib_in.detach();
  close_stream(lib_fp);
}

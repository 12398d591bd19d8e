// The Windows side of names: UTF-8 inside the program, UTF-16 for the system.
#pragma once

#include <string>

namespace host {

std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& w);
// The name as the file system takes it at any length: its full path in
// the \\?\ form.
std::wstring fs_path(const std::string& name);

}  // namespace host

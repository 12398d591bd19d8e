#include "dump/report.h"

#include <algorithm>
#include <cstdarg>

namespace dump {

std::vector<Violation> Report::sorted() const {
  std::vector<Violation> v = found_;
  std::stable_sort(v.begin(), v.end(), [](const Violation& a, const Violation& b) { return a.at < b.at; });
  return v;
}

std::vector<Violation> Report::shown(bool check) const {
  std::vector<Violation> v = sorted();
  if (!check) std::erase_if(v, [](const Violation& x) { return !x.stops; });
  return v;
}

std::string violation_line(const std::string& file, const Violation& v) {
  return format("%s: offset 0x%llx: %s (%s)", file.c_str(), static_cast<unsigned long long>(v.at), v.what.c_str(),
                v.expected.c_str());
}

std::string count_line(const std::string& file, std::size_t count) {
  if (count == 0) return file + ": no violations";
  return format("%s: %llu violation%s", file.c_str(), static_cast<unsigned long long>(count), count == 1 ? "" : "s");
}

std::string byte_count(int64_t n) {
  return format("%lld byte%s", static_cast<long long>(n), n == 1 ? "" : "s");
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string s(static_cast<std::size_t>(std::max(n, 0)), '\0');
  std::vsnprintf(s.data(), s.size() + 1, fmt, again);
  va_end(again);
  return s;
}

}  // namespace dump

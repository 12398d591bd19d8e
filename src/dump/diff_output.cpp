// The differences as text, one line each, and as one JSON document.
//
//   header modules: 10 in A, 11 in B
//   only in B: NEW.QOB (module 1 of B)
//   M0005.QOB: public START: 0x001000 in A, 0x001010 in B
//   M0005.QOB: body: first difference at offset 0x000c, in its F4 record (public symbols) at 0x0007: 0x00 in A, 0x10 in B
//   OLD.LIB (A) and NEW.LIB (B): 4 differences
#include <algorithm>

#include "dump/difference.h"
#include "dump/json.h"
#include "dump/names.h"
#include "dump/report.h"
#include "host/host.h"

namespace dump {

namespace {

using Kind = DiffValue::Kind;

std::string joined(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
  return s;
}

std::string shown(const DiffValue& v) {
  const std::vector<int64_t>& n = v.numbers;
  switch (v.kind) {
    case Kind::kNone: return "nothing";
    case Kind::kCount: return format("%lld", static_cast<long long>(v.number));
    case Kind::kHex: {
      unsigned long long mask = v.width >= 8 ? ~0ull : (1ull << (8 * v.width)) - 1;
      return format("0x%0*llx", 2 * v.width, static_cast<unsigned long long>(v.number) & mask);
    }
    case Kind::kText: return escaped(v.text);
    case Kind::kBytes: {
      std::string h;
      for (unsigned char c : v.text) h += format(h.empty() ? "%02x" : " %02x", c);
      return h;
    }
    case Kind::kTime:
      // Seconds, minutes, hours, day, month from 0, years since 1900.
      return format("%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(n[5] + 1900),
                    static_cast<long long>(n[4] + 1), static_cast<long long>(n[3]), static_cast<long long>(n[2]),
                    static_cast<long long>(n[1]), static_cast<long long>(n[0]));
    case Kind::kPresent: return "present";
    case Kind::kDescriptor:
      return format("number 0x%04llx byte1 0x%02llx byte2 0x%02llx value 0x%06llx long 0x%08llx",
                    static_cast<unsigned long long>(n[0]), static_cast<unsigned long long>(n[1]),
                    static_cast<unsigned long long>(n[2]), static_cast<unsigned long long>(n[3]),
                    static_cast<unsigned long long>(n[4]) & 0xFFFFFFFFull);
    case Kind::kNames: return joined(v.names);
  }
  return "";
}

// "1 in A, 2 in B", or what only one side has.
std::string sides(const Difference& d) {
  auto only = [](const char* side, const DiffValue& v) {
    return std::string("only in ") + side + (v.kind == Kind::kPresent ? "" : " (" + shown(v) + ")");
  };
  if (d.a.kind == Kind::kNone) return only("B", d.b);
  if (d.b.kind == Kind::kNone) return only("A", d.a);
  return shown(d.a) + " in A, " + shown(d.b) + " in B";
}

// Which of the modules keep their order: a longest run of them whose places
// in B rise. The others moved.
std::vector<bool> keep_order(const std::vector<int64_t>& place) {
  std::vector<std::size_t> tails;  // the run of each length that ends lowest, by its last module
  std::vector<std::ptrdiff_t> before(place.size(), -1);
  for (std::size_t i = 0; i < place.size(); ++i) {
    auto it = std::lower_bound(tails.begin(), tails.end(), place[i],
                               [&place](std::size_t t, int64_t p) { return place[t] < p; });
    if (it != tails.begin()) before[i] = static_cast<std::ptrdiff_t>(*(it - 1));
    if (it == tails.end()) tails.push_back(i);
    else *it = i;
  }
  std::vector<bool> keeps(place.size());
  for (std::ptrdiff_t i = tails.empty() ? -1 : static_cast<std::ptrdiff_t>(tails.back()); i >= 0; i = before[i])
    keeps[static_cast<std::size_t>(i)] = true;
  return keeps;
}

std::string order_line(const Difference& d) {
  constexpr std::size_t kShown = 5;
  const std::vector<std::string>& names = d.a.names;
  std::vector<bool> keeps = keep_order(d.a.numbers);
  std::vector<std::string> moved;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (keeps[i]) continue;
    if (moved.size() == kShown) {
      moved.push_back("...");
      break;
    }
    moved.push_back(format("%s (number %llu in A, %lld in B)", names[i].c_str(),
                           static_cast<unsigned long long>(i + 1), static_cast<long long>(d.a.numbers[i] + 1)));
  }
  std::size_t count = static_cast<std::size_t>(std::count(keeps.begin(), keeps.end(), false));
  return format("order: %llu of the %llu modules both hold moved among them: ", static_cast<unsigned long long>(count),
                static_cast<unsigned long long>(names.size())) +
         joined(moved);
}

std::string body_line(const Difference& d) {
  const char* kind = record_kind(Part::kModule, d.tag);
  std::string where = format("body: first difference at offset 0x%04llx, in its %s record%s at 0x%04llx",
                             static_cast<long long>(d.at), tag_name(d.tag).c_str(),
                             kind != nullptr ? (std::string(" (") + kind + ")").c_str() : "",
                             static_cast<long long>(d.offset));
  if (!d.field.empty()) where += ", field " + d.field;
  return where + ": " + sides(d);
}

std::string line(const Difference& d) {
  std::string module = d.module ? *d.module + ": " : "";
  switch (d.what) {
    case DiffWhat::kHeader: return "header " + d.field + ": " + sides(d);
    case DiffWhat::kOnlyInA: return format("only in A: %s (module %lld of A)", d.module->c_str(), static_cast<long long>(d.a.number));
    case DiffWhat::kOnlyInB: return format("only in B: %s (module %lld of B)", d.module->c_str(), static_cast<long long>(d.b.number));
    case DiffWhat::kOrder: return order_line(d);
    case DiffWhat::kEntry: return module + d.field + ": " + sides(d);
    case DiffWhat::kBody: return module + body_line(d);
  }
  return "";
}

const char* what_name(DiffWhat w) {
  switch (w) {
    case DiffWhat::kHeader: return "header";
    case DiffWhat::kOnlyInA: return "only_in_a";
    case DiffWhat::kOnlyInB: return "only_in_b";
    case DiffWhat::kOrder: return "order";
    case DiffWhat::kEntry: return "entry";
    case DiffWhat::kBody: return "body";
  }
  return "";
}

void json_value(JsonWriter& j, const DiffValue& v) {
  static const char* const kDescriptor[] = {"number", "byte1", "byte2", "value", "long"};
  switch (v.kind) {
    case Kind::kNone: return j.null();
    case Kind::kCount: case Kind::kHex: return j.num(v.number);
    case Kind::kText: return j.str(v.text);
    case Kind::kBytes: return j.str(hex_digits(v.text));
    case Kind::kPresent: return j.boolean(true);
    case Kind::kTime:
      j.array();
      for (int64_t n : v.numbers) j.num(n);
      return j.end();
    case Kind::kDescriptor:
      j.object();
      for (std::size_t i = 0; i < v.numbers.size(); ++i) j.field(kDescriptor[i], v.numbers[i]);
      return j.end();
    case Kind::kNames:
      j.array();
      for (const std::string& n : v.names) j.str(n);
      return j.end();
  }
}

void json_difference(JsonWriter& j, const Difference& d) {
  j.object();
  j.field("what", std::string_view(what_name(d.what)));
  j.key("module");
  if (d.module) j.str(*d.module);
  else j.null();
  j.key("field");
  if (d.field.empty()) j.null();
  else j.str(d.field);
  j.key("a");
  json_value(j, d.a);
  j.key("b");
  json_value(j, d.b);
  if (d.what == DiffWhat::kBody) {
    j.field("offset", d.offset);
    j.field("tag", tag_name(d.tag));
    j.field("at", d.at);
  }
  j.end();
}

}  // namespace

void write_text(std::FILE* out, const Comparison& c) {
  for (const Difference& d : c.differences) std::fprintf(out, "%s\n", line(d).c_str());
  std::size_t n = c.differences.size();
  std::string count =
      n == 0 ? "no differences" : format("%llu difference%s", static_cast<unsigned long long>(n), n == 1 ? "" : "s");
  std::fprintf(out, "%s (A) and %s (B): %s%s\n", host::for_console(c.a).c_str(), host::for_console(c.b).c_str(),
               count.c_str(), c.ignore_times ? ", module times left out" : "");
}

void write_json(std::FILE* out, const Comparison& c) {
  JsonWriter j(out);
  j.object();
  j.field("a", c.a);
  j.field("b", c.b);
  j.field("kind", std::string_view(c.library ? "library" : "module"));
  j.field("same", c.differences.empty());
  j.key("differences");
  j.array();
  for (const Difference& d : c.differences) json_difference(j, d);
  j.end();
  j.end();
  std::fputc('\n', out);
}

}  // namespace dump

#include "intake/rotbl.h"

#include "driver/errors.h"
#include "format/formats.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/symbols.h"

void get_header(RunState& rs) {
  RecIn in(rs, rs.lib_fp, rs.lib_name);
  auto header_str = [&]() {
    const std::string& s = in.get_str();
    if (s.size() > fmt::kMaxHeaderString) in.malformed();
    return s;
  };
  for (;;) {
    switch (in.get_tag()) {
      case fmt::kF0: rs.hdr_version = header_str(); break;
      case fmt::kF1: rs.hdr_format = header_str(); break;
      case fmt::kF2: rs.hdr_cpu = header_str(); break;
      case fmt::kF3: rs.hdr_modules = in.get_long(); break;
      case fmt::kF4: rs.hdr_symbols = in.get_long(); break;
      case fmt::kEnd: return;
      default: in.malformed();
    }
  }
}

namespace {

ModTime local_mod_time(std::time_t t) {
  std::tm tm{};
  host::local_time(t, tm);
  return ModTime{tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon, tm.tm_year};
}

}  // namespace

bool get_ftime(const std::string& name, ModTime& time) {
  std::time_t t;
  bool known = host::file_time(name, t);
  time = known ? local_mod_time(t) : ModTime{};
  return known;
}

bool get_ftime(std::FILE* fp, ModTime& time) {
  std::time_t t;
  bool known = host::stream_time(fp, t);
  time = known ? local_mod_time(t) : ModTime{};
  return known;
}

std::string module_name(RunState& rs, const std::string& file) {
  std::string name = host::base_name(file);
  if (name.size() > fmt::kMaxString) error_exit(rs, kInvalid, file);
  return name;
}

void make_rotbl(RunState& rs, int64_t body_size) {
  if (++rs.hdr_modules > fmt::kMaxModules) error_exit(rs, kTooManyModules);
  const SymbolTables& t = rs.tables;
  rs.hdr_symbols += t.symbol_count();
  RotblRec& r = rs.rotbl_rec;
  r.f4 = {t.pub_count(), 0, t.equ_count(), 0, t.bit_count(), 0, t.ext_count()};
  r.mod_name = module_name(rs, rs.obj_path);
  r.mod_size = static_cast<int32_t>(body_size);
  r.mod_offset = r.abs_f7 = r.abs_f8 = 0;
  get_ftime(rs.obj_path, r.mod_time);
}

namespace {

// Byte sizes of the variable records of an entry, as put_rotbl writes them.
struct EntrySizes {
  int32_t pub = 0, equ = 0, bit = 0, f3 = 0, ext = 0;
};

int32_t len(const std::string& s) { return static_cast<int32_t>(s.size()); }

EntrySizes entry_sizes(const SymbolTables& t) {
  EntrySizes z;
  for (const PubBlock& b : t.pub_list) {
    z.pub += 7;  // tag, block number, terminating entry
    for (const PubSym& s : b.syms) z.pub += len(s.name) + 4;
  }
  if (!t.equ_list.empty()) z.equ = 6;
  for (const EquSym& s : t.equ_list) z.equ += len(s.name) + 5;
  if (!t.bit_list.empty()) z.bit = 7;
  for (const BitSym& s : t.bit_list) z.bit += len(s.name) + 6;
  for (const F3Entry& e : t.f3_list) z.f3 += len(e.name) + 13;
  if (!t.ext_list.empty()) z.ext = 2;
  for (const std::string& s : t.ext_list) z.ext += len(s) + 1;
  return z;
}

void put_symbols(RecOut& out, const SymbolTables& t) {
  for (const PubBlock& b : t.pub_list) {
    out.put_byte(fmt::kF5);
    out.put_word(b.number);
    for (const PubSym& s : b.syms) {
      out.put_tri(s.value);
      out.put_str(s.name);
    }
    out.put_tri(0);
    out.put_byte(0);
  }
  if (!t.equ_list.empty()) {
    out.put_byte(fmt::kF6);
    for (const EquSym& s : t.equ_list) {
      out.put_long(s.value);
      out.put_str(s.name);
    }
    out.put_long(0);
    out.put_byte(0);
  }
  if (!t.bit_list.empty()) {
    out.put_byte(fmt::kFA);
    for (const BitSym& s : t.bit_list) {
      out.put_word(s.number);
      out.put_tri(s.value);
      out.put_str(s.name);
    }
    out.put_word(0);
    out.put_tri(0);
    out.put_byte(0);
  }
  for (const F3Entry& e : t.f3_list) {
    out.put_byte(fmt::kF3);
    out.put_word(e.number);
    out.put_str(e.name);
    out.put_byte(e.byte1);
    out.put_byte(e.byte2);
    out.put_tri(e.value);
    out.put_long(e.long_value);
  }
  if (!t.ext_list.empty()) {
    out.put_byte(fmt::kF7);
    for (const std::string& s : t.ext_list) out.put_str(s);
    out.put_byte(0);
  }
}

}  // namespace

void put_rotbl(RunState& rs) {
  RotblRec& r = rs.rotbl_rec;
  const SymbolTables& t = rs.tables;
  EntrySizes z = entry_sizes(t);
  r.entry_len = fmt::kEntryFixed + z.pub + z.equ + z.bit + z.f3 + z.ext;
  r.tail_len = fmt::kTailFixed + z.f3 + z.ext;
  r.f4[1] = z.pub;
  r.f4[3] = z.equ;
  r.f4[5] = z.bit;

  RecOut out(rs, rs.tmp1_fp);
  out.put_byte(fmt::kF0);
  out.put_str(r.mod_name);
  out.put_byte(fmt::kF1);
  out.put_long(r.entry_len);
  out.put_long(r.tail_len);
  out.put_byte(fmt::kF2);
  out.put_long(r.mod_size);
  out.put_byte(fmt::kF4);
  for (int32_t v : r.f4) out.put_long(v);
  put_symbols(out, t);
  out.put_byte(fmt::kF8);
  for (int32_t v : {r.mod_offset, r.offset1_f7, r.abs_f7, r.offset1_f8, r.abs_f8}) out.put_long(v);
  out.put_byte(fmt::kF9);
  for (int v : r.mod_time) out.put_word(v);
  out.put_byte(fmt::kEnd);

}

void put_checked_rotbl(RunState& rs) {
  if (pub_redef(rs) != 0) error_exit(rs, kMultipleDefined, rs.str_buf);
  put_rotbl(rs);
  rs.defs.add_tables(rs.rotbl_rec.mod_name, rs.tables);
}

namespace {

// Copies a name-terminated list, indexing its names as definitions.
void copy_defs(RecIn& in, RecOut& out, int fixed, DefIndex* defs) {
  for (;;) {
    in.copy_bytes(fixed, out);
    const std::string& name = in.get_str();
    out.put_str(name);
    if (name.empty()) return;
    if (defs != nullptr) defs->add(name);
  }
}

}  // namespace

bool copy_table_record(RecIn& in, RecOut& out, int tag, DefIndex* defs) {
  switch (tag) {
    case fmt::kF0: {
      const std::string& name = in.get_str();
      out.put_str(name);
      if (defs != nullptr) defs->start_module(name);
      return true;
    }
    case fmt::kF1: in.copy_bytes(8, out); return true;
    case fmt::kF2: in.copy_bytes(4, out); return true;
    case fmt::kF3:
      in.copy_bytes(2, out);
      copy_str(in, out);
      in.copy_bytes(9, out);
      return true;
    case fmt::kF4: in.copy_bytes(28, out); return true;
    case fmt::kF5:
      in.copy_bytes(2, out);
      copy_defs(in, out, 3, defs);
      return true;
    case fmt::kF6: copy_defs(in, out, 4, defs); return true;
    case fmt::kF7:
      while (copy_str(in, out)) {
      }
      return true;
    case fmt::kF8: in.copy_bytes(20, out); return true;
    case fmt::kF9: in.copy_bytes(12, out); return true;
    case fmt::kFA: copy_defs(in, out, 5, defs); return true;
    case fmt::kEnd: return true;
    default: return false;
  }
}

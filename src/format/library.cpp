#include "format/library.h"

#include "format/formats.h"
#include "format/stdfnc.h"
#include "format/trace.h"

int64_t header_size(const LibraryHeader& h) {
  return fmt::kHeaderFixed + static_cast<int64_t>(h.hdr_version.size() + h.hdr_format.size() + h.hdr_cpu.size());
}

bool read_header_record(RecIn& in, int tag, LibraryHeader& h) {
  auto header_str = [&in]() {
    std::string_view s = in.get_str();
    if (s.size() > fmt::kMaxHeaderString) in.malformed();
    return std::string(s);
  };
  switch (tag) {
    case fmt::kF0: h.hdr_version = header_str(); return true;
    case fmt::kF1: h.hdr_format = header_str(); return true;
    case fmt::kF2: h.hdr_cpu = header_str(); return true;
    case fmt::kF3: h.hdr_modules = in.get_long(); return true;
    case fmt::kF4: h.hdr_symbols = in.get_long(); return true;
    default: return false;
  }
}

void get_header(RecIn& in, LibraryHeader& h) {
  for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag())
    if (!read_header_record(in, tag, h)) in.malformed();
}

void put_header(RecOut& out, const LibraryHeader& h) {
  out.put_byte(fmt::kF0);
  out.put_str(h.hdr_version);
  out.put_byte(fmt::kF1);
  out.put_str(h.hdr_format);
  out.put_byte(fmt::kF2);
  out.put_str(h.hdr_cpu);
  out.put_byte(fmt::kF3);
  out.put_long(h.hdr_modules);
  out.put_byte(fmt::kF4);
  out.put_long(h.hdr_symbols);
  out.put_byte(fmt::kEnd);
}

namespace {

// Reads `n` longs into `values`, or steps over them.
template <std::size_t N>
void get_longs(RecIn& in, std::array<int32_t, N>* values) {
  if (values == nullptr) return in.skip(4 * N);
  for (int32_t& v : *values) v = in.get_long();
}

}  // namespace

bool read_entry_record(RecIn& in, int tag, TableEntry* e, FormatTrace* trace) {
  SymbolTables* t = e != nullptr ? &e->symbols : nullptr;
  switch (tag) {
    case fmt::kF0:
      if (e == nullptr) in.skip_str();
      else e->mod_name = in.get_str();
      return true;
    case fmt::kF1: {
      std::array<int32_t, 2> lengths;
      get_longs(in, e != nullptr ? &lengths : nullptr);
      if (e != nullptr) e->entry_len = lengths[0], e->tail_len = lengths[1];
      return true;
    }
    case fmt::kF2: {
      std::array<int32_t, 1> size;
      get_longs(in, e != nullptr ? &size : nullptr);
      if (e != nullptr) e->mod_size = size[0];
      return true;
    }
    case fmt::kF4: get_longs(in, e != nullptr ? &e->f4 : nullptr); return true;
    case fmt::kF8: {
      std::array<int32_t, 5> offsets;
      get_longs(in, e != nullptr ? &offsets : nullptr);
      if (e != nullptr) {
        e->mod_offset = offsets[0];
        e->offset1_f7 = offsets[1];
        e->abs_f7 = offsets[2];
        e->offset1_f8 = offsets[3];
        e->abs_f8 = offsets[4];
      }
      return true;
    }
    case fmt::kF9:
      if (e == nullptr) in.skip(2 * 6);
      else for (int& v : e->mod_time) v = in.get_word();
      return true;
    case fmt::kF3: get_repf3(in, t); return true;
    case fmt::kF5: get_repf4(in, t, trace); return true;
    case fmt::kF6: get_repf5(in, t, trace); return true;
    case fmt::kF7: get_repf6(in, t, trace); return true;
    case fmt::kFA: get_repfa(in, t, trace); return true;
    default: return false;
  }
}

namespace {

bool is_fixed_record(int tag) {
  return tag == fmt::kF0 || tag == fmt::kF1 || tag == fmt::kF2 || tag == fmt::kF4 || tag == fmt::kF8 ||
         tag == fmt::kF9;
}

}  // namespace

int get_rotbl(RecIn& in, TableEntry& e, EntryPart part, FormatTrace* trace) {
  int tag = in.get_tag();
  if (tag == fmt::kEnd) return 0;
  free_tables(e.symbols);
  for (; tag != fmt::kEnd; tag = in.get_tag()) {
    if (trace != nullptr) trace->record(tag);
    if (part == EntryPart::kFixed && !is_fixed_record(tag)) in.malformed();
    if (!read_entry_record(in, tag, &e, trace)) in.malformed();
    // Over the symbol records, which stand between F4 and F8.
    if (part == EntryPart::kFixed && tag == fmt::kF4) in.skip(static_cast<int64_t>(e.entry_len) - fmt::kEntryFixed);
  }
  return 1;
}

void put_f8(RecOut& out, const std::array<int32_t, 5>& offsets) {
  out.put_byte(fmt::kF8);
  for (int32_t v : offsets) out.put_long(v);
}

// Room for the symbol records of most entries at once.
constexpr std::size_t kRecordsRoom = 1 << 12;

int64_t put_rotbl(RecOut& out, TableEntry& e) {
  // The symbol records are written first, to learn what they measure.
  const SymbolTables& t = e.symbols;
  RecOut records(RecOut::Keep::kEverything, kRecordsRoom);
  put_publics(records, t);
  int32_t pub = static_cast<int32_t>(records.count());
  put_equs(records, t);
  int32_t equ = static_cast<int32_t>(records.count()) - pub;
  put_bits(records, t);
  int32_t bit = static_cast<int32_t>(records.count()) - pub - equ;
  int32_t tail = static_cast<int32_t>(records.count());
  put_descriptors(records, t);
  put_externals(records, t);
  tail = static_cast<int32_t>(records.count()) - tail;
  e.entry_len = fmt::kEntryFixed + static_cast<int32_t>(records.count());
  e.tail_len = fmt::kTailFixed + tail;
  e.f4[1] = pub;
  e.f4[3] = equ;
  e.f4[5] = bit;

  int64_t start = out.count();
  out.put_byte(fmt::kF0);
  out.put_str(e.mod_name);
  out.put_byte(fmt::kF1);
  out.put_long(e.entry_len);
  out.put_long(e.tail_len);
  out.put_byte(fmt::kF2);
  out.put_long(e.mod_size);
  out.put_byte(fmt::kF4);
  for (int32_t v : e.f4) out.put_long(v);
  out.put_block(records.kept().data(), records.kept().size());
  int64_t f8_at = out.count() - start;
  put_f8(out, {e.mod_offset, e.offset1_f7, e.abs_f7, e.offset1_f8, e.abs_f8});
  out.put_byte(fmt::kF9);
  for (int v : e.mod_time) out.put_word(v);
  out.put_byte(fmt::kEnd);
  return f8_at;
}

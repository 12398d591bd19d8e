#include "format/library.h"

#include <algorithm>
#include <iterator>
#include <utility>

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

// Whether every entry has the record `tag` once. Written out as
// comparisons, which the compiler turns into a few range tests: the test is
// made for every record of every entry, and a look-up in kEntryRecords
// costs more. The assertion keeps it to the table.
constexpr bool is_fixed_record(int tag) {
  return tag == fmt::kF0 || tag == fmt::kF1 || tag == fmt::kF2 || tag == fmt::kF4 || tag == fmt::kF8 ||
         tag == fmt::kF9;
}
static_assert(std::all_of(std::begin(kEntryRecords), std::end(kEntryRecords), [](const EntryRecord& r) {
  return is_fixed_record(r.tag) == (r.occurs == Occurs::kOnce);
}));

}  // namespace

int get_rotbl(RecIn& in, TableEntry& e, EntryPart part, FormatTrace* trace, int64_t* symbols_at) {
  int tag = in.get_tag();
  if (tag == fmt::kEnd) return 0;
  free_tables(e.symbols);
  if (symbols_at != nullptr) *symbols_at = -1;
  for (; tag != fmt::kEnd; tag = in.get_tag()) {
    if (trace != nullptr) trace->record(tag);
    if (part == EntryPart::kFixed && !is_fixed_record(tag)) in.malformed();
    if (!read_entry_record(in, tag, &e, trace)) in.malformed();
    // Over the symbol records, which stand between F4 and F8.
    if (part == EntryPart::kFixed && tag == fmt::kF4) {
      if (symbols_at != nullptr) *symbols_at = in.tell();
      in.skip(static_cast<int64_t>(e.entry_len) - fmt::kEntryFixed);
    }
  }
  return 1;
}

void put_f8(RecOut& out, const std::array<int32_t, 5>& offsets) {
  out.put_byte(fmt::kF8);
  for (int32_t v : offsets) out.put_long(v);
}

namespace {

// Room for the symbol records of most entries at once.
constexpr std::size_t kRecordsRoom = 1 << 12;

// Writes the symbol records of one tag, every one the tables hold.
void put_symbol_records(RecOut& out, int tag, const SymbolTables& t) {
  switch (tag) {
    case fmt::kF5: return put_publics(out, t);
    case fmt::kF6: return put_equs(out, t);
    case fmt::kFA: return put_bits(out, t);
    case fmt::kF3: return put_descriptors(out, t);
    case fmt::kF7: return put_externals(out, t);
    default: return;
  }
}

// The F4 value that counts the bytes of the symbol records of `tag`: F5 in
// pub_size, F6 in equ_size, FA in bit_size; null for the others.
int32_t* f4_size(TableEntry& e, int tag) {
  switch (tag) {
    case fmt::kF5: return &e.f4[1];
    case fmt::kF6: return &e.f4[3];
    case fmt::kFA: return &e.f4[5];
    default: return nullptr;
  }
}

// Writes one of the records every entry has.
void put_fixed_record(RecOut& out, int tag, const TableEntry& e) {
  if (tag == fmt::kF8) return put_f8(out, {e.mod_offset, e.offset1_f7, e.abs_f7, e.offset1_f8, e.abs_f8});
  out.put_byte(tag);
  switch (tag) {
    case fmt::kF0: return out.put_str(e.mod_name);
    case fmt::kF1:
      out.put_long(e.entry_len);
      return out.put_long(e.tail_len);
    case fmt::kF2: return out.put_long(e.mod_size);
    case fmt::kF4:
      for (int32_t v : e.f4) out.put_long(v);
      return;
    case fmt::kF9:
      for (int v : e.mod_time) out.put_word(v);
      return;
    default: return;
  }
}

// Calls `f` with the place of each record in kEntryRecords, in their order,
// as a constant: a writer that follows the table costs no more than one
// written out record by record.
template <class F>
void for_each_entry_record(F&& f) {
  [&f]<std::size_t... i>(std::index_sequence<i...>) {
    (f(std::integral_constant<std::size_t, i>{}), ...);
  }(std::make_index_sequence<std::size(kEntryRecords)>{});
}

// The place in kEntryRecords of the first record that `is` holds for.
constexpr std::size_t first_record(bool (*is)(const EntryRecord&)) {
  std::size_t i = 0;
  while (!is(kEntryRecords[i])) ++i;
  return i;
}
// The symbol records stand together: the first one's place is theirs.
constexpr std::size_t kSymbolsAt = first_record([](const EntryRecord& r) { return r.occurs != Occurs::kOnce; });
// tail_len counts from here on.
constexpr std::size_t kTailAt = first_record([](const EntryRecord& r) { return r.starts_tail; });

}  // namespace

int64_t put_rotbl(RecOut& out, TableEntry& e) {
  // The symbol records are written first, to learn what they measure.
  RecOut records(RecOut::Keep::kEverything, kRecordsRoom);
  int64_t end = 0;  // of the records written so far
  int64_t tail_at = 0;
  for_each_entry_record([&](auto i) {
    constexpr EntryRecord r = kEntryRecords[i];
    if constexpr (i == kTailAt) tail_at = end;
    if constexpr (r.occurs != Occurs::kOnce) {
      int64_t at = end;
      put_symbol_records(records, r.tag, e.symbols);
      end = records.count();
      if (int32_t* size = f4_size(e, r.tag)) *size = static_cast<int32_t>(end - at);
    }
  });
  std::string_view symbols = records.kept();
  e.entry_len = fmt::kEntryFixed + static_cast<int32_t>(end);
  e.tail_len = fmt::kTailFixed + static_cast<int32_t>(end - tail_at);

  int64_t start = out.count();
  int64_t f8_at = 0;
  for_each_entry_record([&](auto i) {
    constexpr EntryRecord r = kEntryRecords[i];
    if constexpr (i == kSymbolsAt) out.put_block(symbols.data(), symbols.size());
    if constexpr (r.occurs == Occurs::kOnce) {
      if (r.tag == fmt::kF8) f8_at = out.count() - start;
      put_fixed_record(out, r.tag, e);
    }
  });
  out.put_byte(fmt::kEnd);
  return f8_at;
}

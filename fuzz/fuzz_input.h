// Input encodings of the fuzz targets, shared by the targets, the seed
// generator and the tests that replay stored findings.
//
// Header target input:
//   byte 0        bits 0-1: number of offsets k - 1 (k = 1..4)
//                 bit 2: walk with radar -1 selected instead of radar 0
//   bytes 1..4k   k little-endian int32 header offsets, used as they are
//   the rest      the header file
//
// Pair input (records target and whole tool flow):
//   byte 0        bit 0: spectra (layout S records; the tool sees a .spc name)
//                 bits 1-3: header file: 0 = taken from the input, 1..3 = one
//                   of the built-in well-formed header files below
//                 bits 4-5: data-file name (date and letter case), tool flow
//                 bits 6-7: free
//   bytes 1-2     little-endian length h of the header file (when taken from
//                 the input; absent otherwise)
//   next h bytes  the header file
//   the rest      the data file
//
// Decoding a record allocates gate_count x (spectral_points + 1) floats for
// its spectra and reads per gate; decode_bound() bounds both over every
// block any record could load, and the targets skip inputs above their
// limits to stay fast.

#ifndef QUELLMAR_FUZZ_FUZZ_INPUT_H
#define QUELLMAR_FUZZ_FUZZ_INPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "writer/format_writer.h"

namespace quellmar::fuzz {

// ---------------------------------------------------------------------------
// Header target

struct HeaderInput {
  std::vector<int32_t> offsets;
  bool any_radar = false;
  std::vector<uint8_t> header;
};

inline bool split_header_input(const uint8_t* data, size_t size,
                               HeaderInput* out) {
  if (size < 1) return false;
  const size_t k = 1 + (data[0] & 3u);
  if (size < 1 + 4 * k) return false;
  out->any_radar = (data[0] & 4u) != 0;
  out->offsets.clear();
  for (size_t i = 0; i < k; ++i) {
    const uint8_t* p = data + 1 + 4 * i;
    out->offsets.push_back(static_cast<int32_t>(
        static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
        (static_cast<uint32_t>(p[2]) << 16) |
        (static_cast<uint32_t>(p[3]) << 24)));
  }
  out->header.assign(data + 1 + 4 * k, data + size);
  return true;
}

inline std::vector<uint8_t> join_header_input(const HeaderInput& in) {
  std::vector<uint8_t> bytes;
  const size_t k = std::clamp<size_t>(in.offsets.size(), 1, 4);
  bytes.push_back(static_cast<uint8_t>((k - 1) | (in.any_radar ? 4u : 0u)));
  for (size_t i = 0; i < k; ++i) {
    const uint32_t v =
        static_cast<uint32_t>(i < in.offsets.size() ? in.offsets[i] : 0);
    for (int shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  bytes.insert(bytes.end(), in.header.begin(), in.header.end());
  return bytes;
}

// The small data file of the header target: one layout M record (datacode
// 2000, the two override words and no body: length 22) per offset, record i
// naming offsets[i], taken at i minutes past midnight of 1 January 2002 by
// beam i. Whatever gate count the block gives, the RecordHeader is whole
// (a reader takes the override words as present when 22 > 5 x gates + 18).
inline quellmar::writer::Bytes header_target_data(
    const std::vector<int32_t>& offsets) {
  quellmar::writer::Bytes data;
  for (size_t i = 0; i < offsets.size(); ++i) {
    quellmar::writer::RecordSpec r;
    r.datacode = 2000;
    r.layout = quellmar::writer::Layout::M;
    r.header_offset = offsets[i];
    r.record_time = 1009843200 + 60 * static_cast<int32_t>(i);
    r.beam_index = static_cast<int16_t>(i);
    r.has_overrides = true;
    data.append(quellmar::writer::encode_record(r));
  }
  return data;
}

// ---------------------------------------------------------------------------
// Pair input

constexpr int kBuiltinHeaders = 3;

struct PairInput {
  bool spectra = false;
  int header_choice = 0;        // 0: from the input; 1..kBuiltinHeaders
  int name_choice = 0;          // 0..3
  std::vector<uint8_t> header;  // only when header_choice is 0
  std::vector<uint8_t> data;
};

inline bool split_pair_input(const uint8_t* data, size_t size, PairInput* out) {
  if (size < 1) return false;
  out->spectra = (data[0] & 1u) != 0;
  out->header_choice = (data[0] >> 1) & 7;
  if (out->header_choice > kBuiltinHeaders) out->header_choice = 0;
  out->name_choice = (data[0] >> 4) & 3;
  size_t at = 1;
  out->header.clear();
  if (out->header_choice == 0) {
    if (size < 3) return false;
    const size_t h = data[1] | (static_cast<size_t>(data[2]) << 8);
    at = 3;
    if (size - at < h) return false;
    out->header.assign(data + at, data + at + h);
    at += h;
  }
  out->data.assign(data + at, data + size);
  return true;
}

inline std::vector<uint8_t> join_pair_input(const PairInput& in) {
  std::vector<uint8_t> bytes;
  const int choice = in.header_choice > kBuiltinHeaders ? 0 : in.header_choice;
  bytes.push_back(static_cast<uint8_t>((in.spectra ? 1 : 0) | (choice << 1) |
                                       ((in.name_choice & 3) << 4)));
  if (choice == 0) {
    bytes.push_back(static_cast<uint8_t>(in.header.size() & 0xff));
    bytes.push_back(static_cast<uint8_t>((in.header.size() >> 8) & 0xff));
    bytes.insert(bytes.end(), in.header.begin(), in.header.end());
  }
  bytes.insert(bytes.end(), in.data.begin(), in.data.end());
  return bytes;
}

// Data-file name of the pair for a name choice: two- and three-digit years,
// both letter cases, moments or spectra ending.
inline std::string pair_data_name(int name_choice, bool spectra) {
  static const char* const kStems[4][2] = {{"d02123a.mom", "d02123a.spc"},
                                           {"d70001a.mom", "d70001a.spc"},
                                           {"D99365A.MOM", "D99365A.SPC"},
                                           {"d102059a.mom", "d102059a.spc"}};
  return kStems[name_choice & 3][spectra ? 1 : 0];
}

// The built-in header files, each of well-formed blocks:
//   1: a version 102 block at 0 (five beams, wind mode 0 of 8 gates and 64
//      points, one window) and a version 103 block at 568 with three met
//      instruments, a RASS mode 1 (4 gates, 2048 points) and two windows;
//   2: a version 103 block at 0 with window 2 on points 3-6 and window 1 on
//      points 50-59, the placement flag set, and a version 100 block at 580
//      with the same window 2 and an empty window 1 (filled in by the
//      reader);
//   3: one version 999 block whose beams name modes and directions outside
//      their tables (beams 6-9), with a radar count of 3.
inline quellmar::writer::HeaderSpec builtin_header_spec(int choice, int block) {
  quellmar::writer::HeaderSpec h;
  h.site_name = "Fuzz Site";
  h.site_value_1 = 4000;
  h.site_value_2 = -10500;
  h.site_value_4 = 1500;
  h.beam_count = 5;
  const char* names[5] = {"VERTICAL", "NORTH", "EAST", "SOUTH", "WEST"};
  for (int b = 0; b < 5; ++b) {
    h.beams[b].direction_index = static_cast<int16_t>(b);
    h.beams[b].mode_index = 0;
    h.directions[b].name = names[b];
    h.directions[b].azimuth = static_cast<int16_t>(b == 0 ? 0 : (b - 1) * 90);
    h.directions[b].elevation = static_cast<int16_t>(b == 0 ? 90 : 7500);
  }
  h.modes[0].gate_count = 8;
  h.modes[0].spectral_points = 64;
  h.window1_start = 1;
  h.window1_points = 64;
  if (choice == 1 && block == 1) {
    h.header_version = 103;
    h.met_instrument_list = {1, 2, 3};
    h.beam_count = 6;
    h.beams[5] = {0, 1, 0};
    h.modes[1].gate_count = 4;
    h.modes[1].spectral_points = 2048;
    h.window2_start = 1;
    h.window2_points = 20;
    h.window1_start = 1001;
    h.window1_points = 100;
    h.spectrum_extra[0] = 1;
  } else if (choice == 2) {
    h.header_version = block == 0 ? 103 : 100;
    h.window2_start = 3;
    h.window2_points = 4;
    h.window1_start = 50;
    h.window1_points = block == 0 ? 10 : 0;
    h.spectrum_extra[0] = 1;
  } else if (choice == 3) {
    h.header_version = 999;
    h.radar_count = 3;
    h.beam_count = 12;
    h.beams[6] = {9, 0, 0};
    h.beams[7] = {0, 4, 0};
    h.beams[8] = {-1, -1, 0};
    h.beams[9] = {0, 3, 0};
    h.modes[3].gate_count = -5;
    h.modes[3].spectral_points = -64;
  }
  return h;
}

inline int builtin_block_count(int choice) {
  return choice == 1 || choice == 2 ? 2 : 1;
}

// Offset of each block in the built-in header file.
inline std::vector<int32_t> builtin_block_offsets(int choice) {
  std::vector<int32_t> offsets;
  int32_t at = 0;
  for (int block = 0; block < builtin_block_count(choice); ++block) {
    offsets.push_back(at);
    at += static_cast<int32_t>(
        quellmar::writer::encode_header(builtin_header_spec(choice, block))
            .size());
  }
  return offsets;
}

inline quellmar::writer::Bytes builtin_header(int choice) {
  quellmar::writer::Bytes file;
  for (int block = 0; block < builtin_block_count(choice); ++block) {
    file.append(
        quellmar::writer::encode_header(builtin_header_spec(choice, block)));
  }
  return file;
}

// The header file an input stands for: its own bytes, or a built-in one.
inline std::vector<uint8_t> header_file(const PairInput& in) {
  return in.header_choice == 0 ? in.header
                               : builtin_header(in.header_choice).buf;
}

// ---------------------------------------------------------------------------
// Bound on the spectra table of one decode

inline int64_t le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<int16_t>(static_cast<uint16_t>(b[at] | (b[at + 1] << 8)));
}

// Largest gate_count, largest gate_count x (spectral_points + 1), and
// largest number of values in the spectrum lines of one record, that a
// decode could meet with this pair. A record may name any int32 found at any
// byte of the data file as its header offset (a walk over damaged records
// can read a RecordHeader anywhere); a block there counts when its version
// is valid (100..999). Its mode table lies 98 bytes (versions below 103) or
// 110 bytes on, with gate_count at +16 and spectral_points at +22 of each
// 32-byte mode entry; window1_points lies at 494 (versions below 103) or
// 506. A field the header file ends inside keeps the value of an earlier
// block, so each field's largest value counts. Counts start at 0 and
// negative counts decode as 0. A spectrum line holds at most P + 1 values,
// or window1_points values for positional spectra with one window.
struct DecodeBound {
  int64_t gates = 0;
  int64_t spectra_values = 0;
  int64_t spectrum_line_values = 0;  // all gates of one record
};

inline DecodeBound decode_bound(const std::vector<uint8_t>& header,
                                const std::vector<uint8_t>& data) {
  std::vector<bool> named(header.size(), false);
  for (size_t i = 0; i + 4 <= data.size(); ++i) {
    const uint32_t v = static_cast<uint32_t>(data[i]) |
                       (static_cast<uint32_t>(data[i + 1]) << 8) |
                       (static_cast<uint32_t>(data[i + 2]) << 16) |
                       (static_cast<uint32_t>(data[i + 3]) << 24);
    if (v < header.size()) named[v] = true;
  }
  int64_t gates[4] = {0, 0, 0, 0};
  int64_t points[4] = {0, 0, 0, 0};
  int64_t window1_points = 0;
  const size_t n = header.size();
  for (size_t o = 0; o + 2 <= n; ++o) {
    if (!named[o]) continue;
    const int64_t version = le16(header, o);
    if (version < 100 || version > 999) continue;
    const size_t w1n = o + (version >= 103 ? 506 : 494);
    if (w1n + 2 <= n)
      window1_points = std::max(window1_points, le16(header, w1n));
    const size_t modes = o + (version >= 103 ? 110 : 98);
    for (size_t m = 0; m < 4; ++m) {
      const size_t g = modes + 32 * m + 16;
      const size_t p = modes + 32 * m + 22;
      if (g + 2 <= n) gates[m] = std::max(gates[m], le16(header, g));
      if (p + 2 <= n) points[m] = std::max(points[m], le16(header, p));
    }
  }
  DecodeBound bound;
  for (int m = 0; m < 4; ++m) {
    bound.gates = std::max(bound.gates, gates[m]);
    bound.spectra_values =
        std::max(bound.spectra_values, gates[m] * (points[m] + 1));
    bound.spectrum_line_values =
        std::max(bound.spectrum_line_values,
                 gates[m] * std::max(points[m] + 1, window1_points));
  }
  return bound;
}

// Reads fuzz input as a file pair and its header file. False when it is not
// one, or when one decode would read more than 4096 gates or allocate more
// than max_spectra_values spectra values (or, with the spectra file, print
// more than that many numbers): reads past the end of the data file cost
// system calls per gate, so such inputs are slow without reaching new code.
inline bool take_pair_input(const uint8_t* data, size_t size,
                            int64_t max_spectra_values, bool printed_spectra,
                            PairInput* in, std::vector<uint8_t>* header) {
  constexpr int64_t kMaxGates = 4096;
  if (!split_pair_input(data, size, in)) return false;
  *header = header_file(*in);
  const DecodeBound bound = decode_bound(*header, in->data);
  return bound.gates <= kMaxGates &&
         bound.spectra_values <= max_spectra_values &&
         (!printed_spectra || bound.spectrum_line_values <= max_spectra_values);
}

}  // namespace quellmar::fuzz

#endif  // QUELLMAR_FUZZ_FUZZ_INPUT_H

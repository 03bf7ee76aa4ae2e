// What the header and records fuzz targets do with one input, shared with
// the tests that replay stored findings. Each flow drives the access module
// through its public operations only and returns a description of the
// first broken invariant, or an empty text when every check held. Crashes,
// reads outside an array and undefined behaviour are left to the
// sanitizers.
//
// Invariants checked beyond the sanitizers:
//   - the moment arrays of a decode agree in size with each other and with
//     their gate count, and every spectra row can be read whole;
//   - every result code is one the operation documents;
//   - every walk makes progress: a pass of pda_next_record over a data file
//     of n bytes visits at most n / 18 + 1 records (18 bytes is the
//     smallest record), and no positioning leaves current_offset below 0;
//   - names copied out of the parameter block are terminated inside the
//     caller's buffer.

#ifndef QUELLMAR_FUZZ_FUZZ_FLOWS_H
#define QUELLMAR_FUZZ_FUZZ_FLOWS_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "fuzz/fuzz_input.h"

namespace quellmar::fuzz {

inline bool write_bytes(const std::string& path, const uint8_t* data,
                        size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// Reads every value of the current moment arrays; a problem text when their
// sizes disagree.
inline std::string check_moments() {
  const MomentArrays& m = pda_moments;
  if (m.gate_count < 0) return "negative gate count in the moment arrays";
  const size_t g = static_cast<size_t>(m.gate_count);
  const std::vector<float>* arrays[10] = {
      &m.velocity,  &m.width,  &m.snr,  &m.noise,         &m.signal_power,
      &m.velocity2, &m.width2, &m.snr2, &m.signal_power2, &m.aux2};
  volatile float sink = 0.0f;
  for (const std::vector<float>* a : arrays) {
    if (a->size() != g) return "a moment array differs from the gate count";
    for (float v : *a) sink = sink + v;
  }
  if (g > 0) {
    if (m.spectra == nullptr) return "no spectra rows for a gate count above 0";
    if (m.row_length < 1) return "spectra rows shorter than one value";
    for (int64_t gate = 0; gate < m.gate_count; ++gate) {
      const float* row = m.spectra_row(gate);
      for (int64_t i = 0; i < m.row_length; ++i) sink = sink + row[i];
    }
  }
  return "";
}

// Upper bound on the records of one forward pass over a data file.
inline int64_t record_bound(size_t data_size) {
  return static_cast<int64_t>(data_size / 18) + 1;
}

// Asks every query of the parameter block, the beam information for every
// beam index around the tables, and the spectral window queries.
inline std::string query_everything(bool any_radar) {
  char site[32];
  pda_get_site_name(site);
  if (std::memchr(site, '\0', sizeof site) == nullptr) {
    return "site name not terminated";
  }
  int32_t v1 = 0, v2 = 0;
  pda_get_site_values(&v1, &v2);
  (void)pda_get_site_value_3();
  (void)pda_get_site_value_4();
  (void)pda_get_radar_count();
  for (int32_t radar = -2; radar <= 2; ++radar) {
    char name[32];
    int32_t value = 0, frequency = 0;
    if (pda_get_radar_info(radar, name, &value, &frequency) == 1 &&
        std::memchr(name, '\0', sizeof name) == nullptr) {
      return "radar name not terminated";
    }
    (void)pda_get_beam_count(radar);
  }
  const int32_t radar = any_radar ? -1 : 0;
  if (pda_select_radar(radar) != 1 && radar == -1) {
    return "pda_select_radar refused -1";
  }
  for (int32_t beam = -2; beam <= 12; ++beam) {
    (void)pda_select_beam(beam);
    char direction[12];
    const int got = pda_get_beam_info(beam, direction);
    if (got != 0 && got != 1) return "pda_get_beam_info result not 0 or 1";
    if (got == 1) {
      if (selected_radar == -1) return "beam information for radar -1";
      if (std::memchr(direction, '\0', sizeof direction) == nullptr) {
        return "direction name not terminated";
      }
    }
  }
  (void)pda_select_beam(-1);
  int32_t w1s, w1n, w2s, w2n, e1, e2, e3, e4, e5;
  (void)pda_get_spectrum_windows(&w1s, &w1n, &w2s, &w2n, &e1, &e2, &e3, &e4,
                                 &e5);
  const int32_t points[] = {-1,
                            0,
                            1,
                            w1s - 2,
                            w1s - 1,
                            w1s + w1n - 1,
                            w2s - 1,
                            w2s + w2n - 2,
                            w2s + w2n - 1,
                            32767};
  const int32_t gates[] = {-1, 0, 1, 32766, 32767};
  for (int32_t p : points) {
    for (int32_t g : gates) (void)pda_spectrum_index(p, g);
  }
  (void)pda_get_nyquist_velocity();
  int32_t instruments[kMaxMetInstruments];
  const int32_t count = pda_get_met_instruments(instruments);
  if (count < 0 || count > kMaxMetInstruments) {
    return "met instrument count outside 0..256";
  }
  (void)pda_get_record_beam();
  (void)pda_get_record_radar();
  (void)pda_get_record_datacode();
  int32_t year, day, hour, minute, second;
  (void)pda_get_time(&year, &day, &hour, &minute, &second);
  return "";
}

inline bool header_result_known(int result) {
  return result == 0 || result == -1 || result == -3 || result == -4 ||
         result == -10;
}

// Header target: the header file of the input, a data file of one record per
// offset. dir ends in '/'.
inline std::string run_header_flow(const std::string& dir,
                                   const HeaderInput& in) {
  pda_reset();
  if (pda_read_header_block_at(0) != -1) {
    return "pda_read_header_block_at without an open pair did not give -1";
  }
  const std::string name = "d02001a.mom";
  const quellmar::writer::Bytes data = header_target_data(in.offsets);
  if (!write_bytes(dir + "h02001a.mom", in.header.data(), in.header.size()) ||
      !write_bytes(dir + name, data.data(), data.size())) {
    return "";  // the scratch folder is not usable; nothing to test
  }
  if (pda_set_file(dir, name, 0) != 1) {
    return "pda_set_file refused a data file with a whole first record";
  }
  std::string problem = query_everything(in.any_radar);
  if (!problem.empty()) return problem;

  for (int32_t offset : in.offsets) {
    const int result = pda_read_header_block_at(offset);
    if (!header_result_known(result)) {
      return "pda_read_header_block_at gave an undocumented result";
    }
    problem = query_everything(in.any_radar);
    if (!problem.empty()) return problem;
  }

  // The record reader loads the block each record names.
  const int64_t bound = record_bound(data.size());
  int64_t visited = 0;
  for (;;) {
    int new_header = 0;
    const int result = pda_read_record_header(&new_header);
    if (result == 1 || result == -4) break;
    if (result != 0)
      return "pda_read_record_header gave an undocumented result";
    if (++visited > bound) return "record header walk does not end";
    problem = query_everything(in.any_radar);
    if (!problem.empty()) return problem;
    pda_advance_record();
  }
  const int back = pda_skip_records(-20);
  if (back != 0 && back != -2) return "pda_skip_records(-20) result";
  int new_header = 0;
  (void)pda_read_record_header(&new_header);
  return query_everything(in.any_radar);
}

// Walks on with pda_next_record; a problem text when the walk visits more
// records than the file can hold.
inline std::string walk_rest(size_t data_size, const char* what) {
  const int64_t bound = record_bound(data_size);
  int new_header = 0;
  for (int64_t visited = 0; pda_next_record(&new_header) == 1;) {
    std::string problem = check_moments();
    if (!problem.empty()) return problem;
    if (pda_current_offset() < 0) return "current offset below 0";
    if (++visited > bound) {
      return std::string("pda_next_record walk does not end (") + what + ")";
    }
  }
  return "";
}

// Records target: the data file of the input with the given header file.
// dir ends in '/'.
inline std::string run_records_flow(const std::string& dir, const PairInput& in,
                                    const std::vector<uint8_t>& header) {
  pda_reset();
  const std::string name = pair_data_name(0, in.spectra);
  if (!write_bytes(dir + name, in.data.data(), in.data.size()) ||
      !write_bytes(dir + "h" + name.substr(1), header.data(), header.size())) {
    return "";
  }
  if (pda_set_file(dir, name, in.spectra ? 1 : 0) != 1) {
    if (pda_set_file_failure() == SetFileFailure::kNone) {
      return "pda_set_file failed without a reason";
    }
    return "";
  }
  const size_t size = in.data.size();
  std::string problem;

  // Every record, first to last.
  if (pda_select_radar(-1) != 1 || pda_select_beam(-1) != 1) {
    return "selection of any radar and any beam refused";
  }
  int new_header = 0;
  if (pda_first_record(&new_header) == 1) {
    problem = check_moments();
    if (problem.empty()) problem = walk_rest(size, "any radar, any beam");
    if (!problem.empty()) return problem;
  }

  // Stepping by various counts, each followed by a decode.
  const int32_t counts[] = {1,
                            0,
                            -1,
                            2,
                            -20,
                            3,
                            std::numeric_limits<int32_t>::min(),
                            5,
                            std::numeric_limits<int32_t>::max(),
                            0};
  for (int32_t count : counts) {
    const int result = pda_skip_records(count);
    if (result != 0 && result != -1 && result != -2) {
      return "pda_skip_records gave an undocumented result";
    }
    if (pda_current_offset() < 0) return "current offset below 0";
    pda_read_record();
    problem = check_moments();
    if (!problem.empty()) return problem;
  }

  // Positioning on times before, inside and after the data.
  int32_t year = 0, day = 0, hour = 0, minute = 0, second = 0;
  (void)pda_get_time(&year, &day, &hour, &minute, &second);
  const int32_t targets[][5] = {{1990, 1, 0, 0, 0},
                                {2038, 19, 3, 14, 8},
                                {year, day, hour, minute, second},
                                {1970, 1, 0, 0, 0},
                                {102, 123, 12, 0, 0},
                                {-1, -1, -1, -1, -1},
                                {year, day, hour, minute, second + 1}};
  for (const auto& t : targets) {
    if (pda_seek_time(t[0], t[1], t[2], t[3], t[4], &new_header) != 1) {
      return "pda_seek_time did not give 1 on an open pair";
    }
    problem = check_moments();
    if (!problem.empty()) return problem;
    if (pda_current_offset() < 0) return "current offset below 0";
  }

  // The extraction tool's walk: radar 0, any beam, after a time positioning.
  if (pda_seek_time(1990, 1, 0, 0, 0, &new_header) != 1) {
    return "pda_seek_time did not give 1 on an open pair";
  }
  if (pda_select_radar(0) == 1 && pda_select_beam(-1) == 1) {
    problem = walk_rest(size, "radar 0, any beam");
    if (!problem.empty()) return problem;
  }

  // Back to the first record through a rewind of the same name.
  if (pda_set_file(dir, name, in.spectra ? 1 : 0) != 0) {
    return "pda_set_file with the open name did not give 0";
  }
  if (pda_select_radar(-1) == 1 && pda_first_record(&new_header) == 1) {
    problem = check_moments();
  }
  return problem;
}

}  // namespace quellmar::fuzz

#endif  // QUELLMAR_FUZZ_FUZZ_FLOWS_H

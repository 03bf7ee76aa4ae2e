// Moment and spectra decoding of the current record's body.
//
// The body follows the RecordHeader (and its override words). In file
// order:
//   1. first moment set, per gate:
//        16-bit encoding (hundreds digit of datacode non-zero), 8 bytes:
//          int16 velocity, uint16 width, int16 snr (0.01 dB),
//          int16 noise (0.01 dB)
//        x0xx encoding (hundreds digit 0), 5 bytes:
//          int16 velocity, uint8 width, int8 snr (dB), int8 noise (dB)
//   2. second moment set when datacode % 100 is 16 (both encodings) or 17
//      (16-bit only), per gate:
//        16-bit, 8 bytes: int16 velocity, uint16 width, int16 snr,
//          int16 aux (tenths)
//        x0xx, 6 bytes: int16 velocity, uint8 width, int8 snr, int16 aux
//   3. met values when datacode >= 3000: met_instrument_count x 4 bytes
//   4. spectra when the spectra flag is set, float32 values per gate:
//        datacode % 100 != 17: all P points, of which the windows are
//          picked (compact rows: window 2 first, then window 1)
//        datacode % 100 == 17: only the windows, stored by point number
//
// Velocities and widths are fractions of the Nyquist velocity V. Values
// are held as floats; the arithmetic is double precision with V and the
// linear noise rounded to float first.
//
// Whatever a decode does not reach is 0: every array and row starts
// zero-filled, and a field the file ends inside counts as raw 0. A record
// that a read finds cut by the end of the file is marked
// (pda_record_cut_short), so that no program takes those zeros for data.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "disk/disk_state.h"
#include "disk/pda.h"

MomentArrays pda_moments;
int32_t met_values[kMetValueCapacity];

namespace {

// Storage of released gate arrays, taken up again by the next decode: a run
// of records of the same shape allocates its arrays once. It holds at most
// the arrays of the largest record released.
MomentArrays released_arrays;

// Every gate array of a, in one list.
template <typename Arrays>
auto gate_arrays(Arrays& a) {
  return std::array{&a.velocity,      &a.width,     &a.snr,    &a.noise,
                    &a.signal_power,  &a.velocity2, &a.width2, &a.snr2,
                    &a.signal_power2, &a.aux2};
}

}  // namespace

void pda_release_moments() {
  auto from = gate_arrays(pda_moments);
  auto to = gate_arrays(released_arrays);
  for (size_t i = 0; i < from.size(); ++i) {
    from[i]->clear();
    if (from[i]->capacity() >= to[i]->capacity()) std::swap(*from[i], *to[i]);
  }
  pda_moments = MomentArrays();
}

namespace {

using quellmar::disk::get_i16;
using quellmar::disk::get_u16;
using quellmar::disk::pair;
using quellmar::disk::record;

// Ends the process when the decoder cannot allocate (the default), or
// lets pda_decode_record return the failure.
bool exit_on_allocation_failure = true;

// Thrown by the allocators; pda_decode_record reports it.
struct AllocationFailure {
  const char* what;  // "spectra" or "moment"
  int64_t bytes;
};

// A read of the record's body met the end of the data file. The first
// moment set says so in its message (DiskProblem::kMomentsCut); a later cut
// is noted silently.
void mark_cut() {
  if (!record.cut_short) {
    quellmar::disk::note_problem(DiskProblem::kRecordCut, record.offset);
  }
  record.cut_short = true;
}

// One moment set read whole: G groups of `group` bytes. Bytes the file does
// not deliver read as 0, and a field the file ends inside counts as 0.
class MomentSet {
 public:
  MomentSet(int64_t gates, size_t group, const int* field_ends)
      : group_(group), field_ends_(field_ends) {
    static std::vector<unsigned char> buffer;
    buffer.assign(static_cast<size_t>(gates) * group, 0);
    data_ = buffer.data();
    size_ = buffer.size();
    got_ = pair.data.read(data_, size_);
  }
  // True when the file delivered every gate whole; at() then gives gate
  // g's group in place.
  bool complete() const { return got_ == size_; }
  const unsigned char* at(int64_t g) const {
    return data_ + static_cast<size_t>(g) * group_;
  }
  // Copies gate g's group into b with its incomplete fields zeroed and
  // returns the number of its bytes the file delivered.
  size_t gate(int64_t g, unsigned char* b) const {
    const size_t start = static_cast<size_t>(g) * group_;
    std::memcpy(b, data_ + start, group_);
    const size_t got = got_ <= start ? 0 : std::min(group_, got_ - start);
    if (got < group_) drop_partial(b, got);
    return got;
  }

 private:
  void drop_partial(unsigned char* bytes, size_t got) const {
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
      const size_t end = static_cast<size_t>(field_ends_[i]);
      if (got < end) std::memset(bytes + start, 0, end - start);
      start = end;
    }
  }

  size_t group_;
  const int* field_ends_;
  unsigned char* data_;
  size_t size_;
  size_t got_;
};

// Zero-filled rows for gates x row_length floats. A record without spectra
// never writes its rows, so those records share one block of zeros instead
// of clearing a fresh one each time.
std::shared_ptr<float[]> spectra_rows(int64_t gates, int64_t row_length,
                                      bool with_spectra) {
  static std::shared_ptr<float[]> zero_rows;
  static int64_t zero_rows_size = 0;
  const int64_t size = gates * row_length;
  if (!with_spectra && size <= zero_rows_size) return zero_rows;
  // Zero pages from calloc cost nothing until a row is written.
  void* rows = std::calloc(static_cast<size_t>(gates),
                           static_cast<size_t>(row_length) * sizeof(float));
  if (rows == nullptr) throw AllocationFailure{"spectra", size * 4};
  std::shared_ptr<float[]> block(static_cast<float*>(rows),
                                 [](float* p) { std::free(p); });
  if (!with_spectra) {
    zero_rows = block;
    zero_rows_size = size;
  }
  return block;
}

void allocate(int64_t gates, int64_t points, bool with_spectra) {
  MomentArrays a;
  auto spare = gate_arrays(released_arrays);
  auto fresh = gate_arrays(a);
  for (size_t i = 0; i < fresh.size(); ++i) std::swap(*fresh[i], *spare[i]);
  try {
    a.velocity.assign(gates, 0.0f);
    a.snr.assign(gates, 0.0f);
    a.signal_power.assign(gates, 0.0f);
    a.noise.assign(gates, 0.0f);
    a.width.assign(gates, 0.0f);
    a.velocity2.assign(gates, 0.0f);
    a.snr2.assign(gates, 0.0f);
    a.signal_power2.assign(gates, 0.0f);
    a.width2.assign(gates, 0.0f);
    a.aux2.assign(gates, 0.0f);
  } catch (const std::bad_alloc&) {
    throw AllocationFailure{"moment", gates * 4 * 10};
  }
  a.gate_count = gates;
  a.row_length = points + 1;
  if (gates > 0) a.spectra = spectra_rows(gates, a.row_length, with_spectra);
  pda_moments = std::move(a);
}

// Reads n spectral values into row[first .. first + n - 1]; values whose
// index falls outside 0..last are consumed and not stored, and values the
// file does not deliver leave their entries as they are.
void read_values(float* row, int64_t last, int64_t first, int64_t n) {
  if (n <= 0) return;
  int64_t index = first;
  // Values before the row: consumed only.
  if (index < 0) {
    const int64_t skip = n < -index ? n : -index;
    pair.data.seek_relative(skip * 4);
    index += skip;
    n -= skip;
  }
  int64_t inside = last + 1 - index;
  if (inside < 0) inside = 0;
  if (inside > n) inside = n;
  if (inside > 0) {
    const size_t bytes = static_cast<size_t>(inside) * 4;
    unsigned char* dst = reinterpret_cast<unsigned char*>(row + index);
    const size_t got = pair.data.read(dst, bytes);
    // A value cut in the middle stays 0; the byte copy above keeps the
    // host's float layout, which is IEEE little-endian on every target.
    const size_t whole = got / 4 * 4;
    std::memset(dst + whole, 0, bytes - whole);
    if (got < bytes) {
      // End of the file: nothing more will be delivered.
      mark_cut();
      pair.data.seek_relative((n - inside) * 4);
      return;
    }
  }
  if (n - inside > 0) pair.data.seek_relative((n - inside) * 4);
}

void skip_values(int64_t n) { pair.data.seek_relative(n * 4); }

void decode_spectra(int64_t gates, int64_t points, bool positional) {
  const RadarRecord& r = pda_parameters.radars[0];
  const int64_t w1s = r.window1_start, w1n = r.window1_points;
  const int64_t w2s = r.window2_start, w2n = r.window2_points;
  const WindowRows rows = pda_locate_windows(r.window1_start, r.window2_start,
                                             r.window2_points, positional);
  for (int64_t g = 0; g < gates; ++g) {
    float* row = pda_moments.spectra.get() + g * (points + 1);
    if (positional) {
      // Only the windows are stored, each value at its point number.
      read_values(row, points, rows.window1_row, w1n);
      if (rows.two_windows) read_values(row, points, rows.window2_row, w2n);
      continue;
    }
    // All points are stored; the windows' values are picked from them.
    if (rows.two_windows) {
      skip_values(w2s - 1);
      read_values(row, points, rows.window2_row, w2n);
      skip_values(w1s - (w2s + w2n));
    } else {
      skip_values(w1s - 1);
    }
    read_values(row, points, rows.window1_row, w1n);
    skip_values(points - (w1s + w1n - 1));
  }
}

// Powers of ten of every stored count, computed once per encoding with the
// same expressions a gate would evaluate: 10^(snr / 10) from the stored
// float snr, and the linear noise rounded to float.
struct PowerTables {
  std::vector<double> snr_power;    // by raw snr count
  std::vector<float> noise_linear;  // by raw noise count
  std::vector<float> hundredths;    // count / 100, 16-bit snr and noise
  int offset = 0;                   // index of raw count 0
};

const PowerTables& tables_x0xx() {
  static const PowerTables t = [] {
    PowerTables p;
    p.offset = 128;
    for (int raw = -128; raw < 128; ++raw) {
      const float snr = static_cast<float>(raw);
      p.snr_power.push_back(std::pow(10.0, snr / 10.0));
      p.noise_linear.push_back(static_cast<float>(std::pow(10.0, raw / 10.0)));
    }
    return p;
  }();
  return t;
}

const PowerTables& tables_16bit() {
  static const PowerTables t = [] {
    PowerTables p;
    p.offset = 32768;
    p.snr_power.reserve(65536);
    p.noise_linear.reserve(65536);
    for (int raw = -32768; raw < 32768; ++raw) {
      const float snr = static_cast<float>(raw / 100.0);
      p.hundredths.push_back(snr);
      p.snr_power.push_back(std::pow(10.0, snr / 10.0));
      p.noise_linear.push_back(
          static_cast<float>(std::pow(10.0, raw / 1000.0)));
    }
    return p;
  }();
  return t;
}

// Linear signal power: 10^(snr / 10) x (P x noise_linear rounded to float).
inline float signal_power(double snr_power, double points, float noise_linear) {
  return static_cast<float>(snr_power *
                            static_cast<float>(points * noise_linear));
}

void decode_moments(int64_t gates, int64_t points, float nyquist,
                    bool encoding16, bool second_set) {
  MomentArrays& a = pda_moments;
  const double v = nyquist;
  const double p = static_cast<double>(points);
  std::vector<float> noise_linear(static_cast<size_t>(gates), 0.0f);
  const PowerTables& t = encoding16 ? tables_16bit() : tables_x0xx();

  unsigned char b[8];
  if (encoding16) {
    static const int kEnds[4] = {2, 4, 6, 8};
    const MomentSet set(gates, 8, kEnds);
    const bool complete = set.complete();
    for (int64_t g = 0; g < gates; ++g) {
      const unsigned char* q = complete ? set.at(g) : b;
      const size_t got = complete ? 8 : set.gate(g, b);
      const int16_t snr = get_i16(q + 4);
      const int16_t noise = get_i16(q + 6);
      a.velocity[g] = static_cast<float>(get_i16(q) * v / 10000.0);
      a.width[g] = static_cast<float>(get_u16(q + 2) * v / 10000.0);
      a.snr[g] = t.hundredths[snr + t.offset];
      a.noise[g] = t.hundredths[noise + t.offset];
      noise_linear[g] = t.noise_linear[noise + t.offset];
      a.signal_power[g] =
          signal_power(t.snr_power[snr + t.offset], p, noise_linear[g]);
      if (got < 8) {
        quellmar::disk::note_problem(DiskProblem::kMomentsCut, record.offset);
        record.cut_short = true;
        quellmar::disk::message("\ndisk: Read error %ld\n", 0L);
        break;
      }
    }
  } else {
    static const int kEnds[4] = {2, 3, 4, 5};
    const MomentSet set(gates, 5, kEnds);
    for (int64_t g = 0; g < gates; ++g) {
      const size_t got = set.gate(g, b);
      const int8_t snr = static_cast<int8_t>(b[3]);
      const int8_t noise = static_cast<int8_t>(b[4]);
      a.velocity[g] = static_cast<float>(get_i16(b) * v / 10000.0);
      a.width[g] = static_cast<float>(b[2] * v / 100.0);
      a.snr[g] = static_cast<float>(snr);
      a.noise[g] = static_cast<float>(noise);
      noise_linear[g] = t.noise_linear[noise + t.offset];
      a.signal_power[g] =
          signal_power(t.snr_power[snr + t.offset], p, noise_linear[g]);
      if (got < 5) {
        quellmar::disk::note_problem(DiskProblem::kMomentsCut, record.offset);
        record.cut_short = true;
        quellmar::disk::message("\ndisk: datacode x0xx Read error %ld\n", 0L);
        break;
      }
    }
  }
  if (!second_set) return;

  if (encoding16) {
    static const int kEnds[4] = {2, 4, 6, 8};
    const MomentSet set(gates, 8, kEnds);
    const bool complete = set.complete();
    if (!complete) mark_cut();
    for (int64_t g = 0; g < gates; ++g) {
      const unsigned char* q = complete ? set.at(g) : b;
      if (!complete) set.gate(g, b);
      const int16_t snr = get_i16(q + 4);
      a.velocity2[g] = static_cast<float>(get_i16(q) * v / 10000.0);
      a.width2[g] = static_cast<float>(get_u16(q + 2) * v / 10000.0);
      a.snr2[g] = t.hundredths[snr + t.offset];
      a.signal_power2[g] =
          signal_power(t.snr_power[snr + t.offset], p, noise_linear[g]);
      a.aux2[g] = static_cast<float>(get_i16(q + 6) / 10.0);
    }
  } else {
    static const int kEnds[4] = {2, 3, 4, 6};
    const MomentSet set(gates, 6, kEnds);
    if (!set.complete()) mark_cut();
    for (int64_t g = 0; g < gates; ++g) {
      set.gate(g, b);
      const int8_t snr = static_cast<int8_t>(b[3]);
      a.velocity2[g] = static_cast<float>(get_i16(b) * v / 10000.0);
      a.width2[g] = static_cast<float>(b[2] * v / 100.0);
      a.snr2[g] = static_cast<float>(snr);
      a.signal_power2[g] =
          signal_power(t.snr_power[snr + t.offset], p, noise_linear[g]);
      a.aux2[g] = static_cast<float>(get_i16(b + 4) / 10.0);
    }
  }
}

void read_met_values() {
  const int64_t count = pda_parameters.met_instrument_count;
  if (count <= 0) return;
  const int64_t stored = count < kMetValueCapacity ? count : kMetValueCapacity;
  unsigned char bytes[4];
  for (int64_t i = 0; i < stored; ++i) {
    if (pair.data.read(bytes, 4) != 4) {
      mark_cut();
      return;
    }
    met_values[i] = quellmar::disk::get_i32(bytes);
  }
  if (count > stored) pair.data.seek_relative((count - stored) * 4);
}

}  // namespace

void pda_set_exit_on_allocation_failure(int exit_on_failure) {
  exit_on_allocation_failure = exit_on_failure != 0;
}

int pda_decode_record() {
  const ModeEntry* mode = quellmar::disk::record_mode();
  int64_t gates = mode == nullptr ? 0 : mode->gate_count;
  int64_t points = mode == nullptr ? 0 : mode->spectral_points;
  if (gates < 0) gates = 0;
  if (points < 0) points = 0;
  AllocationFailure failure{nullptr, 0};
  record.cut_short = false;
  try {
    allocate(gates, points, record.spectra_flag != 0);
    const float nyquist = mode == nullptr
                              ? 0.0f
                              : quellmar::disk::nyquist_velocity(
                                    pda_parameters.radars[0].tx_frequency,
                                    mode->ipp_ns, mode->coherent_integrations);
    const DatacodeTraits traits =
        pda_describe_datacode(record.datacode, record.spectra_flag);
    decode_moments(gates, points, nyquist, traits.encoding16,
                   traits.second_set);
    if (traits.met_values) read_met_values();
    if (record.spectra_flag != 0) {
      decode_spectra(gates, points, traits.positional_spectra);
    }
  } catch (const AllocationFailure& f) {
    failure = f;
  } catch (const std::bad_alloc&) {
    // The decoder's own buffers of the record's moment sets.
    failure = AllocationFailure{"moment", gates * 4 * 10};
  }
  if (failure.what != nullptr) {
    quellmar::disk::message(
        "disk: can't allocate memory for %s arrays. Fatal.\n", failure.what);
    if (exit_on_allocation_failure) {
      std::fflush(nullptr);
      std::exit(2);
    }
    quellmar::disk::note_problem(DiskProblem::kOutOfMemory, record.offset,
                                 failure.bytes);
    pda_moments = MomentArrays();
  }

  pair.current_offset += record.record_length;
  if (pair.current_offset < 0) pair.current_offset = 0;
  pair.data.seek(pair.current_offset);
  return failure.what == nullptr ? 0 : -2;
}

int pda_record_cut_short() { return record.cut_short ? 1 : 0; }

int pda_read_record() {
  int new_header;
  pda_read_record_header(&new_header);
  return pda_decode_record();
}

#include "tool/output_files.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "disk/pda.h"
#include "tool/spectrum_lines.h"

float power_db(float x) {
  if (!(x > 0.0f)) return 0.0f;
  // Signal powers repeat a great deal (they derive from small integer
  // counts), so results are remembered by the value's bits.
  struct Entry {
    uint32_t bits;
    float db;
  };
  static Entry cache[4096] = {};  // bits 0 is +0.0, never looked up
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  Entry& e = cache[(bits ^ (bits >> 12)) & 4095];
  if (e.bits != bits) {
    e.bits = bits;
    e.db = static_cast<float>(10.0 * std::log10(static_cast<double>(x)));
  }
  return e.db;
}

std::string output_file_name(const std::string& label, int32_t year,
                             int32_t day, const char* suffix) {
  TextBuffer name(64);
  std::string prefix = label.substr(0, 3);
  for (char& c : prefix) {
    if (c == '/') c = '_';
  }
  name.append(prefix);
  name.append_int(year, 2, true);
  name.append_int(day, 3, true);
  name.append(suffix);
  return std::string(name.view());
}

namespace {

const char* const kSuffix[] = {".rew", ".rat_e", ".ras"};
const char* const kTag[] = {"WIND: ", "RASS: ", "SPEC: "};

// A float the decode did not allocate reads as 0.
float at(const std::vector<float>& values, int64_t i) {
  return i < static_cast<int64_t>(values.size()) ? values[i] : 0.0f;
}

// Work shared between the record loop and the writer thread, which also
// makes every write: the record loop formats the first lines of a record
// (spectrum lines; the gate lines of its last block), the writer thread the
// rest. The record loop's share, in 64ths of the lines, follows the load:
// it grows when the record loop had to wait for the writer (the record
// before was not yet written) and shrinks when the writer thread waited for
// work. Spectrum lines start
// evenly shared; gate lines start mostly with the record loop, since in a
// moments run the writes alone keep the writer thread busy.
constexpr int kShareSteps = 64;
constexpr int kShareStep = 2;

// Room one gate line may need in a TextBuffer.
constexpr size_t kGateLineRoom = 5 * (quellmar::kMaxFormattedLength + 1) + 8;

// Gate lines "%8.3f %7.3f %7.3f %7.3f %7.3f 0\n", the fields taken from
// five columns of at least `lines` values each. A line whose fields all fit
// their widths is 43 bytes with every field at a fixed place, so its five
// fields are built independently of each other; other lines (a value of
// 100 or more below zero, 1000 or more, inf, nan) go through the general
// formatter.
void put_gate_lines(TextBuffer& t, const float* const columns[5],
                    size_t lines) {
  if (lines == 0) return;
  char* p = t.tail(lines * kGateLineRoom);
  for (size_t i = 0; i < lines; ++i) {
    const float v[5] = {columns[0][i], columns[1][i], columns[2][i],
                        columns[3][i], columns[4][i]};
    const size_t a = quellmar::format_fixed_width8<3>(p, v[0]);
    const size_t b = quellmar::format_fixed_width8<3>(p + 8, v[1]);
    const size_t c = quellmar::format_fixed_width8<3>(p + 16, v[2]);
    const size_t d = quellmar::format_fixed_width8<3>(p + 24, v[3]);
    const size_t e = quellmar::format_fixed_width8<3>(p + 32, v[4]);
    // Fields 2 to 5 are " %7.3f": their text may take at most 7 bytes.
    if (a != 0 && b - 1 < 7 && c - 1 < 7 && d - 1 < 7 && e - 1 < 7) {
      std::memcpy(p + 40, " 0\n", 3);
      p += 43;
      continue;
    }
    p = quellmar::format_fixed_fast<3>(p, v[0], 8);
    for (int k = 1; k < 5; ++k) {
      *p++ = ' ';
      p = quellmar::format_fixed_fast<3>(p, v[k], 7);
    }
    std::memcpy(p, " 0\n", 3);
    p += 3;
  }
  t.commit(p);
}

SpectrumSource current_spectra() {
  SpectrumSource s;
  int32_t e1, e2, e3, e4, e5;
  s.placement = pda_get_spectrum_windows(&s.w1s, &s.w1n, &s.w2s, &s.w2n, &e1,
                                         &e2, &e3, &e4, &e5);
  s.points = pda_beam_info.spectral_points;
  s.gate_count = pda_beam_info.gate_count;
  s.positional = pda_get_record_datacode() % 100 == 17;
  s.rows = pda_moments.spectra;
  s.decoded_gates = pda_moments.gate_count;
  s.row_length = pda_moments.row_length;
  return s;
}

// The writer whose text a process exit must not lose: an exit from inside
// the access module (a fatal allocation failure) ends the process without
// unwinding the record loop.
std::mutex active_mutex;
OutputWriter* active_writer = nullptr;
bool exit_hook_installed = false;

void drain_active_writer() {
  std::lock_guard<std::mutex> lock(active_mutex);
  if (active_writer != nullptr) active_writer->close_all();
}

}  // namespace

OutputWriter::OutputWriter(const SiteDescription& site) : site_(site) {
  std::lock_guard<std::mutex> lock(active_mutex);
  active_writer = this;
  if (!exit_hook_installed) {
    exit_hook_installed = true;
    std::atexit(drain_active_writer);
  }
}

OutputWriter::~OutputWriter() {
  {
    std::lock_guard<std::mutex> lock(active_mutex);
    if (active_writer == this) active_writer = nullptr;
  }
  close_all();
}

bool OutputWriter::open(Kind kind, const std::string& name, bool* is_new) {
  OpenFile& f = files_[kind];
  *is_new = false;
  if (f.file != nullptr && f.name == name) return true;
  if (f.file != nullptr) {
    writer_.drain();  // the writer may still hold text for this file
    std::fclose(f.file);
  }
  f.file = nullptr;
  f.name.clear();

  bool exists = false;
  if (std::FILE* probe = std::fopen(name.c_str(), "r")) {
    exists = true;
    std::fclose(probe);
  }
  std::FILE* file = std::fopen(name.c_str(), "a");
  if (file == nullptr) {
    std::fprintf(stderr, "Cannot open file %s\n", name.c_str());
    return false;
  }
  // Each record's text goes out in one write of its own.
  std::setvbuf(file, nullptr, _IONBF, 0);
  f.file = file;
  f.name = name;
  *is_new = !exists;
  return true;
}

void OutputWriter::put_file_header_line(TextBuffer& t) {
  t.append(" ");
  t.append(site_.label);
  for (size_t n = site_.label.size(); n < 30; ++n) t.append_char(' ');
  t.append_char(' ');
  t.append_int(site_.value_1, 4);
  t.append_char(' ');
  t.append_int(site_.value_2, 5);
  t.append_char(' ');
  t.append_int(site_.value_4, 5);
  t.append_char(' ');
  t.append_int(site_.tx_frequency, 5);
  t.append_char('\n');
}

bool OutputWriter::report_write_failure() {
  const WriteBehind::Failure failure = writer_.failure();
  if (failure.name.empty()) return false;
  std::fprintf(stderr, "Cannot write file %s: %s\n", failure.name.c_str(),
               std::strerror(failure.error));
  return true;
}

bool OutputWriter::close_all() {
  writer_.drain();
  for (OpenFile& f : files_) {
    if (f.file != nullptr) std::fclose(f.file);
    f.file = nullptr;
    f.name.clear();
  }
  if (write_failure_reported_) return false;
  write_failure_reported_ = report_write_failure();
  return !write_failure_reported_;
}

void OutputWriter::put_record_line(TextBuffer& t, int32_t beam,
                                   const RecordStamp& s) {
  const BeamInfo& b = pda_beam_info;
  t.append_int(beam);
  t.append_char(' ');
  t.append_int(b.elevation, 2);
  t.append_char(' ');
  t.append_int(b.azimuth, 3);
  t.append_char(' ');
  t.append_int(s.year, 2);
  t.append_char(' ');
  t.append_int(s.day, 3);
  t.append_char(' ');
  t.append_int(s.hour, 2);
  t.append_char(' ');
  t.append_int(s.minute, 2);
  t.append_char(' ');
  t.append_int(s.second, 2);
  t.append_char('\n');
}

void OutputWriter::put_beam_line(TextBuffer& t) {
  const BeamInfo& b = pda_beam_info;
  t.append_int(b.ipp_ns / 1000, 2);
  t.append_char(' ');
  t.append_int(b.pulse_width, 4);
  t.append_char(' ');
  t.append_int(b.first_gate_height_m, 3);
  t.append_char(' ');
  t.append_int(b.gate_spacing_m, 3);
  t.append_char(' ');
  t.append_int(b.gate_count, 3);
  t.append_char(' ');
  t.append_int(b.coherent_integrations, 3);
  t.append_char(' ');
  t.append_int(b.spectral_averages, 2);
  t.append_char(' ');
  t.append_int(b.spectral_points, 4);
  t.append_char('\n');
}

// The gate lines of one moment set: velocity, SNR, signal power in dB,
// width, and noise (first set) or the auxiliary value (second set). Gates
// the decode held nothing for print zeros. The record loop formats the
// first `share` 64ths of the lines; the values of the others are copied
// for the writer thread, which formats them into *rest.
void OutputWriter::put_gate_block(TextBuffer& t, bool second_set, int share,
                                  WriteBehind::Completion* rest) {
  const MomentArrays& m = pda_moments;
  const std::vector<float>* sources[5] = {
      second_set ? &m.velocity2 : &m.velocity, second_set ? &m.snr2 : &m.snr,
      second_set ? &m.signal_power2 : &m.signal_power,
      second_set ? &m.width2 : &m.width, second_set ? &m.aux2 : &m.noise};
  const int64_t gates = std::max<int64_t>(pda_beam_info.gate_count, 0);
  const size_t lines = static_cast<size_t>(gates);
  const float* columns[5];
  for (int c = 0; c < 5; ++c) {
    const std::vector<float>& source = *sources[c];
    if (c != 2 && source.size() >= lines) {
      columns[c] = source.data();
      continue;
    }
    // The power column in dB, and any column shorter than the block.
    std::vector<float>& column = scratch_columns_[c];
    column.resize(lines);
    for (size_t g = 0; g < lines; ++g) {
      const float v = at(source, static_cast<int64_t>(g));
      column[g] = c == 2 ? power_db(v) : v;
    }
    columns[c] = column.data();
  }
  const size_t kept = lines * static_cast<size_t>(share) / kShareSteps;
  put_gate_lines(t, columns, kept);
  const size_t deferred = lines - kept;
  if (deferred == 0) return;
  // A queued text is written before kSlots more are queued, so the kSlots
  // + 1 buffers of deferred values are never in use at once.
  std::vector<float>& values = deferred_[next_deferred_];
  next_deferred_ = (next_deferred_ + 1) % std::size(deferred_);
  values.resize(5 * deferred);
  for (int c = 0; c < 5; ++c) {
    std::copy(columns[c] + kept, columns[c] + lines,
              values.begin() + static_cast<ptrdiff_t>(c * deferred));
  }
  *rest = [first = values.data(), deferred](TextBuffer& t) {
    const float* const columns[5] = {first, first + deferred,
                                     first + 2 * deferred, first + 3 * deferred,
                                     first + 4 * deferred};
    put_gate_lines(t, columns, deferred);
  };
}

// Moves a share of the formatting towards the thread that waited less.
void OutputWriter::rebalance(int* share) {
  const WriteBehind::Balance b = writer_.take_balance();
  if (b.producer_waited) {
    *share = std::min(*share + kShareStep, kShareSteps);
  } else if (b.writer_idle) {
    *share = std::max(*share - kShareStep, 0);
  }
}

// One file's block of the current record, formatted into t; what the
// writer thread is to add goes into *rest.
void OutputWriter::format_block(Kind k, const RecordStamp& stamp,
                                bool spectra_input, TextBuffer& t,
                                WriteBehind::Completion* rest) {
  put_record_line(t, stamp.beam, stamp);
  put_beam_line(t);
  if (k == kSpectra) {
    // The writer thread's share is formatted from the record's rows, which
    // it holds on to.
    SpectrumSource source = current_spectra();
    const int64_t split = source.gate_count * spectra_share_ / kShareSteps;
    put_spectrum_lines(t, source, 0, split);
    *rest = [source = std::move(source), split](TextBuffer& text) {
      put_spectrum_lines(text, source, split, source.gate_count);
    };
    return;
  }
  // In a moments run the writer thread's share comes from the record's
  // last block; in a spectra run it has spectrum lines instead.
  const int share = spectra_input ? kShareSteps : moments_share_;
  const bool rass = k == kRass;
  put_gate_block(t, false, rass ? kShareSteps : share, rest);
  if (rass) {
    put_record_line(t, stamp.beam + 1, stamp);
    put_beam_line(t);
    put_gate_block(t, true, share, rest);
  }
}

bool OutputWriter::write_record(const RecordStamp& stamp, bool spectra_input) {
  const Kind kind = pda_beam_info.spectral_points < 2048 ? kWind : kRass;
  const Kind kinds[2] = {kind, kSpectra};
  const int count = spectra_input ? 2 : 1;
  // The record's blocks are formatted while the writer thread still writes
  // the record before; nothing of this record (summary line, header line,
  // block) goes out until every earlier record has been handed over.
  for (int i = 0; i < count; ++i) {
    blocks_[i].clear();
    format_block(kinds[i], stamp, spectra_input, blocks_[i], &rests_[i]);
  }
  writer_.drain();
  if (writer_.failed()) {
    for (auto& rest : rests_) rest = nullptr;
    return close_all();
  }
  for (int i = 0; i < count; ++i) {
    const Kind k = kinds[i];
    bool is_new = false;
    if (!open(k,
              output_file_name(site_.label, stamp.year, stamp.day, kSuffix[k]),
              &is_new)) {
      for (auto& rest : rests_) rest = nullptr;
      return false;
    }
    // The summary line is the record line behind its tag.
    summary_.clear();
    summary_.append(kTag[k]);
    put_record_line(summary_, stamp.beam, stamp);
    std::fwrite(summary_.data(), 1, summary_.size(), stdout);

    if (is_new) {
      // A file the record creates starts with its header line, in the same
      // write as the block.
      header_.clear();
      put_file_header_line(header_);
      header_.append(blocks_[i].view());
      std::swap(header_, blocks_[i]);
    }
    writer_.queue(files_[k].file, files_[k].name, blocks_[i],
                  std::move(rests_[i]));
    rests_[i] = nullptr;
  }
  rebalance(spectra_input ? &spectra_share_ : &moments_share_);
  return true;
}

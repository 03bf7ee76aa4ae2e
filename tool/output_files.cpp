#include "tool/output_files.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "disk/pda.h"
#include "tool/fixed_fields.h"
#include "tool/spectrum_lines.h"

namespace quellmar::tool {

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

// Room one gate line may need in a TextBuffer.
constexpr size_t kGateLineRoom = 5 * (kMaxFormattedLength + 1) + 8;

// Gate lines "%8.3f %7.3f %7.3f %7.3f %7.3f 0\n", the fields taken from
// five columns of at least `lines` values each. A line whose fields all fit
// their widths is 43 bytes with every field at a fixed place, so the fields
// are formatted a block of lines at a time, column by column, and copied
// into place; other lines (a value of 100 or more below zero, 1000 or more,
// inf, nan) go through the general formatter.
void put_gate_lines(TextBuffer& t, const float* const columns[5],
                    size_t lines) {
  if (lines == 0) return;
  constexpr size_t kBlock = 64;
  uint64_t fields[5][kBlock];
  uint8_t lengths[5][kBlock];
  char* p = t.tail(lines * kGateLineRoom);
  for (size_t start = 0; start < lines; start += kBlock) {
    const size_t count = std::min(kBlock, lines - start);
    for (int c = 0; c < 5; ++c) {
      format_fields3(columns[c] + start, count, fields[c], lengths[c]);
    }
    for (size_t i = 0; i < count; ++i) {
      // Fields 2 to 5 are " %7.3f": their text may take at most 7 bytes.
      if (lengths[0][i] != 0 && lengths[1][i] - 1u < 7 &&
          lengths[2][i] - 1u < 7 && lengths[3][i] - 1u < 7 &&
          lengths[4][i] - 1u < 7) {
        for (int c = 0; c < 5; ++c) std::memcpy(p + 8 * c, &fields[c][i], 8);
        std::memcpy(p + 40, " 0\n", 3);
        p += 43;
        continue;
      }
      p = format_fixed_fast<3>(p, columns[0][start + i], 8);
      for (int c = 1; c < 5; ++c) {
        *p++ = ' ';
        p = format_fixed_fast<3>(p, columns[c][start + i], 7);
      }
      std::memcpy(p, " 0\n", 3);
      p += 3;
    }
  }
  t.commit(p);
}

// The writer whose held text a process exit must not lose: an exit from
// inside the access module (a fatal allocation failure) ends the process
// without unwinding the record loop.
OutputWriter* active_writer = nullptr;
bool exit_hook_installed = false;

void close_active_writer() {
  if (active_writer != nullptr) active_writer->close_all();
}

}  // namespace

OutputWriter::OutputWriter(const SiteDescription& site) : site_(site) {
  active_writer = this;
  if (!exit_hook_installed) {
    exit_hook_installed = true;
    std::atexit(close_active_writer);
  }
}

OutputWriter::~OutputWriter() {
  if (active_writer == this) active_writer = nullptr;
  close_all();
}

// Hands over what file holds, unless a write has failed before. Reports
// the first failure.
bool OutputWriter::hand_over(AppendFile& file) {
  if (write_failed_) {
    file.text().clear();
    return false;
  }
  if (!file.is_open() || file.hand_over()) return true;
  write_failed_ = true;
  std::fprintf(stderr, "Cannot write file %s: %s\n", file.name().c_str(),
               std::strerror(errno));
  return false;
}

bool OutputWriter::open(Kind kind, const RecordStamp& stamp) {
  AppendFile& f = files_[kind];
  // A file serves one site day.
  if (f.is_open() && open_day_[kind] == std::pair(stamp.year, stamp.day)) {
    return true;
  }
  const std::string name =
      output_file_name(site_.label, stamp.year, stamp.day, kSuffix[kind]);
  const bool handed_over = hand_over(f);
  f.close();
  if (!handed_over) return false;
  // A file the record creates starts with its header line.
  header_.clear();
  put_file_header_line(header_);
  bool is_new = false;
  if (!f.open(name, header_.view(), &is_new)) {
    std::fprintf(stderr, "Cannot open file %s\n", name.c_str());
    return false;
  }
  open_day_[kind] = {stamp.year, stamp.day};
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

bool OutputWriter::close_all() {
  bool ok = !write_failed_;
  for (AppendFile& f : files_) {
    ok = hand_over(f) && ok;
    f.close();
  }
  std::fflush(stdout);
  return ok;
}

void OutputWriter::put_record_line(TextBuffer& t, int32_t beam,
                                   const RecordStamp& s, const BeamInfo& b) {
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

void OutputWriter::put_beam_line(TextBuffer& t, const BeamInfo& b) {
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
// the decode held nothing for print zeros.
void OutputWriter::put_gate_block(TextBuffer& t, const RecordView& r,
                                  bool second_set) {
  const MomentArrays& m = *r.moments;
  const std::vector<float>* sources[5] = {
      second_set ? &m.velocity2 : &m.velocity, second_set ? &m.snr2 : &m.snr,
      second_set ? &m.signal_power2 : &m.signal_power,
      second_set ? &m.width2 : &m.width, second_set ? &m.aux2 : &m.noise};
  const int64_t gates = std::max<int64_t>(r.beam->gate_count, 0);
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
      column[g] = c == 2 ? pda_power_db(v) : v;
    }
    columns[c] = column.data();
  }
  put_gate_lines(t, columns, lines);
}

// One file's block of the current record.
void OutputWriter::put_block(Kind k, const RecordView& r, TextBuffer& t) {
  t.append(record_line_.view());
  t.append(beam_line_.view());
  if (k == kSpectra) {
    put_spectrum_lines(t, r.spectra);
    return;
  }
  put_gate_block(t, r, false);
  if (k == kRass) {
    put_record_line(t, r.stamp.beam + 1, r.stamp, *r.beam);
    t.append(beam_line_.view());
    put_gate_block(t, r, true);
  }
}

bool OutputWriter::write_record(const RecordView& r, bool spectra_input) {
  const RecordStamp& stamp = r.stamp;
  const Kind kind =
      r.beam->spectral_points < kRassSpectralPoints ? kWind : kRass;
  const Kind kinds[2] = {kind, kSpectra};
  const int count = spectra_input ? 2 : 1;
  // The record and beam lines are the same in every block of the record.
  record_line_.clear();
  put_record_line(record_line_, stamp.beam, stamp, *r.beam);
  beam_line_.clear();
  put_beam_line(beam_line_, *r.beam);
  for (int i = 0; i < count; ++i) {
    const Kind k = kinds[i];
    if (!open(k, stamp)) return false;
    // The summary line is the record line behind its tag.
    summary_.clear();
    summary_.append(kTag[k]);
    summary_.append(record_line_.view());
    std::fwrite(summary_.data(), 1, summary_.size(), stdout);

    AppendFile& file = files_[k];
    put_block(k, r, file.text());
    if (file.holds_enough() && !hand_over(file)) return false;
  }
  return !write_failed_;
}

}  // namespace quellmar::tool

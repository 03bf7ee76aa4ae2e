// Damaged and hostile archives: the common real-world damage (a data file
// cut short, a zeroed block, a header file cut inside a block, a header
// offset into the middle of a block, a data file paired with another day's
// header file), the bounds that hold for any input, and the replay of the
// inputs that fuzzing found (tests/regressions/).
//
// Every expectation follows from the documented reading rules: a RecordHeader
// the file ends inside ends the walk; a record whose RecordHeader is whole is
// decoded, fields cut by the end of the file counting as raw 0 and gates not
// reached as 0; the header read error is printed once per run; a trailer
// below the smallest record stops a step back.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "disk/pda.h"
#include "fuzz/fuzz_flows.h"
#include "fuzz/fuzz_input.h"
#include "tests/test_support.h"
#include "writer/format_writer.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUELLMAR_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUELLMAR_UNDER_ASAN 1
#endif
#endif

namespace {

using quellmar::test::quote;

namespace fs = std::filesystem;
using quellmar::test::TempDir;
using quellmar::writer::Bytes;
using quellmar::writer::HeaderSpec;
using quellmar::writer::Layout;

// 3 May 2002 (day 123) 01:00:00 UTC; the name d02123a puts the stop time two
// days later.
constexpr int32_t kT0 = 1020384000 + 3600;
const char* const kName = "d02123a.mom";

// ---------------------------------------------------------------------------
// Helpers

struct ToolRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs the tool in dir with at most 60 seconds and 4 MiB per written file,
// so that a run that would never end fails instead of hanging the suite or
// filling the disk.
ToolRun run_bounded(const std::string& dir, const std::string& argument) {
  const std::string out = dir + "/.stdout";
  const std::string err = dir + "/.stderr";
  const std::string command = "cd " + quote(dir) + " && ulimit -f 8192 && " +
                              "timeout 60 " + quote(QUELLMAR_BINARY) + " " +
                              quote(argument) + " >" + quote(out) + " 2>" +
                              quote(err);
  const int raw = std::system(command.c_str());
  ToolRun r;
  if (WIFEXITED(raw)) {
    r.status = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    r.status = 128 + WTERMSIG(raw);
  }
  r.out = quellmar::test::read_text(out);
  r.err = quellmar::test::read_text(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

// The record and summary line fields of a record time.
struct Stamp {
  long year, day, hour, minute, second;
};

Stamp stamp_of(int32_t record_time) {
  const time_t t = record_time;
  struct tm b;
  gmtime_r(&t, &b);
  return {b.tm_year, b.tm_yday + 1L, b.tm_hour, b.tm_min, b.tm_sec};
}

// "%ld %2ld %3ld %2ld %3ld %2ld %2ld %2ld\n" behind a tag.
std::string record_line(const char* tag, long beam, long elevation,
                        long azimuth, int32_t record_time) {
  const Stamp s = stamp_of(record_time);
  char line[160];
  std::snprintf(line, sizeof line, "%s%ld %2ld %3ld %2ld %3ld %2ld %2ld %2ld\n",
                tag, beam, elevation, azimuth, s.year, s.day, s.hour, s.minute,
                s.second);
  return line;
}

// Elevation and azimuth of the beams of quellmar::test::standard_header.
long standard_elevation(int beam) { return beam == 0 ? 90 : 75; }
long standard_azimuth(int beam) { return beam == 0 ? 0 : (beam - 1) * 90; }

std::string wind_summary(int beam, int32_t record_time) {
  return record_line("WIND: ", beam, standard_elevation(beam),
                     standard_azimuth(beam), record_time);
}

std::string header_error(long seek_status, long read_status, long last_offset) {
  char line[120];
  std::snprintf(line, sizeof line,
                "\ndisk: Header Read Error, pressing on...  %ld %ld  %ld\n",
                seek_status, read_status, last_offset);
  return line;
}

// Nyquist velocity by the documented expression, as a float.
float nyquist(double tx_frequency, double ipp_ns, double integrations) {
  return static_cast<float>(149.9 / (tx_frequency / 100.0) * 5e8 / ipp_ns /
                            integrations);
}

// What one decode left in the moment arrays.
struct Visit {
  int32_t time = 0;
  int32_t beam = 0;
  int64_t gates = 0;
  std::vector<float> velocity, width, snr, noise, signal_power;
  int64_t row_length = 0;
  std::vector<float> spectra;  // gate-major rows
  bool cut_short = false;      // pda_record_cut_short
};

Visit snapshot() {
  Visit v;
  int32_t y, d, h, m, s;
  v.time = pda_get_time(&y, &d, &h, &m, &s);
  v.beam = pda_get_record_beam();
  v.gates = pda_moments.gate_count;
  v.velocity = pda_moments.velocity;
  v.width = pda_moments.width;
  v.snr = pda_moments.snr;
  v.noise = pda_moments.noise;
  v.signal_power = pda_moments.signal_power;
  v.row_length = pda_moments.row_length;
  v.cut_short = pda_record_cut_short() == 1;
  if (v.gates > 0) {
    const float* rows = pda_moments.spectra_row(0);
    v.spectra.assign(rows, rows + v.gates * v.row_length);
  }
  return v;
}

struct Walk {
  bool opened = false;
  bool ended = true;  // false: stopped after `limit` records
  std::vector<Visit> visits;
  std::string out;  // what the access module printed
};

// The walk of the extraction tool through the access module: open, position
// on 1 January 1990, radar 0 and any beam, then pda_next_record until it
// finds nothing; at most `limit` records.
Walk walk_like_tool(const TempDir& dir, const std::string& name, int spectra,
                    int limit = 100) {
  Walk w;
  quellmar::test::start_capture();
  w.opened = quellmar::test::open_pair(dir.path(), name, spectra) == 1;
  if (w.opened) {
    int new_header = 0;
    pda_seek_time(1990, 1, 0, 0, 0, &new_header);
    w.visits.push_back(snapshot());
    pda_select_radar(0);
    pda_select_beam(-1);
    while (pda_next_record(&new_header) == 1) {
      w.visits.push_back(snapshot());
      if (static_cast<int>(w.visits.size()) > limit) {
        w.ended = false;
        break;
      }
    }
  }
  w.out = quellmar::test::stop_capture();
  return w;
}

std::vector<int32_t> times_of(const Walk& w) {
  std::vector<int32_t> t;
  for (const Visit& v : w.visits) t.push_back(v.time);
  return t;
}

// Lines of a text, each with its "\n".
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

Bytes header_bytes(const HeaderSpec& h) {
  return quellmar::writer::encode_header(h);
}

// Three layout M x0xx records (datacode 2000) of beams 0, 1, 2 at kT0, +60 s,
// +120 s, each naming header offset 0: 38 bytes each with 4 gates.
Bytes three_moments_records(int gates = 4) {
  Bytes data;
  for (int i = 0; i < 3; ++i) {
    data.append(quellmar::test::moments_record(kT0 + 60 * i,
                                               static_cast<int16_t>(i), gates));
  }
  return data;
}

// ---------------------------------------------------------------------------
// A data file cut at every byte of its last record

// Layout M, x0xx encoding, 4 gates: RecordHeader 16 bytes, first moment set
// 20 bytes (gate g at 16 + 5g: velocity 2, width 1, snr 1, noise 1), trailer
// 2 bytes; the last record starts at byte 76 of 114.
TEST(DamagedArchive, MomentsFileCutAtEveryByteOfItsLastRecord) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  const Bytes whole = three_moments_records();
  const size_t last = 76;
  ASSERT_EQ(whole.size(), last + 38);

  TempDir whole_dir;
  quellmar::test::write_pair(whole_dir.path(), kName, header, whole);
  const Walk reference = walk_like_tool(whole_dir, kName, 0);
  ASSERT_EQ(reference.visits.size(), 3u);
  const Visit& intact = reference.visits[2];
  const float p = 64.0f;
  // The whole record (beam 2) decodes by the x0xx conversions: velocity
  // count 100 (g + 1) + 2, width count 10 + g, snr g - 5 dB, noise -40 - g
  // dB.
  const double v = nyquist(91500, 40000, 100);
  for (int g = 0; g < 4; ++g) {
    EXPECT_EQ(intact.velocity[g],
              static_cast<float>((100 * (g + 1) + 2) * v / 10000.0));
    EXPECT_EQ(intact.width[g], static_cast<float>((10 + g) * v / 100.0));
    EXPECT_EQ(intact.snr[g], static_cast<float>(g - 5));
    EXPECT_EQ(intact.noise[g], static_cast<float>(-40 - g));
    const float noise_linear =
        static_cast<float>(std::pow(10.0, (-40 - g) / 10.0));
    EXPECT_EQ(intact.signal_power[g],
              static_cast<float>(std::pow(10.0, (g - 5) / 10.0) *
                                 static_cast<float>(p * noise_linear)));
  }

  for (size_t k = 0; k < 38; ++k) {
    SCOPED_TRACE("last record cut after " + std::to_string(k) + " bytes");
    TempDir dir;
    quellmar::test::write_pair(dir.path(), kName, header,
                               quellmar::writer::cut(whole, last + k));
    const Walk w = walk_like_tool(dir, kName, 0);
    ASSERT_TRUE(w.opened);
    ASSERT_TRUE(w.ended);
    // A RecordHeader cut short (or a datacode cut, k = 1) ends the walk
    // after the second record; from 16 bytes on the record is decoded.
    const bool comes_out = k >= 16;
    const std::vector<int32_t> expected_times =
        comes_out ? std::vector<int32_t>{kT0, kT0 + 60, kT0 + 120}
                  : std::vector<int32_t>{kT0, kT0 + 60};
    EXPECT_EQ(times_of(w), expected_times);
    // The short-read message only when the first moment set is cut.
    const bool first_set_cut = k >= 16 && k < 36;
    EXPECT_EQ(w.out,
              first_set_cut ? "\ndisk: datacode x0xx Read error 0\n" : "");
    if (!comes_out) continue;

    const Visit& v = w.visits[2];
    ASSERT_EQ(v.gates, 4);
    // Gates before the one the file ends in are whole; that gate keeps its
    // whole fields and counts the cut ones as raw 0 (so its noise is 0 dB,
    // 1 as a linear value); the gates after it are not reached.
    const size_t cut_gate = first_set_cut ? (k - 16) / 5 : 4;
    for (size_t g = 0; g < 4; ++g) {
      SCOPED_TRACE("gate " + std::to_string(g));
      const size_t start = 16 + 5 * g;
      if (g < cut_gate) {
        EXPECT_EQ(v.velocity[g], intact.velocity[g]);
        EXPECT_EQ(v.width[g], intact.width[g]);
        EXPECT_EQ(v.snr[g], intact.snr[g]);
        EXPECT_EQ(v.noise[g], intact.noise[g]);
        EXPECT_EQ(v.signal_power[g], intact.signal_power[g]);
      } else if (g == cut_gate) {
        EXPECT_EQ(v.velocity[g], k >= start + 2 ? intact.velocity[g] : 0.0f);
        EXPECT_EQ(v.width[g], k >= start + 3 ? intact.width[g] : 0.0f);
        const float snr = k >= start + 4 ? intact.snr[g] : 0.0f;
        EXPECT_EQ(v.snr[g], snr);
        EXPECT_EQ(v.noise[g], 0.0f);
        EXPECT_EQ(v.signal_power[g],
                  static_cast<float>(std::pow(10.0, snr / 10.0) *
                                     static_cast<float>(p * 1.0f)));
      } else {
        EXPECT_EQ(v.velocity[g], 0.0f);
        EXPECT_EQ(v.width[g], 0.0f);
        EXPECT_EQ(v.snr[g], 0.0f);
        EXPECT_EQ(v.noise[g], 0.0f);
        EXPECT_EQ(v.signal_power[g], 0.0f);
      }
    }
  }
}

// The same cuts through the tool: the two whole records are written and the
// cut one is not, whatever byte of its body the file ends at; a line on
// standard error names it, and the run ends with status 0 (a file still
// being written ends this way). A cut in the trailer, which nothing reads,
// leaves the record whole.
TEST(DamagedArchive, ToolWritesWhatRemainsOfACutMomentsFile) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  const Bytes whole = three_moments_records();
  const size_t last = 76;

  const std::string two_summaries =
      wind_summary(0, kT0) + wind_summary(1, kT0 + 60);
  const std::string third_summary = wind_summary(2, kT0 + 120);
  TempDir whole_dir;
  quellmar::test::write_pair(whole_dir.path(), kName, header, whole);
  const ToolRun reference = run_bounded(whole_dir.path(), kName);
  ASSERT_EQ(reference.status, 0);
  ASSERT_EQ(reference.out, two_summaries + third_summary);
  const std::vector<std::string> whole_rew =
      lines_of(quellmar::test::read_text(whole_dir.file("abc102123.rew")));
  // Header line, then three blocks of a record line, a beam line and four
  // gate lines.
  ASSERT_EQ(whole_rew.size(), 1u + 3 * 6);

  for (size_t k = 0; k < 38; ++k) {
    SCOPED_TRACE("last record cut after " + std::to_string(k) + " bytes");
    TempDir dir;
    quellmar::test::write_pair(dir.path(), kName, header,
                               quellmar::writer::cut(whole, last + k));
    const ToolRun r = run_bounded(dir.path(), kName);
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> rew =
        lines_of(quellmar::test::read_text(dir.file("abc102123.rew")));
    const std::vector<std::string> first_two(whole_rew.begin(),
                                             whole_rew.begin() + 13);
    if (k < 16) {
      // The RecordHeader itself is cut: there is no third record.
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, two_summaries);
      EXPECT_EQ(rew, first_two);
    } else if (k < 36) {
      EXPECT_EQ(r.err,
                "Record at offset 76 of d02123a.mom is cut short by the end "
                "of the file: not written\n");
      EXPECT_EQ(r.out, two_summaries + "\ndisk: datacode x0xx Read error 0\n");
      EXPECT_EQ(rew, first_two);
    } else {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, reference.out);
      EXPECT_EQ(rew, whole_rew);
    }
  }
}

// Three layout N records of beams 0, 1, 2, a minute apart (datacode 3117:
// 16-bit moments, second set, the given met values, positional spectra),
// each of 2 gates of 16 points: velocity count 1000 (g + 1) + beam, noise
// count -4500 + 10 g, point p of gate g holding p + g.
Bytes three_positional_spectra_records(const std::vector<int32_t>& met) {
  Bytes whole;
  for (int i = 0; i < 3; ++i) {
    quellmar::writer::BodySpec body;
    body.datacode = 3117;
    for (int g = 0; g < 2; ++g) {
      quellmar::writer::GateMoments m;
      m.velocity = static_cast<int16_t>(1000 * (g + 1) + i);
      m.width = static_cast<uint16_t>(200 + g);
      m.snr = static_cast<int16_t>(150 * g - 300);
      m.noise_or_aux = static_cast<int16_t>(-4500 + 10 * g);
      body.moments.push_back(m);
      body.second.push_back(m);
      std::vector<float> row;
      for (int p = 1; p <= 16; ++p) row.push_back(static_cast<float>(p + g));
      body.spectra.push_back(row);
    }
    body.met_values = met;
    quellmar::writer::RecordSpec r;
    r.datacode = 3117;
    r.layout = Layout::N;
    r.spectra_flag = 1;
    r.record_time = kT0 + 60 * i;
    r.beam_index = static_cast<int16_t>(i);
    r.body = quellmar::writer::encode_body(body);
    whole.append(quellmar::writer::encode_record(r));
  }
  return whole;
}

// Layout N spectra records (datacode 3117: 16-bit moments, second set, met
// values, positional spectra) with 2 gates and 16 points: RecordHeader 24
// bytes, first set 16, second set 16, met values 12, spectra 128, trailer 4.
TEST(DamagedArchive, SpectraFileCutAtEveryByteOfItsLastRecord) {
  HeaderSpec h = quellmar::test::standard_header(2, 16);
  h.header_version = 103;
  h.met_instrument_list = {1, 2, 3};
  const Bytes header = header_bytes(h);
  const Bytes whole = three_positional_spectra_records({7, 8, 9});
  ASSERT_EQ(whole.size(), 3u * 200);
  const size_t last = 400;

  TempDir whole_dir;
  quellmar::test::write_pair(whole_dir.path(), "d02123a.spc", header, whole);
  const Walk reference = walk_like_tool(whole_dir, "d02123a.spc", 1);
  ASSERT_EQ(reference.visits.size(), 3u);
  // The whole record (beam 2): 16-bit velocity count 1000 (g + 1) + 2,
  // noise count -4500 + 10 g, spectra by point number (row index p holds
  // point p, 1..16, value p + g; index 0 stays 0).
  const double nyq = nyquist(91500, 40000, 100);
  const Visit& intact = reference.visits[2];
  ASSERT_EQ(intact.row_length, 17);
  for (int g = 0; g < 2; ++g) {
    EXPECT_EQ(intact.velocity[g],
              static_cast<float>((1000 * (g + 1) + 2) * nyq / 10000.0));
    EXPECT_EQ(intact.noise[g], static_cast<float>((-4500 + 10 * g) / 100.0));
    EXPECT_EQ(intact.spectra[17 * g], 0.0f);
    for (int p = 1; p <= 16; ++p) {
      EXPECT_EQ(intact.spectra[17 * g + p], static_cast<float>(p + g));
    }
  }

  for (size_t k = 0; k < 200; ++k) {
    SCOPED_TRACE("last record cut after " + std::to_string(k) + " bytes");
    TempDir dir;
    quellmar::test::write_pair(dir.path(), "d02123a.spc", header,
                               quellmar::writer::cut(whole, last + k));
    const Walk w = walk_like_tool(dir, "d02123a.spc", 1);
    ASSERT_TRUE(w.ended);
    const bool comes_out = k >= 24;
    EXPECT_EQ(w.visits.size(), comes_out ? 3u : 2u);
    EXPECT_EQ(w.out, k >= 24 && k < 40 ? "\ndisk: Read error 0\n" : "");
    if (!comes_out) continue;
    // Every read of the body (first set, second set, met values, spectra)
    // that meets the end marks the record; the trailer is not read.
    EXPECT_EQ(w.visits[2].cut_short, k < 196);
    EXPECT_FALSE(w.visits[1].cut_short);
    // Values read whole are those of the whole record; a value the file
    // ends in or before is 0. First set at 24 (8 bytes per gate), spectra
    // at 68 (64 bytes per gate).
    const Visit& v = w.visits[2];
    for (size_t g = 0; g < 2; ++g) {
      const bool gate_whole = k >= 24 + 8 * g + 8;
      EXPECT_EQ(v.velocity[g],
                gate_whole || k >= 24 + 8 * g + 2 ? intact.velocity[g] : 0.0f);
      EXPECT_EQ(v.noise[g], gate_whole ? intact.noise[g] : 0.0f);
      for (size_t p = 1; p <= 16; ++p) {
        const bool value_whole = k >= 68 + 64 * g + 4 * p;
        EXPECT_EQ(v.spectra[17 * g + p],
                  value_whole ? intact.spectra[17 * g + p] : 0.0f)
            << "gate " << g << " point " << p;
      }
    }
  }
}

// The same spectra file through the tool: a record cut anywhere in its body
// (moments, met values, spectra) writes nothing to .rew or .ras and no
// summary line; the line on standard error names its offset and the name
// as given. The two records before it come out as from the whole file.
TEST(DamagedArchive, ToolLeavesOutASpectraRecordCutAnywhereInItsBody) {
  HeaderSpec h = quellmar::test::standard_header(2, 16);
  const Bytes header = header_bytes(h);
  const Bytes whole = three_positional_spectra_records({});
  // No met instruments: RecordHeader 24, moment sets 16 + 16, spectra 128,
  // trailer 4.
  ASSERT_EQ(whole.size(), 3u * 188);
  const size_t last = 376;
  const char* const kName = "d02123a.spc";
  const char* const kFiles[] = {"abc102123.rew", "abc102123.ras"};

  auto run_cut = [&](size_t bytes, std::vector<std::string>* files) {
    TempDir dir;
    quellmar::test::write_pair(dir.path(), kName, header,
                               quellmar::writer::cut(whole, bytes));
    const ToolRun r = run_bounded(dir.path(), kName);
    files->clear();
    for (const char* f : kFiles) {
      files->push_back(quellmar::test::read_text(dir.file(f)));
    }
    return r;
  };
  std::vector<std::string> two_files, three_files;
  const ToolRun two = run_cut(last, &two_files);
  const ToolRun three = run_cut(whole.size(), &three_files);
  ASSERT_EQ(two.status, 0);
  ASSERT_NE(two_files, three_files);

  for (size_t k = 1; k < 188; ++k) {
    SCOPED_TRACE("last record cut after " + std::to_string(k) + " bytes");
    std::vector<std::string> files;
    const ToolRun r = run_cut(last + k, &files);
    EXPECT_EQ(r.status, 0);
    if (k >= 184) {
      EXPECT_EQ(r.out, three.out);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(files, three_files);
      continue;
    }
    const bool cut_in_body = k >= 24;
    EXPECT_EQ(r.out,
              two.out + (k >= 24 && k < 40 ? "\ndisk: Read error 0\n" : ""));
    EXPECT_EQ(r.err, cut_in_body ? "Record at offset 376 of d02123a.spc is "
                                   "cut short by the end of the file: not "
                                   "written\n"
                                 : "");
    EXPECT_EQ(files, two_files);
  }
}

// A moments record that carries met values and no spectra (datacode 3100,
// spectra flag 0), cut inside its met values: the met values are the last
// read of the record, so their cut alone marks it, and the tool leaves it
// out. RecordHeader 24, first set 2 x 8, met values 3 x 4, trailer 4.
TEST(DamagedArchive, ToolLeavesOutARecordCutInItsMetValues) {
  HeaderSpec h = quellmar::test::standard_header(2, 16);
  h.header_version = 103;
  h.met_instrument_list = {1, 2, 3};
  Bytes whole;
  for (int i = 0; i < 2; ++i) {
    quellmar::writer::BodySpec body;
    body.datacode = 3100;
    body.moments.resize(2);
    body.met_values = {7, 8, 9};
    quellmar::writer::RecordSpec r;
    r.datacode = 3100;
    r.layout = Layout::N;
    r.spectra_flag = 0;
    r.record_time = kT0 + 60 * i;
    r.beam_index = static_cast<int16_t>(i);
    r.body = quellmar::writer::encode_body(body);
    whole.append(quellmar::writer::encode_record(r));
  }
  ASSERT_EQ(whole.size(), 2u * 56);
  for (size_t k : {40u, 44u, 51u}) {
    SCOPED_TRACE("last record cut after " + std::to_string(k) + " bytes");
    TempDir dir;
    quellmar::test::write_pair(dir.path(), kName, header_bytes(h),
                               quellmar::writer::cut(whole, 56 + k));
    const ToolRun r = run_bounded(dir.path(), kName);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, wind_summary(0, kT0));
    EXPECT_EQ(r.err,
              "Record at offset 56 of d02123a.mom is cut short by the end of "
              "the file: not written\n");
  }
}

// ---------------------------------------------------------------------------
// A zeroed block in the middle of the data file
//
// Five 38-byte records at 0, 38, 76, 114 and 152.

Bytes five_moments_records() {
  Bytes data;
  for (int i = 0; i < 5; ++i) {
    data.append(quellmar::test::moments_record(kT0 + 60 * i,
                                               static_cast<int16_t>(i % 5), 4));
  }
  return data;
}

// Zeroes over the second record's trailer and the third RecordHeader: the
// step back over the second record meets a trailer of 0, below the
// smallest record, so pda_next_record finds nothing and the run ends after
// the first record, with no message.
TEST(DamagedArchive, ZeroedBlockOverATrailerEndsTheWalkSilently) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  Bytes data = five_moments_records();
  quellmar::writer::zero_range(data, 60, 32);  // bytes 60..91

  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header, data);
  const Walk w = walk_like_tool(dir, kName, 0);
  EXPECT_EQ(times_of(w), std::vector<int32_t>{kT0});
  EXPECT_EQ(w.out, "");

  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, wind_summary(0, kT0));
  EXPECT_EQ(r.err, "");
}

// Zeroes from the start of the third record: its RecordHeader gives a
// datacode of 0 and a length of 0, which cannot be stepped over; the first
// two records are written and the length message names the offset.
TEST(DamagedArchive, ZeroedBlockOverARecordHeaderReportsItsLength) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  Bytes data = five_moments_records();
  quellmar::writer::zero_range(data, 76, 64);

  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header, data);
  const Walk w = walk_like_tool(dir, kName, 0);
  EXPECT_EQ(times_of(w), (std::vector<int32_t>{kT0, kT0 + 60}));
  EXPECT_EQ(w.out, "disk: bad record length 0 at offset 76\n");

  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, wind_summary(0, kT0) + wind_summary(1, kT0 + 60) +
                       "disk: bad record length 0 at offset 76\n");
}

// Zeroes inside the second record's body only (bytes 56..70 of the record
// at 38, whose gates start at 54): every record comes out, and the zeroed
// fields of the second record read as raw 0.
TEST(DamagedArchive, ZeroedBlockInsideABodyGivesZeroFields) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  const Bytes whole = five_moments_records();
  Bytes data = whole;
  quellmar::writer::zero_range(data, 56, 15);

  TempDir whole_dir, dir;
  quellmar::test::write_pair(whole_dir.path(), kName, header, whole);
  quellmar::test::write_pair(dir.path(), kName, header, data);
  const Walk reference = walk_like_tool(whole_dir, kName, 0);
  const Walk w = walk_like_tool(dir, kName, 0);
  ASSERT_EQ(times_of(w), times_of(reference));
  EXPECT_EQ(w.out, "");
  const Visit& v = w.visits[1];
  const Visit& intact = reference.visits[1];
  const float p64 = 64.0f;
  // Gate 0 (54..58): velocity kept, width, snr and noise zeroed.
  EXPECT_EQ(v.velocity[0], intact.velocity[0]);
  EXPECT_EQ(v.width[0], 0.0f);
  EXPECT_EQ(v.snr[0], 0.0f);
  EXPECT_EQ(v.noise[0], 0.0f);
  EXPECT_EQ(v.signal_power[0], p64);  // 10^0 x (64 x 10^0)
  // Gates 1 and 2 wholly zeroed.
  for (int g = 1; g <= 2; ++g) {
    EXPECT_EQ(v.velocity[g], 0.0f);
    EXPECT_EQ(v.width[g], 0.0f);
    EXPECT_EQ(v.signal_power[g], p64);
  }
  // Gate 3 (69..73): velocity zeroed, the rest kept.
  EXPECT_EQ(v.velocity[3], 0.0f);
  EXPECT_EQ(v.width[3], intact.width[3]);
  EXPECT_EQ(v.snr[3], intact.snr[3]);
  EXPECT_EQ(v.noise[3], intact.noise[3]);
  // The other records are untouched.
  for (size_t i : {0u, 2u, 3u, 4u}) {
    EXPECT_EQ(w.visits[i].velocity, reference.visits[i].velocity);
  }
}

// ---------------------------------------------------------------------------
// A header file cut inside a block

// The second block, named by the last two records, is cut 300 bytes in
// (version 103: the mode and beam tables are whole, the direction table is
// not reached). The reader returns -4: the message is printed once, with the
// offset of the block still in force (0); both records are read with the
// fields of the cut block that were whole and the first block's directions.
TEST(DamagedArchive, HeaderFileCutInsideItsSecondBlock) {
  const HeaderSpec first = quellmar::test::standard_header(4, 64);
  HeaderSpec second = first;
  second.header_version = 103;
  second.modes[0].ipp_ns = 50000;
  second.modes[0].pulse_width = 1400;
  second.directions[1].azimuth = 10;
  second.directions[1].elevation = 80;
  const Bytes block0 = header_bytes(first);
  Bytes header = block0;
  header.append(quellmar::writer::cut(header_bytes(second), 300));
  ASSERT_EQ(block0.size(), 568u);

  Bytes data;
  for (int i = 0; i < 4; ++i) {
    data.append(
        quellmar::test::moments_record(kT0 + 60 * i, 1, 4, 0, i < 2 ? 0 : 568));
  }
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header, data);

  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // Azimuth 0 and elevation 75 of the first block in every summary line.
  EXPECT_EQ(r.out, wind_summary(1, kT0) + wind_summary(1, kT0 + 60) +
                       header_error(0, -4, 0) + wind_summary(1, kT0 + 120) +
                       wind_summary(1, kT0 + 180));
  // Beam lines: the first two records with the first block's mode, the
  // last two with the cut block's inter-pulse period and pulse width.
  const std::vector<std::string> rew =
      lines_of(quellmar::test::read_text(dir.file("abc102123.rew")));
  ASSERT_EQ(rew.size(), 1u + 4 * 6);
  const float sine = static_cast<float>(std::sin(75 * 3.141592 / 180.0));
  const long first_height =
      static_cast<long>(2500 * 0.15 * static_cast<double>(sine) + 0.5);
  const long spacing =
      static_cast<long>(700 * 0.15 * static_cast<double>(sine) + 0.5);
  char line[120];
  std::snprintf(line, sizeof line, "%2ld %4ld %3ld %3ld %3ld %3ld %2ld %4ld\n",
                40L, 700L, first_height, spacing, 4L, 100L, 30L, 64L);
  EXPECT_EQ(rew[2], line);
  EXPECT_EQ(rew[8], line);
  std::snprintf(line, sizeof line, "%2ld %4ld %3ld %3ld %3ld %3ld %2ld %4ld\n",
                50L, 1400L, first_height, spacing, 4L, 100L, 30L, 64L);
  EXPECT_EQ(rew[14], line);
  EXPECT_EQ(rew[20], line);
}

// A header file holding only the first 300 bytes of its one block: the
// first RecordHeader's load fails at opening ("  0 -4  -1"), and every
// record is still read, with the site part, the mode and beam tables that
// were whole and a direction table still empty (azimuth 0, elevation 0).
TEST(DamagedArchive, HeaderFileCutInsideItsOnlyBlock) {
  const Bytes header = quellmar::writer::cut(
      header_bytes(quellmar::test::standard_header(4, 64)), 300);
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header,
                             three_moments_records());

  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, header_error(0, -4, -1) +
                       record_line("WIND: ", 0, 0, 0, kT0) +
                       record_line("WIND: ", 1, 0, 0, kT0 + 60) +
                       record_line("WIND: ", 2, 0, 0, kT0 + 120));
  EXPECT_TRUE(quellmar::test::file_exists(dir.file("abc102123.rew")));
}

// ---------------------------------------------------------------------------
// A header offset into the middle of a block

// Offset 100 of a version 102 block holds the upper half of mode 0's
// inter-pulse period (40000): version 0, outside 100..999, so the read
// gives -10. The record is read with the block loaded before, and the next
// record, naming offset 0 again, loads nothing.
TEST(DamagedArchive, HeaderOffsetIntoTheMiddleOfABlock) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  Bytes data;
  const int32_t offsets[3] = {0, 100, 0};
  for (int i = 0; i < 3; ++i) {
    data.append(quellmar::test::moments_record(
        kT0 + 60 * i, static_cast<int16_t>(i), 4, 0, offsets[i]));
  }
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header, data);

  const Walk w = walk_like_tool(dir, kName, 0);
  EXPECT_EQ(times_of(w), (std::vector<int32_t>{kT0, kT0 + 60, kT0 + 120}));
  EXPECT_EQ(pda_get_loaded_header_offset(), 0);
  for (const Visit& v : w.visits) EXPECT_EQ(v.gates, 4);

  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, wind_summary(0, kT0) + header_error(0, -10, 0) +
                       wind_summary(1, kT0 + 60) + wind_summary(2, kT0 + 120));
}

// ---------------------------------------------------------------------------
// A data file paired with another day's header file

// The data file's records name offsets 0, 0 and 568 of their own day's
// header file (two blocks). The other day's file has one block, with 10
// gates instead of 4 and another site name. Every record is framed by its
// own length and comes out with 10 gates; the first two decodes read on
// into the following bytes, the last one meets the end of the file in gate
// 4 (whose velocity is the trailer, 38). Offset 568 lies at the end of the
// other file: "  0 -1  0", once.
TEST(DamagedArchive, DataFilePairedWithAnotherDaysHeaderFile) {
  HeaderSpec other = quellmar::test::standard_header(10, 64);
  other.site_name = "Other Site";
  const Bytes header = header_bytes(other);
  ASSERT_EQ(header.size(), 568u);
  Bytes data;
  const int32_t offsets[3] = {0, 0, 568};
  for (int i = 0; i < 3; ++i) {
    data.append(quellmar::test::moments_record(
        kT0 + 60 * i, static_cast<int16_t>(i), 4, 0, offsets[i]));
  }
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header, data);

  const Walk w = walk_like_tool(dir, kName, 0);
  ASSERT_EQ(times_of(w), (std::vector<int32_t>{kT0, kT0 + 60, kT0 + 120}));
  EXPECT_EQ(w.out,
            header_error(0, -1, 0) + "\ndisk: datacode x0xx Read error 0\n");
  const float v = nyquist(91500, 40000, 100);
  for (const Visit& visit : w.visits) {
    ASSERT_EQ(visit.gates, 10);
    // Gates 0..3 as written (velocity 100 (g + 1) + beam), gate 4 starts
    // on the trailer.
    for (int g = 0; g < 4; ++g) {
      EXPECT_EQ(visit.velocity[g],
                static_cast<float>((100 * (g + 1) + visit.beam) *
                                   static_cast<double>(v) / 10000.0));
    }
    EXPECT_EQ(visit.velocity[4],
              static_cast<float>(38 * static_cast<double>(v) / 10000.0));
  }
  const Visit& last = w.visits[2];
  EXPECT_EQ(last.width[4], 0.0f);
  EXPECT_EQ(last.noise[4], 0.0f);
  for (int g = 5; g < 10; ++g) {
    EXPECT_EQ(last.velocity[g], 0.0f);
    EXPECT_EQ(last.signal_power[g], 0.0f);
  }

  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, wind_summary(0, kT0) + wind_summary(1, kT0 + 60) +
                       header_error(0, -1, 0) +
                       "\ndisk: datacode x0xx Read error 0\n");
  EXPECT_EQ(r.err,
            "Record at offset 76 of d02123a.mom is cut short by the end of "
            "the file: not written\n");
  // Named after the other day's site; the two records the file holds
  // whole, of 10 gate lines each.
  const std::vector<std::string> rew =
      lines_of(quellmar::test::read_text(dir.file("oth102123.rew")));
  EXPECT_EQ(rew.size(), 1u + 2 * 12);
}

// ---------------------------------------------------------------------------
// Bounds: indices from 16-bit fields

// A record's beam index outside the beam table (10, -1, 32767) names no
// mode: it decodes with no gates, the walk goes on past it, and the tool
// stops there because the beam has no information.
TEST(Bounds, RecordBeamOutsideTheBeamTable) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  for (int16_t beam : {int16_t{10}, int16_t{-1}, int16_t{32767}}) {
    SCOPED_TRACE(beam);
    Bytes data;
    data.append(quellmar::test::moments_record(kT0, 0, 4));
    data.append(quellmar::test::moments_record(kT0 + 60, beam, 4));
    data.append(quellmar::test::moments_record(kT0 + 120, 1, 4));
    TempDir dir;
    quellmar::test::write_pair(dir.path(), kName, header, data);

    const Walk w = walk_like_tool(dir, kName, 0);
    ASSERT_EQ(w.visits.size(), 3u);
    EXPECT_EQ(w.visits[1].beam, beam);
    EXPECT_EQ(w.visits[1].gates, 0);
    EXPECT_EQ(w.visits[2].gates, 4);

    const ToolRun r = run_bounded(dir.path(), kName);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, wind_summary(0, kT0));
    EXPECT_EQ(r.err,
              "Cannot get information for beam " + std::to_string(beam) + "\n");
  }
}

// Beam table entries naming directions or modes outside their tables, a
// beam count above the table's ten entries, and a radar index other than 0
// on a record: the beam information is refused, the mode of such a record
// is none (no gates), and a record of radar 7 resolves its mode in radar 0's
// table.
TEST(Bounds, TableEntriesOutsideTheirTables) {
  HeaderSpec h = quellmar::test::standard_header(4, 64);
  h.beam_count = 12;
  h.beams[5] = {9, 0, 0};   // direction past the nine entries
  h.beams[6] = {-1, 0, 0};  // negative direction
  h.beams[7] = {0, 4, 0};   // mode past the four entries
  h.beams[8] = {0, -1, 0};  // negative mode
  h.beams[9] = {0, 0, 0};   // usable
  TempDir dir;
  Bytes data;
  data.append(quellmar::test::moments_record(kT0, 9, 4));
  data.append(quellmar::test::moments_record(kT0 + 60, 7, 4));
  data.append(quellmar::test::moments_record(kT0 + 120, 2, 4, 7));
  ASSERT_EQ(quellmar::test::write_and_open_pair(dir.path(), kName,
                                                header_bytes(h), data),
            1);
  int new_header = 0;
  ASSERT_EQ(pda_seek_time(1990, 1, 0, 0, 0, &new_header), 1);
  ASSERT_EQ(pda_select_radar(0), 1);
  char direction[12];
  for (int beam : {5, 6, 7, 8}) {
    SCOPED_TRACE(beam);
    EXPECT_EQ(pda_get_beam_info(beam, direction), 0);
  }
  EXPECT_EQ(pda_get_beam_info(9, direction), 1);
  for (int beam : {10, 11, 12, -2}) {
    SCOPED_TRACE(beam);
    EXPECT_EQ(pda_get_beam_info(beam, direction), 0);
    EXPECT_EQ(pda_select_beam(beam), 0);
  }
  EXPECT_EQ(pda_select_beam(9), 1);
  EXPECT_EQ(pda_get_beam_count(0), 12);

  ASSERT_EQ(pda_select_radar(-1), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  ASSERT_EQ(pda_next_record(&new_header), 1);  // beam 7: mode 4
  EXPECT_EQ(pda_moments.gate_count, 0);
  EXPECT_EQ(pda_spectrum_index(0, 0), -1);
  EXPECT_EQ(pda_get_nyquist_velocity(), 0.0f);
  ASSERT_EQ(pda_next_record(&new_header), 1);  // radar 7, beam 2
  EXPECT_EQ(pda_get_record_radar(), 7);
  EXPECT_EQ(pda_moments.gate_count, 4);
}

// Negative gate and point counts decode as no gates and no points; the
// tool prints the counts as stored and no gate lines.
TEST(Bounds, NegativeCountsGiveEmptyArrays) {
  HeaderSpec h = quellmar::test::standard_header(4, 64);
  h.modes[0].gate_count = -4;
  h.modes[0].spectral_points = -64;
  h.window1_points = 8;
  TempDir dir;
  Bytes data = quellmar::test::moments_record(kT0, 0, 4);
  quellmar::test::write_pair(dir.path(), kName, header_bytes(h), data);
  const Walk w = walk_like_tool(dir, kName, 0);
  ASSERT_EQ(w.visits.size(), 1u);
  EXPECT_EQ(w.visits[0].gates, 0);
  EXPECT_TRUE(w.visits[0].velocity.empty());

  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  const std::vector<std::string> rew =
      lines_of(quellmar::test::read_text(dir.file("abc102123.rew")));
  ASSERT_EQ(rew.size(), 3u);  // header line, record line, beam line
  EXPECT_NE(rew[2].find(" -4 "), std::string::npos);
  EXPECT_NE(rew[2].find(" -64\n"), std::string::npos);
}

// A met instrument count above what the value store holds (1100): the
// header read reports too many instruments (-3), a datacode 3016 record
// stores 1024 values, skips the other 76 and the walk goes on to the next
// record.
TEST(Bounds, MetValuesBeyondTheStore) {
  HeaderSpec h = quellmar::test::standard_header(1, 8);
  h.header_version = 103;
  h.met_instrument_count = 1100;
  Bytes data;
  for (int i = 0; i < 2; ++i) {
    quellmar::writer::BodySpec body;
    body.datacode = 3016;
    body.moments.resize(1);
    body.second.resize(1);
    for (int m = 0; m < 1100; ++m) body.met_values.push_back(m + 1000 * i);
    quellmar::writer::RecordSpec r;
    r.datacode = 3016;
    r.layout = Layout::N;
    r.record_time = kT0 + 60 * i;
    r.body = quellmar::writer::encode_body(body);
    data.append(quellmar::writer::encode_record(r));
  }
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header_bytes(h), data);
  const Walk w = walk_like_tool(dir, kName, 0);
  EXPECT_EQ(times_of(w), (std::vector<int32_t>{kT0, kT0 + 60}));
  // The header reader prints its message at every attempt: at opening, at
  // the two RecordHeader reads of the positioning on 1990 (backward, then
  // the closing read) and at the two of pda_next_record; the header read
  // error only after the first.
  const std::string too_many =
      "\ndisk: Too many met inst;  modify arrays in met routine";
  EXPECT_EQ(w.out, too_many + header_error(0, -3, -1) + too_many + too_many +
                       too_many + too_many);
  EXPECT_EQ(met_values[0], 1000);
  EXPECT_EQ(met_values[kMetValueCapacity - 1], 1000 + kMetValueCapacity - 1);
  int32_t instruments[kMaxMetInstruments];
  EXPECT_EQ(pda_get_met_instruments(instruments), kMaxMetInstruments);
}

// Spectral windows that reach outside a row of P + 1 values: the values
// are consumed and only those inside the row are kept.
TEST(Bounds, SpectralWindowsOutsideTheRow) {
  // Values of gate g, point p (from 1): 100 g + p.
  auto spectra_pair = [](HeaderSpec h, int16_t datacode,
                         const std::vector<std::vector<float>>& rows,
                         const TempDir& dir) {
    quellmar::writer::BodySpec body;
    body.datacode = datacode;
    body.moments.resize(rows.size());
    body.second.resize(rows.size());
    body.spectra = rows;
    quellmar::writer::RecordSpec r;
    r.datacode = datacode;
    r.layout = Layout::S;
    r.record_time = kT0;
    r.body = quellmar::writer::encode_body(body);
    ASSERT_EQ(quellmar::test::write_and_open_pair(
                  dir.path(), "d02123a.spc", header_bytes(h),
                  quellmar::writer::encode_record(r), 1),
              1);
    int new_header = 0;
    ASSERT_EQ(pda_seek_time(1990, 1, 0, 0, 0, &new_header), 1);
  };
  {
    SCOPED_TRACE("positional window 1 from point -2");
    HeaderSpec h = quellmar::test::standard_header(2, 8);
    h.window1_start = -2;
    h.window1_points = 5;
    TempDir dir;
    spectra_pair(h, 1017, {{1, 2, 3, 4, 5}, {101, 102, 103, 104, 105}}, dir);
    ASSERT_EQ(pda_moments.row_length, 9);
    for (int g = 0; g < 2; ++g) {
      const float* row = pda_moments.spectra_row(g);
      EXPECT_EQ(row[0], 100 * g + 3);
      EXPECT_EQ(row[1], 100 * g + 4);
      EXPECT_EQ(row[2], 100 * g + 5);
      for (int i = 3; i < 9; ++i) EXPECT_EQ(row[i], 0.0f);
    }
  }
  {
    SCOPED_TRACE("compact windows of 6 and 6 points in a row of 9");
    HeaderSpec h = quellmar::test::standard_header(2, 8);
    h.window2_start = 1;
    h.window2_points = 6;
    h.window1_start = 3;
    h.window1_points = 6;
    std::vector<std::vector<float>> rows(2);
    for (int g = 0; g < 2; ++g) {
      for (int p = 1; p <= 8; ++p) rows[g].push_back(100.0f * g + p);
    }
    TempDir dir;
    spectra_pair(h, 2000, rows, dir);
    for (int g = 0; g < 2; ++g) {
      const float* row = pda_moments.spectra_row(g);
      // Window 2: points 1..6 at 0..5; window 1: points 3..8 from index 6,
      // of which 6, 7, 8 fit (points 3, 4, 5).
      for (int i = 0; i < 6; ++i) EXPECT_EQ(row[i], 100.0f * g + i + 1);
      EXPECT_EQ(row[6], 100.0f * g + 3);
      EXPECT_EQ(row[7], 100.0f * g + 4);
      EXPECT_EQ(row[8], 100.0f * g + 5);
    }
  }
}

// A one-window spectrum line never holds more than the row's P + 1 values,
// however many points window 1 claims.
TEST(Bounds, OneWindowSpectrumLineStaysInsideTheRow) {
  HeaderSpec h = quellmar::test::standard_header(1, 8);
  h.window1_points = 100;
  quellmar::writer::BodySpec body;
  body.datacode = 2000;
  body.moments.resize(1);
  body.spectra = {{1, 2, 3, 4, 5, 6, 7, 8}};
  quellmar::writer::RecordSpec r;
  r.datacode = 2000;
  r.layout = Layout::S;
  r.record_time = kT0;
  r.body = quellmar::writer::encode_body(body);
  TempDir dir;
  quellmar::test::write_pair(dir.path(), "d02123a.spc", header_bytes(h),
                             quellmar::writer::encode_record(r));
  const ToolRun run = run_bounded(dir.path(), "d02123a.spc");
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> ras =
      lines_of(quellmar::test::read_text(dir.file("abc102123.ras")));
  ASSERT_EQ(ras.size(), 4u);  // header, record, beam and one spectrum line
  EXPECT_EQ(ras[3].rfind(" 0", 0), 0u);
  // " 0" (the gate number in "%2ld"), then " %.2f" per value.
  size_t spaces = 0;
  for (char c : ras[3]) spaces += c == ' ' ? 1 : 0;
  EXPECT_EQ(spaces, 1u + 9u);
}

// ---------------------------------------------------------------------------
// Bounds: every walk makes progress

// Record lengths below the smallest record of their layout (M 18, S 22,
// N 28), zero and negative: the length is reported with the record's
// offset and the walk ends there.
TEST(Bounds, RecordLengthsThatCannotBeSteppedOver) {
  struct Case {
    Layout layout;
    int16_t datacode;
    int spectra;
    int32_t length;
  };
  const Case cases[] = {
      {Layout::M, 2000, 0, 17},
      {Layout::M, 2000, 0, 0},
      {Layout::M, 2000, 0, -38},
      {Layout::S, 2000, 1, 21},
      {Layout::S, 2000, 1, -1},
      {Layout::N, 3016, 0, 27},
      {Layout::N, 3016, 1, std::numeric_limits<int32_t>::min()}};
  const Bytes header = header_bytes(quellmar::test::standard_header(0, 64));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    auto record = [&](int32_t time, std::optional<int32_t> length) {
      quellmar::writer::RecordSpec r;
      r.datacode = c.datacode;
      r.layout = c.layout;
      r.spectra_flag = static_cast<int16_t>(c.spectra);
      r.record_time = time;
      r.record_length = length;
      return quellmar::writer::encode_record(r);
    };
    Bytes data = record(kT0, std::nullopt);
    const size_t second = data.size();
    data.append(record(kT0 + 60, c.length));
    data.append(record(kT0 + 120, std::nullopt));
    TempDir dir;
    quellmar::test::write_pair(dir.path(), kName, header, data);
    const Walk w = walk_like_tool(dir, kName, c.spectra);
    EXPECT_TRUE(w.ended);
    EXPECT_EQ(times_of(w), std::vector<int32_t>{kT0});
    EXPECT_EQ(w.out, "disk: bad record length " + std::to_string(c.length) +
                         " at offset " + std::to_string(second) + "\n");
  }
}

// Trailers that cannot be stepped back over are the Trailer group of
// positioning_test.cpp.

// Skip counts at the ends of their range finish at the ends of the file.
TEST(Bounds, ExtremeSkipCountsEndAtTheEndsOfTheFile) {
  const Bytes header = header_bytes(quellmar::test::standard_header(4, 64));
  Bytes data;
  for (int i = 0; i < 6; ++i)
    data.append(quellmar::test::moments_record(kT0 + i, 0, 4));
  TempDir dir;
  ASSERT_EQ(
      quellmar::test::write_and_open_pair(dir.path(), kName, header, data), 1);
  EXPECT_EQ(pda_skip_records(std::numeric_limits<int32_t>::max()), -1);
  EXPECT_EQ(pda_current_offset(), 6 * 38);
  EXPECT_EQ(pda_skip_records(std::numeric_limits<int32_t>::min()), -2);
  EXPECT_EQ(pda_current_offset(), 0);
}

// A layout N length of 2^31 - 1 steps past the end of the file: the record
// is decoded as one cut short, and the search that finds nothing more ends
// on the end of the file (24 bytes), not past it.
TEST(Bounds, LargestRecordLengthStepsPastTheEnd) {
  const Bytes header = header_bytes(quellmar::test::standard_header(0, 64));
  quellmar::writer::RecordSpec r;
  r.datacode = 3016;
  r.layout = Layout::N;
  r.record_time = kT0;
  r.record_length = std::numeric_limits<int32_t>::max();
  r.omit_trailer = true;
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header,
                             quellmar::writer::encode_record(r));
  const Walk w = walk_like_tool(dir, kName, 0);
  EXPECT_EQ(times_of(w), std::vector<int32_t>{kT0});
  EXPECT_EQ(pda_current_offset(), 24);
  int new_header = 0;
  EXPECT_EQ(pda_read_record_header(&new_header), 1);
}

// A trailer that disagrees with its record's length but passes the other
// checks (36 after a record of 18 bytes, at position 36): stepping back
// over the second record by it lands on the first record again. The walk
// must still end, visiting each record at most once.
TEST(Bounds, TrailerLongerThanItsRecordDoesNotMakeTheWalkReturn) {
  HeaderSpec h = quellmar::test::standard_header(0, 64);
  const Bytes header = header_bytes(h);
  quellmar::writer::RecordSpec a;
  a.datacode = 2000;
  a.layout = Layout::M;
  a.record_time = kT0;
  quellmar::writer::RecordSpec b = a;
  b.record_time = kT0 + 60;
  b.beam_index = 1;
  b.trailer = 36;
  Bytes data = quellmar::writer::encode_record(a);
  data.append(quellmar::writer::encode_record(b));
  ASSERT_EQ(data.size(), 36u);
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header, data);

  const Walk w = walk_like_tool(dir, kName, 0, 10);
  EXPECT_TRUE(w.ended) << "pda_next_record keeps returning to earlier records";
  ASSERT_FALSE(w.visits.empty());
  EXPECT_EQ(w.visits[0].time, kT0);
  for (size_t i = 1; i < w.visits.size(); ++i) {
    EXPECT_GT(w.visits[i].time, w.visits[i - 1].time) << "record visited again";
  }

  // The tool writes the first record once and ends.
  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  const std::string first = wind_summary(0, kT0);
  EXPECT_EQ(r.out.substr(0, first.size()), first);
  EXPECT_EQ(r.out.find(first, first.size()), std::string::npos)
      << "the first record is written more than once";
}

// ---------------------------------------------------------------------------
// Bounds: memory and allocation failure

// Arrays belong to one record: after each decode they have exactly that
// record's sizes, and releasing them between records (as the tool does)
// keeps the heap from growing over hundreds of records.
TEST(Bounds, MemoryHeldIsOneRecordsArrays) {
  HeaderSpec h = quellmar::test::standard_header(50, 64);
  h.beams[1].mode_index = 1;
  h.modes[1] = h.modes[0];
  h.modes[1].gate_count = 7;
  h.modes[1].spectral_points = 16;
  Bytes data;
  for (int i = 0; i < 400; ++i) {
    const int16_t beam = static_cast<int16_t>(i % 2);
    data.append(
        quellmar::test::moments_record(kT0 + i, beam, beam == 0 ? 50 : 7));
  }
  TempDir dir;
  ASSERT_EQ(quellmar::test::write_and_open_pair(dir.path(), kName,
                                                header_bytes(h), data),
            1);
  int new_header = 0;
  ASSERT_EQ(pda_seek_time(1990, 1, 0, 0, 0, &new_header), 1);
  ASSERT_EQ(pda_select_radar(0), 1);
  ASSERT_EQ(pda_select_beam(-1), 1);
  [[maybe_unused]] size_t in_use_after_ten = 0;
  int records = 1;
  do {
    const bool wind = pda_get_record_beam() == 0;
    ASSERT_EQ(pda_moments.gate_count, wind ? 50 : 7);
    ASSERT_EQ(pda_moments.velocity.size(), wind ? 50u : 7u);
    ASSERT_EQ(pda_moments.row_length, wind ? 65 : 17);
#if defined(__GLIBC__) && !defined(QUELLMAR_UNDER_ASAN)
    if (records == 10) in_use_after_ten = mallinfo2().uordblks;
#endif
    pda_release_moments();
    ++records;
  } while (pda_next_record(&new_header) == 1);
  EXPECT_EQ(records, 401);
#if defined(__GLIBC__) && !defined(QUELLMAR_UNDER_ASAN)
  // Allowing for allocator bookkeeping: far less than the ~5 KiB of arrays
  // that each further record would add if they accumulated.
  EXPECT_LT(mallinfo2().uordblks, in_use_after_ten + 16 * 1024);
#endif
}

// A spectra table that cannot be allocated (32767 gates of 32768 values,
// 4 GiB, with the address space limited to 1 GiB): the fatal message on
// standard output and status 2, no crash.
TEST(Bounds, FailedAllocationEndsWithStatusTwo) {
#if defined(QUELLMAR_UNDER_ASAN)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit";
#else
  HeaderSpec h = quellmar::test::standard_header(4, 64);
  h.modes[0].gate_count = 32767;
  h.modes[0].spectral_points = 32767;
  TempDir dir;
  quellmar::writer::RecordSpec r;
  r.datacode = 2000;
  r.layout = Layout::M;
  r.record_time = kT0;
  quellmar::test::write_pair(dir.path(), kName, header_bytes(h),
                             quellmar::writer::encode_record(r));
  const std::string command =
      "cd " + quote(dir.path()) + " && ulimit -v 1048576 && " +
      quote(QUELLMAR_BINARY) + " " + kName + " >out.txt 2>err.txt";
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 2);
  EXPECT_EQ(quellmar::test::read_text(dir.file("out.txt")),
            "disk: can't allocate memory for spectra arrays. Fatal.\n");
  EXPECT_EQ(quellmar::test::read_text(dir.file("err.txt")), "");
#endif
}

// The same failure on the second record: the process ends from inside the
// access module, and the first record's text, held in memory until then, is
// in its file all the same (as in a run of the first record alone).
TEST(Bounds, FailedAllocationKeepsTheRecordsWrittenBefore) {
#if defined(QUELLMAR_UNDER_ASAN)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit";
#else
  // A first record of 32767 gates: about 2 MB of text, handed over when
  // the record ends (it is more than a file holds), and still being
  // written when the second record fails.
  HeaderSpec h = quellmar::test::standard_header(32767, 64);
  h.modes[1] = h.modes[0];
  h.modes[1].spectral_points = 32767;
  h.beams[1].mode_index = 1;
  quellmar::writer::BodySpec body;
  body.datacode = 3000;
  for (int g = 0; g < 32767; ++g) {
    quellmar::writer::GateMoments m;
    m.velocity = static_cast<int16_t>(g);
    m.snr = static_cast<int16_t>(g % 50);
    body.moments.push_back(m);
  }
  quellmar::writer::RecordSpec big;
  big.datacode = 3000;
  big.layout = Layout::N;
  big.record_time = kT0;
  big.body = quellmar::writer::encode_body(body);
  const Bytes first = quellmar::writer::encode_record(big);
  quellmar::writer::RecordSpec r;
  r.datacode = 2000;
  r.layout = Layout::M;
  r.record_time = kT0 + 60;
  r.beam_index = 1;
  Bytes both = first;
  both.append(quellmar::writer::encode_record(r));
  TempDir dir;
  TempDir alone;
  quellmar::test::write_pair(dir.path(), kName, header_bytes(h), both);
  quellmar::test::write_pair(alone.path(), kName, header_bytes(h), first);

  // The wind file is a named pipe that is read only after a pause; the
  // reader takes what arrives within a second.
  // The pipe is made before the run starts, so the run finds it there.
  const std::string command =
      "cd " + quote(dir.path()) +
      " && mkfifo abc102123.rew"
      " && { { exec 3<>abc102123.rew; sleep 0.3;"
      " timeout 1 cat <&3 >captured.txt; } &"
      " (ulimit -v 1048576 && " +
      quote(QUELLMAR_BINARY) + " " + kName +
      " >out.txt 2>err.txt; echo $? >status.txt); wait; }";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(quellmar::test::read_text(dir.file("status.txt")), "2\n");
  EXPECT_EQ(quellmar::test::read_text(dir.file("out.txt")),
            "WIND: 0 90   0 102 123  1  0  0\n"
            "disk: can't allocate memory for spectra arrays. Fatal.\n");
  const quellmar::test::RunResult reference =
      quellmar::test::run_tool(alone.path(), {kName});
  ASSERT_EQ(reference.status, 0);
  // The pipe existed, so the block came without a file header line.
  std::string written = quellmar::test::read_text(alone.file("abc102123.rew"));
  written.erase(0, written.find('\n') + 1);
  ASSERT_GT(written.size(), 1000000u);
  const std::string captured =
      quellmar::test::read_text(dir.file("captured.txt"));
  EXPECT_EQ(captured.size(), written.size());
  EXPECT_TRUE(captured == written);
#endif
}

// ---------------------------------------------------------------------------
// Bounds: output files and text from the files

// Site names that look like paths: the output file is always created in
// the current folder ('/' written as '_'), never above or below it.
TEST(Bounds, SiteNamesNeverLeadOutOfTheCurrentFolder) {
  struct Case {
    const char* site;
    const char* file;
  };
  const Case cases[] = {{"../../up", ".._102123.rew"},
                        {"/etc/passwd", "_et102123.rew"},
                        {"a/b", "a_b102123.rew"},
                        {"..", "..102123.rew"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.site);
    TempDir root;
    const std::string work = root.file("work");
    fs::create_directories(work);
    HeaderSpec h = quellmar::test::standard_header(4, 64);
    h.site_name = c.site;
    quellmar::test::write_pair(work, kName, header_bytes(h),
                               quellmar::test::moments_record(kT0, 0, 4));
    const ToolRun r = run_bounded(work, kName);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(quellmar::test::file_exists(work + "/" + c.file));
    std::vector<std::string> in_work, in_root;
    for (const auto& e : fs::directory_iterator(work)) {
      in_work.push_back(e.path().filename().string());
    }
    for (const auto& e : fs::directory_iterator(root.path())) {
      in_root.push_back(e.path().filename().string());
    }
    EXPECT_EQ(in_work.size(), 3u);  // the pair and the output file
    EXPECT_EQ(in_root, std::vector<std::string>{"work"});
  }
}

// Text from the files is printed as text: a site name full of conversion
// specifications appears in the header line as it is.
TEST(Bounds, SiteNameIsNeverAFormat) {
  HeaderSpec h = quellmar::test::standard_header(4, 64);
  h.site_name = "%s%n%x%d%%%s";
  TempDir dir;
  quellmar::test::write_pair(dir.path(), kName, header_bytes(h),
                             quellmar::test::moments_record(kT0, 0, 4));
  const ToolRun r = run_bounded(dir.path(), kName);
  EXPECT_EQ(r.status, 0);
  const std::vector<std::string> rew =
      lines_of(quellmar::test::read_text(dir.file("%s%102123.rew")));
  ASSERT_FALSE(rew.empty());
  char expected[160];
  std::snprintf(expected, sizeof expected, " %-30s %4ld %5ld %5ld %5ld\n",
                "%s%n%x%d%%%s", 4000L, -10500L, 1500L, 91500L);
  EXPECT_EQ(rew[0], expected);
}

// ---------------------------------------------------------------------------
// Inputs found by fuzzing (tests/regressions/), replayed through the same
// flows as the fuzz targets: header-*.bin through the header flow,
// records-*.bin through the records flow, tool-*.bin through the tool.

std::vector<uint8_t> file_bytes(const fs::path& p) {
  const std::string text = quellmar::test::read_text(p.string());
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(FuzzRegressions, StoredInputsReplayCleanly) {
  const fs::path dir = fs::path(QUELLMAR_SOURCE_DIR) / "tests" / "regressions";
  ASSERT_TRUE(fs::is_directory(dir));
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".bin") continue;
    SCOPED_TRACE(name);
    const std::vector<uint8_t> input = file_bytes(entry.path());
    TempDir scratch;
    const std::string prefix = scratch.path() + "/";
    quellmar::test::start_capture();
    std::string problem;
    if (name.rfind("header-", 0) == 0) {
      quellmar::fuzz::HeaderInput in;
      ASSERT_TRUE(
          quellmar::fuzz::split_header_input(input.data(), input.size(), &in));
      problem = quellmar::fuzz::run_header_flow(prefix, in);
    } else if (name.rfind("records-", 0) == 0) {
      quellmar::fuzz::PairInput in;
      ASSERT_TRUE(
          quellmar::fuzz::split_pair_input(input.data(), input.size(), &in));
      problem = quellmar::fuzz::run_records_flow(
          prefix, in, quellmar::fuzz::header_file(in));
    } else if (name.rfind("tool-", 0) == 0) {
      quellmar::fuzz::PairInput in;
      ASSERT_TRUE(
          quellmar::fuzz::split_pair_input(input.data(), input.size(), &in));
      const std::vector<uint8_t> header = quellmar::fuzz::header_file(in);
      const std::string data_name =
          quellmar::fuzz::pair_data_name(in.name_choice, in.spectra);
      quellmar::fuzz::write_bytes(prefix + data_name, in.data.data(),
                                  in.data.size());
      quellmar::fuzz::write_bytes(prefix + "h" + data_name.substr(1),
                                  header.data(), header.size());
      const ToolRun r = run_bounded(scratch.path(), data_name);
      if (r.status != 0 && r.status != 1) {
        problem = "tool ended with status " + std::to_string(r.status);
      }
    } else {
      ADD_FAILURE() << "unknown kind of stored input";
    }
    quellmar::test::stop_capture();
    EXPECT_EQ(problem, "");
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace

// The whole tool end to end: the built binary runs on file pairs made with
// the writer, in a scratch folder, and its standard output, standard error,
// exit status and output files are compared with text worked out by hand
// from the output formats:
//
//   file header line   " %-30s" " %4ld %5ld" " %5ld" " %5ld\n"
//   record line        "%ld %2ld %3ld %2ld %3ld %2ld %2ld %2ld\n"
//   beam line          "%2ld %4ld %3ld %3ld %3ld %3ld %2ld %4ld\n"
//   gate line          "%8.3f %7.3f %7.3f %7.3f %7.3f %ld\n"
//   spectrum line      "%2ld" then " %.2f" per value, "\n"
//
// Most cases use a radar whose Nyquist velocity is exactly 10 m/s
// (149.90 MHz, 50 us between pulses, 1000 coherent integrations), so that a
// stored velocity count c reads as c / 1000 m/s and an 8-bit width count w
// as w / 10 m/s, and 100 spectral points, so that the signal power in dB is
// snr + noise + 20.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace {

namespace fs = std::filesystem;

using quellmar::test::join;
using quellmar::test::RunResult;
using quellmar::test::TempDir;
using quellmar::writer::BodySpec;
using quellmar::writer::Bytes;
using quellmar::writer::GateMoments;
using quellmar::writer::HeaderSpec;
using quellmar::writer::Layout;
using quellmar::writer::RecordSpec;

constexpr std::int32_t kHeaderBlockSize = 568;  // version 102

// --- Building inputs ---------------------------------------------------------

// Seconds since 1970 of a year, day of the year and time of day (UTC).
std::int32_t at(int year, int day, int hour, int minute, int second) {
  std::int64_t days = 0;
  for (int y = 1970; y < year; ++y) {
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    days += leap ? 366 : 365;
  }
  days += day - 1;
  return static_cast<std::int32_t>(days * 86400 + hour * 3600 + minute * 60 +
                                   second);
}

// Site "ABCD Profiler" (values 4000, -10500, 1500), five beams (vertical,
// then north, east, south, west at 75 degrees) in mode 0; mode 0 has a
// Nyquist velocity of exactly 10 m/s. Window 1 covers the whole spectrum.
HeaderSpec test_header(int gates, int points) {
  HeaderSpec h = quellmar::test::standard_header(gates, points);
  h.tx_frequency = 14990;
  h.modes[0].ipp_ns = 50000;
  h.modes[0].coherent_integrations = 1000;
  return h;
}

Bytes header_bytes(const HeaderSpec& h) {
  return quellmar::writer::encode_header(h);
}

GateMoments gate(std::int16_t velocity, std::uint16_t width, std::int16_t snr,
                 std::int16_t noise_or_aux) {
  GateMoments g;
  g.velocity = velocity;
  g.width = width;
  g.snr = snr;
  g.noise_or_aux = noise_or_aux;
  return g;
}

// A moments-file record (2-byte length) of radar `radar`. The override
// words are written when the moments take more than the 5 bytes per gate of
// the 8-bit encoding, since a reader then expects them; they repeat the
// header's values.
Bytes mom(std::int32_t time, std::int16_t beam, std::int16_t datacode,
          const std::vector<GateMoments>& first,
          const std::vector<GateMoments>& second = {}, std::int16_t radar = 0) {
  BodySpec body;
  body.datacode = datacode;
  body.moments = first;
  body.second = second;
  RecordSpec r;
  r.datacode = datacode;
  r.layout = Layout::M;
  r.record_time = time;
  r.radar_index = radar;
  r.beam_index = beam;
  r.body = quellmar::writer::encode_body(body);
  r.has_overrides = r.body.size() > 5 * first.size();
  r.coherent_integrations = 1000;
  r.spectral_averages = 30;
  return quellmar::writer::encode_record(r);
}

// A spectra-file record that carries its own spectra flag (datacode 3000 or
// more; override words always present, repeating the header's values),
// naming the HeaderBlock at `header_offset`.
Bytes spc(std::int32_t time, std::int16_t beam, std::int16_t datacode,
          const std::vector<GateMoments>& first,
          const std::vector<std::vector<float>>& rows,
          std::int32_t header_offset = 0, std::int16_t radar = 0) {
  BodySpec body;
  body.datacode = datacode;
  body.moments = first;
  body.spectra = rows;
  RecordSpec r;
  r.datacode = datacode;
  r.layout = Layout::N;
  r.spectra_flag = 1;
  r.header_offset = header_offset;
  r.record_time = time;
  r.radar_index = radar;
  r.beam_index = beam;
  r.coherent_integrations = 1000;
  r.spectral_averages = 30;
  r.body = quellmar::writer::encode_body(body);
  return quellmar::writer::encode_record(r);
}

// Names of the files in dir, sorted, without the input pair.
std::vector<std::string> outputs(const TempDir& dir, const std::string& name) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    const std::string n = e.path().filename().string();
    if (n != name && n != "h" + name.substr(1)) names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> names(std::initializer_list<const char*> list) {
  std::vector<std::string> v(list.begin(), list.end());
  std::sort(v.begin(), v.end());
  return v;
}

// --- Expected text
// -------------------------------------------------------------

// " %-30s" with "abcd profiler" (13 characters, so 17 blanks of padding),
// " %4ld %5ld" with 4000 and -10500, " %5ld" with 1500, " %5ld\n" with 14990.
const std::string kHeaderLine =
    " abcd profiler" + std::string(17, ' ') + " 4000 -10500  1500 14990\n";

// Beam lines of mode 0 with 50 us between pulses, pulse 700, first gate at
// 2500 ns and gates 700 ns apart, 1000 integrations and 30 averages.
// Vertical: 2500 * 0.15 = 375 m and 700 * 0.15 = 105 m. At 75 degrees the
// sine factor is 0.96592575: 362.2 and 101.4 m, plus 0.5, truncated.
std::string vertical_beam(int gates, int points) {
  char line[64];
  std::snprintf(line, sizeof line, "50  700 375 105 %3d 1000 30 %4d\n", gates,
                points);
  return line;
}
std::string oblique_beam(int gates, int points) {
  char line[64];
  std::snprintf(line, sizeof line, "50  700 362 101 %3d 1000 30 %4d\n", gates,
                points);
  return line;
}

// Count 1234 -> 1.234 m/s; width 25 -> 2.5 m/s; snr 3 dB; noise -40 dB; with
// 100 points the signal power is 3 - 40 + 20 = -17 dB.
const GateMoments kGateA = gate(1234, 25, 3, -40);
const char kGateALine[] = "   1.234   3.000 -17.000   2.500 -40.000 0\n";
// Count -2500 -> -2.5 m/s; width 7 -> 0.7 m/s; -5 + (-42) + 20 = -27 dB.
const GateMoments kGateB = gate(-2500, 7, -5, -42);
const char kGateBLine[] = "  -2.500  -5.000 -27.000   0.700 -42.000 0\n";

// The spectrum line of gate g holding values v, each printed " %.2f".
std::string spectrum_line(int g, const std::vector<float>& v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%2d", g);
  std::string line = buf;
  for (float x : v) {
    std::snprintf(buf, sizeof buf, " %.2f", static_cast<double>(x));
    line += buf;
  }
  return line + "\n";
}

std::string read(const TempDir& dir, const std::string& name) {
  return quellmar::test::read_text(dir.file(name));
}

// ---------------------------------------------------------------------------
// Output files: naming, header line, appending, failures to open
// ---------------------------------------------------------------------------

TEST(EndToEndFiles, NewFileGetsItsHeaderLineOnceAndASecondRunAppends) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(2, 100)),
      join({mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA, kGateB}),
            mom(at(2002, 124, 10, 5, 0), 1, 2000, {kGateB, kGateA})}));

  const std::string summaries =
      "WIND: 0 90   0 102 124 10  0  0\n"
      "WIND: 1 75   0 102 124 10  5  0\n";
  const std::string blocks = "0 90   0 102 124 10  0  0\n" +
                             vertical_beam(2, 100) + kGateALine + kGateBLine +
                             "1 75   0 102 124 10  5  0\n" +
                             oblique_beam(2, 100) + kGateBLine + kGateALine;

  RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, summaries);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(outputs(dir, name), names({"abc102124.rew"}));
  EXPECT_EQ(read(dir, "abc102124.rew"), kHeaderLine + blocks);

  r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, summaries);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read(dir, "abc102124.rew"), kHeaderLine + blocks + blocks);
}

TEST(EndToEndFiles, ExistingFileGetsNoHeaderLine) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(dir.path(), name,
                             header_bytes(test_header(1, 100)),
                             mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA}));
  quellmar::writer::Bytes earlier;
  earlier.put_chars("earlier text\n", 13);
  quellmar::writer::write_file(dir.file("abc102124.rew"), earlier);

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read(dir, "abc102124.rew"),
            "earlier text\n0 90   0 102 124 10  0  0\n" +
                vertical_beam(1, 100) + kGateALine);
}

// Year counted from 1900 with at least two digits, day with at least three;
// a spectra run writes the .ras file beside the wind file.
TEST(EndToEndFiles, RecordDateNamesTheFiles) {
  TempDir dir;
  const std::string name = "d02123a.spc";
  const std::vector<float> row = {1.5f, 2.25f, 3.0f, 4.75f};
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 4)),
      join({spc(at(1999, 300, 12, 0, 0), 0, 3000, {kGateA}, {row}),
            spc(at(2002, 7, 8, 9, 10), 2, 3000, {kGateA}, {row})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "WIND: 0 90   0 99 300 12  0  0\n"
            "SPEC: 0 90   0 99 300 12  0  0\n"
            "WIND: 2 75  90 102   7  8  9 10\n"
            "SPEC: 2 75  90 102   7  8  9 10\n");
  EXPECT_EQ(outputs(dir, name), names({"abc99300.rew", "abc99300.ras",
                                       "abc102007.rew", "abc102007.ras"}));
  // With 4 points the power is 3 - 40 + 10 log10(4) = -30.979 dB.
  const std::string gate_line = "   1.234   3.000 -30.979   2.500 -40.000 0\n";
  EXPECT_EQ(read(dir, "abc99300.rew"), kHeaderLine +
                                           "0 90   0 99 300 12  0  0\n" +
                                           vertical_beam(1, 4) + gate_line);
  EXPECT_EQ(read(dir, "abc99300.ras"),
            kHeaderLine + "0 90   0 99 300 12  0  0\n" + vertical_beam(1, 4) +
                " 0 1.50 2.25 3.00 4.75\n");
  EXPECT_EQ(read(dir, "abc102007.rew"), kHeaderLine +
                                            "2 75  90 102   7  8  9 10\n" +
                                            oblique_beam(1, 4) + gate_line);
  EXPECT_EQ(read(dir, "abc102007.ras"),
            kHeaderLine + "2 75  90 102   7  8  9 10\n" + oblique_beam(1, 4) +
                " 0 1.50 2.25 3.00 4.75\n");
}

// A '/' in the part of the label that names the file is written as '_', so
// the file stays in the current folder; the header line keeps the label.
TEST(EndToEndFiles, SlashInTheSiteLabelBecomesAnUnderscoreInTheName) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  HeaderSpec h = test_header(1, 100);
  h.site_name = "A/B Site";
  quellmar::test::write_pair(dir.path(), name, header_bytes(h),
                             mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(outputs(dir, name), names({"a_b102124.rew"}));
  EXPECT_EQ(read(dir, "a_b102124.rew"), " a/b site" + std::string(22, ' ') +
                                            " 4000 -10500  1500 14990\n" +
                                            "0 90   0 102 124 10  0  0\n" +
                                            vertical_beam(1, 100) + kGateALine);
}

TEST(EndToEndFiles, WindFileThatCannotBeOpenedEndsTheRun) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 100)),
      join({mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA}),
            mom(at(2002, 124, 10, 5, 0), 1, 2000, {kGateA})}));
  fs::create_directory(dir.file("abc102124.rew"));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Cannot open file abc102124.rew\n");
  EXPECT_TRUE(fs::is_empty(dir.file("abc102124.rew")));
}

// An output file on a full device: the failed write is reported once, with
// the file's name and the system's reason, and the run ends with status 1
// instead of reporting success. The records' text is held until the end of
// this short run, so every summary line is printed before the write fails.
TEST(EndToEndFiles, FailedWriteEndsTheRunWithStatusOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 100)),
      join({mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA}),
            mom(at(2002, 124, 10, 5, 0), 1, 2000, {kGateA}),
            mom(at(2002, 124, 10, 10, 0), 2, 2000, {kGateA})}));
  fs::create_symlink("/dev/full", dir.file("abc102124.rew"));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Cannot write file abc102124.rew: No space left on device\n");
  EXPECT_EQ(r.out,
            "WIND: 0 90   0 102 124 10  0  0\n"
            "WIND: 1 75   0 102 124 10  5  0\n"
            "WIND: 2 75  90 102 124 10 10  0\n");
}

// The record's wind block is written before the spectra file fails, and
// stays.
TEST(EndToEndFiles, SpectraFileThatCannotBeOpenedKeepsTheWindBlock) {
  TempDir dir;
  const std::string name = "d02123a.spc";
  const std::vector<float> row = {1.5f, 2.25f, 3.0f, 4.75f};
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 4)),
      join({spc(at(2002, 123, 10, 0, 0), 0, 3000, {kGateA}, {row}),
            spc(at(2002, 124, 10, 0, 0), 0, 3000, {kGateA}, {row}),
            spc(at(2002, 124, 10, 5, 0), 0, 3000, {kGateA}, {row})}));
  fs::create_directory(dir.file("abc102124.ras"));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "WIND: 0 90   0 102 123 10  0  0\n"
            "SPEC: 0 90   0 102 123 10  0  0\n"
            "WIND: 0 90   0 102 124 10  0  0\n");
  EXPECT_EQ(r.err, "Cannot open file abc102124.ras\n");
  const std::string gate_line = "   1.234   3.000 -30.979   2.500 -40.000 0\n";
  EXPECT_EQ(read(dir, "abc102123.ras"),
            kHeaderLine + "0 90   0 102 123 10  0  0\n" + vertical_beam(1, 4) +
                " 0 1.50 2.25 3.00 4.75\n");
  EXPECT_EQ(read(dir, "abc102124.rew"), kHeaderLine +
                                            "0 90   0 102 124 10  0  0\n" +
                                            vertical_beam(1, 4) + gate_line);
}

// ---------------------------------------------------------------------------
// Record blocks
// ---------------------------------------------------------------------------

// Mode 0 (vertical beam 0) has 2047 points and goes to .rew; mode 1
// (vertical beam 1) has 2048 and goes to .rat_e, with the second moment set
// in a second block whose record line shows beam 1 + 1 = 2, while the
// summary line shows beam 1.
TEST(EndToEndBlocks, Points2047AreWindAnd2048AreRassWithTwoBlocks) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  HeaderSpec h = test_header(1, 2047);
  h.modes[1] = h.modes[0];
  h.modes[1].spectral_points = 2048;
  h.beams[1].direction_index = 0;
  h.beams[1].mode_index = 1;
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(h),
      join({mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA}),
            mom(at(2002, 124, 10, 5, 0), 1, 1016, {gate(3456, 12, 2, -30)},
                {gate(-123, 5, -1, 157)})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "WIND: 0 90   0 102 124 10  0  0\n"
            "RASS: 1 90   0 102 124 10  5  0\n");
  EXPECT_EQ(outputs(dir, name), names({"abc102124.rew", "abc102124.rat_e"}));
  // 3 - 40 + 10 log10(2047) = -3.889 dB.
  EXPECT_EQ(read(dir, "abc102124.rew"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" +
                vertical_beam(1, 2047) +
                "   1.234   3.000  -3.889   2.500 -40.000 0\n");
  // First set: 3.456 m/s, 2 dB, 2 - 30 + 10 log10(2048) = 5.113 dB, width
  // 1.2 m/s, noise -30 dB. Second set: -0.123 m/s, -1 dB, -1 - 30 + 33.113
  // = 2.113 dB (the noise of the first set), width 0.5 m/s, aux 157 / 10.
  EXPECT_EQ(read(dir, "abc102124.rat_e"),
            kHeaderLine + "1 90   0 102 124 10  5  0\n" +
                vertical_beam(1, 2048) +
                "   3.456   2.000   5.113   1.200 -30.000 0\n" +
                "2 90   0 102 124 10  5  0\n" + vertical_beam(1, 2048) +
                "  -0.123  -1.000   2.113   0.500  15.700 0\n");
}

// Field 1 of the beam line is the inter-pulse period in whole
// microseconds, truncated: 1500 ns -> 1, 999 ns -> 0.
TEST(EndToEndBlocks, InterPulsePeriodIsPrintedInWholeMicroseconds) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  HeaderSpec h = test_header(1, 100);
  h.modes[1] = h.modes[0];
  h.modes[0].ipp_ns = 1500;
  h.modes[1].ipp_ns = 999;
  h.beams[1].mode_index = 1;
  const GateMoments zero = gate(0, 0, 0, 0);
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(h),
      join({mom(at(2002, 124, 10, 0, 0), 0, 2000, {zero}),
            mom(at(2002, 124, 10, 5, 0), 1, 2000, {zero})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  // 0 dB + 0 dB + 20 dB.
  const std::string zero_line = "   0.000   0.000  20.000   0.000   0.000 0\n";
  EXPECT_EQ(read(dir, "abc102124.rew"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" +
                " 1  700 375 105   1 1000 30  100\n" + zero_line +
                "1 75   0 102 124 10  5  0\n" +
                " 0  700 362 101   1 1000 30  100\n" + zero_line);
}

// Field 3 of a gate line is 10 log10 of the signal power, 0 when the power
// is not above 0. 16-bit moments: snr and noise in hundredths of a dB; the
// signal power is 10^(snr/10) * 100 * 10^(noise/10).
TEST(EndToEndBlocks, SignalPowerIsPrintedInDecibels) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(4, 100)),
      mom(at(2002, 124, 10, 0, 0), 0, 2100,
          {
              gate(0, 0, 0, 0),           // power 100
              gate(0, 0, 0, -2000),       // power 1
              gate(0, 0, -2000, -2000),   // power 0.01
              gate(0, 0, -32768, -32768)  // power below
                                          // the float range
          }));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read(dir, "abc102124.rew"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" +
                vertical_beam(4, 100) +
                "   0.000   0.000  20.000   0.000   0.000 0\n"
                "   0.000   0.000   0.000   0.000 -20.000 0\n"
                "   0.000 -20.000 -20.000   0.000 -20.000 0\n"
                "   0.000 -327.680   0.000   0.000 -327.680 0\n");
}

// With no gates the blocks hold only their record and beam lines, in every
// file kind.
TEST(EndToEndBlocks, NoGatesLeavesOnlyRecordAndBeamLines) {
  TempDir dir;
  const std::string name = "d02123a.spc";
  HeaderSpec h = test_header(0, 64);
  h.modes[1] = h.modes[0];
  h.modes[1].spectral_points = 2048;
  h.beams[1].direction_index = 0;
  h.beams[1].mode_index = 1;
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(h),
      join({spc(at(2002, 124, 10, 0, 0), 0, 3016, {}, {}),
            spc(at(2002, 124, 10, 5, 0), 1, 3016, {}, {})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "WIND: 0 90   0 102 124 10  0  0\n"
            "SPEC: 0 90   0 102 124 10  0  0\n"
            "RASS: 1 90   0 102 124 10  5  0\n"
            "SPEC: 1 90   0 102 124 10  5  0\n");
  EXPECT_EQ(read(dir, "abc102124.rew"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" + vertical_beam(0, 64));
  EXPECT_EQ(read(dir, "abc102124.rat_e"),
            kHeaderLine + "1 90   0 102 124 10  5  0\n" +
                vertical_beam(0, 2048) + "2 90   0 102 124 10  5  0\n" +
                vertical_beam(0, 2048));
  EXPECT_EQ(read(dir, "abc102124.ras"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" + vertical_beam(0, 64) +
                "1 90   0 102 124 10  5  0\n" + vertical_beam(0, 2048));
}

// ---------------------------------------------------------------------------
// Spectrum lines
// ---------------------------------------------------------------------------

// Spectrum of one gate, point k (from 1) holding base + k + 0.25.
std::vector<float> ramp(int points, float base = 0.0f) {
  std::vector<float> v(points);
  for (int k = 1; k <= points; ++k) v[k - 1] = base + k + 0.25f;
  return v;
}

// A 2048-point spectrum with window 2 on points 1 to 20 and window 1 on
// points 1001 to 1100, three times: with placement flag 1, 2 and 0 (one
// HeaderBlock each). The line holds 2048 values, the k-th being point k,
// 0.00 outside the windows; window 2 only with flag 1.
TEST(EndToEndSpectra, TwoWindowsPlaceWindow2OnlyWithFlag1) {
  TempDir dir;
  const std::string name = "d02123a.spc";
  Bytes header;
  for (int flag : {1, 2, 0}) {
    HeaderSpec h = test_header(1, 2048);
    h.window2_start = 1;
    h.window2_points = 20;
    h.window1_start = 1001;
    h.window1_points = 100;
    h.spectrum_extra[0] = static_cast<std::int16_t>(flag);
    header.append(header_bytes(h));
  }
  std::vector<Bytes> records;
  for (int i = 0; i < 3; ++i) {
    records.push_back(spc(at(2002, 124, 10, 5 * i, 0), 0, 3000, {kGateA},
                          {ramp(2048)}, i * kHeaderBlockSize));
  }
  quellmar::test::write_pair(dir.path(), name, header, join(records));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "RASS: 0 90   0 102 124 10  0  0\n"
            "SPEC: 0 90   0 102 124 10  0  0\n"
            "RASS: 0 90   0 102 124 10  5  0\n"
            "SPEC: 0 90   0 102 124 10  5  0\n"
            "RASS: 0 90   0 102 124 10 10  0\n"
            "SPEC: 0 90   0 102 124 10 10  0\n");

  std::vector<float> placed(2048, 0.0f);
  std::vector<float> unplaced(2048, 0.0f);
  for (int k = 1; k <= 2048; ++k) {
    const bool in1 = k >= 1001 && k <= 1100;
    const bool in2 = k <= 20;
    if (in1 || in2) placed[k - 1] = k + 0.25f;
    if (in1) unplaced[k - 1] = k + 0.25f;
  }
  EXPECT_EQ(read(dir, "abc102124.ras"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" +
                vertical_beam(1, 2048) + spectrum_line(0, placed) +
                "0 90   0 102 124 10  5  0\n" + vertical_beam(1, 2048) +
                spectrum_line(0, unplaced) + "0 90   0 102 124 10 10  0\n" +
                vertical_beam(1, 2048) + spectrum_line(0, unplaced));
}

// One window (window 2 absent): the line holds window 1's values and
// nothing after them. A window longer than the gate's row of P + 1 values
// gives P + 1 values: what the decode kept of the window.
TEST(EndToEndSpectra, OneWindowLineHoldsWindow1Only) {
  TempDir dir;
  const std::string name = "d02123a.spc";
  HeaderSpec inner = test_header(2, 8);  // points 3 to 6 of 8
  inner.window1_start = 3;
  inner.window1_points = 4;
  HeaderSpec longer = test_header(2, 4);  // points 1 to 10 of 4
  longer.window1_start = 1;
  longer.window1_points = 10;
  quellmar::test::write_pair(
      dir.path(), name, join({header_bytes(inner), header_bytes(longer)}),
      join({spc(at(2002, 124, 10, 0, 0), 0, 3000, {kGateA, kGateA},
                {ramp(8), ramp(8, 100.0f)}),
            spc(at(2002, 124, 10, 5, 0), 0, 3000, {kGateA, kGateA},
                {ramp(4), ramp(4, 100.0f)}, kHeaderBlockSize),
            // Radar 1, passed over: bytes for the longer window to read on.
            spc(at(2002, 124, 10, 6, 0), 0, 3000, {kGateA, kGateA},
                {ramp(4), ramp(4)}, kHeaderBlockSize, 1)}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // The longer window reads on past the gate's 4 points: gate 0 keeps gate
  // 1's first point as its fifth value; gate 1 keeps the 4 bytes after the
  // spectra (the record's trailer: the length 24 + 2 * 5 + 2 * 4 * 4 + 4 =
  // 70, read as a float, a tiny value that prints as 0.00).
  EXPECT_EQ(read(dir, "abc102124.ras"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" + vertical_beam(2, 8) +
                " 0 3.25 4.25 5.25 6.25\n"
                " 1 103.25 104.25 105.25 106.25\n" +
                "0 90   0 102 124 10  5  0\n" + vertical_beam(2, 4) +
                " 0 1.25 2.25 3.25 4.25 101.25\n"
                " 1 101.25 102.25 103.25 104.25 0.00\n");
}

// Records whose spectra are stored by point position (datacode ending in
// 17) line up like the others: two windows give P values, the k-th being
// point k, window 2 only with flag 1; one window gives window 1's values in
// point order, 0.00 for a point above P.
TEST(EndToEndSpectra, PositionalRecordsLineUpByPointNumber) {
  TempDir dir;
  const std::string name = "d02123a.spc";
  Bytes header;
  for (int flag : {1, 0}) {
    HeaderSpec h = test_header(1, 8);
    h.window2_start = 2;
    h.window2_points = 2;
    h.window1_start = 5;
    h.window1_points = 3;
    h.spectrum_extra[0] = static_cast<std::int16_t>(flag);
    header.append(header_bytes(h));
  }
  HeaderSpec one = test_header(1, 8);  // points 6 to 9 of 8
  one.window1_start = 6;
  one.window1_points = 4;
  header.append(header_bytes(one));

  // Stored per gate: window 1's points, then window 2's.
  const std::vector<float> two_windows = {5.25f, 6.25f, 7.25f, 2.25f, 3.25f};
  const std::vector<float> one_window = {6.25f, 7.25f, 8.25f, 9.25f};
  quellmar::test::write_pair(
      dir.path(), name, header,
      join({spc(at(2002, 124, 10, 0, 0), 0, 3017, {kGateA}, {two_windows}, 0),
            spc(at(2002, 124, 10, 5, 0), 0, 3017, {kGateA}, {two_windows},
                kHeaderBlockSize),
            spc(at(2002, 124, 10, 10, 0), 0, 3017, {kGateA}, {one_window},
                2 * kHeaderBlockSize)}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read(dir, "abc102124.ras"),
            kHeaderLine + "0 90   0 102 124 10  0  0\n" + vertical_beam(1, 8) +
                " 0 0.00 2.25 3.25 0.00 5.25 6.25 7.25 0.00\n" +
                "0 90   0 102 124 10  5  0\n" + vertical_beam(1, 8) +
                " 0 0.00 0.00 0.00 0.00 5.25 6.25 7.25 0.00\n" +
                "0 90   0 102 124 10 10  0\n" + vertical_beam(1, 8) +
                " 0 6.25 7.25 8.25 0.00\n");
}

// ---------------------------------------------------------------------------
// The record loop
// ---------------------------------------------------------------------------

// d02123a: name day 123 of 2002, so the run ends after the first record at
// or after day 125, 00:00:00.
TEST(EndToEndLoop, RecordAtTheStopTimeIsTheLastWritten) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 100)),
      join({mom(at(2002, 124, 23, 59, 59), 0, 2000, {kGateA}),
            mom(at(2002, 125, 0, 0, 0), 1, 2000, {kGateB}),
            mom(at(2002, 125, 0, 3, 0), 2, 2000, {kGateA})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "WIND: 0 90   0 102 124 23 59 59\n"
            "WIND: 1 75   0 102 125  0  0  0\n");
  EXPECT_EQ(outputs(dir, name), names({"abc102124.rew", "abc102125.rew"}));
  EXPECT_EQ(read(dir, "abc102124.rew"), kHeaderLine +
                                            "0 90   0 102 124 23 59 59\n" +
                                            vertical_beam(1, 100) + kGateALine);
  EXPECT_EQ(read(dir, "abc102125.rew"), kHeaderLine +
                                            "1 75   0 102 125  0  0  0\n" +
                                            oblique_beam(1, 100) + kGateBLine);
}

TEST(EndToEndLoop, FirstRecordAfterTheStopTimeIsTheOnlyOneWritten) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 100)),
      join({mom(at(2002, 126, 8, 0, 0), 3, 2000, {kGateA}),
            mom(at(2002, 126, 8, 3, 0), 4, 2000, {kGateB})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "WIND: 3 75 180 102 126  8  0  0\n");
  EXPECT_EQ(outputs(dir, name), names({"abc102126.rew"}));
  EXPECT_EQ(read(dir, "abc102126.rew"), kHeaderLine +
                                            "3 75 180 102 126  8  0  0\n" +
                                            oblique_beam(1, 100) + kGateALine);
}

// Every record is written, also one from before the name day, and the run
// ends normally when the data run out.
TEST(EndToEndLoop, FileEndingBeforeTheStopTimeIsWrittenWhole) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 100)),
      join({mom(at(2002, 122, 23, 0, 0), 4, 2000, {kGateA}),
            mom(at(2002, 123, 12, 0, 0), 0, 2000, {kGateB}),
            mom(at(2002, 124, 18, 30, 5), 2, 2000, {kGateA})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "WIND: 4 75 270 102 122 23  0  0\n"
            "WIND: 0 90   0 102 123 12  0  0\n"
            "WIND: 2 75  90 102 124 18 30  5\n");
  EXPECT_EQ(outputs(dir, name),
            names({"abc102122.rew", "abc102123.rew", "abc102124.rew"}));
  EXPECT_EQ(read(dir, "abc102122.rew"), kHeaderLine +
                                            "4 75 270 102 122 23  0  0\n" +
                                            oblique_beam(1, 100) + kGateALine);
  EXPECT_EQ(read(dir, "abc102123.rew"), kHeaderLine +
                                            "0 90   0 102 123 12  0  0\n" +
                                            vertical_beam(1, 100) + kGateBLine);
  EXPECT_EQ(read(dir, "abc102124.rew"), kHeaderLine +
                                            "2 75  90 102 124 18 30  5\n" +
                                            oblique_beam(1, 100) + kGateALine);
}

// The first record of the file is written whatever its radar, with the
// beam information of radar 0; later records of radar 1 are passed over.
TEST(EndToEndLoop, FirstRecordOfRadar1IsWrittenAndLaterOnesSkipped) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 100)),
      join({mom(at(2002, 124, 10, 0, 0), 2, 2000, {kGateA}, {}, 1),
            mom(at(2002, 124, 10, 3, 0), 0, 2000, {kGateB}),
            mom(at(2002, 124, 10, 6, 0), 1, 2000, {kGateA}, {}, 1),
            mom(at(2002, 124, 10, 9, 0), 3, 2000, {kGateB})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "WIND: 2 75  90 102 124 10  0  0\n"
            "WIND: 0 90   0 102 124 10  3  0\n"
            "WIND: 3 75 180 102 124 10  9  0\n");
  EXPECT_EQ(read(dir, "abc102124.rew"),
            kHeaderLine + "2 75  90 102 124 10  0  0\n" + oblique_beam(1, 100) +
                kGateALine + "0 90   0 102 124 10  3  0\n" +
                vertical_beam(1, 100) + kGateBLine +
                "3 75 180 102 124 10  9  0\n" + oblique_beam(1, 100) +
                kGateBLine);
}

// Radar 0 has five beams (0 to 4): a record of beam 5 ends the run with
// status 1; what earlier records wrote stays.
TEST(EndToEndLoop, BeamBeyondTheBeamCountEndsTheRunKeepingEarlierBlocks) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(
      dir.path(), name, header_bytes(test_header(1, 100)),
      join({mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA}),
            mom(at(2002, 124, 10, 3, 0), 4, 2000, {kGateB}),
            mom(at(2002, 124, 10, 6, 0), 5, 2000, {kGateA}),
            mom(at(2002, 124, 10, 9, 0), 1, 2000, {kGateB})}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "WIND: 0 90   0 102 124 10  0  0\n"
            "WIND: 4 75 270 102 124 10  3  0\n");
  EXPECT_EQ(r.err, "Cannot get information for beam 5\n");
  EXPECT_EQ(read(dir, "abc102124.rew"), kHeaderLine +
                                            "0 90   0 102 124 10  0  0\n" +
                                            vertical_beam(1, 100) + kGateALine +
                                            "4 75 270 102 124 10  3  0\n" +
                                            oblique_beam(1, 100) + kGateBLine);
}

// ---------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------

TEST(EndToEndOpen, EmptyDataFileIsReportedWithItsTrueReason) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::test::write_pair(dir.path(), name,
                             header_bytes(test_header(1, 100)), Bytes());

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Cannot open file: pda_set_file: no complete record in "
            "d02123a.mom\n");
  EXPECT_EQ(outputs(dir, name), names({}));
}

TEST(EndToEndOpen, DataFileCutInsideItsFirstRecordHeader) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  const Bytes record = mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA});
  quellmar::test::write_pair(dir.path(), name,
                             header_bytes(test_header(1, 100)),
                             quellmar::writer::cut(record, 10));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Cannot open file: pda_set_file: no complete record in "
            "d02123a.mom\n");
}

TEST(EndToEndOpen, MissingHeaderFileIsReportedWithTheSystemError) {
  TempDir dir;
  const std::string name = "d02123a.mom";
  quellmar::writer::write_file(dir.file(name),
                               mom(at(2002, 124, 10, 0, 0), 0, 2000, {kGateA}));

  const RunResult r = quellmar::test::run_tool(dir.path(), {name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Cannot open file: pda_set_file: h02123a.mom: No such file or "
            "directory\n");
}

// ---------------------------------------------------------------------------
// The sample pairs in sample/
// ---------------------------------------------------------------------------

// The sample profiler (see writer/sample_main.cpp): site "Quellmar Field
// Site" (values 5231, 1312, 48; 915.00 MHz); wind mode: 40 us, pulse 700,
// first gate (1500 - 700) * 0.15 = 120 m vertically, gates 105 m apart, 30
// gates, 100 integrations, 30 averages, 64 points; RASS mode (beam 5,
// vertical): 31.5 us, pulse 1400, first gate (2200 - 700) * 0.15 = 225 m,
// gates 210 m apart, 10 gates (12 from 23:40 on), 8 integrations, 20
// averages, 2048 points. A wind dwell every 3 minutes, a RASS dwell at
// 01:30, 16:30, 31:30 and 46:30 past every hour, on 4 May 2002 (day 124)
// and on to 00:30 of day 125.
const std::string kSampleHeaderLine =
    " quellmar field site" + std::string(11, ' ') + " 5231  1312    48 91500\n";

std::string sample(const std::string& file) {
  return std::string(QUELLMAR_SOURCE_DIR) + "/sample/" + file;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    v.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return v;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The spectra file runs from 21:45:00; the run writes up to the wind dwell
// of 00:00:00 on day 125: 46 wind and 9 RASS dwells, two summary lines
// each.
TEST(EndToEndSample, SpectraSampleWritesAllThreeKinds) {
  TempDir dir;
  const RunResult r =
      quellmar::test::run_tool(dir.path(), {sample("d02123a.spc")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> out = lines(r.out);
  ASSERT_EQ(out.size(), 2u * (46u + 9u));
  EXPECT_EQ(out[0], "WIND: 0 90   0 102 124 21 45  0");
  EXPECT_EQ(out[1], "SPEC: 0 90   0 102 124 21 45  0");
  EXPECT_EQ(out[2], "RASS: 5 90   0 102 124 21 46 30");
  EXPECT_EQ(out[3], "SPEC: 5 90   0 102 124 21 46 30");
  EXPECT_EQ(out[4], "WIND: 1 75   0 102 124 21 48  0");
  EXPECT_EQ(out[108], "WIND: 0 90   0 102 125  0  0  0");
  EXPECT_EQ(out[109], "SPEC: 0 90   0 102 125  0  0  0");
  EXPECT_EQ(outputs(dir, "-"),
            names({"que102124.rew", "que102124.rat_e", "que102124.ras",
                   "que102125.rew", "que102125.ras"}));

  // Day 125: the one wind dwell of 00:00:00, vertical.
  const std::vector<std::string> rew = lines(read(dir, "que102125.rew"));
  ASSERT_EQ(rew.size(), 33u);
  EXPECT_EQ(rew[0] + "\n", kSampleHeaderLine);
  EXPECT_EQ(rew[1], "0 90   0 102 125  0  0  0");
  EXPECT_EQ(rew[2], "40  700 120 105  30 100 30   64");
  const std::vector<std::string> ras = lines(read(dir, "que102125.ras"));
  ASSERT_EQ(ras.size(), 33u);
  EXPECT_TRUE(starts_with(ras[3], " 0 "));
  EXPECT_TRUE(starts_with(ras[32], "29 "));

  // RASS on day 124: 21:46:30 to 23:31:30 (8 dwells) under the first
  // HeaderBlock (10 gates) and 23:46:30 under the second (12 gates), each
  // block twice.
  const std::vector<std::string> rass = lines(read(dir, "que102124.rat_e"));
  ASSERT_EQ(rass.size(), 1u + 8 * 2 * (2 + 10) + 2 * (2 + 12));
  EXPECT_EQ(rass[0] + "\n", kSampleHeaderLine);
  EXPECT_EQ(rass[1], "5 90   0 102 124 21 46 30");
  EXPECT_EQ(rass[2], "31 1400 225 210  10   8 20 2048");
  EXPECT_EQ(rass[13], "6 90   0 102 124 21 46 30");
  EXPECT_EQ(rass[169], "5 90   0 102 124 23 31 30");
  EXPECT_EQ(rass[193], "5 90   0 102 124 23 46 30");
  EXPECT_EQ(rass[194], "31 1400 225 210  12   8 20 2048");
  EXPECT_EQ(rass[207], "6 90   0 102 124 23 46 30");

  // Wind spectra are whole (64 values); RASS spectra have 2048 places.
  const std::vector<std::string> spec = lines(read(dir, "que102124.ras"));
  ASSERT_GT(spec.size(), 36u);
  EXPECT_EQ(spec[1], "0 90   0 102 124 21 45  0");
  EXPECT_EQ(std::count(spec[3].begin(), spec[3].end(), ' '), 64 + 1);
  EXPECT_EQ(spec[33], "5 90   0 102 124 21 46 30");
  EXPECT_EQ(std::count(spec[35].begin(), spec[35].end(), ' '), 2048 + 1);
}

// The moments file runs from 12:00:00: 241 wind and 48 RASS dwells up to
// 00:00:00 of day 125; no spectra file.
TEST(EndToEndSample, MomentsSampleWritesWindAndRass) {
  TempDir dir;
  const RunResult r =
      quellmar::test::run_tool(dir.path(), {sample("d02123a.mom")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> out = lines(r.out);
  ASSERT_EQ(out.size(), 241u + 48u);
  EXPECT_EQ(out.front(), "WIND: 0 90   0 102 124 12  0  0");
  EXPECT_EQ(out[1], "RASS: 5 90   0 102 124 12  1 30");
  EXPECT_EQ(out.back(), "WIND: 0 90   0 102 125  0  0  0");
  EXPECT_EQ(outputs(dir, "-"),
            names({"que102124.rew", "que102124.rat_e", "que102125.rew"}));
  EXPECT_EQ(lines(read(dir, "que102124.rew")).size(), 1u + 240u * 32u);
  EXPECT_EQ(lines(read(dir, "que102124.rat_e")).size(),
            1u + 47u * 2u * (2u + 10u) + 2u * (2u + 12u));
}

// The committed sample is what the generator writes.
TEST(EndToEndSample, GeneratorWritesTheCommittedSample) {
  TempDir dir;
  const std::string generator =
      (fs::path(QUELLMAR_BINARY).parent_path() / "quellmar-sample").string();
  ASSERT_TRUE(fs::exists(generator)) << generator;
  const std::string command =
      "'" + generator + "' '" + dir.path() + "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const char* file :
       {"d02123a.mom", "h02123a.mom", "d02123a.spc", "h02123a.spc"}) {
    EXPECT_TRUE(quellmar::test::read_text(dir.file(file)) ==
                quellmar::test::read_text(sample(file)))
        << file << " differs from sample/" << file;
  }
}

}  // namespace

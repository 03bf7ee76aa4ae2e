// quellmar-nc, run as built: CF-Radial netCDF conversion. Inputs are made
// with the project's file writer; converted files are read back with the
// netCDF library and compared with what the access module decodes from the
// same pair.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "disk/pda.h"
#include "tests/companion_support.h"
#include "tests/test_support.h"
#include "tool/output_files.h"
#include "writer/format_writer.h"

#ifdef QUELLMAR_NC_BINARY
#include <zlib.h>

#include "methods/netcdf/chunk_pack.h"
#include "tests/nc_read.h"
#endif

namespace {

using namespace quellmar::test::companion;
using quellmar::test::quote;

namespace fs = std::filesystem;
using quellmar::test::join;
using quellmar::test::spectra_record;
using quellmar::test::TempDir;
using quellmar::writer::Bytes;

#ifdef QUELLMAR_NC_BINARY

// ---------------------------------------------------------------------------
// quellmar-nc

quellmar::test::RunResult nc(const std::string& dir,
                             const std::vector<std::string>& args) {
  return run(QUELLMAR_NC_BINARY, dir, args);
}

class NcReader {
 public:
  explicit NcReader(const std::string& path) {
    status_ = nc_open(path.c_str(), NC_NOWRITE, &id_);
  }
  ~NcReader() {
    if (status_ == NC_NOERR) nc_close(id_);
  }
  bool ok() const { return status_ == NC_NOERR; }

  bool has(const char* name) const {
    int v;
    return nc_inq_varid(id_, name, &v) == NC_NOERR;
  }
  size_t length(const char* name) const {
    return quellmar::test::nc_var_length(id_, var(name));
  }
  std::vector<float> floats(const char* name) const {
    std::vector<float> v(length(name));
    EXPECT_EQ(nc_get_var_float(id_, var(name), v.data()), NC_NOERR) << name;
    return v;
  }
  std::vector<double> doubles(const char* name) const {
    std::vector<double> v(length(name));
    EXPECT_EQ(nc_get_var_double(id_, var(name), v.data()), NC_NOERR) << name;
    return v;
  }
  std::vector<int> ints(const char* name) const {
    std::vector<int> v(length(name));
    EXPECT_EQ(nc_get_var_int(id_, var(name), v.data()), NC_NOERR) << name;
    return v;
  }
  // A text attribute; varname nullptr for a global one.
  std::string text(const char* varname, const char* att) const {
    const int v = varname == nullptr ? NC_GLOBAL : var(varname);
    size_t len = 0;
    if (nc_inq_attlen(id_, v, att, &len) != NC_NOERR) return "<none>";
    std::string s(len, '\0');
    nc_get_att_text(id_, v, att, s.data());
    return s;
  }
  float float_att(const char* varname, const char* att) const {
    float f = 0;
    EXPECT_EQ(nc_get_att_float(id_, var(varname), att, &f), NC_NOERR) << att;
    return f;
  }

 private:
  int var(const char* name) const {
    int v = -1;
    EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
    return v;
  }
  int id_ = -1;
  int status_ = -1;
};

// What the access module decodes from the pair, record by record.
struct Decoded {
  int32_t time;
  int32_t beam;
  MomentArrays moments;
};

std::vector<Decoded> decode_all(const std::string& dir,
                                const std::string& name) {
  std::vector<Decoded> out;
  quellmar::test::start_capture();
  quellmar::test::open_pair(dir, name, 0);
  pda_select_radar(-1);
  pda_select_beam(-1);
  int new_header = 0;
  for (int found = pda_first_record(&new_header); found;
       found = pda_next_record(&new_header)) {
    Decoded d;
    int32_t y, day, h, mi, s;
    d.time = pda_get_time(&y, &day, &h, &mi, &s);
    d.beam = pda_get_record_beam();
    d.moments = std::move(pda_moments);
    pda_release_moments();
    out.push_back(std::move(d));
  }
  pda_reset();
  quellmar::test::stop_capture();
  return out;
}

// Standard header with a second mode (6 gates, wider spacing, a delay
// offset) used by beam 4.
quellmar::writer::HeaderSpec two_mode_header() {
  quellmar::writer::HeaderSpec h = quellmar::test::standard_header(4, 64);
  h.modes[1] = h.modes[0];
  h.modes[1].ipp_ns = 60000;
  h.modes[1].first_gate_delay_ns = 4000;
  h.modes[1].gate_spacing_ns = 1400;
  h.modes[1].delay_offset_ns = 300;
  h.modes[1].gate_count = 6;
  h.modes[1].coherent_integrations = 50;
  h.beams[4].mode_index = 1;
  h.directions[4].elevation = 7550;  // hundredths of a degree
  return h;
}

TEST(QuellmarNc, HoldsTheDecodedValuesTimesAnglesAndRangesOfEveryRecord) {
  TempDir dir;
  const std::vector<Bytes> records = {
      record_16(kT0, 0, 4),
      quellmar::test::moments_record(kT0 + 60, 1, 4),
      record_16(kT0 + 120, 4, 6, 1116, 0, 50),
      quellmar::test::moments_record(kT0 + 180, 4, 6),
      record_16(kT0 - 30, 0, 4),
  };
  quellmar::test::write_pair(dir.path(), "d02123a.mom",
                             quellmar::writer::encode_header(two_mode_header()),
                             join(records));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "out.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;  // no terminal, no damage: silent

  NcReader f(dir.file("out.nc"));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.text(nullptr, "Conventions").rfind("CF/Radial", 0), 0u);
  EXPECT_EQ(f.text(nullptr, "version"), "1.4");
  EXPECT_EQ(f.text(nullptr, "instrument_name"), "ABCD Profiler");
  EXPECT_EQ(f.text(nullptr, "instrument_type"), "radar");
  EXPECT_EQ(f.text(nullptr, "platform_type"), "fixed");
  EXPECT_EQ(f.text(nullptr, "time_coverage_start"), "2002-05-02T23:59:30Z");
  EXPECT_EQ(f.text(nullptr, "time_coverage_end"), "2002-05-03T00:03:00Z");
  EXPECT_EQ(f.text("time", "units"), "seconds since 2002-05-03T00:00:00Z");
  for (const char* name :
       {"volume_number", "time_coverage_start", "time_coverage_end", "latitude",
        "longitude", "altitude", "sweep_number", "sweep_mode", "fixed_angle",
        "sweep_start_ray_index", "sweep_end_ray_index"}) {
    EXPECT_TRUE(f.has(name)) << name;
  }
  EXPECT_FALSE(f.has("spectra"));

  // One ray per record, in file order.
  EXPECT_EQ(f.doubles("time"), (std::vector<double>{0, 60, 120, 180, -30}));
  EXPECT_EQ(f.floats("azimuth"), (std::vector<float>{0, 0, 270, 270, 0}));
  EXPECT_EQ(f.floats("elevation"),
            (std::vector<float>{90, 75, 75.5f, 75.5f, 90}));
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{4, 4, 6, 6, 4}));
  EXPECT_EQ(f.ints("ray_start_index"), (std::vector<int>{0, 4, 8, 14, 20}));
  EXPECT_EQ(f.ints("beam_index"), (std::vector<int>{0, 1, 4, 4, 0}));
  EXPECT_EQ(f.ints("datacode"),
            (std::vector<int>{2100, 2000, 1116, 2000, 2100}));
  // Ranges: (first gate delay - delay offset + g spacings) x 0.15 m/ns.
  EXPECT_EQ(f.floats("ray_start_range"),
            (std::vector<float>{375, 375, 555, 555, 375}));
  EXPECT_EQ(f.floats("ray_gate_spacing"),
            (std::vector<float>{105, 105, 210, 210, 105}));
  EXPECT_EQ(f.floats("range"),
            (std::vector<float>{555, 765, 975, 1185, 1395, 1605}));
  EXPECT_EQ(f.float_att("range", "meters_between_gates"), 210.0f);
  // Sweeps: runs of one beam.
  EXPECT_EQ(f.ints("sweep_start_ray_index"), (std::vector<int>{0, 1, 2, 4}));
  EXPECT_EQ(f.ints("sweep_end_ray_index"), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(f.floats("fixed_angle"), (std::vector<float>{90, 75, 75.5f, 90}));

  // Documented values: V = 20.478142 m/s for 915 MHz, 40 us, 100
  // integrations; a velocity count of 5000 is 10.239071 m/s; SNR 1000 and
  // noise -4500 hundredths of a dB with 64 points give a signal power of
  // 0.020238578, -16.9382 dB.
  const std::vector<float> vel = f.floats("VEL");
  const std::vector<float> snr = f.floats("SNR");
  const std::vector<float> noise = f.floats("NOISE");
  const std::vector<float> power = f.floats("SIGNAL_POWER");
  EXPECT_FLOAT_EQ(f.floats("nyquist_velocity")[0], 20.478142f);
  EXPECT_FLOAT_EQ(vel[0], 10.239071f);
  EXPECT_EQ(snr[0], 10.0f);
  EXPECT_EQ(noise[0], -45.0f);
  EXPECT_NEAR(power[0], -16.9382f, 5e-5f);

  // Every value is the module's decoded float, unchanged.
  const std::vector<Decoded> decoded = decode_all(dir.path(), "d02123a.mom");
  ASSERT_EQ(decoded.size(), records.size());
  const std::vector<float> width = f.floats("WIDTH");
  const std::vector<float> vel2 = f.floats("VEL2");
  const std::vector<float> width2 = f.floats("WIDTH2");
  const std::vector<float> snr2 = f.floats("SNR2");
  const std::vector<float> power2 = f.floats("SIGNAL_POWER2");
  const std::vector<float> aux2 = f.floats("AUX2");
  const std::vector<int> start = f.ints("ray_start_index");
  const float fill = f.float_att("VEL", "_FillValue");
  EXPECT_EQ(fill, -9999.0f);
  for (size_t i = 0; i < decoded.size(); ++i) {
    const MomentArrays& m = decoded[i].moments;
    const bool second = i == 2;
    for (int64_t g = 0; g < m.gate_count; ++g) {
      SCOPED_TRACE("ray " + std::to_string(i) + " gate " + std::to_string(g));
      const size_t k = static_cast<size_t>(start[i] + g);
      EXPECT_EQ(vel[k], m.velocity[g]);
      EXPECT_EQ(width[k], m.width[g]);
      EXPECT_EQ(snr[k], m.snr[g]);
      EXPECT_EQ(noise[k], m.noise[g]);
      EXPECT_EQ(power[k], pda_power_db(m.signal_power[g]));
      EXPECT_EQ(vel2[k], second ? m.velocity2[g] : fill);
      EXPECT_EQ(width2[k], second ? m.width2[g] : fill);
      EXPECT_EQ(snr2[k], second ? m.snr2[g] : fill);
      EXPECT_EQ(power2[k], second ? pda_power_db(m.signal_power2[g]) : fill);
      EXPECT_EQ(aux2[k], second ? m.aux2[g] : fill);
    }
  }
  EXPECT_EQ(aux2[8], -12.3f);  // an auxiliary count of -123
}

TEST(QuellmarNc, EachRayTakesItsOwnHeaderBlock) {
  TempDir dir;
  // Beam 1 runs on across the change of HeaderBlock, which tilts it from
  // 75 to 80 degrees and gives its mode 6 gates instead of 4.
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom", two_blocks(),
      join({quellmar::test::moments_record(kT0, 1, 4),
            quellmar::test::moments_record(kT0 + 60, 1, 4),
            quellmar::test::moments_record(kT0 + 120, 1, 6, 0, 568),
            quellmar::test::moments_record(kT0 + 180, 0, 6, 0, 568)}));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "o.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader f(dir.file("o.nc"));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.floats("elevation"), (std::vector<float>{75, 75, 80, 90}));
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{4, 4, 6, 6}));
  EXPECT_EQ(f.ints("ray_start_index"), (std::vector<int>{0, 4, 8, 14}));
  EXPECT_EQ(f.length("VEL"), 20u);
  // A new elevation starts a new sweep, as a new beam does.
  EXPECT_EQ(f.ints("sweep_start_ray_index"), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(f.ints("sweep_end_ray_index"), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(f.floats("fixed_angle"), (std::vector<float>{75, 80, 90}));
}

TEST(QuellmarNc, FailedConversionLeavesNoFileBehind) {
  TempDir dir;
  const Bytes header =
      quellmar::writer::encode_header(quellmar::test::standard_header());
  // Beam 7 is outside the five beams of the header: quellmar stops there
  // too ("Cannot get information for beam 7").
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom", header,
      join({quellmar::test::moments_record(kT0, 0, 4),
            quellmar::test::moments_record(kT0 + 60, 7, 4)}));
  quellmar::test::RunResult r = nc(dir.path(), {"d02123a.mom", "-o", "out.nc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("beam 7"), std::string::npos) << r.err;

  // A folder that does not exist.
  quellmar::test::write_pair(dir.path(), "d02124a.mom", header,
                             quellmar::test::moments_record(kT0, 0, 4));
  r = nc(dir.path(), {"d02124a.mom", "-o", "missing/out.nc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing/out.nc"), std::string::npos) << r.err;

  // No record of the radar asked for.
  r = nc(dir.path(), {"d02124a.mom", "--radar", "1", "-o", "out.nc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no record of radar 1"), std::string::npos) << r.err;

  // Pair that cannot be opened, and a header file given for its data file.
  r = nc(dir.path(), {"d09999a.mom", "-o", "out.nc"});
  EXPECT_EQ(r.status, 1);
  r = nc(dir.path(),
         {"../" + fs::path(dir.path()).filename().string() + "/h02124a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      r.err.find("h02124a.mom: this is a header file; give its data "
                 "file ../" +
                 fs::path(dir.path()).filename().string() + "/d02124a.mom\n"),
      std::string::npos)
      << r.err;

  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    left.push_back(e.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"d02123a.mom", "d02124a.mom",
                                            "h02123a.mom", "h02124a.mom"}));

  EXPECT_EQ(nc(dir.path(), {}).status, 2);
  EXPECT_EQ(nc(dir.path(), {"d02124a.mom", "--radar", "x"}).status, 2);
  EXPECT_EQ(nc(dir.path(), {"d02124a.mom", "-o"}).status, 2);
}

TEST(QuellmarNc, WritesIntoTheCurrentFolderAndReportsDamageOnStderr) {
  TempDir dir;
  fs::create_directory(dir.file("in"));
  const Bytes r0 = quellmar::test::moments_record(kT0, 0, 4);
  quellmar::test::write_pair(
      dir.file("in"), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      join({r0, r0, quellmar::writer::cut(r0, r0.size() - 4)}));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"in/d02123a.mom", "--radar", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("cut_record"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("data offset " + std::to_string(2 * r0.size())),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(quellmar::test::file_exists(dir.file("in/d02123a.mom.nc")));
  NcReader f(dir.file("d02123a.mom.nc"));
  ASSERT_TRUE(f.ok());
  // The cut record is converted as the module decodes it, like quellmar
  // writes it.
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{4, 4, 4}));
}

TEST(QuellmarNc, ReportsTheFindingsOfQuellmarInfo) {
  TempDir dir;
  const Bytes r0 = quellmar::test::moments_record(kT0, 0, 4);
  Bytes bad_trailer = quellmar::test::moments_record(kT0 + 1, 1, 4);
  bad_trailer.patch_i16(bad_trailer.size() - 2, 999);
  std::vector<Bytes> records = {
      r0, bad_trailer, quellmar::test::moments_record(kT0 + 2, 1, 4, 0, 9000),
      quellmar::test::moments_record(kT0 + 3, 1, 4, 0, 9000)};
  for (int i = 0; i < 22; ++i) {
    records.push_back(quellmar::test::moments_record(kT0 + 4 + i, 2, 4, 1));
  }
  records.push_back(quellmar::writer::cut(r0, 7));
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      join(records));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "o.nc"});
  ASSERT_EQ(r.status, 0) << r.err;

  // The first twenty of quellmar-info's findings, in its words, then a
  // count of the rest.
  const Json doc = parse_json(info(dir.path(), {"d02123a.mom", "--json"}).out);
  const std::vector<Json>& damage = doc["damage"].items;
  ASSERT_EQ(damage.size(), 25u);
  std::string wanted;
  for (size_t i = 0; i < 20; ++i) {
    wanted += "quellmar-nc: d02123a.mom: data offset " +
              std::to_string(damage[i]["offset"].integer()) + ": " +
              damage[i]["kind"].text + ": " + damage[i]["detail"].text + "\n";
  }
  wanted +=
      "quellmar-nc: d02123a.mom: 5 more finding(s); quellmar-info lists them "
      "all\n";
  EXPECT_EQ(r.err, wanted);
  EXPECT_NE(r.err.find("2 record(s) name it"), std::string::npos);
}

// A spectra header: mode 0 of `points` spectral points (beams 0 to 3) and
// mode 1 of `long_points` (beam 4), both of `gates` gates. Window 2 holds
// points 1 to 8 and is placed, window 1 points 9 to 64, so that a line is
// as long as the mode's spectral points and its value k (k < 64) is row
// value k.
quellmar::writer::HeaderSpec spectra_header(int gates, int points,
                                            int long_points) {
  quellmar::writer::HeaderSpec h =
      quellmar::test::standard_header(gates, points);
  h.modes[1] = h.modes[0];
  h.modes[1].spectral_points = static_cast<int16_t>(long_points);
  h.beams[4].mode_index = 1;
  h.window2_start = 1;
  h.window2_points = 8;
  h.window1_start = 9;
  h.window1_points = 56;
  h.spectrum_extra[0] = 1;
  return h;
}

// Every variable of the file as raw bytes, by name.
std::vector<std::pair<std::string, std::vector<char>>> all_values(
    const std::string& path) {
  std::vector<std::pair<std::string, std::vector<char>>> out;
  int id = -1;
  if (nc_open(path.c_str(), NC_NOWRITE, &id) != NC_NOERR) return out;
  int count = 0;
  nc_inq_nvars(id, &count);
  for (int v = 0; v < count; ++v) {
    char name[NC_MAX_NAME + 1];
    nc_type type;
    int dims = 0;
    int dim_ids[NC_MAX_VAR_DIMS];
    nc_inq_var(id, v, name, &type, &dims, dim_ids, nullptr);
    size_t bytes = 0;
    nc_inq_type(id, type, nullptr, &bytes);
    for (int d = 0; d < dims; ++d) {
      size_t len = 0;
      nc_inq_dimlen(id, dim_ids[d], &len);
      bytes *= len;
    }
    std::vector<char> values(bytes);
    EXPECT_EQ(nc_get_var(id, v, values.data()), NC_NOERR) << name;
    out.emplace_back(name, std::move(values));
  }
  nc_close(id);
  return out;
}

TEST(QuellmarNc, EveryDeflateLevelKeepsEverySpectrumValue) {
  TempDir dir;
  // Forty short-spectrum rays first: whole blocks of gates whose lines all
  // end at 64 points, then rays of 256 points, then short ones again.
  std::vector<Bytes> records;
  for (int i = 0; i < 40; ++i) {
    records.push_back(spectra_record(kT0 + i, 0, 4, 64, 7u + i));
  }
  records.push_back(spectra_record(kT0 + 40, 4, 4, 256, 99));
  records.push_back(spectra_record(kT0 + 41, 4, 4, 256, 98));
  for (int i = 0; i < 10; ++i) {
    records.push_back(spectra_record(kT0 + 42 + i, 1, 4, 64, 200u + i));
  }
  quellmar::test::write_pair(
      dir.path(), "d02123a.spc",
      quellmar::writer::encode_header(spectra_header(4, 64, 256)),
      join(records));
  const std::vector<Decoded> decoded = decode_all(dir.path(), "d02123a.spc");
  ASSERT_EQ(decoded.size(), records.size());

  std::vector<std::pair<std::string, std::vector<char>>> first;
  for (const char* level : {"0", "1", "9"}) {
    SCOPED_TRACE(std::string("--deflate ") + level);
    const std::string out = std::string("l") + level + ".nc";
    const quellmar::test::RunResult r =
        nc(dir.path(), {"d02123a.spc", "--deflate", level, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    {
      NcReader f(dir.file(out));
      ASSERT_TRUE(f.ok());
      ASSERT_EQ(f.length("spectra"), 52u * 4u * 256u);
      const std::vector<float> spectra = f.floats("spectra");
      for (size_t i = 0; i < decoded.size(); ++i) {
        const MomentArrays& m = decoded[i].moments;
        const size_t line = decoded[i].beam == 4 ? 256 : 64;
        for (int64_t g = 0; g < m.gate_count; ++g) {
          const float* row = m.spectra_row(g);
          const float* got = &spectra[(i * 4 + static_cast<size_t>(g)) * 256];
          for (size_t k = 0; k < 256; ++k) {
            const float want = k < 64 ? row[k] : k < line ? 0.0f : -9999.0f;
            ASSERT_EQ(got[k], want)
                << "ray " << i << " gate " << g << " point " << k;
          }
        }
      }
    }
    int id = -1, var = -1, shuffle = -1, deflate = -1, deflate_level = -1;
    ASSERT_EQ(nc_open(dir.file(out).c_str(), NC_NOWRITE, &id), NC_NOERR);
    nc_inq_varid(id, "spectra", &var);
    nc_inq_var_deflate(id, var, &shuffle, &deflate, &deflate_level);
    nc_close(id);
    EXPECT_EQ(deflate != 0 ? deflate_level : 0, std::atoi(level));
    EXPECT_EQ(shuffle != 0, std::atoi(level) != 0);

    const auto values = all_values(dir.file(out));
    if (first.empty()) {
      first = values;
    } else {
      EXPECT_TRUE(values == first) << "variables differ from --deflate 0";
    }
  }
}

// The default compression writes HDF5's standard deflate filter after
// shuffle, at level 1: a reader without this program's compressor (the
// netCDF library in this test, nccopy) reads the values the uncompressed
// file holds, and the file is about as small as zlib makes it.
TEST(QuellmarNc, DefaultCompressionIsStandardDeflateThatEveryReaderReads) {
  TempDir dir;
  const std::string pair =
      std::string(QUELLMAR_SOURCE_DIR) + "/sample/d02123a.spc";
  ASSERT_EQ(nc(dir.path(), {pair, "-o", "packed.nc"}).status, 0);
  ASSERT_EQ(nc(dir.path(), {pair, "--deflate", "0", "-o", "plain.nc"}).status,
            0);
  const auto plain = all_values(dir.file("plain.nc"));
  ASSERT_FALSE(plain.empty());
  EXPECT_TRUE(all_values(dir.file("packed.nc")) == plain)
      << "the compressed file reads back other values";

  int id = -1;
  ASSERT_EQ(nc_open(dir.file("packed.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  std::vector<std::string> compressed;
  for (const auto& [name, values] : plain) {
    int var = -1, shuffle = 0, deflate = 0, level = 0;
    nc_inq_varid(id, name.c_str(), &var);
    nc_inq_var_deflate(id, var, &shuffle, &deflate, &level);
    if (deflate == 0) continue;
    compressed.push_back(name);
    EXPECT_NE(shuffle, 0) << name;
    EXPECT_EQ(level, 1) << name;
  }
  nc_close(id);
  EXPECT_NE(std::find(compressed.begin(), compressed.end(), "spectra"),
            compressed.end());
  EXPECT_NE(std::find(compressed.begin(), compressed.end(), "VEL"),
            compressed.end());

  // nccopy inflates every chunk with HDF5's own filter and deflates it
  // again with zlib, keeping the level, shuffle and chunks.
  const quellmar::test::RunResult copy =
      run("nccopy", dir.path(), {"packed.nc", "zlib.nc"});
  if (copy.status == 127) GTEST_SKIP() << "no nccopy (Debian netcdf-bin)";
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_TRUE(all_values(dir.file("zlib.nc")) == plain)
      << "nccopy reads other values";
  const auto packed_size = std::filesystem::file_size(dir.file("packed.nc"));
  const auto zlib_size = std::filesystem::file_size(dir.file("zlib.nc"));
  EXPECT_LE(packed_size, zlib_size + zlib_size / 10);
}

// Codes shared between chunks give standard streams whatever chunk they
// were made from: a chunk of noise packed with the codes of a chunk of
// fill values (whose bytes the codes hardly know), and the other way
// round, inflates with zlib to its own shuffled bytes.
TEST(QuellmarNc, SharedDeflateCodesGiveStreamsOfTheChunksOwnBytes) {
  const size_t count = 32 * 256;
  std::vector<float> noise(count), fill(count, -9999.0f);
  uint32_t state = 12345u;
  for (float& v : noise) {
    state = state * 1664525u + 1013904223u;
    v = 1e-3f * (1.0f + static_cast<float>(state >> 8) / 16777216.0f);
  }
  const size_t bytes = count * sizeof(float);
  const auto noise_codes =
      quellmar::companions::deflate_codes(noise.data(), bytes, sizeof(float));
  const auto fill_codes =
      quellmar::companions::deflate_codes(fill.data(), bytes, sizeof(float));
  const std::vector<float>* chunks[2] = {&noise, &fill};
  const quellmar::companions::DeflateCodes* codes[3] = {
      nullptr, noise_codes.get(), fill_codes.get()};
  for (const std::vector<float>* chunk : chunks) {
    std::vector<unsigned char> shuffled(bytes);
    const auto* in = reinterpret_cast<const unsigned char*>(chunk->data());
    for (size_t i = 0; i < count; ++i) {
      for (size_t k = 0; k < 4; ++k) shuffled[k * count + i] = in[4 * i + k];
    }
    for (const quellmar::companions::DeflateCodes* c : codes) {
      SCOPED_TRACE(std::string(chunk == &noise ? "noise" : "fill") +
                   (c == nullptr            ? ", own codes"
                    : c == fill_codes.get() ? ", codes of fill"
                                            : ", codes of noise"));
      std::vector<unsigned char> stored;
      ASSERT_TRUE(quellmar::companions::pack_chunk(
          chunk->data(), bytes, sizeof(float), 1, &stored, c));
      std::vector<unsigned char> back(bytes);
      uLongf length = back.size();
      ASSERT_EQ(uncompress(back.data(), &length, stored.data(), stored.size()),
                Z_OK);
      ASSERT_EQ(length, bytes);
      EXPECT_TRUE(back == shuffled);
    }
  }
}

// The netCDF library's own Granular BitRound of the values: written
// through it into a variable that it quantizes, and read back.
std::vector<float> library_quantized(const std::string& path,
                                     const std::vector<float>& values,
                                     int digits) {
  int id = -1, dim = -1, var = -1;
  EXPECT_EQ(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &id), NC_NOERR);
  nc_def_dim(id, "n", values.size(), &dim);
  nc_def_var(id, "v", NC_FLOAT, 1, &dim, &var);
  const float fill = -9999.0f;
  nc_put_att_float(id, var, "_FillValue", NC_FLOAT, 1, &fill);
  EXPECT_EQ(nc_def_var_quantize(id, var, NC_QUANTIZE_GRANULARBR, digits),
            NC_NOERR);
  nc_enddef(id);
  EXPECT_EQ(nc_put_var_float(id, var, values.data()), NC_NOERR);
  std::vector<float> out(values.size());
  EXPECT_EQ(nc_get_var_float(id, var, out.data()), NC_NOERR);
  nc_close(id);
  return out;
}

int digits_attribute(const std::string& path, const char* name) {
  int id = -1, var = -1, digits = -1;
  if (nc_open(path.c_str(), NC_NOWRITE, &id) != NC_NOERR) return -2;
  nc_inq_varid(id, name, &var);
  if (nc_get_att_int(id, var, NC_QUANTIZE_GRANULARBR_ATT_NAME, &digits) !=
      NC_NOERR) {
    digits = -1;
  }
  nc_close(id);
  return digits;
}

// --significant-digits N keeps the float fields and the spectra to N
// significant digits bit for bit as the netCDF library quantizes them
// (and the library's attribute says so), at every deflate level; the ray
// variables stay exact, and the file is smaller.
TEST(QuellmarNc, SignificantDigitsQuantizeAsTheLibraryDoes) {
  TempDir dir;
  const std::string pair =
      std::string(QUELLMAR_SOURCE_DIR) + "/sample/d02123a.spc";
  ASSERT_EQ(nc(dir.path(), {pair, "-o", "exact.nc"}).status, 0);
  for (const char* level : {"1", "0"}) {
    const std::string out = std::string("q") + level + ".nc";
    const quellmar::test::RunResult r =
        nc(dir.path(),
           {pair, "--significant-digits", "3", "--deflate", level, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    NcReader exact(dir.file("exact.nc"));
    NcReader q(dir.file(out));
    for (const char* name :
         {"VEL", "WIDTH", "SNR", "NOISE", "SIGNAL_POWER", "spectra"}) {
      EXPECT_EQ(digits_attribute(dir.file(out), name), 3) << name;
      EXPECT_EQ(digits_attribute(dir.file("exact.nc"), name), -1) << name;
      const std::vector<float> plain = exact.floats(name);
      const std::vector<float> want =
          library_quantized(dir.file("library.nc"), plain, 3);
      const std::vector<float> got = q.floats(name);
      ASSERT_EQ(got.size(), want.size()) << name;
      EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * 4), 0)
          << name << " at deflate " << level;
      EXPECT_NE(got, plain) << name;
    }
    EXPECT_EQ(q.doubles("time"), exact.doubles("time"));
    EXPECT_EQ(q.floats("azimuth"), exact.floats("azimuth"));
  }
  EXPECT_LT(fs::file_size(dir.file("q1.nc")),
            fs::file_size(dir.file("exact.nc")) * 3 / 4);
}

TEST(QuellmarNc, RaysWithoutGatesGiveEmptyFields) {
  TempDir dir;
  // n_points is then an unlimited dimension of length 0.
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header(0, 64)),
      join({quellmar::test::moments_record(kT0, 0, 0),
            quellmar::test::moments_record(kT0 + 5, 1, 0)}));
  quellmar::test::RunResult r = nc(dir.path(), {"d02123a.mom", "-o", "z.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader f(dir.file("z.nc"));
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{0, 0}));
  EXPECT_EQ(f.length("VEL"), 0u);
  EXPECT_EQ(f.ints("sweep_start_ray_index"), (std::vector<int>{0, 1}));
  quellmar::test::write_pair(
      dir.path(), "d02124a.spc",
      quellmar::writer::encode_header(spectra_header(0, 64, 64)),
      join({spectra_record(kT0, 0, 0, 64, 1)}));
  r = nc(dir.path(), {"d02124a.spc", "-o", "s.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader g(dir.file("s.nc"));
  EXPECT_EQ(g.length("spectra"), 0u);
}

TEST(QuellmarNc, LocationOptionsFillTheLocationVariables) {
  TempDir dir;
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      quellmar::test::moments_record(kT0, 0, 4));
  quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "none.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = nc(dir.path(), {"d02123a.mom", "-o", "site.nc", "--latitude", "47.8",
                      "--longitude", "-11.25", "--altitude", "1500.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  {
    NcReader none(dir.file("none.nc"));
    NcReader site(dir.file("site.nc"));
    ASSERT_TRUE(none.ok() && site.ok());
    for (const char* name : {"latitude", "longitude", "altitude"}) {
      EXPECT_EQ(none.doubles(name), std::vector<double>{-9999.0}) << name;
    }
    EXPECT_EQ(site.doubles("latitude"), std::vector<double>{47.8});
    EXPECT_EQ(site.doubles("longitude"), std::vector<double>{-11.25});
    EXPECT_EQ(site.doubles("altitude"), std::vector<double>{1500.5});
    EXPECT_EQ(site.text("latitude", "units"), "degrees_north");
    // Only what was given is filled.
    EXPECT_EQ(site.floats("VEL"), none.floats("VEL"));
  }
  r = nc(dir.path(), {"d02123a.mom", "-o", "half.nc", "--altitude", "20"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader half(dir.file("half.nc"));
  EXPECT_EQ(half.doubles("latitude"), std::vector<double>{-9999.0});
  EXPECT_EQ(half.doubles("altitude"), std::vector<double>{20.0});

  // Values out of range or not numbers are wrong command lines.
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--latitude", "91"},
        {"--latitude", "nan"},
        {"--longitude", "east"},
        {"--altitude"},
        {"--deflate", "10"},
        {"--deflate", "-1"},
        {"--deflate", ""},
        {"--significant-digits", "0"},
        {"--significant-digits", "8"}}) {
    std::vector<std::string> args = {"d02123a.mom", "-o", "bad.nc"};
    args.insert(args.end(), bad.begin(), bad.end());
    r = nc(dir.path(), args);
    EXPECT_EQ(r.status, 2) << bad.front();
    EXPECT_NE(r.err.find(bad.front()), std::string::npos) << r.err;
  }
  EXPECT_FALSE(quellmar::test::file_exists(dir.file("bad.nc")));
}

// The names in a folder, sorted.
std::vector<std::string> folder_names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(QuellmarNc, TerminatedConversionLeavesNoFileAndEndsBySignal) {
  TempDir dir;
  // Enough spectra that compressing them at level 9 takes a while.
  quellmar::writer::HeaderSpec header = spectra_header(32, 2048, 2048);
  std::vector<Bytes> records;
  for (int i = 0; i < 80; ++i) {
    records.push_back(spectra_record(kT0 + i, static_cast<int16_t>(i % 4), 32,
                                     2048, static_cast<uint32_t>(i)));
  }
  quellmar::test::write_pair(dir.path(), "d02123a.spc",
                             quellmar::writer::encode_header(header),
                             join(records));
  const std::vector<std::string> before = folder_names(dir.path());

  for (const int signal_number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal_number));
    const std::string binary = QUELLMAR_NC_BINARY;
    const std::string data = dir.file("d02123a.spc");
    const std::string out = dir.file("out.nc");
    std::vector<char*> argv;
    for (const std::string* a : {&binary, &data}) {
      argv.push_back(const_cast<char*>(a->c_str()));
    }
    char o[] = "-o", deflate[] = "--deflate", nine[] = "9";
    argv.insert(argv.end(),
                {o, const_cast<char*>(out.c_str()), deflate, nine, nullptr});
    // The child starts with the signals' default actions, whatever this
    // process has.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    ASSERT_EQ(
        posix_spawn(&pid, binary.c_str(), nullptr, &attr, argv.data(), environ),
        0);
    posix_spawnattr_destroy(&attr);

    // Once the temporary file is there, the conversion is under way.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool started = false;
    while (!started && std::chrono::steady_clock::now() < deadline) {
      for (const std::string& name : folder_names(dir.path())) {
        started |= name.rfind("out.nc.tmp-", 0) == 0;
      }
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(started);
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal_number);
    }
    EXPECT_EQ(folder_names(dir.path()), before);
  }
}

#endif  // QUELLMAR_NC_BINARY

}  // namespace

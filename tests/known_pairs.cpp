// quellmar-known-pairs: writes file pairs with chosen values for the tests of
// the Python readers and of quellmar-plot.
//
//   quellmar-known-pairs OUTDIR
//
// OUTDIR/d02123a.mom + h02123a.mom, moments of 3 May 2002 (datacode 2100):
//   - mode 0: 8 gates from 450 m, 105 m apart; mode 1: 6 gates from 450 m,
//     210 m apart, 8 gates in the second HeaderBlock (offset 568, in force
//     from 12:00 on);
//   - beam 0 vertical and beam 1 east at 75 degrees in mode 0, beam 2
//     vertical in mode 1;
//   - records every 5 minutes from 00:00 to 05:55 and from 12:00 to 17:55
//     (none in between): beam 0 on the minute, beam 1 100 s later, beam 2
//     200 s later;
//   - SNR: beam 0 10 dB in gates 0-3 and 30 dB in gates 4-7 before noon,
//     20 dB everywhere after; beam 1 15 dB, except 17.25 dB in gate 5 of the
//     record of 01:01:40; beam 2 5 dB;
//   - velocity count 1000 (0.1 of the Nyquist velocity), width count 500,
//     noise 40 dB everywhere.
// OUTDIR/d02124a.spc + h02124a.spc, spectra of 4 May 2002 (datacode 3100):
//   - mode 0: 8 gates from 450 m, 105 m apart, 64 spectral points, one
//     window over all of them;
//   - three records of beam 0, 1 and 0 at 00:00, 00:01 and 00:02;
//   - every spectrum: gates 0-3 hold 10.0 in points 0-31 and 1000.0 in
//     points 32-63, gates 4-7 hold 100.0 (10, 30 and 20 dB).

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "writer/format_writer.h"

namespace {

using quellmar::writer::Bytes;
using quellmar::writer::GateMoments;
using quellmar::writer::HeaderSpec;
using quellmar::writer::Layout;
using quellmar::writer::RecordSpec;

constexpr std::int32_t kMay3 = 1020384000;  // 2002-05-03 00:00:00 UTC
constexpr std::int32_t kMay4 = kMay3 + 86400;

HeaderSpec moments_header(bool second) {
  HeaderSpec h;
  h.site_name = "Known Site";
  h.beam_count = 3;
  h.modes[0].first_gate_delay_ns = 3000;
  h.modes[0].gate_spacing_ns = 700;
  h.modes[0].gate_count = 8;
  h.modes[1] = h.modes[0];
  h.modes[1].gate_spacing_ns = 1400;
  h.modes[1].gate_count = second ? 8 : 6;
  h.directions[0] = {"VERTICAL", 0, 90, 0};
  h.directions[1] = {"EAST", 90, 75, 0};
  h.beams[0] = {0, 0, 0};
  h.beams[1] = {1, 0, 0};
  h.beams[2] = {0, 1, 0};
  return h;
}

// SNR in hundredths of a dB of gate g of a record of `beam` at `t`.
std::int16_t moments_snr(int beam, std::int32_t t, int g) {
  const bool morning = t < kMay3 + 12 * 3600;
  if (beam == 0) return morning ? (g < 4 ? 1000 : 3000) : 2000;
  if (beam == 1) return t == kMay3 + 3600 + 100 && g == 5 ? 1725 : 1500;
  return 500;
}

Bytes moments_data() {
  Bytes data;
  for (int half = 0; half < 2; ++half) {
    for (int i = 0; i < 72; ++i) {
      const std::int32_t minute = kMay3 + half * 12 * 3600 + i * 300;
      for (int beam = 0; beam < 3; ++beam) {
        const std::int32_t t = minute + beam * 100;
        const int gates = beam == 2 && half == 0 ? 6 : 8;
        quellmar::writer::BodySpec body;
        body.datacode = 2100;
        for (int g = 0; g < gates; ++g) {
          body.moments.push_back(
              GateMoments{1000, 500, moments_snr(beam, t, g), 4000});
        }
        RecordSpec r;
        r.datacode = 2100;
        r.layout = Layout::M;
        r.has_overrides = true;
        r.header_offset = half == 0 ? 0 : 568;
        r.record_time = t;
        r.beam_index = static_cast<std::int16_t>(beam);
        r.body = quellmar::writer::encode_body(body);
        data.append(quellmar::writer::encode_record(r));
      }
    }
  }
  return data;
}

HeaderSpec spectra_header() {
  HeaderSpec h = moments_header(false);
  h.beam_count = 2;
  h.modes[0].spectral_points = 64;
  h.window1_start = 1;
  h.window1_points = 64;
  return h;
}

Bytes spectra_data() {
  Bytes data;
  const int beams[3] = {0, 1, 0};
  for (int i = 0; i < 3; ++i) {
    quellmar::writer::BodySpec body;
    body.datacode = 3100;
    for (int g = 0; g < 8; ++g) {
      body.moments.push_back(GateMoments{1000, 500, 2000, 4000});
      std::vector<float> row(64);
      for (int k = 0; k < 64; ++k) {
        row[k] = g >= 4 ? 100.0f : (k < 32 ? 10.0f : 1000.0f);
      }
      body.spectra.push_back(row);
    }
    RecordSpec r;
    r.datacode = 3100;
    r.layout = Layout::N;
    r.spectra_flag = 1;
    r.record_time = kMay4 + 60 * i;
    r.beam_index = static_cast<std::int16_t>(beams[i]);
    r.body = quellmar::writer::encode_body(body);
    data.append(quellmar::writer::encode_record(r));
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: quellmar-known-pairs OUTDIR\n", stderr);
    return 2;
  }
  const std::string dir = argv[1];
  try {
    Bytes header = quellmar::writer::encode_header(moments_header(false));
    header.append(quellmar::writer::encode_header(moments_header(true)));
    quellmar::writer::write_file(dir + "/h02123a.mom", header);
    quellmar::writer::write_file(dir + "/d02123a.mom", moments_data());
    quellmar::writer::write_file(
        dir + "/h02124a.spc",
        quellmar::writer::encode_header(spectra_header()));
    quellmar::writer::write_file(dir + "/d02124a.spc", spectra_data());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

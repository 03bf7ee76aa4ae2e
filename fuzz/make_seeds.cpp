// quellmar-fuzz-seeds: writes the seed corpora of the fuzz targets.
//
//   quellmar-fuzz-seeds OUTDIR
//
// writes OUTDIR/header/* (inputs of header_fuzzer), OUTDIR/records/*
// (inputs of records_fuzzer and tool_flow_fuzzer) and OUTDIR/wind/* (wind
// fields under ordinary and hostile beam geometry, for wind_fuzzer), all
// made with the project's own file writer: every record layout (N, S, M),
// every datacode family (2000, 2100, 1016, 1017, 1116, 1117, 3016, 3017,
// 3117), spectral window shapes (one window, two windows, an empty window 1,
// windows overlapping or reaching past the spectrum), both HeaderBlock version
// families, mode overrides, and the common kinds of damage.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "writer/format_writer.h"

namespace {

namespace fs = std::filesystem;
using quellmar::writer::Bytes;
using quellmar::writer::HeaderSpec;
using quellmar::writer::Layout;

// 3 May 2002 (day 123), 00:00:00 UTC.
constexpr int32_t kDay123 = 1020384000;

int g_written = 0;

void write_seed(const fs::path& dir, const std::string& name,
                const std::vector<uint8_t>& bytes) {
  quellmar::writer::Bytes b;
  b.buf = bytes;
  quellmar::writer::write_file((dir / name).string(), b);
  ++g_written;
}

struct WindowShape {
  const char* name;
  int16_t points;  // spectral points of the mode
  int16_t gates;
  int16_t w1_start, w1_points, w2_start, w2_points;
  int16_t placement;
};

const WindowShape kShapes[] = {
    {"whole", 64, 4, 1, 64, 1, 1, 0},
    {"w1only", 64, 3, 20, 10, 1, 1, 0},
    {"two", 64, 3, 50, 10, 3, 4, 1},
    {"two-unplaced", 64, 2, 50, 10, 3, 4, 0},
    {"w1empty", 32, 2, 7, 0, 1, 0, 0},
    {"overlap", 64, 2, 30, 35, 1, 40, 1},
    {"pastend", 64, 2, 60, 10, 70, 5, 1},
    {"rass", 2048, 1, 1001, 100, 1, 20, 1},
};

HeaderSpec shaped_header(const WindowShape& s, int version) {
  HeaderSpec h = quellmar::fuzz::builtin_header_spec(1, 0);
  h.header_version = static_cast<int16_t>(version);
  if (version >= 103) h.met_instrument_list = {11, 12, 13};
  h.modes[0].gate_count = s.gates;
  h.modes[0].spectral_points = s.points;
  h.modes[1] = h.modes[0];
  h.modes[1].gate_count = static_cast<int16_t>(s.gates + 1);
  h.beams[2].mode_index = 1;
  h.window1_start = s.w1_start;
  h.window1_points = s.w1_points;
  h.window2_start = s.w2_start;
  h.window2_points = s.w2_points;
  h.spectrum_extra[0] = s.placement;
  return h;
}

// Window fields as the reader leaves them after its fix-ups.
void effective_windows(const HeaderSpec& h, int* w1s, int* w1n, int* w2s,
                       int* w2n) {
  *w1s = h.window1_start;
  *w1n = h.window1_points;
  *w2s = h.window2_start;
  *w2n = h.window2_points;
  if (*w2n <= 1) {
    *w2n = 1;
    *w2s = 1;
  }
  if (*w1n <= 0) {
    *w1s = 1;
    *w1n = h.modes[0].spectral_points;
  }
}

// A record body that matches the mode of `beam` in h.
Bytes make_body(const HeaderSpec& h, int16_t datacode, int beam, bool spectra,
                int seed) {
  const quellmar::writer::ModeSpec& mode = h.modes[h.beams[beam].mode_index];
  quellmar::writer::BodySpec body;
  body.datacode = datacode;
  for (int g = 0; g < mode.gate_count; ++g) {
    quellmar::writer::GateMoments m;
    m.velocity = static_cast<int16_t>(500 * (g + 1) - 1000 + seed);
    m.width = static_cast<uint16_t>(30 + 7 * g);
    m.snr = static_cast<int16_t>(
        quellmar::writer::uses_16bit_moments(datacode) ? 100 * (g - 2) : g - 2);
    m.noise_or_aux = static_cast<int16_t>(
        quellmar::writer::uses_16bit_moments(datacode) ? -4500 + g : -45 + g);
    body.moments.push_back(m);
    m.noise_or_aux = static_cast<int16_t>(-123 + 10 * g);
    body.second.push_back(m);
  }
  if (datacode >= 3000) {
    for (size_t i = 0; i < h.met_instrument_list.size(); ++i) {
      body.met_values.push_back(static_cast<int32_t>(1000 + i));
    }
  }
  if (spectra) {
    int w1s, w1n, w2s, w2n;
    effective_windows(h, &w1s, &w1n, &w2s, &w2n);
    for (int g = 0; g < mode.gate_count; ++g) {
      std::vector<float> row;
      if (quellmar::writer::positional_spectra(datacode)) {
        for (int j = 0; j < w1n; ++j)
          row.push_back(static_cast<float>(w1s + j));
        if (w2n > 1) {
          for (int j = 0; j < w2n; ++j) {
            row.push_back(static_cast<float>(-(w2s + j)));
          }
        }
      } else {
        for (int p = 1; p <= mode.spectral_points; ++p) {
          row.push_back(static_cast<float>(p) + 0.25f * static_cast<float>(g));
        }
      }
      body.spectra.push_back(row);
    }
  }
  return quellmar::writer::encode_body(body);
}

Bytes make_record(const HeaderSpec& h, int32_t header_offset, int16_t datacode,
                  Layout layout, bool spectra, int beam, int32_t time,
                  bool overrides, int16_t radar = 0) {
  quellmar::writer::RecordSpec r;
  r.datacode = datacode;
  r.layout = layout;
  r.spectra_flag = static_cast<int16_t>(spectra ? 1 : 0);
  r.header_offset = header_offset;
  r.record_time = time;
  r.radar_index = radar;
  r.beam_index = static_cast<int16_t>(beam);
  r.has_overrides = overrides;
  r.coherent_integrations = 80;
  r.spectral_averages = 20;
  r.body = make_body(h, datacode, beam, spectra, beam);
  return quellmar::writer::encode_record(r);
}

struct Family {
  int16_t datacode;
  Layout layout;
  bool spectra;
};

const Family kFamilies[] = {
    {2000, Layout::M, false}, {2100, Layout::M, false},
    {1016, Layout::M, false}, {1017, Layout::M, false},
    {1116, Layout::M, false}, {1117, Layout::M, false},
    {2000, Layout::S, true},  {2100, Layout::S, true},
    {1016, Layout::S, true},  {1017, Layout::S, true},
    {1116, Layout::S, true},  {1117, Layout::S, true},
    {3016, Layout::N, false}, {3017, Layout::N, false},
    {3117, Layout::N, false}, {3016, Layout::N, true},
    {3017, Layout::N, true},  {3117, Layout::N, true},
};

std::string layout_name(Layout l) {
  return l == Layout::N ? "N" : (l == Layout::S ? "S" : "M");
}

// A pair input holding its own header file.
std::vector<uint8_t> pair_with_header(const Bytes& header, const Bytes& data,
                                      bool spectra, int name_choice) {
  quellmar::fuzz::PairInput in;
  in.spectra = spectra;
  in.header_choice = 0;
  in.name_choice = name_choice;
  in.header = header.buf;
  in.data = data.buf;
  return quellmar::fuzz::join_pair_input(in);
}

std::vector<uint8_t> pair_with_builtin(int choice, const Bytes& data,
                                       bool spectra, int name_choice) {
  quellmar::fuzz::PairInput in;
  in.spectra = spectra;
  in.header_choice = choice;
  in.name_choice = name_choice;
  in.data = data.buf;
  return quellmar::fuzz::join_pair_input(in);
}

void write_record_seeds(const fs::path& dir) {
  // Every family with every window shape, three records of beams 0-2 (beam
  // 2 uses mode 1) at day 123, the first with overrides.
  for (const Family& f : kFamilies) {
    for (const WindowShape& s : kShapes) {
      // The spectra of a RASS mode make long records; one is enough.
      const bool rass = s.points >= 2048;
      if (rass && !f.spectra) continue;
      const int version = f.datacode >= 3000 ? 103 : 102;
      const HeaderSpec h = shaped_header(s, version);
      const Bytes header = quellmar::writer::encode_header(h);
      Bytes data;
      const int records = rass ? 1 : 3;
      for (int i = 0; i < records; ++i) {
        data.append(make_record(h, 0, f.datacode, f.layout, f.spectra, i,
                                kDay123 + 300 * i, i == 0));
      }
      // Two-digit name years for the moments seeds, the .spc name for
      // spectra; name choice 0 is day 123 of 2002.
      write_seed(dir,
                 "fam-" + std::to_string(f.datacode) + layout_name(f.layout) +
                     (f.spectra ? "-spc-" : "-mom-") + s.name,
                 pair_with_header(header, data, f.spectra, 0));
    }
  }

  // The built-in header files, with records naming each of their blocks.
  for (int choice = 1; choice <= quellmar::fuzz::kBuiltinHeaders; ++choice) {
    const std::vector<int32_t> offsets =
        quellmar::fuzz::builtin_block_offsets(choice);
    for (bool spectra : {false, true}) {
      Bytes data;
      int n = 0;
      for (size_t b = 0; b < offsets.size(); ++b) {
        const HeaderSpec h =
            quellmar::fuzz::builtin_header_spec(choice, static_cast<int>(b));
        const int16_t datacode = h.header_version >= 103 ? 3117 : 2100;
        const Layout layout = datacode >= 3000 ? Layout::N
                              : spectra        ? Layout::S
                                               : Layout::M;
        const int beams = choice == 3 ? 10 : 5;
        for (int beam = 0; beam < beams; ++beam) {
          // Beams outside the tables get no matching body; the record is
          // still well framed.
          const bool usable = h.beams[beam].mode_index >= 0 &&
                              h.beams[beam].mode_index < 4 &&
                              h.modes[h.beams[beam].mode_index].gate_count >= 0;
          quellmar::writer::RecordSpec r;
          r.datacode = datacode;
          r.layout = layout;
          r.spectra_flag = static_cast<int16_t>(spectra ? 1 : 0);
          r.header_offset = offsets[b];
          r.record_time = kDay123 + 86400 + 600 * n++;
          r.beam_index = static_cast<int16_t>(beam);
          r.radar_index = static_cast<int16_t>(beam == 4 ? 1 : 0);
          if (usable) r.body = make_body(h, datacode, beam, spectra, beam);
          data.append(quellmar::writer::encode_record(r));
        }
      }
      for (int name = 0; name < 4; ++name) {
        write_seed(dir,
                   "builtin" + std::to_string(choice) +
                       (spectra ? "-spc-name" : "-mom-name") +
                       std::to_string(name),
                   pair_with_builtin(choice, data, spectra, name));
      }
    }
  }

  // Damage on a well-formed three-record moments file.
  const HeaderSpec h = shaped_header(kShapes[0], 102);
  const Bytes header = quellmar::writer::encode_header(h);
  Bytes whole;
  for (int i = 0; i < 3; ++i) {
    whole.append(make_record(h, 0, 1116, Layout::M, false, i,
                             kDay123 + 86400 + 3600 * 23 + 1200 * i, false));
  }
  write_seed(
      dir, "damage-cut-last",
      pair_with_header(header, quellmar::writer::cut(whole, whole.size() - 7),
                       false, 0));
  write_seed(
      dir, "damage-cut-header",
      pair_with_header(quellmar::writer::cut(header, 300), whole, false, 0));
  Bytes zeroed = whole;
  quellmar::writer::zero_range(zeroed, whole.size() / 3, 40);
  write_seed(dir, "damage-zeroed", pair_with_header(header, zeroed, false, 0));
  Bytes offset_mid = whole;
  offset_mid.patch_i32(4, 100);
  write_seed(dir, "damage-offset-mid",
             pair_with_header(header, offset_mid, false, 0));
  Bytes bad_trailer = whole;
  bad_trailer.patch_i16(whole.size() - 2, 3);
  write_seed(dir, "damage-trailer",
             pair_with_header(header, bad_trailer, false, 0));
  Bytes radar1 = whole;
  radar1.patch_i16(12, 1);
  write_seed(dir, "radar1-first", pair_with_header(header, radar1, false, 1));
}

// Wind-mode records of every beam in use, two minutes apart across
// midnight, whose velocities follow one wind (u 6, v -4, w 0.3 m/s) along
// each beam's pointing; every fourth record of beam 1 carries a bird echo
// instead.
Bytes wind_records(const HeaderSpec& h, int per_beam) {
  constexpr double kPi = 3.14159265358979323846;
  // Nyquist velocity of a mode with the writer's default timing.
  constexpr double kNyquist = 149.9 / 915.0 * 5e8 / 40000.0 / 100.0;
  Bytes data;
  for (int i = 0; i < per_beam; ++i) {
    for (int beam = 0; beam < h.beam_count && beam < 10; ++beam) {
      const quellmar::writer::BeamSpec& b = h.beams[beam];
      const quellmar::writer::DirectionSpec& d =
          h.directions[b.direction_index % 9];
      const quellmar::writer::ModeSpec& mode = h.modes[b.mode_index % 4];
      const double el =
          (d.elevation > 90 ? d.elevation / 100.0 : d.elevation) * kPi / 180;
      const double az = d.azimuth * kPi / 180;
      double vr = 6.0 * std::sin(az) * std::cos(el) -
                  4.0 * std::cos(az) * std::cos(el) + 0.3 * std::sin(el);
      if (beam == 1 && i % 4 == 0) vr += 11.0;
      quellmar::writer::BodySpec body;
      body.datacode = 2100;
      for (int g = 0; g < mode.gate_count; ++g) {
        quellmar::writer::GateMoments m;
        m.velocity =
            static_cast<int16_t>(std::lround((vr + 0.1 * g) / kNyquist * 1e4));
        m.snr = static_cast<int16_t>(100 * (12 - g));
        m.noise_or_aux = -4500;
        body.moments.push_back(m);
      }
      quellmar::writer::RecordSpec r;
      r.datacode = 2100;
      r.layout = Layout::M;
      r.record_time = kDay123 + 86400 - 1800 + 120 * i;
      r.beam_index = static_cast<int16_t>(beam);
      r.has_overrides = true;  // read as present at this length
      r.coherent_integrations = mode.coherent_integrations;
      r.spectral_averages = mode.spectral_averages;
      r.body = quellmar::writer::encode_body(body);
      data.append(quellmar::writer::encode_record(r));
    }
  }
  return data;
}

void write_wind_seeds(const fs::path& dir) {
  const Bytes five =
      wind_records(quellmar::fuzz::builtin_header_spec(1, 0), 16);
  write_seed(dir, "wind-builtin1", pair_with_builtin(1, five, false, 0));

  struct Variant {
    const char* name;
    void (*change)(HeaderSpec&);
  };
  const Variant variants[] = {
      {"five", [](HeaderSpec&) {}},
      {"three-oblique",
       [](HeaderSpec& h) {
         h.beams[0].direction_index = 3;  // south instead of vertical
       }},
      {"all-horizontal",
       [](HeaderSpec& h) {
         for (auto& d : h.directions) d.elevation = 0;
       }},
      {"all-vertical",
       [](HeaderSpec& h) {
         for (auto& d : h.directions) d.elevation = 90;
       }},
      {"hundredths",
       [](HeaderSpec& h) {
         h.directions[0].elevation = 9100;
         h.directions[1].elevation = 7550;
         h.directions[2].elevation = 18000;
         h.directions[3].elevation = 27000;
         h.directions[4].elevation = 32767;
       }},
      {"spacing0", [](HeaderSpec& h) { h.modes[0].gate_spacing_ns = 0; }},
      {"same-direction",
       [](HeaderSpec& h) {
         h.beams[3].direction_index = 1;
         h.beams[4].direction_index = 1;
       }},
      {"azimuths-outside",
       [](HeaderSpec& h) {
         h.directions[1].azimuth = -90;
         h.directions[2].azimuth = 450;
         h.directions[3].azimuth = 32767;
         h.directions[4].azimuth = -32768;
       }},
      {"two-modes",
       [](HeaderSpec& h) {
         h.modes[1] = h.modes[0];
         h.modes[1].gate_spacing_ns = 1400;
         h.modes[1].gate_count = 5;
         h.beam_count = 10;
         for (int b = 5; b < 10; ++b) {
           h.beams[b].direction_index = static_cast<int16_t>(b - 5);
           h.beams[b].mode_index = 1;
         }
       }},
      {"rass-mode",
       [](HeaderSpec& h) {
         h.modes[1] = h.modes[0];
         h.modes[1].spectral_points = 2048;
         h.beams[0].mode_index = 1;
       }},
  };
  // RASS dwells of a vertical beam whose Nyquist velocity (68 m/s) aliases
  // the speed of sound at 290 K, the acoustic echo in the second set.
  {
    HeaderSpec h = quellmar::fuzz::builtin_header_spec(1, 0);
    h.modes[1] = h.modes[0];
    h.modes[1].spectral_points = 2048;
    h.modes[1].coherent_integrations = 30;
    h.beams[0].mode_index = 1;
    const double nyquist = 149.9 / 915.0 * 5e8 / 40000.0 / 30.0;
    const double sound = 20.047 * std::sqrt(290.0);
    const double stored =
        sound - 2 * nyquist * std::floor((sound + nyquist) / (2 * nyquist));
    Bytes data;
    for (int i = 0; i < 12; ++i) {
      quellmar::writer::BodySpec body;
      body.datacode = 2116;
      for (int g = 0; g < h.modes[1].gate_count; ++g) {
        quellmar::writer::GateMoments clear, acoustic;
        clear.velocity = static_cast<int16_t>(std::lround(0.3 / nyquist * 1e4));
        acoustic.velocity = static_cast<int16_t>(
            std::lround((stored + 0.3 - 0.02 * g) / nyquist * 1e4));
        acoustic.noise_or_aux = 169;
        body.moments.push_back(clear);
        body.second.push_back(acoustic);
      }
      quellmar::writer::RecordSpec r;
      r.datacode = 2116;
      r.layout = Layout::M;
      r.record_time = kDay123 + 86400 - 1800 + 300 * i;
      r.has_overrides = true;
      r.coherent_integrations = h.modes[1].coherent_integrations;
      r.spectral_averages = h.modes[1].spectral_averages;
      r.body = quellmar::writer::encode_body(body);
      data.append(quellmar::writer::encode_record(r));
    }
    data.append(wind_records(h, 12));
    write_seed(
        dir, "wind-rass-dwells",
        pair_with_header(quellmar::writer::encode_header(h), data, false, 0));
  }
  for (const Variant& v : variants) {
    HeaderSpec h = quellmar::fuzz::builtin_header_spec(1, 0);
    v.change(h);
    write_seed(dir, std::string("wind-") + v.name,
               pair_with_header(quellmar::writer::encode_header(h),
                                wind_records(h, 12), false, 0));
  }
}

void write_header_seeds(const fs::path& dir) {
  for (int choice = 1; choice <= quellmar::fuzz::kBuiltinHeaders; ++choice) {
    quellmar::fuzz::HeaderInput in;
    in.header = quellmar::fuzz::builtin_header(choice).buf;
    in.offsets = quellmar::fuzz::builtin_block_offsets(choice);
    in.offsets.push_back(static_cast<int32_t>(in.header.size()));
    in.offsets.push_back(100);
    in.any_radar = choice == 2;
    write_seed(dir, "builtin" + std::to_string(choice),
               quellmar::fuzz::join_header_input(in));
  }
  // Single blocks of either version family, versions at the edges, met
  // lists at and beyond the limit, cut blocks and window fix-ups.
  struct Variant {
    const char* name;
    int version;
    int met;
    bool set_count;  // write met_count instead of the list's length
    int16_t met_count;
    size_t cut;  // 0: whole
  };
  const Variant variants[] = {
      {"v100", 100, 0, false, 0, 0},
      {"v102", 102, 0, false, 0, 0},
      {"v103", 103, 0, false, 0, 0},
      {"v103-met3", 103, 3, false, 0, 0},
      {"v999", 999, 1, false, 0, 0},
      {"v99", 99, 0, false, 0, 0},
      {"v1000", 1000, 0, false, 0, 0},
      {"met256", 103, 256, false, 0, 0},
      {"met257", 103, 0, true, 257, 0},
      {"met-short", 103, 2, true, 5, 0},
      {"met-negative", 103, 0, true, -3, 0},
      {"cut-site", 102, 0, false, 0, 30},
      {"cut-modes", 103, 0, false, 0, 200},
      {"cut-closing", 102, 0, false, 0, 566},
  };
  for (const Variant& v : variants) {
    HeaderSpec h = shaped_header(kShapes[2], v.version);
    h.met_instrument_list.assign(static_cast<size_t>(v.met), 7);
    if (v.set_count) h.met_instrument_count = v.met_count;
    Bytes block = quellmar::writer::encode_header(h);
    if (v.cut != 0) block = quellmar::writer::cut(block, v.cut);
    quellmar::fuzz::HeaderInput in;
    in.header = block.buf;
    in.offsets = {0, -1, 2, 0};
    write_seed(dir, std::string("block-") + v.name,
               quellmar::fuzz::join_header_input(in));
  }
  // Odd tables: elevations in hundredths, direction names without a NUL,
  // beam counts beyond the table, pulse table ties.
  HeaderSpec odd = quellmar::fuzz::builtin_header_spec(3, 0);
  odd.directions[0].name = "ABCDEFGHIJKLMNOP";
  odd.site_name = std::string(40, 'S');
  odd.radar_name = std::string(32, 'R');
  odd.directions[1].elevation = 91;
  odd.directions[2].elevation = -7500;
  odd.pulse_table_keys = {700, 700, 1, 2};
  odd.pulse_table_values = {5, 6, 7, 8};
  odd.modes[0].delay_offset_ns = 30000;
  quellmar::fuzz::HeaderInput in;
  in.header = quellmar::writer::encode_header(odd).buf;
  in.offsets = {0, 0, 3, 568};
  write_seed(dir, "odd-tables", quellmar::fuzz::join_header_input(in));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quellmar-fuzz-seeds OUTDIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  fs::create_directories(root / "header");
  fs::create_directories(root / "records");
  fs::create_directories(root / "wind");
  write_header_seeds(root / "header");
  write_record_seeds(root / "records");
  write_wind_seeds(root / "wind");
  std::printf("%d seeds written under %s\n", g_written, root.c_str());
  return 0;
}

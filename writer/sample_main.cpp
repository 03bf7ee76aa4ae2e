// quellmar-sample: writes the sample file pairs shipped in sample/.
//
//   quellmar-sample OUTDIR
//
// writes OUTDIR/d02123a.mom with OUTDIR/h02123a.mom (moments) and
// OUTDIR/d02123a.spc with OUTDIR/h02123a.spc (spectra): an evening of a
// fictitious 915 MHz wind profiler with RASS, made with the project's own
// file writer.
//
// The profiler:
//   - five pointing directions: vertical, and north, east, south and west
//     at 75 degrees elevation; beams 0 to 4 dwell in them in wind mode,
//     beam 5 dwells vertically in RASS mode;
//   - wind mode (mode 0): 30 gates, 64 spectral points;
//   - RASS mode (mode 1): 10 gates (12 after the change of parameters),
//     2048 spectral points, a second moment set (clear-air echo, with the
//     virtual temperature as auxiliary value);
//   - two spectral windows, window 2 on points 1 to 32 and window 1 on
//     points 33 to 64, with the window-2 placement flag set: wind spectra
//     are kept whole, RASS spectra keep their first 64 points, where the
//     aliased acoustic echo lies;
//   - two HeaderBlocks: version 102 at offset 0, and version 103 with four
//     met instruments at offset 568, in force from 23:40:00 on.
//
// Records: a wind dwell every 3 minutes (beams 0, 1, 2, 3, 4 in turn) and a
// RASS dwell every 15 minutes (at 01:30, 16:30, 31:30 and 46:30 past the
// hour), on 4 May 2002 (day 124) and into 5 May (day 125) until 00:30. The
// moments file runs from 12:00:00, the spectra file from 23:30:00. The name
// day is 123, so a run stops after the record of 5 May 00:00:00.
//
// Moments file: datacodes 2100 (wind, 16-bit moments) and 1116 (RASS,
// 16-bit with the second set), short records with 2-byte lengths. Spectra
// file: datacodes 3100 (wind: full 64-point spectra) and 3117 (RASS: only
// the two windows, stored by point position), records carrying their own
// spectra flag and, from the second HeaderBlock on, the met values.
//
// The output is the same on every machine: the generator uses its own
// pseudo-random numbers and its own exponential (only +, -, *, / and sqrt,
// which IEEE arithmetic rounds the same everywhere).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "writer/format_writer.h"

namespace {

using quellmar::writer::BodySpec;
using quellmar::writer::Bytes;
using quellmar::writer::GateMoments;
using quellmar::writer::HeaderSpec;
using quellmar::writer::Layout;
using quellmar::writer::RecordSpec;

// --- Deterministic numbers -------------------------------------------------

// xorshift32 with a fixed seed.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed) {}
  // Uniform in [0, 1).
  double uniform() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<double>(state_ >> 8) / 16777216.0;
  }
  // Roughly normal, mean 0, standard deviation 1 (sum of four uniforms).
  double normal() {
    double s = 0.0;
    for (int i = 0; i < 4; ++i) s += uniform();
    return (s - 2.0) * 1.7320508075688772;
  }

 private:
  std::uint32_t state_;
};

// e^x from a Taylor series after reduction by powers of two.
double exp_of(double x) {
  constexpr double kLn2 = 0.6931471805599453;
  if (x < -700.0) return 0.0;
  const double k = std::floor(x / kLn2 + 0.5);
  const double r = x - k * kLn2;
  double term = 1.0;
  double sum = 1.0;
  for (int n = 1; n < 25; ++n) {
    term *= r / n;
    sum += term;
  }
  return std::ldexp(sum, static_cast<int>(k));
}

// 10^(db / 10).
double linear_of_db(double db) {
  constexpr double kLn10 = 2.302585092994046;
  return exp_of(db / 10.0 * kLn10);
}

std::int16_t count_of(double value) {
  double r = std::floor(value + 0.5);
  if (r > 32767.0) r = 32767.0;
  if (r < -32768.0) r = -32768.0;
  return static_cast<std::int16_t>(r);
}

// --- Calendar ---------------------------------------------------------------

// Days from 1970-01-01 to the given date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// --- The profiler ------------------------------------------------------------

constexpr std::int32_t kFrequency = 91500;  // 915.00 MHz
constexpr int kWindMode = 0;
constexpr int kRassMode = 1;
constexpr int kRassBeam = 5;
constexpr int kWindGates = 30;
constexpr int kWindPoints = 64;
constexpr int kRassPoints = 2048;
constexpr int kRassGatesFirst = 10;
constexpr int kRassGatesSecond = 12;
constexpr std::int32_t kSecondHeaderOffset = 568;  // after one v102 block

constexpr double kCos75 = 0.25881904510252074;
constexpr double kSin75 = 0.96592582628906831;

HeaderSpec profiler_header(bool second) {
  HeaderSpec h;
  h.header_version = second ? 103 : 102;
  if (second) {
    // Surface temperature, pressure, relative humidity, rain rate.
    h.met_instrument_list = {1, 2, 3, 4};
  }
  h.site_name = "Quellmar Field Site";
  h.site_value_1 = 5231;  // latitude, hundredths of a degree
  h.site_value_2 = 1312;  // longitude, hundredths of a degree
  h.site_value_3 = 0;
  h.site_value_4 = 48;  // altitude in metres
  h.radar_name = "QM915";
  h.radar_value = 1;
  h.tx_frequency = kFrequency;
  h.beam_count = 6;

  quellmar::writer::ModeSpec& wind = h.modes[kWindMode];
  wind.ipp_ns = 40000;
  wind.pulse_width = 700;
  wind.first_gate_delay_ns = 1500;
  wind.gate_spacing_ns = 700;
  wind.gate_count = kWindGates;
  wind.coherent_integrations = 100;
  wind.spectral_averages = 30;
  wind.spectral_points = kWindPoints;
  wind.delay_offset_ns = 700;

  quellmar::writer::ModeSpec& rass = h.modes[kRassMode];
  rass.ipp_ns = 31500;
  rass.pulse_width = 1400;
  rass.first_gate_delay_ns = 2200;
  rass.gate_spacing_ns = 1400;
  rass.gate_count = second ? kRassGatesSecond : kRassGatesFirst;
  rass.coherent_integrations = 8;
  rass.spectral_averages = 20;
  rass.spectral_points = kRassPoints;
  rass.delay_offset_ns = 700;

  // The second block stores the oblique elevations in hundredths.
  const std::int16_t oblique = second ? 7500 : 75;
  const char* names[5] = {"VERTICAL", "NORTH", "EAST", "SOUTH", "WEST"};
  for (int d = 0; d < 5; ++d) {
    h.directions[d].name = names[d];
    h.directions[d].azimuth =
        static_cast<std::int16_t>(d == 0 ? 0 : 90 * (d - 1));
    h.directions[d].elevation = d == 0 ? 90 : oblique;
    h.beams[d].direction_index = static_cast<std::int16_t>(d);
    h.beams[d].mode_index = kWindMode;
  }
  h.beams[kRassBeam].direction_index = 0;
  h.beams[kRassBeam].mode_index = kRassMode;

  h.pulse_table_keys = {700, 1400, 0, 0};
  h.pulse_table_values = {1, 2, 0, 0};

  h.window2_start = 1;
  h.window2_points = 32;
  h.window1_start = 33;
  h.window1_points = 32;
  h.spectrum_extra[0] = 1;  // window 2 is placed in the spectrum output
  return h;
}

// Nyquist velocity as the reader computes it.
double nyquist(std::int32_t ipp_ns, int integrations) {
  const double v = 149.9 / (kFrequency / 100.0) * 5e8 / ipp_ns / integrations;
  return static_cast<float>(v);
}

// The state of the atmosphere at a height (m) and a time (hours after
// 12:00 on 4 May).
struct Air {
  double u;   // eastward wind, m/s
  double v;   // northward wind, m/s
  double w;   // upward wind, m/s
  double tv;  // virtual temperature, K
};

Air air_at(double height, double hours, Random& rnd) {
  Air a;
  // A south-westerly that strengthens with height and through the evening.
  a.u = 3.0 + 0.0025 * height + 0.15 * hours + 0.4 * rnd.normal();
  a.v = 2.0 + 0.0015 * height - 0.05 * hours + 0.4 * rnd.normal();
  a.w = 0.1 * rnd.normal();
  // The air near the ground cools through the evening.
  a.tv = 291.0 - 0.0065 * height - 0.5 * hours * exp_of(-height / 300.0) +
         0.2 * rnd.normal();
  return a;
}

struct Dwell {
  std::int32_t time;  // seconds since 1970
  int beam;
};

struct Gate {
  GateMoments first;
  GateMoments second;           // RASS only
  std::vector<float> spectrum;  // all points of the gate, 1 to P
};

double gaussian(double x, double mean, double sigma) {
  const double z = (x - mean) / sigma;
  return exp_of(-0.5 * z * z);
}

// Moments and spectra of one wind dwell.
std::vector<Gate> wind_dwell(int beam, double hours, Random& rnd) {
  const double vn = nyquist(40000, 100);
  const double elevation_sin = beam == 0 ? 1.0 : kSin75;
  const double elevation_cos = beam == 0 ? 0.0 : kCos75;
  // Unit horizontal direction of the beam: north, east, south, west.
  const double east[5] = {0.0, 0.0, 1.0, 0.0, -1.0};
  const double north[5] = {0.0, 1.0, 0.0, -1.0, 0.0};
  const double noise_db = 32.0 + 0.3 * rnd.normal();
  std::vector<Gate> gates(kWindGates);
  for (int g = 0; g < kWindGates; ++g) {
    const double height = (120.0 + 105.0 * g) * elevation_sin;
    const Air a = air_at(height, hours, rnd);
    const double radial =
        (a.u * east[beam] + a.v * north[beam]) * elevation_cos +
        a.w * elevation_sin;
    const double width = 0.5 + 0.0002 * height + 0.1 * rnd.uniform();
    const double snr = 27.0 - 0.011 * height + 1.2 * rnd.normal();
    const double noise = noise_db + 0.15 * rnd.normal();

    Gate& gate = gates[g];
    gate.first.velocity = count_of(radial / vn * 10000.0);
    gate.first.width =
        static_cast<std::uint16_t>(count_of(width / vn * 10000.0));
    gate.first.snr = count_of(snr * 100.0);
    gate.first.noise_or_aux = count_of(noise * 100.0);

    // The spectrum of the stored moments: a Gaussian echo over noise.
    const double v = gate.first.velocity * vn / 10000.0;
    const double sigma = gate.first.width * vn / 10000.0;
    const double noise_point = linear_of_db(gate.first.noise_or_aux / 100.0);
    const double signal =
        linear_of_db(gate.first.snr / 100.0) * kWindPoints * noise_point;
    const double step = 2.0 * vn / kWindPoints;
    const double peak = signal * step / (sigma * 2.5066282746310002);
    gate.spectrum.resize(kWindPoints);
    for (int k = 0; k < kWindPoints; ++k) {
      const double vk = -vn + k * step;
      double s = peak * gaussian(vk, v, sigma);
      // The echo folds over at the Nyquist velocity.
      s += peak * gaussian(vk, v - 2.0 * vn, sigma);
      s += peak * gaussian(vk, v + 2.0 * vn, sigma);
      const double n = noise_point * (1.0 + 0.18 * rnd.normal());
      gate.spectrum[k] = static_cast<float>(s + (n > 0.0 ? n : 0.0));
    }
  }
  return gates;
}

// What the spectra file's wind dwells carry beside the atmosphere: the
// echoes and lines a real evening brings, so that recomputed moments have
// something to remove. The moments file's dwells carry none of it.
//   - ground clutter: a band at 0 m/s (a Gaussian 0.8 points wide) in the
//     lowest 5 gates of every beam, 38 dB over the noise at the first gate
//     and 4 dB less each gate up, steady from dwell to dwell (1 dB);
//   - an interference line: points 12 and 13 (-12.8 m/s) of every gate,
//     each 10 times the noise;
//   - birds, until 00:00: in a third of the oblique dwells, 3 to 5
//     consecutive gates from 600 m up hold a narrow echo (0.25 m/s) 3 to 7
//     m/s beside the wind, 10 dB over the atmosphere;
//   - rain from 22:30 to 23:30: up to 2500 m, drops falling at 6.5 m/s
//     toward the radar (their share in an oblique beam's radial velocity
//     sin 75 degrees of that), 1.5 m/s wide, 10 to 20 dB over the clear air
//     (strongest at 23:00).
// The stored moments are those of the strongest echo, as a profiler's
// on-site processing takes them.
struct Echo {
  double velocity;  // m/s
  double width;     // m/s
  double snr_db;    // power summed over the points, over the noise's sum
};

void add_echo(std::vector<float>& spectrum, const Echo& e, double vn,
              double noise_point, Random& rnd) {
  const double step = 2.0 * vn / kWindPoints;
  const double power = linear_of_db(e.snr_db) * kWindPoints * noise_point;
  const double peak = power * step / (e.width * 2.5066282746310002);
  for (int k = 0; k < kWindPoints; ++k) {
    const double vk = -vn + k * step;
    double s = 0.0;
    for (int fold = -1; fold <= 1; ++fold) {
      s += peak * gaussian(vk, e.velocity + 2.0 * fold * vn, e.width);
    }
    const double x = 1.0 + 0.18 * rnd.normal();
    spectrum[k] += static_cast<float>(s * (x > 0.0 ? x : 0.0));
  }
}

void contaminate(std::vector<Gate>& gates, int beam, double hours,
                 Random& rnd) {
  const double vn = nyquist(40000, 100);
  const double step = 2.0 * vn / kWindPoints;
  const double elevation_sin = beam == 0 ? 1.0 : kSin75;
  const bool rain = hours >= 10.5 && hours < 11.5;
  const double from_middle = hours < 11.0 ? 11.0 - hours : hours - 11.0;
  const double rain_db = 10.0 + 10.0 * (1.0 - 2.0 * from_middle);
  const bool birds = beam != 0 && hours < 12.0 && rnd.uniform() < 0.34;
  const int bird_first = 5 + static_cast<int>(10.0 * rnd.uniform());
  const int bird_last = bird_first + 2 + static_cast<int>(3.0 * rnd.uniform());
  const double bird_shift =
      (rnd.uniform() < 0.5 ? -1.0 : 1.0) * (3.0 + 4.0 * rnd.uniform());
  for (int g = 0; g < kWindGates; ++g) {
    Gate& gate = gates[g];
    const double height = (120.0 + 105.0 * g) * elevation_sin;
    const double noise_point = linear_of_db(gate.first.noise_or_aux / 100.0);
    const Echo air{gate.first.velocity * vn / 10000.0,
                   gate.first.width * vn / 10000.0, gate.first.snr / 100.0};
    std::vector<Echo> echoes;
    if (g < 5) {
      echoes.push_back({0.0, 0.8 * step, 38.0 - 4.0 * g + rnd.normal()});
    }
    if (rain && height <= 2500.0) {
      const double fall = -6.5 * elevation_sin;
      echoes.push_back(
          {air.velocity + fall, 1.5, air.snr_db + rain_db + rnd.normal()});
    }
    if (birds && g >= bird_first && g <= bird_last) {
      echoes.push_back({air.velocity + bird_shift, 0.25, air.snr_db + 10.0});
    }
    for (const Echo& e : echoes) {
      add_echo(gate.spectrum, e, vn, noise_point, rnd);
    }
    // The interference line (2 x 10 noise points: 10 log10(20 / 64) dB),
    // and the strongest echo's moments stored.
    gate.spectrum[12] += static_cast<float>(10.0 * noise_point);
    gate.spectrum[13] += static_cast<float>(10.0 * noise_point);
    echoes.push_back({(12.5 - kWindPoints / 2) * step, 0.5 * step, -5.0515});
    Echo stored = air;
    for (const Echo& e : echoes) {
      if (e.snr_db > stored.snr_db) stored = e;
    }
    gate.first.velocity = count_of(stored.velocity / vn * 10000.0);
    gate.first.width =
        static_cast<std::uint16_t>(count_of(stored.width / vn * 10000.0));
    gate.first.snr = count_of(stored.snr_db * 100.0);
  }
}

// Moments and spectra of one RASS dwell: the first set is the acoustic
// echo (its velocity the speed of sound), the second the clear-air echo
// with the virtual temperature (tenths of a degree Celsius) as auxiliary
// value.
std::vector<Gate> rass_dwell(int gate_count, double hours, Random& rnd) {
  const double vn = nyquist(31500, 8);
  const double noise_db = 35.0 + 0.3 * rnd.normal();
  std::vector<Gate> gates(gate_count);
  for (int g = 0; g < gate_count; ++g) {
    const double height = 225.0 + 210.0 * g;
    const Air a = air_at(height, hours, rnd);
    const double sound = 20.05 * std::sqrt(a.tv);
    const double snr = 18.0 - 0.008 * height + 1.0 * rnd.normal();
    const double noise = noise_db + 0.15 * rnd.normal();
    const double width = 0.6 + 0.15 * rnd.uniform();

    Gate& gate = gates[g];
    gate.first.velocity = count_of(sound / vn * 10000.0);
    gate.first.width =
        static_cast<std::uint16_t>(count_of(width / vn * 10000.0));
    gate.first.snr = count_of(snr * 100.0);
    gate.first.noise_or_aux = count_of(noise * 100.0);

    gate.second.velocity = count_of(a.w / vn * 10000.0);
    gate.second.width =
        static_cast<std::uint16_t>(count_of(0.3 / vn * 10000.0));
    gate.second.snr = count_of((12.0 - 0.006 * height + rnd.normal()) * 100.0);
    gate.second.noise_or_aux = count_of((a.tv - 273.15) * 10.0);

    // The acoustic echo at the speed of sound, aliased into the first
    // spectral points (2 x Nyquist below its true velocity).
    const double step = 2.0 * vn / kRassPoints;
    const double v = gate.first.velocity * vn / 10000.0 - 2.0 * vn;
    const double sigma = gate.first.width * vn / 10000.0;
    const double noise_point = linear_of_db(gate.first.noise_or_aux / 100.0);
    const double signal =
        linear_of_db(gate.first.snr / 100.0) * kRassPoints * noise_point;
    const double peak = signal * step / (sigma * 2.5066282746310002);
    gate.spectrum.resize(kRassPoints);
    for (int k = 0; k < kRassPoints; ++k) {
      const double vk = -vn + k * step;
      const double s = k < 96 ? peak * gaussian(vk, v, sigma) : 0.0;
      const double n = noise_point * (1.0 + 0.22 * rnd.normal());
      gate.spectrum[k] = static_cast<float>(s + (n > 0.0 ? n : 0.0));
    }
  }
  return gates;
}

std::vector<std::int32_t> met_values(double hours, Random& rnd) {
  return {
      static_cast<std::int32_t>(
          count_of((19.8 - 0.6 * hours + 0.1 * rnd.normal()) * 10.0)),
      static_cast<std::int32_t>(count_of((1012.4 + 0.05 * hours) * 10.0)),
      static_cast<std::int32_t>(count_of(62.0 + 2.5 * hours + rnd.normal())),
      0};
}

// The dwells between first and last (inclusive), in time order.
std::vector<Dwell> schedule(std::int32_t day_start, std::int32_t first,
                            std::int32_t last) {
  std::vector<Dwell> dwells;
  for (std::int32_t t = first; t <= last; t += 90) {
    const std::int32_t in_day = t - day_start;
    if (in_day % 180 == 0) {
      dwells.push_back({t, static_cast<int>(in_day / 180 % 5)});
    } else if (in_day % 900 == 90) {
      dwells.push_back({t, kRassBeam});
    }
  }
  return dwells;
}

// Spectra rows for the file: the whole spectrum (compact arrangement) or,
// for positional records, window 1 then window 2.
std::vector<std::vector<float>> spectra_rows(const std::vector<Gate>& gates,
                                             bool positional) {
  std::vector<std::vector<float>> rows;
  for (const Gate& g : gates) {
    if (!positional) {
      rows.push_back(g.spectrum);
      continue;
    }
    std::vector<float> row(g.spectrum.begin() + 32, g.spectrum.begin() + 64);
    row.insert(row.end(), g.spectrum.begin(), g.spectrum.begin() + 32);
    rows.push_back(row);
  }
  return rows;
}

struct Pair {
  Bytes header;
  Bytes data;
  int records = 0;
};

// spectra: the spectra file; otherwise the moments file.
Pair make_pair(bool spectra, std::int32_t day_start, std::int32_t first,
               std::int32_t last, std::int32_t switch_time) {
  Pair pair;
  pair.header = quellmar::writer::encode_header(profiler_header(false));
  pair.header.append(quellmar::writer::encode_header(profiler_header(true)));

  Random rnd(spectra ? 0x51C0FFEEu : 0x20020504u);
  Random weather(0x0C1A77E4u);  // clutter, line, birds and rain
  for (const Dwell& d : schedule(day_start, first, last)) {
    const bool second = d.time >= switch_time;
    const double hours = (d.time - day_start - 12 * 3600) / 3600.0;
    const bool rass = d.beam == kRassBeam;
    std::vector<Gate> gates =
        rass ? rass_dwell(second ? kRassGatesSecond : kRassGatesFirst, hours,
                          rnd)
             : wind_dwell(d.beam, hours, rnd);
    if (spectra && !rass) contaminate(gates, d.beam, hours, weather);

    BodySpec body;
    RecordSpec r;
    if (spectra) {
      body.datacode = rass ? 3117 : 3100;
      r.layout = Layout::N;
      r.spectra_flag = 1;
    } else {
      body.datacode = rass ? 1116 : 2100;
      r.layout = Layout::M;
      r.has_overrides = true;  // 16-bit moments: the length says so
    }
    for (const Gate& g : gates) {
      body.moments.push_back(g.first);
      body.second.push_back(g.second);
    }
    if (second) body.met_values = met_values(hours, rnd);
    if (spectra) body.spectra = spectra_rows(gates, rass);

    r.datacode = body.datacode;
    r.header_offset = second ? kSecondHeaderOffset : 0;
    r.record_time = d.time;
    r.radar_index = 0;
    r.beam_index = static_cast<std::int16_t>(d.beam);
    r.coherent_integrations = rass ? 8 : 100;
    r.spectral_averages = rass ? 20 : 30;
    r.body = quellmar::writer::encode_body(body);
    pair.data.append(quellmar::writer::encode_record(r));
    ++pair.records;
  }
  return pair;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: quellmar-sample OUTDIR\n"
      "Writes the sample pairs d02123a.mom/h02123a.mom and "
      "d02123a.spc/h02123a.spc\ninto the existing folder OUTDIR.\n";
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string dir = argv[1];
  const std::int32_t day_start =
      static_cast<std::int32_t>(days_from_civil(2002, 5, 4) * 86400);
  const std::int32_t switch_time = day_start + 23 * 3600 + 40 * 60;
  const std::int32_t last = day_start + 86400 + 30 * 60;
  struct Job {
    const char* name;
    bool spectra;
    std::int32_t first;
  } jobs[] = {{"d02123a.mom", false, day_start + 12 * 3600},
              {"d02123a.spc", true, day_start + 21 * 3600 + 45 * 60}};
  try {
    for (const Job& job : jobs) {
      const Pair pair =
          make_pair(job.spectra, day_start, job.first, last, switch_time);
      const std::string name = job.name;
      quellmar::writer::write_file(dir + "/" + name, pair.data);
      quellmar::writer::write_file(dir + "/h" + name.substr(1), pair.header);
      std::printf("%s: %d records, %zu bytes; h%s: %zu bytes\n", name.c_str(),
                  pair.records, pair.data.size(), name.substr(1).c_str(),
                  pair.header.size());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

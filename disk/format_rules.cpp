// Rules of the data-file format that several readers share: what a
// datacode says about a record, and where the spectral windows lie in a
// decoded row, how a spectrum line is rebuilt, which names are spectra
// files, the date a name holds and where a run on it stops, how powers
// are printed in dB. The record reader, the decoder, the
// tool and the companion programs all take them from here.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "disk/pda.h"

DatacodeTraits pda_describe_datacode(int32_t datacode, int32_t spectra_flag) {
  DatacodeTraits t;
  const int32_t family = datacode % 100;
  t.layout = datacode >= 3000 ? 'N' : (spectra_flag != 0 ? 'S' : 'M');
  t.trailer_width = t.layout == 'M' ? 2 : 4;
  t.met_values = t.layout == 'N';
  t.encoding16 = datacode / 100 % 10 != 0;
  t.second_set = family == 16 || (t.encoding16 && family == 17);
  t.positional_spectra = family == 17;
  return t;
}

WindowRows pda_locate_windows(int32_t window1_start, int32_t window2_start,
                              int32_t window2_points, bool positional) {
  WindowRows w;
  w.two_windows = window2_points > 1;
  if (positional) {
    w.window1_row = window1_start;
    w.window2_row = window2_start;
  } else {
    w.window1_row = w.two_windows ? window2_points : 0;
    w.window2_row = 0;
  }
  return w;
}

int64_t pda_spectrum_line_length(const SpectrumLineShape& shape,
                                 int64_t row_length) {
  if (shape.window2_points > 1) {
    return std::max<int64_t>(shape.spectral_points, 0);
  }
  const int64_t points = std::max<int64_t>(shape.window1_points, 0);
  return shape.positional ? points : std::min(points, row_length);
}

void pda_spectrum_line(const SpectrumLineShape& shape, const float* row,
                       int64_t row_length, float* line) {
  const int64_t length = pda_spectrum_line_length(shape, row_length);
  std::fill_n(line, length, 0.0f);
  auto value = [&](int64_t i) {
    return i >= 0 && i < row_length ? row[i] : 0.0f;
  };
  const WindowRows rows =
      pda_locate_windows(shape.window1_start, shape.window2_start,
                         shape.window2_points, shape.positional);
  if (!rows.two_windows) {
    // The row's values from window1_row on, where the row has them.
    const int64_t first = std::clamp<int64_t>(-rows.window1_row, 0, length);
    const int64_t end =
        std::clamp<int64_t>(row_length - rows.window1_row, first, length);
    if (end > first) {
      std::copy(row + rows.window1_row + first, row + rows.window1_row + end,
                line + first);
    }
    return;
  }
  auto place = [&](int64_t start, int64_t count, int64_t first_row) {
    for (int64_t j = 0; j < count; ++j) {
      const int64_t point = start - 1 + j;
      if (point >= 0 && point < length) line[point] = value(first_row + j);
    }
  };
  place(shape.window1_start, shape.window1_points, rows.window1_row);
  if (shape.placement == 1) {
    place(shape.window2_start, shape.window2_points, rows.window2_row);
  }
}

void pda_spectrum_points(const SpectrumLineShape& shape, const float* row,
                         int64_t row_length, float* values,
                         unsigned char* present) {
  const int64_t points = std::max<int64_t>(shape.spectral_points, 0);
  std::fill_n(values, points, 0.0f);
  std::fill_n(present, points, static_cast<unsigned char>(0));
  const WindowRows rows =
      pda_locate_windows(shape.window1_start, shape.window2_start,
                         shape.window2_points, shape.positional);
  auto place = [&](int64_t start, int64_t count, int64_t first_row) {
    for (int64_t j = 0; j < count; ++j) {
      const int64_t point = start - 1 + j;
      const int64_t i = first_row + j;
      if (point < 0 || point >= points || i < 0 || i >= row_length) continue;
      values[point] = row[i];
      present[point] = 1;
    }
  };
  if (rows.two_windows) {
    place(shape.window2_start, shape.window2_points, rows.window2_row);
  }
  place(shape.window1_start, shape.window1_points, rows.window1_row);
}

bool pda_is_spectra_name(const std::string& name) {
  if (name.size() < 3) return false;
  const std::string end = name.substr(name.size() - 3);
  return end == "spc" || end == "SPC";
}

NameDate pda_name_date(const std::string& file_name, int32_t* year,
                       int32_t* day_of_year) {
  size_t letter = file_name.find('a');
  if (letter == std::string::npos) letter = file_name.find('A');
  if (letter == std::string::npos) return NameDate::kNoLetter;
  char leading[2];
  long y = 0;
  long day = 0;
  const char* pattern = letter == 6 ? "%1s%2ld%3ld" : "%1s%3ld%3ld";
  if (std::sscanf(file_name.c_str(), pattern, leading, &y, &day) != 3) {
    return NameDate::kUnreadable;
  }
  if (y < 70) y += 100;
  *year = static_cast<int32_t>(y);
  *day_of_year = static_cast<int32_t>(day);
  return NameDate::kRead;
}

int64_t pda_stop_time_for(int32_t year, int32_t day_of_year) {
  const int64_t new_year = pda_seconds_from_date(1900LL + year, 1, 1, 0, 0, 0);
  return new_year + (static_cast<int64_t>(day_of_year) + 1) * 86400;
}

float pda_power_db(float x) {
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

double pda_doppler_velocity_ms(int64_t point, int64_t spectral_points,
                               double nyquist_ms) {
  if (spectral_points <= 0) return 0.0;
  const double p = static_cast<double>(spectral_points);
  return (static_cast<double>(point - 1) - p / 2.0) * 2.0 * nyquist_ms / p;
}

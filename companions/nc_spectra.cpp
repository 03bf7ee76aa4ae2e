#include "companions/nc_spectra.h"

#include <algorithm>

namespace qcomp {

int64_t spectrum_line_length(const SpectrumWindows& w, int64_t spectral_points,
                             int64_t row_length, bool positional) {
  if (w.window2_points > 1) return std::max<int64_t>(spectral_points, 0);
  const int64_t points = std::max<int64_t>(w.window1_points, 0);
  return positional ? points : std::min(points, row_length);
}

void spectrum_line(const float* row, int64_t row_length,
                   const SpectrumWindows& w, int64_t spectral_points,
                   bool positional, float* line) {
  const int64_t length =
      spectrum_line_length(w, spectral_points, row_length, positional);
  std::fill_n(line, length, 0.0f);
  auto value = [&](int64_t i) {
    return i >= 0 && i < row_length ? row[i] : 0.0f;
  };
  const int64_t w1s = w.window1_start, w1n = w.window1_points;
  const int64_t w2s = w.window2_start, w2n = w.window2_points;
  if (w2n > 1) {
    // Compact rows hold window 2 first, then window 1; positional rows
    // hold every value at its point number.
    const int64_t first1 = positional ? w1s : w2n;
    const int64_t first2 = positional ? w2s : 0;
    for (int64_t j = 0; j < w1n; ++j) {
      const int64_t pos = w1s - 1 + j;
      if (pos >= 0 && pos < length) line[pos] = value(first1 + j);
    }
    if (w.placement == 1) {
      for (int64_t j = 0; j < w2n; ++j) {
        const int64_t pos = w2s - 1 + j;
        if (pos >= 0 && pos < length) line[pos] = value(first2 + j);
      }
    }
    return;
  }
  const int64_t first = positional ? w1s : 0;
  for (int64_t j = 0; j < length; ++j) line[j] = value(first + j);
}

}  // namespace qcomp

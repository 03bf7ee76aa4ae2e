// Spectrum lines of the .ras file.
//
// A spectrum line is the gate number ("%2ld") and then " %.2f" for each
// value. With two windows (window 2 of more than one point) the line holds
// every point of the spectrum, the k-th value being spectral point k: the
// values of window 1 at their points, then, when the placement flag is 1,
// those of window 2 (over window 1 where they meet), 0.00 elsewhere. With
// one window it holds window 1's values in order. Rows are compact (window
// 2's values first, then window 1's) or, for positional records (datacode
// ending in 17), hold each value at its point number; an index beyond what
// the decode kept reads as 0.

#ifndef QUELLMAR_TOOL_SPECTRUM_LINES_H
#define QUELLMAR_TOOL_SPECTRUM_LINES_H

#include <cstdint>
#include <memory>

#include "tool/text_format.h"

// What the spectrum lines of one record are made from: the decoded rows and
// the windows.
struct SpectrumSource {
  std::shared_ptr<float[]> rows;
  int64_t decoded_gates = 0;  // rows the decode allocated
  int64_t row_length = 0;
  int64_t gate_count = 0;  // lines to write
  int64_t points = 0;
  int32_t w1s = 0, w1n = 0, w2s = 0, w2n = 0;
  int32_t placement = 0;
  bool positional = false;  // datacode ..17: values at their point number
};

// " %.2f" of each of the n values at values.
void put_spectrum_values(quellmar::TextBuffer& t, const float* values,
                         int64_t n);

// The spectrum lines of gates 0 to s.gate_count - 1.
void put_spectrum_lines(quellmar::TextBuffer& t, const SpectrumSource& s);

#endif  // QUELLMAR_TOOL_SPECTRUM_LINES_H

// Spectrum lines as the .ras text file places them, for the spectra
// variable of the netCDF file.
//
// A decoded row holds P + 1 floats (P spectral points): in the compact
// arrangement window 2's points first, then window 1's; for datacodes
// ending in 17 every value at its point number. The line rebuilt from a
// row is:
//   - two windows (window2_points > 1): P values, value k being spectral
//     point k (counted from 1), 0 where no window covers the point, and
//     window 2 placed only when the placement flag is 1;
//   - one window: window 1's values alone, in row order.

#ifndef QUELLMAR_COMPANIONS_NC_SPECTRA_H
#define QUELLMAR_COMPANIONS_NC_SPECTRA_H

#include <cstdint>

#include "companions/pair_scan.h"

namespace qcomp {

// Number of values in the spectrum line of a record with the given
// windows, spectral points and row length (spectral points + 1).
int64_t spectrum_line_length(const SpectrumWindows& windows,
                             int64_t spectral_points, int64_t row_length,
                             bool positional);

// Writes the spectrum line of one gate's row into line, which has room
// for spectrum_line_length values.
void spectrum_line(const float* row, int64_t row_length,
                   const SpectrumWindows& windows, int64_t spectral_points,
                   bool positional, float* line);

}  // namespace qcomp

#endif  // QUELLMAR_COMPANIONS_NC_SPECTRA_H

// The shape of a record's spectra, for the access module's spectrum rules
// (pda_spectrum_line, pda_spectrum_points): its windows, spectral points
// and arrangement.

#ifndef QUELLMAR_COMPANIONS_SPECTRUM_SHAPE_H
#define QUELLMAR_COMPANIONS_SPECTRUM_SHAPE_H

#include <cstdint>

#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

SpectrumLineShape spectrum_line_shape(const RecordFacts& f);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_SPECTRUM_SHAPE_H

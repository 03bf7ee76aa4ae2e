// The spectra variable of the netCDF file holds each gate's spectrum line,
// as the .ras text file places it (pda_spectrum_line).

#ifndef QUELLMAR_COMPANIONS_NC_SPECTRA_H
#define QUELLMAR_COMPANIONS_NC_SPECTRA_H

#include <cstdint>

#include "companions/common/pair_scan.h"

namespace quellmar::companions {

// The shape of the spectrum lines of a record.
SpectrumLineShape spectrum_line_shape(const RecordFacts& f);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_SPECTRA_H

#include "methods/pairs/spectrum_shape.h"

namespace quellmar::companions {

SpectrumLineShape spectrum_line_shape(const RecordFacts& f) {
  SpectrumLineShape s;
  s.window1_start = f.windows.window1_start;
  s.window1_points = f.windows.window1_points;
  s.window2_start = f.windows.window2_start;
  s.window2_points = f.windows.window2_points;
  s.placement = f.windows.placement;
  s.spectral_points = f.spectral_points;
  s.positional =
      pda_describe_datacode(f.datacode, f.spectra_flag).positional_spectra;
  return s;
}

}  // namespace quellmar::companions

// Rules of the data-file format that several readers share: what a
// datacode says about a record, and where the spectral windows lie in a
// decoded row. The record reader, the decoder, the tool and the companion
// programs all take them from here.

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

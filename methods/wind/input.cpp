#include "methods/wind/input.h"

#include "disk/pda.h"

namespace quellmar::companions {

RecordChoice wind_records(int32_t radar) {
  RecordChoice c;
  c.radar = radar;
  c.takes = [](const RecordFacts& f) {
    return f.spectral_points < kRassSpectralPoints;
  };
  c.kind = "wind-mode";
  return c;
}

}  // namespace quellmar::companions

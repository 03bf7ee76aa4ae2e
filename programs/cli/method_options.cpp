#include "programs/cli/method_options.h"

#include "methods/moments/recompute.h"

namespace quellmar::companions {

void add_moments_method(OptionTable& table, MomentsMethod* method) {
  table.choice("--peak",
               "peak chosen per gate: continuity takes the peak nearest the "
               "median velocity of the strongest peaks of the same beam and "
               "gate in the 5 records before and the 5 after; strongest "
               "takes the largest power",
               &method->peak,
               {{"continuity", PeakChoice::kContinuity},
                {"strongest", PeakChoice::kStrongest}});
  table.integer("--clutter-points", "K",
                "fewest points either side of 0 m/s replaced when clutter "
                "is found (the clutter map may find the band wider)",
                &method->clutter_points, 0, 16);
  table.flag("--no-clutter", "leave the clutter spike at 0 m/s in",
             &method->clutter, false, "removed", "kept");
  table.flag("--no-interference", "leave interference lines in",
             &method->interference, false, "removed", "kept");
  table.integer("--min-points", "M",
                "fewest points above the noise threshold in a peak region",
                &method->min_points, 1, 64);
  table.number("--tail-widths", "W",
               "half-width, in widths of the peak, of the window about its "
               "centroid over which its moments are taken (0: the points "
               "above the noise threshold only)",
               &method->tail_widths, 0.0, 10.0);
  std::vector<std::pair<std::string, AxisChoice>> axes;
  for (AxisChoice a : {AxisChoice::kAuto, AxisChoice::kCentred,
                       AxisChoice::kCentredReversed}) {
    axes.emplace_back(axis_name(a), a);
  }
  table.choice("--axis",
               "velocity axis of the spectra; auto takes the one whose "
               "velocities agree best with the stored ones in the first 200 "
               "records",
               &method->axis, axes);
}

}  // namespace quellmar::companions

// The layout of a converted file, worked out from a record scan before
// anything is written: which records become rays, where each ray's gates
// start in the variable-gates layout, the sweeps, and the sizes of the
// dimensions.

#ifndef QUELLMAR_COMPANIONS_NC_PLAN_H
#define QUELLMAR_COMPANIONS_NC_PLAN_H

#include <cstdint>
#include <string>
#include <vector>

#include "companions/pair_scan.h"

namespace qcomp {

// A run of consecutive rays of one beam (at one elevation: a HeaderBlock
// that points the beam elsewhere starts a new sweep).
struct Sweep {
  int32_t first_ray = 0;
  int32_t last_ray = 0;
  int32_t beam = 0;
  float fixed_angle = 0.f;  // the beam's elevation, degrees
};

struct NcPlan {
  std::vector<RecordFacts> rays;     // in file order
  std::vector<int64_t> start_index;  // of each ray's first gate in n_points
  std::vector<int64_t> spectrum_lengths;  // of each ray; 0: no spectra
  int64_t n_points = 0;                   // gates of all rays together
  int32_t max_gates = 0;                  // size of the range dimension
  int64_t spectrum_length = 0;  // longest spectrum line; 0: no spectra
  bool second_set = false;      // some ray carries a second moment set
  std::vector<Sweep> sweeps;
  int32_t first_time = 0;  // earliest ray
  int32_t last_time = 0;   // latest ray
  int32_t base_time = 0;   // the first ray's: time values count from it
  int32_t range_ray = 0;   // the ray whose gates the range coordinate holds
};

// Plans the conversion of the records of one radar (-1: every radar).
// False, with a message, when there is nothing to convert or a record's
// beam cannot be described from its HeaderBlock.
bool make_plan(const ScanResult& scan, int32_t radar, NcPlan* plan,
               std::string* error);

// Metres along the beam to the centre of gate g of a ray: the first gate's
// delay less the delay offset, plus g spacings, at 0.15 m per nanosecond.
float gate_range_m(const RecordFacts& ray, int64_t gate);
float gate_spacing_m(const RecordFacts& ray);

}  // namespace qcomp

#endif  // QUELLMAR_COMPANIONS_NC_PLAN_H

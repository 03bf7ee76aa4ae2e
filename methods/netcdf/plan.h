// The layout of a converted file, worked out from a record scan before
// anything is written: how many rays, gates and sweeps there are, and the
// sizes of the dimensions. Nothing is kept per record, so a plan has the
// same size for any file; the decoding pass meets the rays again in the
// same order and places each one with a RayCursor.

#ifndef QUELLMAR_COMPANIONS_NC_PLAN_H
#define QUELLMAR_COMPANIONS_NC_PLAN_H

#include <cstdint>
#include <string>

#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

struct NcPlan {
  int64_t rays = 0;               // in file order
  int64_t n_points = 0;           // gates of all rays together
  int64_t sweeps = 0;             // runs of rays of one beam at one elevation
  int32_t max_gates = 0;          // size of the range dimension
  int64_t spectrum_length = 0;    // longest spectrum line; 0: no spectra
  int64_t shortest_spectrum = 0;  // shortest line of a ray with spectra
  bool second_set = false;        // some ray carries a second moment set
  RecordFacts range_ray;   // the first ray with the most gates: its gates are
                           // the range coordinate
  int32_t first_time = 0;  // earliest ray
  int32_t last_time = 0;   // latest ray
  int32_t base_time = 0;   // the first ray's: time values count from it
};

// Where the next ray goes: its number, the index of its first gate in
// n_points and whether it starts a new sweep. A run of consecutive rays of
// one beam at one elevation is one sweep (a HeaderBlock that points the
// beam elsewhere starts a new one).
class RayCursor {
 public:
  struct Place {
    int64_t ray = 0;
    int64_t start_index = 0;
    int64_t sweep = 0;
    bool new_sweep = false;
  };
  Place next(const RecordFacts& ray);
  int64_t rays() const { return rays_; }
  int64_t points() const { return points_; }
  int64_t sweeps() const { return sweeps_; }

 private:
  int64_t rays_ = 0;
  int64_t points_ = 0;
  int64_t sweeps_ = 0;
  int32_t beam_ = 0;
  float elevation_ = 0.f;
};

// Builds the plan of the records of one radar (-1: every radar) from the
// records of the file, given one by one in file order.
class NcPlanner {
 public:
  // Without RASS dwells (records of kRassSpectralPoints spectral points or
  // more) when skip_rass is set.
  explicit NcPlanner(int32_t radar, bool skip_rass = false)
      : radar_(radar), skip_rass_(skip_rass) {}
  // Whether a record of the file becomes a ray.
  bool takes(const RecordFacts& record) const {
    return (radar_ == -1 || record.radar == radar_) &&
           !(skip_rass_ && record.spectral_points >= kRassSpectralPoints);
  }
  void add(const RecordFacts& record);
  // RASS dwells of the radar left out.
  int64_t rass_skipped() const { return rass_skipped_; }
  // False, with a message, when there is nothing to convert or a ray's beam
  // cannot be described from its HeaderBlock (the first such ray).
  bool finish(NcPlan* plan, std::string* error) const;

 private:
  int32_t radar_;
  bool skip_rass_;
  int64_t rass_skipped_ = 0;
  NcPlan plan_;
  RayCursor cursor_;
  std::string error_;
};

// Number of values in the spectrum line of a ray; 0 when it carries none.
int64_t ray_spectrum_length(const RecordFacts& ray);

// Metres along the beam to the centre of gate g of a ray: the first gate's
// delay less the delay offset, plus g spacings, at 0.15 m per nanosecond.
float gate_range_m(const RecordFacts& ray, int64_t gate);
float gate_spacing_m(const RecordFacts& ray);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_PLAN_H

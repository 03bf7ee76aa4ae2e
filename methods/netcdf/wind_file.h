// The quellmar-wind netCDF-4 file (CF-1.8, featureType timeSeriesProfile):
// global attributes and the position in the root group, one group
// "mode_<N>" per operating mode with orthogonal time x height profiles and
// the per-beam consensus values. docs/winds.md lists every variable.

#ifndef QUELLMAR_COMPANIONS_WIND_NETCDF_H
#define QUELLMAR_COMPANIONS_WIND_NETCDF_H

#include <string>
#include <vector>

#include "methods/netcdf/nc_group.h"
#include "methods/wind/profiles.h"
#include "methods/wind/report.h"

namespace quellmar::companions {

// Fill value of every float variable that can miss values.
constexpr float kWindFill = kProfileFill;

// The file written period by period: created with every mode's layout
// (ModeProfiles without values), then each finished period, then the
// flags. Every operation throws WindFileError when the library fails.
class WindNetcdf {
 public:
  // Creates the file at path (replacing what is there) and writes all but
  // the values.
  WindNetcdf(const std::string& path, const WindReport& report,
             const std::vector<ModeProfiles>& layouts);
  // Opens a complete file of these layouts for reading (get only).
  WindNetcdf(const std::string& path, const std::vector<ModeProfiles>& layouts);
  ~WindNetcdf();
  WindNetcdf(const WindNetcdf&) = delete;
  WindNetcdf& operator=(const WindNetcdf&) = delete;

  // One period of mode index mi.
  void put(size_t mi, const PeriodProfiles& p);
  // The flags of every period of mode index mi (u, v, w; time x height).
  void put_flags(size_t mi, const std::vector<uint8_t>& u_flag,
                 const std::vector<uint8_t>& v_flag,
                 const std::vector<uint8_t>& w_flag);
  // Reads back what put wrote of one period: the height arrays and the
  // counts (missing values as NaN).
  PeriodProfiles get(size_t mi, size_t period) const;
  // Closes the file.
  void close();

 private:
  struct ModeIds {
    int group = -1;
    size_t heights = 0, beams = 0, gates = 0;
    int u = -1, v = -1, w = -1, speed = -1, direction = -1, residual = -1;
    int radial_velocity = -1, n_used = -1, n_available = -1, mean_snr = -1;
    int u_flag = -1, v_flag = -1, w_flag = -1;
    int method_flag = -1, gate_flag = -1;
  };
  std::string path_;
  int ncid_ = -1;
  std::vector<ModeIds> modes_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_NETCDF_H

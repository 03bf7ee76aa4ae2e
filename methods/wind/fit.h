// Beam swinging: the wind vector (u east, v north, w up) at one height from
// the radial velocities of several beams, by least squares.

#ifndef QUELLMAR_COMPANIONS_WIND_FIT_H
#define QUELLMAR_COMPANIONS_WIND_FIT_H

#include <vector>

namespace quellmar::companions {

// A beam's pointing: the unit vector along the beam, positive away from the
// radar.
struct BeamPointing {
  double east = 0.0;   // sin(azimuth) cos(elevation)
  double north = 0.0;  // cos(azimuth) cos(elevation)
  double up = 1.0;     // sin(elevation)
  // Within half a degree of straight up or down: it measures w alone.
  bool vertical = true;
};

// Azimuth clockwise from north and elevation above the horizon, in degrees.
BeamPointing beam_pointing(double azimuth_deg, double elevation_deg);

struct FitRow {
  BeamPointing pointing;
  double radial_velocity = 0.0;  // m/s, positive away from the radar
};

struct WindFit {
  bool ok = false;
  double u = 0.0, v = 0.0, w = 0.0;  // m/s
  double residual = 0.0;             // RMS of the rows' residuals, m/s
};

// Solves radial_velocity = u east + v north + w up over the rows in the
// least-squares sense. Not ok (nothing solved) unless the horizontal
// directions of the non-vertical beams span two dimensions (two of them
// at least 5 degrees from parallel) and there is a vertical beam or there
// are at least three rows, and the system is not numerically singular.
WindFit fit_wind(const std::vector<FitRow>& rows);

// u and v with w = 0 assumed, from the non-vertical rows alone (vertical
// ones are left out): not ok unless their horizontal directions span two
// dimensions. w is 0 in the result.
WindFit fit_wind_w_zero(const std::vector<FitRow>& rows);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_FIT_H

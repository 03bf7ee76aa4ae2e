#include "methods/wind/fit.h"

#include <cmath>
#include <numbers>

namespace quellmar::companions {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

// Two horizontal directions at least this far from parallel (as the sine
// of the angle between them) span the horizontal plane.
const double kMinCrossing = std::sin(5.0 * kDegree);
const double kVerticalCosine = std::sin(0.5 * kDegree);

bool horizontal_span(const std::vector<FitRow>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    const BeamPointing& a = rows[i].pointing;
    if (a.vertical) continue;
    for (size_t j = i + 1; j < rows.size(); ++j) {
      const BeamPointing& b = rows[j].pointing;
      if (b.vertical) continue;
      const double cross = a.east * b.north - a.north * b.east;
      const double lengths =
          std::hypot(a.east, a.north) * std::hypot(b.east, b.north);
      if (std::abs(cross) >= kMinCrossing * lengths) return true;
    }
  }
  return false;
}

double det3(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

}  // namespace

BeamPointing beam_pointing(double azimuth_deg, double elevation_deg) {
  const double az = azimuth_deg * kDegree;
  const double el = elevation_deg * kDegree;
  BeamPointing p;
  p.east = std::sin(az) * std::cos(el);
  p.north = std::cos(az) * std::cos(el);
  p.up = std::sin(el);
  p.vertical = std::abs(std::cos(el)) < kVerticalCosine;
  return p;
}

WindFit fit_wind(const std::vector<FitRow>& rows) {
  WindFit fit;
  bool has_vertical = false;
  for (const FitRow& r : rows) has_vertical |= r.pointing.vertical;
  if (!(has_vertical || rows.size() >= 3) || !horizontal_span(rows)) {
    return fit;
  }

  // Normal equations: (A^T A) x = A^T b, rows of A unit vectors.
  double normal[3][3] = {};
  double rhs[3] = {};
  for (const FitRow& r : rows) {
    const double a[3] = {r.pointing.east, r.pointing.north, r.pointing.up};
    for (int i = 0; i < 3; ++i) {
      rhs[i] += a[i] * r.radial_velocity;
      for (int j = 0; j < 3; ++j) normal[i][j] += a[i] * a[j];
    }
  }
  const double det = det3(normal);
  const double n = static_cast<double>(rows.size());
  // The rows are unit vectors, so the entries are at most n: a determinant
  // this small leaves one wind component undetermined.
  if (!(std::abs(det) > 1e-10 * n * n * n)) return fit;
  double x[3];
  for (int k = 0; k < 3; ++k) {
    double m[3][3];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) m[i][j] = j == k ? rhs[i] : normal[i][j];
    }
    x[k] = det3(m) / det;
  }
  double squares = 0.0;
  for (const FitRow& r : rows) {
    const double e =
        r.radial_velocity - (x[0] * r.pointing.east + x[1] * r.pointing.north +
                             x[2] * r.pointing.up);
    squares += e * e;
  }
  fit.u = x[0];
  fit.v = x[1];
  fit.w = x[2];
  fit.residual = std::sqrt(squares / n);
  fit.ok = std::isfinite(fit.u) && std::isfinite(fit.v) &&
           std::isfinite(fit.w) && std::isfinite(fit.residual);
  return fit;
}

WindFit fit_wind_w_zero(const std::vector<FitRow>& rows) {
  WindFit fit;
  if (!horizontal_span(rows)) return fit;
  double a = 0.0, b = 0.0, c = 0.0, ru = 0.0, rv = 0.0;
  size_t n = 0;
  for (const FitRow& r : rows) {
    if (r.pointing.vertical) continue;
    a += r.pointing.east * r.pointing.east;
    b += r.pointing.east * r.pointing.north;
    c += r.pointing.north * r.pointing.north;
    ru += r.pointing.east * r.radial_velocity;
    rv += r.pointing.north * r.radial_velocity;
    ++n;
  }
  const double det = a * c - b * b;
  if (!(std::abs(det) > 1e-10 * static_cast<double>(n * n))) return fit;
  fit.u = (c * ru - b * rv) / det;
  fit.v = (a * rv - b * ru) / det;
  double squares = 0.0;
  for (const FitRow& r : rows) {
    if (r.pointing.vertical) continue;
    const double e = r.radial_velocity -
                     (fit.u * r.pointing.east + fit.v * r.pointing.north);
    squares += e * e;
  }
  fit.residual = std::sqrt(squares / static_cast<double>(n));
  fit.ok = std::isfinite(fit.u) && std::isfinite(fit.v) &&
           std::isfinite(fit.residual);
  return fit;
}

}  // namespace quellmar::companions

// Precipitation in a vertical beam's stored moments: the fall speed of
// rain or snow and its broad echo, sustained over a period, are no air
// motion, so w is not taken from them.

#ifndef QUELLMAR_COMPANIONS_WIND_PRECIPITATION_W_H
#define QUELLMAR_COMPANIONS_WIND_PRECIPITATION_W_H

#include <cstddef>
#include <cstdint>

#include "methods/wind/profiles.h"

namespace quellmar::companions {

// Sets kGatePrecipitation in gate_flag[g] (g below s.gates) for each gate
// of a vertical beam's period of records where, of the n records holding
// the gate, at least max(3, min_share x n) have a finite velocity with
// w = up_sign x velocity <= -fall_speed_m_s and a width of at least
// min_width_m_s. up_sign turns a stored velocity into w: the velocity
// sign (1 away, -1 toward) over the sine of the elevation. Records
// without widths never count.
void flag_precipitation(const BeamSeries& s, double up_sign,
                        const PrecipitationRule& rule, uint8_t* gate_flag);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_PRECIPITATION_W_H

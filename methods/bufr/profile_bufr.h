// WMO BUFR edition 4 messages of profiler products, one profile (one
// period of one mode) per message: winds in the sequence 3 09 024, virtual
// temperatures in 3 09 025, with a quality indicator (0 33 002) per value.
// Written with ecCodes (bufr_file.h: also in a build without it).

#ifndef QUELLMAR_COMPANIONS_BUFR_PROFILE_BUFR_H
#define QUELLMAR_COMPANIONS_BUFR_PROFILE_BUFR_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace quellmar::companions {

// The station the messages name.
struct BufrStation {
  int32_t block = 0;       // WMO block number, 0 to 99
  int32_t station = 0;     // WMO station number, 0 to 999
  double latitude = 0.0;   // degrees north
  double longitude = 0.0;  // degrees east
  double altitude = 0.0;   // m above sea level
  // The radar's transmit frequency (0 02 121, mean frequency); NaN:
  // unknown, written as missing.
  double transmit_frequency_hz = NAN;
};

// The values of 0 33 002 (quality information).
enum BufrQuality : uint8_t {
  kQualityGood = 0,
  kQualitySuspect = 1,
  kQualityNone = 3,  // no quality information
};

enum class BufrProduct {
  kWind,                // 3 09 024: u, v (one indicator), w (its own)
  kVirtualTemperature,  // 3 09 025: Tv
};

// One profile: what one message carries.
struct BufrProfile {
  int64_t end_time = 0;         // end of the period, s since 1970 UTC
  int32_t period_minutes = 0;   // written as the time period -P
  std::vector<double> heights;  // m above sea level
  // kWind: u, v, w (m/s) and the indicators of (u, v) and w; NaN missing.
  // kVirtualTemperature: values[0] is Tv (K) and quality[0] its
  // indicators.
  std::vector<float> values[3];
  std::vector<uint8_t> quality[2];
};

// A message's value that BUFR cannot hold (outside the range of its
// element) is encoded as missing, never wrapped.
class BufrError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Appends messages to an open file. Throws BufrError when ecCodes cannot
// make a message or the file cannot take it.
void write_bufr_profile(std::FILE* out, BufrProduct product,
                        const BufrStation& station, const BufrProfile& p);

// The quality indicator of a flag of the continuity check (0 good, 1
// suspect, 2 missing), or of a pair of them (suspect when either is).
inline uint8_t bufr_quality(uint8_t flag, bool checked) {
  if (!checked || flag > 1) return kQualityNone;
  return flag == 1 ? kQualitySuspect : kQualityGood;
}
inline uint8_t bufr_quality(uint8_t flag_a, uint8_t flag_b, bool checked) {
  if (!checked) return kQualityNone;
  if (flag_a == 1 || flag_b == 1) return kQualitySuspect;
  if (flag_a > 1 || flag_b > 1) return kQualityNone;
  return kQualityGood;
}

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_BUFR_PROFILE_BUFR_H

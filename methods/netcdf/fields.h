// The field variables of a converted file: their names and attributes, and
// the decoded array each one takes its values from. quellmar-nc writes the
// fields of kFields; another program hands NcFile its own table, with the
// values of each ray given by the caller.

#ifndef QUELLMAR_COMPANIONS_NC_FIELDS_H
#define QUELLMAR_COMPANIONS_NC_FIELDS_H

#include <vector>

#include "disk/pda.h"

namespace quellmar::companions {

struct FieldSpec {
  const char* name;
  const char* long_name;
  const char* standard_name;
  const char* units;
  const char* comment;
  bool second_set;
  std::vector<float> MomentArrays::*values;  // nullptr: given by the caller
  bool decibels;  // the array holds a linear power, written in dB
  // An unsigned byte variable of flag bits (CF flag_masks, flag_meanings)
  // without a fill value, instead of a float one.
  const unsigned char* flag_masks = nullptr;
  int flag_count = 0;
  const char* flag_meanings = "";
};

inline const FieldSpec kFields[] = {
    {"VEL", "radial_velocity",
     "radial_velocity_of_scatterers_away_from_instrument", "m/s", "", false,
     &MomentArrays::velocity, false},
    {"WIDTH", "doppler_spectrum_width", "doppler_spectrum_width", "m/s", "",
     false, &MomentArrays::width, false},
    {"SNR", "signal_to_noise_ratio", "signal_to_noise_ratio", "dB", "", false,
     &MomentArrays::snr, false},
    {"NOISE", "noise_level", "", "dB", "", false, &MomentArrays::noise, false},
    {"SIGNAL_POWER", "signal_power", "", "dB",
     "10 log10 of the decoded linear signal power; fill value where that "
     "power is not positive",
     false, &MomentArrays::signal_power, true},
    {"VEL2", "radial_velocity_second_set",
     "radial_velocity_of_scatterers_away_from_instrument", "m/s",
     "second moment set", true, &MomentArrays::velocity2, false},
    {"WIDTH2", "doppler_spectrum_width_second_set", "doppler_spectrum_width",
     "m/s", "second moment set", true, &MomentArrays::width2, false},
    {"SNR2", "signal_to_noise_ratio_second_set", "signal_to_noise_ratio", "dB",
     "second moment set", true, &MomentArrays::snr2, false},
    {"SIGNAL_POWER2", "signal_power_second_set", "", "dB",
     "second moment set; 10 log10 of the decoded linear signal power; fill "
     "value where that power is not positive",
     true, &MomentArrays::signal_power2, true},
    {"AUX2", "auxiliary_value_second_set", "", "",
     "second moment set: the stored auxiliary count divided by 10", true,
     &MomentArrays::aux2, false},
};
constexpr int kFieldCount = sizeof kFields / sizeof kFields[0];

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_FIELDS_H

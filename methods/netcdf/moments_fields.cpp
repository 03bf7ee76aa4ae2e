#include "methods/netcdf/moments_fields.h"

#include <cstdio>

#include "methods/moments/recompute.h"

namespace quellmar::companions {

std::vector<FieldSpec> moments_fields(bool keep_stored) {
  std::vector<FieldSpec> t = {
      {"VEL", "radial_velocity",
       "radial_velocity_of_scatterers_away_from_instrument", "m/s",
       "recomputed from the spectra: power-weighted mean velocity of the "
       "chosen peak",
       false, nullptr, false},
      {"WIDTH", "doppler_spectrum_width", "doppler_spectrum_width", "m/s",
       "recomputed from the spectra: one standard deviation of the chosen "
       "peak",
       false, nullptr, false},
      {"SNR", "signal_to_noise_ratio", "signal_to_noise_ratio", "dB",
       "recomputed from the spectra: peak power over the noise of the whole "
       "band",
       false, nullptr, false},
      {"NOISE", "noise_level", "", "dB",
       "recomputed from the spectra: Hildebrand-Sekhon noise level per "
       "spectral point, 10 log10 in the spectra's units",
       false, nullptr, false},
      {"SIGNAL_POWER", "signal_power", "", "dB",
       "recomputed from the spectra: 10 log10 of the chosen peak's power "
       "above the noise",
       false, nullptr, false},
  };
  if (keep_stored) {
    const char* stored = "as stored in the data file";
    t.push_back({"VEL_STORED", "radial_velocity_stored",
                 "radial_velocity_of_scatterers_away_from_instrument", "m/s",
                 stored, false, &MomentArrays::velocity, false});
    t.push_back({"WIDTH_STORED", "doppler_spectrum_width_stored",
                 "doppler_spectrum_width", "m/s", stored, false,
                 &MomentArrays::width, false});
    t.push_back({"SNR_STORED", "signal_to_noise_ratio_stored",
                 "signal_to_noise_ratio", "dB", stored, false,
                 &MomentArrays::snr, false});
    t.push_back({"NOISE_STORED", "noise_level_stored", "", "dB", stored, false,
                 &MomentArrays::noise, false});
  }
  FieldSpec flags{"QC_FLAGS",
                  "quality_control_flags",
                  "",
                  "",
                  "what the moments method found in the gate's spectrum",
                  false,
                  nullptr,
                  false};
  flags.flag_masks = kQcMasks.data();
  flags.flag_count = static_cast<int>(kQcMasks.size());
  flags.flag_meanings = kQcMeanings;
  t.push_back(flags);
  t.push_back({"PRECIP_VEL", "precipitation_radial_velocity", "", "m/s",
               "recomputed from the spectra: power-weighted mean velocity of "
               "the precipitation peak, where flagged precipitation",
               false, nullptr, false});
  t.push_back({"PRECIP_WIDTH", "precipitation_doppler_spectrum_width", "",
               "m/s",
               "recomputed from the spectra: one standard deviation of the "
               "precipitation peak, where flagged precipitation",
               false, nullptr, false});
  t.push_back({"PRECIP_SNR", "precipitation_signal_to_noise_ratio", "", "dB",
               "recomputed from the spectra: precipitation peak power over "
               "the noise of the whole band, where flagged precipitation",
               false, nullptr, false});
  return t;
}

std::vector<std::pair<std::string, std::string>> moments_attributes(
    const MomentsMethod& m, const std::string& axis) {
  char tail_widths[32];
  std::snprintf(tail_widths, sizeof tail_widths, "%g", m.tail_widths);
  return {
      {"moments_method", describe_method(m)},
      {"moments_noise", "Hildebrand and Sekhon (1974)"},
      {"moments_peak",
       m.peak == PeakChoice::kContinuity ? "continuity" : "strongest"},
      {"moments_clutter", m.clutter ? "removed" : "kept"},
      {"moments_clutter_points", std::to_string(m.clutter_points)},
      {"moments_interference", m.interference ? "removed" : "kept"},
      {"moments_min_points", std::to_string(m.min_points)},
      {"moments_tail_widths", tail_widths},
      {"moments_axis_option", axis_name(m.axis)},
      {"moments_velocity_axis", axis},
  };
}

}  // namespace quellmar::companions

// quellmar-wind's netCDF file from its input: the profiles streamed into
// the file period by period as they are finished, then the quality flags.

#ifndef QUELLMAR_COMPANIONS_NC_WIND_STREAM_FILE_H
#define QUELLMAR_COMPANIONS_NC_WIND_STREAM_FILE_H

#include <functional>
#include <string>
#include <vector>

#include "methods/pairs/pair_input.h"
#include "methods/wind/profiles.h"
#include "methods/wind/report.h"
#include "methods/wind/spectra_source.h"

namespace quellmar::companions {

// Writes the wind file of the planned input to path: each period as it is
// finished, u, v and w kept for the time-height check, then the flags.
// modes receives every mode's layout with u, v, w and their flags (for the
// CSV and BUFR files). spectra, when given, recomputes the moments from the
// spectra. What the run has to say (the velocity axis taken per pair, the
// records set aside as duplicates) goes to finding when it is known. False,
// with a message, when the input cannot be read; throws WindFileError when
// the file cannot be written.
bool write_wind_stream_file(
    const std::string& path, const WindReport& report, const InputPlan& plan,
    const RecordChoice& choice, SpectraMoments* spectra,
    const std::function<void(const std::string&)>& finding,
    std::vector<ModeProfiles>* modes, std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_WIND_STREAM_FILE_H

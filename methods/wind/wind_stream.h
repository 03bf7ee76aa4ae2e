// The wind profiles of a planned input, period by period: the records
// that count are read merged by time and each period's profiles go to the
// sink as soon as no input can add to it.

#ifndef QUELLMAR_COMPANIONS_WIND_WIND_STREAM_H
#define QUELLMAR_COMPANIONS_WIND_WIND_STREAM_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "methods/wind/input.h"
#include "methods/wind/profile_stream.h"
#include "methods/wind/profiles.h"

namespace quellmar::companions {

// on_layouts gets every mode's layout before the first period comes. The
// velocities and SNRs are the stored ones, or with a source those it
// gives. False, with a message, when an input no longer matches its plan
// or the source refuses a pair.
bool stream_wind_profiles(
    const InputPlan& plan, const RecordChoice& choice, const WindMethod& method,
    const std::function<void(const std::vector<ModeProfiles>&)>& on_layouts,
    const ProfileStream::Sink& sink, int64_t* duplicates, std::string* error,
    RecordMomentsSource* source = nullptr);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_WIND_WIND_STREAM_H

#include "methods/netcdf/wind_stream_file.h"

#include <cstdint>
#include <memory>

#include "methods/netcdf/wind_file.h"
#include "methods/wind/wind_stream.h"

namespace quellmar::companions {

bool write_wind_stream_file(
    const std::string& path, const WindReport& report, const InputPlan& plan,
    const RecordChoice& choice, SpectraMoments* spectra,
    const std::function<void(const std::string&)>& finding,
    std::vector<ModeProfiles>* modes, std::string* error) {
  const WindMethod& method = report.method;
  std::unique_ptr<WindNetcdf> file;
  int64_t duplicates = 0;
  const bool read = stream_wind_profiles(
      plan, choice, method,
      [&](const std::vector<ModeProfiles>& layouts) {
        *modes = layouts;
        file = std::make_unique<WindNetcdf>(path, report, *modes);
      },
      [&](size_t mi, const PeriodProfiles& p) {
        file->put(mi, p);
        ModeProfiles& m = (*modes)[mi];
        m.u.insert(m.u.end(), p.u.begin(), p.u.end());
        m.v.insert(m.v.end(), p.v.begin(), p.v.end());
        m.w.insert(m.w.end(), p.w.begin(), p.w.end());
        m.method_flag.insert(m.method_flag.end(), p.method_flag.begin(),
                             p.method_flag.end());
      },
      &duplicates, error, spectra);
  if (!read) return false;
  if (spectra != nullptr) {
    for (const std::string& note : spectra->axis_notes()) finding(note);
  }
  if (duplicates > 0) finding(duplicates_finding(duplicates));
  for (size_t mi = 0; mi < modes->size(); ++mi) {
    ModeProfiles& m = (*modes)[mi];
    set_quality_flags(&m, method);
    file->put_flags(mi, m.u_flag, m.v_flag, m.w_flag);
  }
  file->close();
  return true;
}

}  // namespace quellmar::companions

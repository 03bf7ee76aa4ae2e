#include "methods/csv/wind_csv_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <tuple>

#include "methods/csv/wind_csv.h"
#include "methods/netcdf/wind_file.h"

namespace quellmar::companions {

bool write_wind_csv_file(const std::string& path,
                         const std::string& netcdf_path,
                         const std::vector<ModeProfiles>& modes,
                         std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = true;
  try {
    const WindNetcdf file(netcdf_path, modes);
    const std::set<int32_t> beams = csv_beam_numbers(modes);
    std::string text = wind_csv_header(beams);
    for (const auto& [start, mi, p] : table_order(modes)) {
      const ModeProfiles& m = modes[mi];
      const size_t at = p * m.height.size();
      append_wind_csv_rows(beams, m, file.get(mi, p), m.u_flag.data() + at,
                           m.v_flag.data() + at, m.w_flag.data() + at, &text);
      if (text.size() >= (size_t{1} << 20)) {
        written = written &&
                  std::fwrite(text.data(), 1, text.size(), f) == text.size();
        text.clear();
      }
    }
    written =
        written && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  } catch (const WindFileError& e) {
    std::fclose(f);
    *error = netcdf_path + ": " + e.what();
    return false;
  }
  const int saved = errno;
  if (std::fclose(f) != 0 || !written) {
    *error =
        "cannot write " + path + ": " + std::strerror(written ? errno : saved);
    return false;
  }
  return true;
}

}  // namespace quellmar::companions

#include "methods/pairs/pair_pool.h"

#include <cstring>
#include <filesystem>

namespace quellmar::companions {

namespace {

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

std::string stored_name(const char (&field)[32]) {
  return std::string(field, strnlen(field, sizeof field));
}

void add_damage(const std::string& path, const std::vector<Damage>& damage,
                std::vector<std::string>* findings) {
  constexpr size_t kShown = 20;
  for (size_t i = 0; i < damage.size() && i < kShown; ++i) {
    const Damage& d = damage[i];
    findings->push_back(path + ": data offset " + std::to_string(d.offset) +
                        ": " + d.kind + ": " + d.detail);
  }
  if (damage.size() > kShown) {
    findings->push_back(path + ": " + std::to_string(damage.size() - kShown) +
                        " more finding(s); quellmar-info lists them all");
  }
}

bool named_once(const std::vector<std::string>& paths, std::string* error) {
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (paths[i] == paths[j] || same_file(paths[i], paths[j])) {
        *error = paths[i] + ": named twice (as " + paths[j] + ")";
        return false;
      }
    }
  }
  return true;
}

BeamGeometry geometry_of(const RecordFacts& f) {
  BeamGeometry g;
  g.azimuth = f.azimuth;
  g.elevation = f.elevation;
  g.first_gate_delay_ns = f.first_gate_delay_ns;
  g.delay_offset_ns = f.delay_offset_ns;
  g.gate_spacing_ns = f.gate_spacing_ns;
  return g;
}

std::string geometry_set_aside(int32_t mode, int32_t beam, int64_t aside,
                               int64_t kept) {
  return "mode " + std::to_string(mode) + " beam " + std::to_string(beam) +
         ": " + std::to_string(aside) +
         " record(s) set aside: their HeaderBlock points the beam elsewhere "
         "or places its gates differently than for the other " +
         std::to_string(kept);
}

}  // namespace quellmar::companions

// What the programs that read the records of several file pairs of one
// site (quellmar-wind, quellmar-rass; wind/input.h) share: the checks across
// pairs, the damage lines, and where a beam points and its gates lie.

#ifndef QUELLMAR_COMPANIONS_PAIR_POOL_H
#define QUELLMAR_COMPANIONS_PAIR_POOL_H

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/pda.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

// A name field as stored (up to its first NUL).
std::string stored_name(const char (&field)[32]);
// The damage found in the pair at path as findings: at most 20 lines, then
// one saying how many more.
void add_damage(const std::string& path, const std::vector<Damage>& damage,
                std::vector<std::string>* findings);
// False, with "PATH: named twice (as OTHER)", when two paths name one file.
bool named_once(const std::vector<std::string>& paths, std::string* error);

// Where a beam points and where its gates lie, as its HeaderBlock says.
struct BeamGeometry {
  int32_t azimuth = 0;    // degrees, as stored
  float elevation = 0.f;  // degrees
  int32_t first_gate_delay_ns = 0;
  int32_t delay_offset_ns = 0;
  int32_t gate_spacing_ns = 0;
  auto operator<=>(const BeamGeometry&) const = default;
};
BeamGeometry geometry_of(const RecordFacts& facts);

// The note on records of a beam set aside for their geometry.
std::string geometry_set_aside(int32_t mode, int32_t beam, int64_t aside,
                               int64_t kept);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_PAIR_POOL_H

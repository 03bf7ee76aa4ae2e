// Reading the records of one or more file pairs of one site, pooled
// whatever file they came from: the programs that average over time
// (quellmar-wind, quellmar-rass) choose the records and keep what they need
// of each; opening, the checks across pairs, damage reports and progress are
// done here once.

#ifndef QUELLMAR_COMPANIONS_PAIR_POOL_H
#define QUELLMAR_COMPANIONS_PAIR_POOL_H

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "companions/common/pair_scan.h"
#include "disk/pda.h"

namespace quellmar::companions {

struct PoolRequest {
  const char* program = "";  // names the progress line
  // Whether the record's body is decoded and handed to take().
  std::function<bool(const RecordFacts&)> wanted;
  // After every pair has been walked and before any body is decoded: the
  // records wanted and their gates in all. False, with a message, stops.
  std::function<bool(int64_t records, int64_t gate_values, std::string*)> check;
  // Every wanted record, decoded, in file order pair after pair.
  std::function<void(const RecordFacts&, const MomentArrays&)> take;
  // Optional: before the records of each pair are decoded (false, with a
  // message, stops), and after the last.
  std::function<bool(const std::string& path, std::string*)> begin_pair;
  std::function<void()> finish;
};

struct PoolResult {
  std::string site_name;  // the first pair's, bytes as stored
  int64_t records = 0;    // wanted records
  // Damage found in the pairs (at most 20 lines per pair), one line each,
  // for the program to report when it goes on.
  std::vector<std::string> findings;
};

// Opens each pair the way the other programs do, walks it, and decodes the
// wanted records (the program sends the module's messages where it wants
// them, pda_set_message_stream). False,
// with a message, when a pair cannot be opened, the same file is named
// twice, the pairs are of different sites, check() refuses, or a data file
// changes while it is read.
bool pool_pairs(const std::vector<std::string>& paths,
                const PoolRequest& request, PoolResult* out,
                std::string* error);

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

// Records pooled by operating mode, beam and geometry.
using SeriesKey = std::tuple<int32_t, int32_t, BeamGeometry>;

// The note on records of a beam set aside for their geometry.
std::string geometry_set_aside(int32_t mode, int32_t beam, int64_t aside,
                               int64_t kept);

// One series per (mode, beam): the geometry most of its records share (the
// lowest geometry on a tie); the others' records are set aside with a
// finding. Series has records().
template <class Series>
std::vector<Series> keep_main_geometry(std::map<SeriesKey, Series> all,
                                       std::vector<std::string>* findings) {
  std::vector<Series> out;
  auto it = all.begin();
  while (it != all.end()) {
    const int32_t mode = std::get<0>(it->first);
    const int32_t beam = std::get<1>(it->first);
    auto best = it;
    int64_t total = 0;
    auto next = it;
    for (; next != all.end() && std::get<0>(next->first) == mode &&
           std::get<1>(next->first) == beam;
         ++next) {
      total += static_cast<int64_t>(next->second.records());
      if (next->second.records() > best->second.records()) best = next;
    }
    const int64_t kept = static_cast<int64_t>(best->second.records());
    if (kept != total) {
      findings->push_back(geometry_set_aside(mode, beam, total - kept, kept));
    }
    out.push_back(std::move(best->second));
    it = next;
  }
  return out;
}

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_PAIR_POOL_H

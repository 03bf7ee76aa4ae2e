// The first pass of quellmar-nc: walks every record of the pair from the
// first, reading RecordHeaders only, plans the file and finds the damage
// that quellmar-info reports, keeping nothing per record.

#ifndef QUELLMAR_COMPANIONS_NC_SCAN_H
#define QUELLMAR_COMPANIONS_NC_SCAN_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "methods/netcdf/plan.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

struct NcScan {
  // The first findings in data-file order, in the words and kinds of
  // scan_records, at most the number asked for; and how many there are.
  std::vector<Damage> damage;
  int64_t damage_count = 0;
  int64_t records = 0;  // records walked, of every radar
};

// A finding as the programs report it: "PAIR: data offset O: KIND: DETAIL".
std::string damage_line(const std::string& pair, const Damage& d);

// Walks the pair opened with open_pair, feeding every record to planner
// and then, when given, to also (which may decode it, as walk_records
// allows).
NcScan scan_for_conversion(
    const PairInput& input, size_t damage_kept, NcPlanner* planner,
    const std::function<void(const RecordFacts&)>& also = {});

// Findings kept for the programs to show; quellmar-info lists them all.
constexpr size_t kDamageShown = 20;

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_SCAN_H

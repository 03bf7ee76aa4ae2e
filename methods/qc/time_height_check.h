// The time-height continuity check: quality flags for the values of one
// quantity over periods (rows) and heights (columns), after the pattern
// method. Two present values within the neighbourhood of each other join
// when they differ by at most the step; the connected sets are patterns.
// The largest pattern of the field is good, and so is every pattern of at
// least the minimum size; the cells of the other patterns are suspect.
// Values are never changed.

#ifndef QUELLMAR_COMPANIONS_QC_CONTINUITY_H
#define QUELLMAR_COMPANIONS_QC_CONTINUITY_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quellmar::companions {

// The flag of one value, as the products write it.
enum QualityFlag : uint8_t {
  kFlagGood = 0,
  kFlagSuspect = 1,
  kFlagMissing = 2,
};

struct ContinuityRule {
  double max_step = 0.0;    // the most two neighbours may differ and join
  int32_t min_pattern = 0;  // smaller patterns are suspect
  int32_t periods = 1;      // neighbourhood in time: slots either side
  int32_t heights = 1;      // neighbourhood in height: levels either side
  // A layer that jumps against the layers below: a pattern whose values
  // differ by more than this from the values just below it, at most of
  // the places where it has values below, is suspect however large it is
  // (a folded layer). 0: no such check.
  double layer_jump = 0.0;
};

// The field of one quantity: rows in ascending slot order (a row's slot
// numbers its period on a regular time axis, so that rows with periods
// missing between them are not neighbours), `columns` values per row, NaN
// where missing.
struct QualityField {
  size_t columns = 0;
  std::vector<int64_t> slots;  // one per row, ascending
  std::vector<float> values;   // rows x columns
};

// One flag per value of the field: missing for a value that is not finite,
// otherwise good or suspect by the rule. With a layer jump, the patterns
// are then taken from the lowest up: a pattern is a jumped layer when it
// has at least 3 values with a value below it (the nearest present value
// at most max(8, `heights`) levels lower in the same row, of another
// pattern not itself a jumped layer; none when the nearest is of the same
// pattern) and more than half of those lie more than d x layer_jump away
// (d: levels between them, so that shear over a gap does not count); its
// values are suspect however large it is.
std::vector<uint8_t> continuity_flags(const QualityField& field,
                                      const ContinuityRule& rule);

// The flags of a product's quantity: by the rule when the check is on, else
// good for every finite value and missing for the others.
std::vector<uint8_t> quality_flags(const QualityField& field,
                                   const std::optional<ContinuityRule>& rule);

// The number of the period starting at `start` on the regular grid of
// periods of `minutes` (each day's periods from 00:00 UTC, day after day,
// the last of a day shorter when the length does not divide the day):
// periods next to each other in time have consecutive numbers.
int64_t period_slot(int64_t start, int32_t minutes);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_QC_CONTINUITY_H

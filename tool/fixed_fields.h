// "%8.3f" fields of many floats at once, for the gate lines.
//
// format_fields3(v, n, fields, lengths) gives, for every v[i], exactly what
// format_fixed_width8<3>(out, v[i]) gives: the eight bytes of printf's
// "%8.3f" in fields[i] (bytes in text order, lowest address first, when
// stored with memcpy on a little-endian machine) and the text length
// without padding in lengths[i]; length 0 when |v[i]| rounds to 1000 or
// more or is not finite (fields[i] then unspecified). The values are
// rounded from their exact binary value, ties to even, as glibc does.
//
// On x86-64 four values are done at a time with SSE2; elsewhere, and for
// the last n % 4 values, one at a time through format_fixed_width8<3>.

#ifndef QUELLMAR_TOOL_FIXED_FIELDS_H
#define QUELLMAR_TOOL_FIXED_FIELDS_H

#include <cstddef>
#include <cstdint>

namespace quellmar {

void format_fields3(const float* v, std::size_t n, std::uint64_t* fields,
                    std::uint8_t* lengths);

}  // namespace quellmar

#endif  // QUELLMAR_TOOL_FIXED_FIELDS_H

// The bytes of a chunk as the file stores them: the values of the chunk in
// row-major order, then, when the variable is compressed, HDF5's shuffle
// filter (byte k of every value together, k = 0 .. element size - 1) and
// HDF5's deflate filter (filter 1: one zlib stream of the shuffled bytes at
// the variable's level). Every netCDF-4 and HDF5 reader inflates these
// chunks with its own filters. libdeflate compresses them when the build
// has it (the same format, about 1.6 times faster than zlib at the same
// level and size), zlib otherwise. Safe to call from any thread: it
// touches no library state but its own per thread.

#ifndef QUELLMAR_COMPANIONS_CHUNK_PACK_H
#define QUELLMAR_COMPANIONS_CHUNK_PACK_H

#include <cstddef>
#include <memory>
#include <vector>

namespace quellmar::companions {

// Huffman codes for the deflate streams of chunks alike (a variable's
// spectra, say), made from one chunk's shuffled bytes. Level 1 builds its
// codes from each chunk's own bytes, a fifth of its time on 32 KiB chunks;
// given these codes, ISA-L's level 0 writes the same standard stream
// without that step and without level 1's second pass: on the bench day's
// spectra, codes made from every 16th chunk give streams 0.5 % larger in a
// third less time. Chunks unlike the one the codes come from compress
// worse (up to twice the size), so the codes are made again every few
// chunks. Null when the build has no ISA-L (pack_chunk then goes on as
// without codes).
struct DeflateCodes;
std::shared_ptr<const DeflateCodes> deflate_codes(const void* values,
                                                  size_t bytes,
                                                  size_t element_size);

// Puts into *stored the stored bytes of a chunk of `bytes` bytes of values
// of element_size bytes each: as they are at level 0, else shuffled and
// deflated at level 1..9, at level 1 with the codes when given. False when
// the compressor fails (out of memory).
bool pack_chunk(const void* values, size_t bytes, size_t element_size,
                int level, std::vector<unsigned char>* stored,
                const DeflateCodes* codes = nullptr);

// netCDF's Granular BitRound quantization (nc_def_var_quantize with
// NC_QUANTIZE_GRANULARBR), which the library applies to the values it
// writes and which the chunks written whole must get from here, bit for
// bit the same: each value other than the fill value, zero and the
// non-finite ones keeps the bits of its mantissa that `digits` (1..7)
// significant decimal digits need at its own magnitude, rounded half up
// on the last kept bit, and the others zero:
//   m, e      = frexp(v)                     (v = m 2^e, 0.5 <= |m| < 1)
//   d         = floor(e log10 2 + log10 |m|) + 1     (digits before the point)
//   q         = floor(log2(10) (d - digits))
//   kept      = |floor(e - log2(10) log10 |m|) - q| - 1      (mantissa bits)
//   bits      = (bits + 2^(22 - kept)) & ~(2^(23 - kept) - 1)
void quantize(float* values, size_t count, int digits, float fill);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_CHUNK_PACK_H

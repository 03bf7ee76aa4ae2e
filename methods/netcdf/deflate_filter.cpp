#include "methods/netcdf/deflate_filter.h"

#ifdef QUELLMAR_WITH_LIBDEFLATE

#include <hdf5.h>
#include <libdeflate.h>
#include <netcdf.h>
#include <zlib.h>

#include <array>
#include <cstddef>
#include <mutex>

// HDF5's registration of a filter class, exported by the library (the
// build checks that it links).
extern "C" herr_t H5Z_register(const H5Z_class2_t* cls);

namespace quellmar::companions {

namespace {

// The compressors of one thread, one per level, made when first used.
struct Compressors {
  std::array<libdeflate_compressor*, 13> by_level{};
  libdeflate_decompressor* decompressor = nullptr;
  ~Compressors() {
    for (libdeflate_compressor* c : by_level) libdeflate_free_compressor(c);
    libdeflate_free_decompressor(decompressor);
  }
  libdeflate_compressor* compressor(unsigned level) {
    if (level >= by_level.size()) return nullptr;
    if (by_level[level] == nullptr) {
      by_level[level] = libdeflate_alloc_compressor(static_cast<int>(level));
    }
    return by_level[level];
  }
};

thread_local Compressors compressors;

// Replaces the chunk in *buf by its zlib stream. HDF5's contract: the new
// buffer comes from H5allocate_memory, the old one is freed with
// H5free_memory, *buf_size becomes the new buffer's size and the result is
// the number of valid bytes; 0 on failure, the old buffer kept.
// Levels that this libdeflate lacks (0 before its version 1.16) go to zlib.
size_t compress(unsigned level, size_t nbytes, size_t* buf_size, void** buf) {
  libdeflate_compressor* c = compressors.compressor(level);
  const size_t bound = c != nullptr ? libdeflate_zlib_compress_bound(c, nbytes)
                                    : compressBound(nbytes);
  void* out = H5allocate_memory(bound, false);
  if (out == nullptr) return 0;
  size_t written = 0;
  if (c != nullptr) {
    written = libdeflate_zlib_compress(c, *buf, nbytes, out, bound);
  } else {
    uLongf length = bound;
    if (compress2(static_cast<Bytef*>(out), &length,
                  static_cast<const Bytef*>(*buf), nbytes,
                  static_cast<int>(level)) == Z_OK) {
      written = length;
    }
  }
  if (written == 0) {
    H5free_memory(out);
    return 0;
  }
  H5free_memory(*buf);
  *buf = out;
  *buf_size = bound;
  return written;
}

// Replaces the zlib stream in *buf by the chunk it holds. The stream does
// not say how long the chunk is: the output buffer starts at the size of
// the last chunk decompressed on this thread (the chunks of a variable are
// alike), at least four times the input, and doubles until it suffices.
size_t decompress(size_t nbytes, size_t* buf_size, void** buf) {
  thread_local size_t last_size = 0;
  if (compressors.decompressor == nullptr) {
    compressors.decompressor = libdeflate_alloc_decompressor();
    if (compressors.decompressor == nullptr) return 0;
  }
  size_t size = last_size > 4 * nbytes ? last_size : 4 * nbytes;
  if (size < 4096) size = 4096;
  for (;;) {
    void* out = H5allocate_memory(size, false);
    if (out == nullptr) return 0;
    size_t got = 0;
    const libdeflate_result r = libdeflate_zlib_decompress_ex(
        compressors.decompressor, *buf, nbytes, out, size, nullptr, &got);
    if (r == LIBDEFLATE_SUCCESS) {
      H5free_memory(*buf);
      *buf = out;
      *buf_size = size;
      last_size = got;
      return got;
    }
    H5free_memory(out);
    if (r != LIBDEFLATE_INSUFFICIENT_SPACE || size > (size_t{1} << 40)) {
      return 0;
    }
    size *= 2;
  }
}

size_t deflate_filter(unsigned flags, size_t cd_nelmts,
                      const unsigned cd_values[], size_t nbytes,
                      size_t* buf_size, void** buf) {
  if (flags & H5Z_FLAG_REVERSE) return decompress(nbytes, buf_size, buf);
  // The one parameter of the deflate filter is its level, 0 to 9.
  if (cd_nelmts != 1 || cd_values[0] > 9) return 0;
  return compress(cd_values[0], nbytes, buf_size, buf);
}

bool register_filter() {
  // netCDF and HDF5 started first, so that their start-up cannot put the
  // library's filter back later.
  if (nc_initialize() != NC_NOERR || H5open() < 0) return false;
  static const H5Z_class2_t filter = {
      H5Z_CLASS_T_VERS,
      H5Z_FILTER_DEFLATE,
      1,  // encodes
      1,  // decodes
      "deflate (libdeflate)",
      nullptr,  // applies wherever deflate does
      nullptr,  // no parameters of its own
      deflate_filter,
  };
  // H5Zregister refuses the ids of the predefined filters (below 256);
  // H5Z_register, which it calls after that check, replaces the class of
  // an id that is registered already.
  return H5Z_register(&filter) >= 0;
}

}  // namespace

bool use_fast_deflate() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] { registered = register_filter(); });
  return registered;
}

}  // namespace quellmar::companions

#else

namespace quellmar::companions {

bool use_fast_deflate() { return false; }

}  // namespace quellmar::companions

#endif

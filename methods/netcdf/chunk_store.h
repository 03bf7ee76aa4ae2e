// Writing the chunks of a netCDF-4 file's chunked variables as the file
// stores them (chunk_pack.h), past the library's per-value path: HDF5's
// direct chunk write (H5Dwrite_chunk) on the file that the netCDF library
// has open. Opening the same file again in the same process gives a second
// handle on the one open file, whose datasets are the netCDF variables, so
// what is written through either handle is one file.
//
// Call it from the thread that makes the process's other netCDF calls, or
// with those calls stopped: the libraries are not thread-safe.

#ifndef QUELLMAR_COMPANIONS_CHUNK_STORE_H
#define QUELLMAR_COMPANIONS_CHUNK_STORE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quellmar::companions {

class ChunkStore {
 public:
  // A second handle on the file at path, which the netCDF library has open
  // for writing. ok() is false when HDF5 cannot give one that shares the
  // netCDF library's open file (a netCDF library with its own copy of
  // HDF5, say): then nothing is written through this object.
  explicit ChunkStore(const std::string& path);
  ~ChunkStore();
  ChunkStore(const ChunkStore&) = delete;
  ChunkStore& operator=(const ChunkStore&) = delete;

  bool ok() const { return file_ >= 0; }

  // The dataset of the root group's variable name; -1 when it is missing.
  int64_t dataset(const std::string& name);
  // Writes the stored bytes of the chunk that begins at offset (one index
  // per dimension, a multiple of the chunk shape). Throws NcError.
  void write(int64_t dataset, const std::vector<uint64_t>& offset,
             const void* stored, size_t bytes);
  // Closes the datasets and the handle; before the netCDF library closes
  // the file.
  void close();

 private:
  int64_t file_ = -1;
  std::vector<int64_t> datasets_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_CHUNK_STORE_H

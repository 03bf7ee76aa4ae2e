#include "methods/netcdf/chunk_store.h"

#include <hdf5.h>

#include "methods/netcdf/file.h"

namespace quellmar::companions {

ChunkStore::ChunkStore(const std::string& path) {
  // The close degree must be the one of the handle already open (the
  // netCDF library's, weak); HDF5 refuses another.
  const hid_t access = H5Pcreate(H5P_FILE_ACCESS);
  if (access < 0) return;
  hid_t file = -1;
  H5E_BEGIN_TRY {
    if (H5Pset_fclose_degree(access, H5F_CLOSE_WEAK) >= 0) {
      file = H5Fopen(path.c_str(), H5F_ACC_RDWR, access);
    }
  }
  H5E_END_TRY;
  H5Pclose(access);
  if (file < 0) return;
  // Shared with the netCDF library's handle only when HDF5 counts both.
  if (H5Fget_obj_count(file, H5F_OBJ_FILE) < 2) {
    H5Fclose(file);
    return;
  }
  file_ = file;
}

ChunkStore::~ChunkStore() { close(); }

int64_t ChunkStore::dataset(const std::string& name) {
  if (file_ < 0) return -1;
  hid_t d = -1;
  H5E_BEGIN_TRY { d = H5Dopen2(file_, name.c_str(), H5P_DEFAULT); }
  H5E_END_TRY;
  if (d >= 0) datasets_.push_back(d);
  return d;
}

void ChunkStore::write(int64_t dataset, const std::vector<uint64_t>& offset,
                       const void* stored, size_t bytes) {
  std::vector<hsize_t> at(offset.begin(), offset.end());
  herr_t status = -1;
  H5E_BEGIN_TRY {
    status = H5Dwrite_chunk(dataset, H5P_DEFAULT, 0, at.data(), bytes, stored);
  }
  H5E_END_TRY;
  if (status < 0) {
    throw NcError("writing a chunk of " + std::to_string(bytes) +
                  " bytes failed (HDF5)");
  }
}

void ChunkStore::close() {
  for (int64_t d : datasets_) H5Dclose(d);
  datasets_.clear();
  if (file_ >= 0) H5Fclose(file_);
  file_ = -1;
}

}  // namespace quellmar::companions

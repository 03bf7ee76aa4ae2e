// Reading a file pair into arrays for the Python package, through the
// access module and quellmar-nc's record scan and decoding pass: every ray
// the file would hold, in file order, with the same values. Either the
// whole pair at once (read_pair), or its plan from the RecordHeaders alone
// (scan_pair) and then the values of chosen records (read_records).
//
// The access module holds one pair at a time in module-wide state: the
// caller makes sure that no two reads run at once.

#ifndef QUELLMAR_PYTHON_PAIR_READER_H
#define QUELLMAR_PYTHON_PAIR_READER_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "methods/netcdf/attributes.h"
#include "methods/netcdf/fields.h"

namespace quellmar::python {

// A pair that cannot be read, in the words the programs use.
class PairError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The access module could not allocate a record's arrays.
class OutOfMemory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ReadOptions {
  int32_t radar = 0;     // -1: every radar
  bool spectra = false;  // also the spectra, by spectral point
  bool raise_on_damage = true;
  int32_t beam = -1;  // scan_pair: the rays of this beam only; -1: all
};

struct PairArrays {
  // Per ray, in file order: the variables of a converted file.
  std::vector<int64_t> time;  // seconds since 1970-01-01 00:00:00 UTC
  std::vector<float> azimuth, elevation, ray_start_range, ray_gate_spacing, prt,
      nyquist_velocity;
  std::vector<int32_t> ray_n_gates, beam_index, mode_index, datacode,
      spectral_points;
  std::vector<int64_t> ray_start_index;
  // Per gate of every ray, as kFields (empty: not in the file); missing
  // values NaN.
  std::vector<std::vector<float>> fields;
  bool second_set = false;  // the second set's fields are there
  int64_t n_points = 0;

  // With ReadOptions::spectra: per gate, spectral point k (from 1) at
  // column k - 1 of spectrum_points columns, NaN for points outside every
  // window or beyond the ray's spectrum; per ray the Doppler velocity of
  // each column (m/s), NaN beyond its spectrum.
  int64_t spectrum_points = 0;
  std::vector<float> spectra;
  std::vector<double> doppler_velocity;

  companions::GlobalAttributes attributes;
  std::vector<std::string> damage;  // the first findings, as lines
  int64_t damage_count = 0;

  // From scan_pair: per ray, the data-file offset of its record and its
  // index among all rays (the rays of other beams counted); the beams of
  // all rays.
  std::vector<int64_t> offset, ray;
  std::vector<int32_t> beams;
};

// The values of chosen records: per field asked for, rows of `width`
// values (the ray's gates, then NaN), one row per record in the order the
// offsets were given; with spectra, rows of width x spectrum_points.
struct RecordValues {
  std::vector<std::vector<float>> fields;
  std::vector<float> spectra;
};

// Reads the pair of the data file at path. Throws PairError for a pair
// that cannot be opened or converted (or, with raise_on_damage, that is
// damaged: the first finding), OutOfMemory when a record's arrays cannot be
// allocated.
PairArrays read_pair(const std::string& path, const ReadOptions& options);

// The plan of the pair from its RecordHeaders, nothing decoded: every
// PairArrays member but the fields and spectra (doppler_velocity is
// there with ReadOptions::spectra), and the offset of each ray. Throws as
// read_pair.
PairArrays scan_pair(const std::string& path, const ReadOptions& options);

// Decodes the records at the data-file offsets (each one a ray of the
// plan scan_pair gave) and nothing else: the kFields of field_indices and,
// with spectrum_points > 0, the spectra. Throws PairError when a record is
// not where the plan has it (the data file changed) or does not fit the
// width, OutOfMemory as read_pair.
RecordValues read_records(const std::string& path,
                          const std::vector<int64_t>& offsets,
                          const std::vector<int>& field_indices, int64_t width,
                          int64_t spectrum_points);

// Records decoded by read_pair and read_records since the module was
// loaded.
int64_t decoded_records();

// quellmar-info's JSON report of the pair. Throws PairError.
std::string inspect_pair(const std::string& path);

}  // namespace quellmar::python

#endif  // QUELLMAR_PYTHON_PAIR_READER_H

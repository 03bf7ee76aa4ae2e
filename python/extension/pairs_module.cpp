// quellmar._pairs: the access module for the Python package.
//
//   read_pair(path, radar, spectra, raise_on_damage) -> dict of NumPy arrays
//   scan_pair(path, radar, spectra, raise_on_damage, beam) -> the same
//       without fields and spectra, nothing decoded, for the rays of beam
//       (-1: all): rays["offset"] and rays["ray"] (index among all rays)
//       per ray, "beams" (of all rays)
//   read_records(path, offsets, fields, width, spectrum_points)
//       -> {field: (records, width), "spectra": (records, width, points)}
//   decoded_records() -> records decoded so far in this process
//   inspect(path) -> quellmar-info's JSON report (str)
//
// The module's state is process-wide, so one lock serialises the reads of
// all threads; the interpreter lock is released while a pair is read, so
// other Python threads run meanwhile. Errors: PairError (a subclass of
// quellmar.errors.QuellmarFileError) and MemoryError.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "python/extension/pair_reader.h"

namespace py = pybind11;

namespace quellmar::python {

namespace {

std::mutex module_lock;

// A NumPy array over the vector's storage, which the array then owns.
template <typename T>
py::array_t<T> to_numpy(std::vector<T>&& values,
                        std::vector<py::ssize_t> shape) {
  auto* owned = new std::vector<T>(std::move(values));
  py::capsule owner(owned,
                    [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(std::move(shape), owned->data(), owner);
}

template <typename T>
py::array_t<T> to_numpy(std::vector<T>&& values) {
  const auto n = static_cast<py::ssize_t>(values.size());
  return to_numpy(std::move(values), {n});
}

py::dict to_dict(PairArrays&& a, bool spectra, bool with_fields) {
  const auto ray_count = static_cast<py::ssize_t>(a.time.size());
  py::dict rays;
  rays["time"] = to_numpy(std::move(a.time));
  rays["azimuth"] = to_numpy(std::move(a.azimuth));
  rays["elevation"] = to_numpy(std::move(a.elevation));
  rays["ray_start_range"] = to_numpy(std::move(a.ray_start_range));
  rays["ray_gate_spacing"] = to_numpy(std::move(a.ray_gate_spacing));
  rays["prt"] = to_numpy(std::move(a.prt));
  rays["nyquist_velocity"] = to_numpy(std::move(a.nyquist_velocity));
  rays["ray_n_gates"] = to_numpy(std::move(a.ray_n_gates));
  rays["ray_start_index"] = to_numpy(std::move(a.ray_start_index));
  rays["beam_index"] = to_numpy(std::move(a.beam_index));
  rays["mode_index"] = to_numpy(std::move(a.mode_index));
  rays["datacode"] = to_numpy(std::move(a.datacode));
  rays["spectral_points"] = to_numpy(std::move(a.spectral_points));
  if (!with_fields) {
    rays["offset"] = to_numpy(std::move(a.offset));
    rays["ray"] = to_numpy(std::move(a.ray));
  }

  py::dict fields, field_attrs;
  for (int k = 0; k < companions::kFieldCount; ++k) {
    const companions::FieldSpec& spec = companions::kFields[k];
    if (spec.second_set && !a.second_set) continue;
    fields[spec.name] = with_fields
                            ? py::object(to_numpy(std::move(a.fields[k])))
                            : py::object(py::int_(k));
    py::dict attrs;
    for (const auto& [name, value] : companions::field_description(spec)) {
      attrs[name.c_str()] = value;
    }
    if (*spec.comment != '\0') attrs["comment"] = spec.comment;
    field_attrs[spec.name] = attrs;
  }

  py::dict attrs;
  for (const auto& [name, value] : a.attributes.text) {
    attrs[name.c_str()] = value;
  }
  std::vector<int32_t> site(std::begin(a.attributes.site_values),
                            std::end(a.attributes.site_values));
  attrs["site_values"] = to_numpy(std::move(site));

  py::dict out;
  out["rays"] = rays;
  out["fields"] = fields;
  out["field_attrs"] = field_attrs;
  out["attrs"] = attrs;
  out["damage"] = py::cast(a.damage);
  out["damage_count"] = a.damage_count;
  if (spectra) {
    const auto rows = static_cast<py::ssize_t>(a.n_points);
    const auto width = static_cast<py::ssize_t>(a.spectrum_points);
    if (with_fields) {
      out["spectra"] = to_numpy(std::move(a.spectra), {rows, width});
    }
    out["doppler_velocity"] =
        to_numpy(std::move(a.doppler_velocity), {ray_count, width});
  }
  return out;
}

py::dict read(const std::string& path, int radar, bool spectra,
              bool raise_on_damage) {
  PairArrays a;
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(module_lock);
    a = read_pair(path, ReadOptions{radar, spectra, raise_on_damage});
  }
  return to_dict(std::move(a), spectra, true);
}

// fields: {name: index in kFields} as scan gives them.
py::dict scan(const std::string& path, int radar, bool spectra,
              bool raise_on_damage, int beam) {
  PairArrays a;
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(module_lock);
    a = scan_pair(path, ReadOptions{radar, spectra, raise_on_damage, beam});
  }
  std::vector<int32_t> beams = std::move(a.beams);
  py::dict out = to_dict(std::move(a), spectra, false);
  out["beams"] = to_numpy(std::move(beams));
  return out;
}

py::dict records(const std::string& path, std::vector<int64_t> offsets,
                 std::vector<std::string> names, int64_t width,
                 int64_t spectrum_points) {
  std::vector<int> indices;
  for (const std::string& name : names) {
    int found = -1;
    for (int k = 0; k < companions::kFieldCount; ++k) {
      if (name == companions::kFields[k].name) found = k;
    }
    if (found < 0) throw py::value_error("no field " + name);
    indices.push_back(found);
  }
  if (width < 0 || spectrum_points < 0) {
    throw py::value_error("width and spectrum_points are 0 or more");
  }
  RecordValues v;
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(module_lock);
    v = read_records(path, offsets, indices, width, spectrum_points);
  }
  const auto n = static_cast<py::ssize_t>(offsets.size());
  const auto w = static_cast<py::ssize_t>(width);
  py::dict out;
  for (size_t k = 0; k < names.size(); ++k) {
    out[names[k].c_str()] = to_numpy(std::move(v.fields[k]), {n, w});
  }
  if (spectrum_points > 0) {
    out["spectra"] =
        to_numpy(std::move(v.spectra),
                 {n, w, static_cast<py::ssize_t>(spectrum_points)});
  }
  return out;
}

std::string inspect(const std::string& path) {
  py::gil_scoped_release released;
  std::lock_guard<std::mutex> lock(module_lock);
  return inspect_pair(path);
}

}  // namespace

}  // namespace quellmar::python

PYBIND11_MODULE(_pairs, m) {
  using quellmar::python::OutOfMemory;
  using quellmar::python::PairError;
  m.doc() = "Profiler file pairs read with the access module";
  const py::object base =
      py::module_::import("quellmar.errors").attr("QuellmarFileError");
  py::register_exception<PairError>(m, "PairError", base);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const OutOfMemory& e) {
      PyErr_SetString(PyExc_MemoryError, e.what());
    }
  });
  m.def("read_pair", &quellmar::python::read, py::arg("path"), py::arg("radar"),
        py::arg("spectra"), py::arg("raise_on_damage"));
  m.def("scan_pair", &quellmar::python::scan, py::arg("path"), py::arg("radar"),
        py::arg("spectra"), py::arg("raise_on_damage"), py::arg("beam") = -1);
  m.def("read_records", &quellmar::python::records, py::arg("path"),
        py::arg("offsets"), py::arg("fields"), py::arg("width"),
        py::arg("spectrum_points"));
  m.def("decoded_records", &quellmar::python::decoded_records);
  m.def("inspect", &quellmar::python::inspect, py::arg("path"));
}

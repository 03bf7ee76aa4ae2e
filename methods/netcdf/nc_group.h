// Writing the netCDF-4 files of the averaging programs (quellmar-wind,
// quellmar-rass): a group's dimensions, variables and attributes with every
// failure thrown as an OutputFileError, the fill value for missing floats,
// the site position in the root group and the time axis of the periods.

#ifndef QUELLMAR_COMPANIONS_NC_GROUP_H
#define QUELLMAR_COMPANIONS_NC_GROUP_H

#include <netcdf.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "methods/output/text_output.h"
#include "methods/pairs/periods.h"
#include "methods/qc/time_height_check.h"

namespace quellmar::companions {

// Fill value of every float variable that can miss values.
constexpr float kProfileFill = -9999.0f;

// Throws OutputFileError(what + ": " + the library's message) unless ok.
void nc_check(int status, const std::string& what);

// "a, b, c"
std::string joined(const std::vector<std::string>& parts);

// The values with the fill value for every one that is not finite.
std::vector<float> filled(const std::vector<float>& values);

class Group {
 public:
  explicit Group(int id) : id_(id) {}
  int id() const { return id_; }

  // A length of 0 is declared unlimited, which has the length 0 (a fixed
  // dimension cannot be empty).
  int dim(const char* name, size_t length);
  int var(const char* name, nc_type type, std::initializer_list<int> dims);
  void text(int var, const char* name, const std::string& value);
  void number(int var, const char* name, double value);
  void integer(int var, const char* name, int value);
  void fill(int var);  // _FillValue = kProfileFill
  void describe(int var, const char* long_name, const char* standard_name,
                const char* units);

  void put(int var, const std::vector<float>& v);
  void put(int var, const std::vector<double>& v);
  void put(int var, const std::vector<int>& v);
  void put(int var, const std::vector<signed char>& v);

 private:
  int id_;
};

// The site's position as given on the command line.
struct SitePosition {
  std::optional<double> latitude;   // degrees north
  std::optional<double> longitude;  // degrees east
  std::optional<double> altitude;   // m
};

// The global attributes latitude, longitude, altitude, each only when given.
void position_attributes(Group& root, const SitePosition& position);
// The scalar variables latitude, longitude, altitude; NaN when not given.
void position_variables(Group& root, const SitePosition& position);

// The variables time (period centre, bounds "time_bounds") and time_bounds
// on the dimensions time and nv; put_time writes them.
struct TimeAxis {
  int time = -1;
  int bounds = -1;
};
TimeAxis define_time(Group& g, int time_dim, int nv_dim);
void put_time(Group& g, const TimeAxis& axis,
              const std::vector<Period>& periods);
// The variable height on the dimension (m above the radar, positive up);
// put_height writes it (NaN as the fill value).
int define_height(Group& g, int height_dim);
void put_height(Group& g, int height_var, const std::vector<double>& height_m);

// The flag variable of a quantity's continuity check, of byte type on the
// dimensions: long_name "quality flag of <quantity's long name> by the
// time-height continuity check", standard_name "<standard name>
// status_flag", CF flag_values 0, 1, 2 with flag_meanings "good suspect
// missing". The quantity names it in its ancillary_variables.
int define_quality_flag(Group& g, const char* name, const char* of_long_name,
                        const char* of_standard_name,
                        std::initializer_list<int> dims);

// The global attributes of the check: qc_method, and with the check its
// step (as qc_max_step_<units>), minimum pattern and neighbourhood.
void quality_attributes(Group& root, const std::optional<ContinuityRule>& qc,
                        const char* step_units);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NC_GROUP_H

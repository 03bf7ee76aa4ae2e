#include "programs/cli/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "methods/output/text_output.h"

namespace quellmar::companions {

namespace {

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::string header_of(const std::string& data_path) {
  const size_t slash = data_path.rfind('/');
  const size_t at = slash == std::string::npos ? 0 : slash + 1;
  if (at >= data_path.size()) return data_path;
  std::string h = data_path;
  h[at] = 'h';
  return h;
}

}  // namespace

std::string output_conflict(const std::vector<std::string>& inputs,
                            const std::string& output, const std::string& csv,
                            const std::string& bufr) {
  if (!csv.empty() && same_file(csv, output)) {
    return "-o and --csv name the same file";
  }
  if (!bufr.empty() &&
      (same_file(bufr, output) || (!csv.empty() && same_file(bufr, csv)))) {
    return "--bufr names the same file as -o or --csv";
  }
  for (const std::string& input : inputs) {
    for (const std::string& out : {output, csv, bufr}) {
      if (!out.empty() &&
          (same_file(out, input) || same_file(out, header_of(input)))) {
        return out + " would replace the input " + input +
               " or its header file";
      }
    }
  }
  return "";
}

std::string bufr_missing(const WmoStation& station, bool latitude,
                         bool longitude, bool altitude) {
  std::string missing;
  const std::pair<bool, const char*> needed[] = {
      {station.block.has_value(), "--wmo-block"},
      {station.station.has_value(), "--wmo-station"},
      {latitude, "--latitude"},
      {longitude, "--longitude"},
      {altitude, "--altitude"}};
  for (const auto& [given, name] : needed) {
    if (!given) missing += std::string(missing.empty() ? "" : ", ") + name;
  }
  return missing;
}

void add_significant_digits(OptionTable& table,
                            std::optional<int32_t>* digits) {
  table.integer("--significant-digits", "N",
                "keep the float fields and the spectra to N significant "
                "decimal digits (netCDF's Granular BitRound quantization; "
                "smaller files, values no longer exact)",
                digits, 1, 7);
}

void add_position(OptionTable& table, std::optional<double>* latitude,
                  std::optional<double>* longitude,
                  std::optional<double>* altitude) {
  table.number("--latitude", "DEG",
               "the site's latitude in degrees north, stored as given",
               latitude, -90.0, 90.0);
  table.number("--longitude", "DEG",
               "the site's longitude in degrees east, stored as given",
               longitude, -180.0, 360.0);
  table.number("--altitude", "M",
               "the site's altitude in metres above sea level, stored as "
               "given",
               altitude, -1e5, 1e5);
}

void add_check_and_bufr(OptionTable& table, const AveragingWords& words,
                        CheckAndBufr* o) {
  table.choice("--qc",
               std::string("the time-height continuity check of ") +
                   words.checked + "; none flags every value good or missing",
               &o->qc_off, {{"continuity", false}, {"none", true}});
  table.number("--qc-max-step", words.unit_value,
               std::string("neighbours that differ by at most this join a "
                           "pattern, ") +
                   words.unit,
               &o->rule.max_step, 0.0, 1e6);
  table.integer("--qc-min-pattern", "N",
                "patterns of fewer values are suspect, all but the largest",
                &o->rule.min_pattern, 1, 1000000000);
  table.integer("--qc-periods", "N",
                "neighbourhood in time, periods either side", &o->rule.periods,
                0, 1000000);
  table.integer(
      "--qc-heights", "N",
      std::string("neighbourhood in height, ") + words.heights + " either side",
      &o->rule.heights, 0, 1000000);
  table.file("--bufr", "OUT.bufr",
             std::string("also write WMO BUFR edition 4, one message per "
                         "period and mode, sequence ") +
                 words.sequence +
                 "; needs --wmo-block, --wmo-station, --latitude, "
                 "--longitude and --altitude",
             &o->bufr, "none");
  table.integer("--wmo-block", "II", "the WMO block number for BUFR",
                &o->station.block, 0, 99);
  table.integer("--wmo-station", "III", "the WMO station number for BUFR",
                &o->station.station, 0, 999);
}

int check_outputs(const OptionTable& table,
                  const std::vector<std::string>& inputs,
                  const std::string& output, const std::string& csv,
                  const CheckAndBufr& shared,
                  const std::optional<double>& latitude,
                  const std::optional<double>& longitude,
                  const std::optional<double>& altitude) {
  if (output.empty()) return table.wrong("no output file given (-o OUT.nc)");
  if (!shared.bufr.empty()) {
    const std::string missing =
        bufr_missing(shared.station, latitude.has_value(),
                     longitude.has_value(), altitude.has_value());
    if (!missing.empty()) return table.wrong("--bufr needs " + missing);
  }
  const std::string conflict =
      output_conflict(inputs, output, csv, shared.bufr);
  if (!conflict.empty()) return table.wrong(conflict);
  return kExitWritten;
}

void report_damage(const char* program, const std::string& pair,
                   const NcScan& scan) {
  for (const Damage& d : scan.damage) {
    std::fprintf(stderr, "%s: %s\n", program, damage_line(pair, d).c_str());
  }
  const int64_t more =
      scan.damage_count - static_cast<int64_t>(scan.damage.size());
  if (more > 0) {
    std::fprintf(stderr,
                 "%s: %s: %lld more finding(s); quellmar-info lists them all\n",
                 program, pair.c_str(), static_cast<long long>(more));
  }
}

int check_output_folders(const char* program,
                         const std::vector<std::string>& outputs,
                         bool bufr_wanted) {
  if (bufr_wanted && !kBufrBuilt) {
    std::fprintf(stderr, "%s: %s\n", program, bufr_not_built(program).c_str());
    return 2;
  }
  std::string error;
  for (const std::string& out : outputs) {
    if (!out.empty() && !folder_writable(out, &error)) {
      std::fprintf(stderr, "%s: %s\n", program, error.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace quellmar::companions

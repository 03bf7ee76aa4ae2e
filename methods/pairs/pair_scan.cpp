#include "methods/pairs/pair_scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

namespace quellmar::companions {

namespace {

int64_t file_size(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

// Damage of one record that was read whole.
void check_record(const RecordFacts& f, int64_t data_bytes,
                  const std::function<void(Damage)>& on_damage) {
  const int64_t end = f.offset + f.length;
  if (end > data_bytes) {
    on_damage({f.offset, "cut_record",
               "record of " + std::to_string(f.length) +
                   " bytes cut short by the end of the data file after " +
                   std::to_string(data_bytes - f.offset) + " bytes"});
  } else {
    const int32_t width =
        pda_describe_datacode(f.datacode, f.spectra_flag).trailer_width;
    int32_t trailer = 0;
    if (pda_read_record_trailer(f.offset, f.length, width, &trailer) &&
        trailer != f.length) {
      on_damage({f.offset, "bad_trailer",
                 "length field " + std::to_string(f.length) + ", trailer " +
                     std::to_string(trailer)});
    }
  }
  if (f.radar != 0) {
    on_damage({f.offset, "unknown_radar",
               "radar " + std::to_string(f.radar) +
                   "; the header describes radar 0 only"});
  }
  if (!f.beam_described) {
    on_damage({f.offset, "unknown_beam",
               "beam " + std::to_string(f.beam) +
                   " is not a usable entry of its HeaderBlock's beam table"});
  }
}

}  // namespace

// The facts the module's record state and parameter block give for the
// record whose RecordHeader was read last.
RecordFacts current_facts() {
  RecordFacts f;
  f.offset = pda_get_record_offset();
  f.length = pda_get_record_length();
  f.datacode = pda_get_record_datacode();
  f.spectra_flag = pda_get_spectra_flag();
  const DatacodeTraits traits =
      pda_describe_datacode(f.datacode, f.spectra_flag);
  f.layout = traits.layout;
  f.header_offset = pda_get_record_header_offset();
  f.header_loaded = pda_get_loaded_header_offset() == f.header_offset;
  int32_t year, day, hour, minute, second;
  f.time = pda_get_time(&year, &day, &hour, &minute, &second);
  f.radar = pda_get_record_radar();
  f.beam = pda_get_record_beam();
  f.second_set = traits.second_set;

  const RadarRecord& r = pda_parameters.radars[0];
  if (f.beam >= 0 && f.beam < kBeamCount) {
    const int32_t m = r.beams[f.beam].mode_index;
    if (m >= 0 && m < kModeCount) f.mode = m;
    const int32_t d = r.beams[f.beam].direction_index;
    if (d >= 0 && d < kDirectionCount) f.direction = d;
  }
  f.beam_described = f.mode >= 0 && f.direction >= 0 && f.beam < r.beam_count;
  if (f.direction >= 0) {
    const DirectionEntry& d = r.directions[f.direction];
    f.azimuth = d.azimuth;
    f.elevation = pda_elevation_degrees(d.elevation);
  }
  if (f.mode >= 0) {
    const ModeEntry& m = r.modes[f.mode];
    f.gate_count = m.gate_count < 0 ? 0 : m.gate_count;
    f.spectral_points = m.spectral_points < 0 ? 0 : m.spectral_points;
    f.ipp_ns = m.ipp_ns;
    f.first_gate_delay_ns = m.first_gate_delay_ns;
    f.delay_offset_ns = m.delay_offset_ns;
    f.gate_spacing_ns = m.gate_spacing_ns;
  }
  f.windows.window1_start = r.window1_start;
  f.windows.window1_points = r.window1_points;
  f.windows.window2_start = r.window2_start;
  f.windows.window2_points = r.window2_points;
  f.windows.placement = r.spectrum_extra[0];
  return f;
}

std::string header_read_error(int32_t header_offset, int64_t records) {
  return "the HeaderBlock at header offset " + std::to_string(header_offset) +
         " cannot be read; " + std::to_string(records) +
         " record(s) name it and are read with the block held before";
}

bool open_pair(const std::string& path, PairInput* input, std::string* error) {
  PairInput in;
  in.path = path;
  const size_t slash = path.rfind('/');
  in.prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  in.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (in.name.empty()) {
    *error = path + ": no data-file name";
    return false;
  }
  // A name the pairing rule gives to header files would pair the file
  // with itself.
  if (in.name[0] == 'h') {
    *error = path + ": this is a header file; give its data file " + in.prefix +
             "d" + in.name.substr(1);
    return false;
  }
  in.header_path = in.prefix + "h" + in.name.substr(1);
  in.spectra_name = pda_is_spectra_name(in.name);

  pda_reset();
  if (!pda_set_file(in.prefix, in.name, in.spectra_name ? 1 : 0)) {
    if (pda_set_file_failure() == SetFileFailure::kOpenFailed) {
      *error = "cannot open " + pda_set_file_failed_path() + ": " +
               std::strerror(pda_set_file_errno());
    } else {
      *error = path + ": no complete record at the start of the data file";
    }
    return false;
  }
  in.data_bytes = file_size(path);
  in.header_bytes = file_size(in.header_path);
  in.first_block = pda_parameters;
  *input = in;
  return true;
}

double transmit_frequency_hz(const std::string& path) {
  PairInput input;
  std::string error;
  if (!open_pair(path, &input, &error)) return std::nan("");
  const int32_t hundredths_mhz = input.first_block.radars[0].tx_frequency;
  if (hundredths_mhz <= 0) return std::nan("");
  return hundredths_mhz * 1e4;
}

int64_t walk_records(const PairInput& input,
                     const std::function<void(const RecordFacts&)>& on_record,
                     const std::function<void(Damage)>& on_damage) {
  for (;;) {
    int new_header = 0;
    const int64_t offset = pda_current_offset();
    pda_clear_problem();
    const int status = pda_read_record_header(&new_header);
    if (status == 1) break;
    if (status != 0) {
      DiskProblem code = DiskProblem::kNone;
      int64_t at = 0, value = 0;
      if (pda_get_problem(&code, &at, &value) &&
          code == DiskProblem::kBadRecordLength) {
        // In the words of the module's message.
        on_damage({offset, "bad_length",
                   "disk: bad record length " + std::to_string(value) +
                       " at offset " + std::to_string(at)});
      } else {
        on_damage({offset, "cut_record_header",
                   "the data file ends " +
                       std::to_string(input.data_bytes - offset) +
                       " bytes into a RecordHeader"});
      }
      break;
    }
    const RecordFacts f = current_facts();
    check_record(f, input.data_bytes, on_damage);
    on_record(f);
    if (pda_current_offset() == offset) pda_advance_record();
  }
  return pda_current_offset();
}

ScanResult scan_records(const PairInput& input) {
  ScanResult scan;
  // Records that name a HeaderBlock that could not be loaded, by offset.
  std::map<int32_t, std::vector<int64_t>> unloaded;
  scan.end_offset = walk_records(
      input,
      [&](const RecordFacts& f) {
        bool named_before = false;
        for (int32_t h : scan.header_offsets) {
          named_before |= h == f.header_offset;
        }
        if (!named_before) scan.header_offsets.push_back(f.header_offset);
        if (!f.header_loaded) unloaded[f.header_offset].push_back(f.offset);
        scan.records.push_back(f);
      },
      [&](Damage d) { scan.damage.push_back(std::move(d)); });
  for (const auto& [header_offset, records] : unloaded) {
    scan.damage.push_back(
        {records.front(), "header_read_error",
         header_read_error(header_offset,
                           static_cast<int64_t>(records.size()))});
  }
  std::stable_sort(
      scan.damage.begin(), scan.damage.end(),
      [](const Damage& a, const Damage& b) { return a.offset < b.offset; });
  return scan;
}

}  // namespace quellmar::companions

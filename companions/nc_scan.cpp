#include "companions/nc_scan.h"

#include <fstream>
#include <map>
#include <string>

namespace qcomp {

namespace {

std::string trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \n\r\t");
  if (begin == std::string::npos) return "";
  const size_t end = text.find_last_not_of(" \n\r\t");
  return text.substr(begin, end - begin + 1);
}

// The findings in the order they are met (which is data-file order): the
// first ones kept whole, the rest counted.
class DamageList {
 public:
  DamageList(size_t kept, NcScan* scan) : kept_(kept), scan_(scan) {}
  // The index of the finding in the kept list, or -1.
  long add(int64_t offset, const char* kind, std::string detail) {
    ++scan_->damage_count;
    if (scan_->damage.size() >= kept_) return -1;
    scan_->damage.push_back({offset, kind, std::move(detail)});
    return static_cast<long>(scan_->damage.size()) - 1;
  }
  Damage& at(long index) { return scan_->damage[static_cast<size_t>(index)]; }

 private:
  size_t kept_;
  NcScan* scan_;
};

// The value of a record's trailer, read straight from the data file; false
// when the file does not hold it whole.
bool read_trailer(std::ifstream& data, const RecordFacts& f, int64_t* value) {
  const int width = (f.datacode >= 3000 || f.spectra_flag != 0) ? 4 : 2;
  unsigned char b[4] = {0, 0, 0, 0};
  data.clear();
  data.seekg(f.offset + f.length - width);
  if (!data.read(reinterpret_cast<char*>(b), width)) return false;
  const uint32_t u =
      static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
      (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  *value = width == 4 ? static_cast<int32_t>(u)
                      : static_cast<int16_t>(static_cast<uint16_t>(u));
  return true;
}

// Damage of one record that was read whole.
void check_record(const RecordFacts& f, int64_t data_bytes, std::ifstream& data,
                  DamageList* damage) {
  const int64_t end = f.offset + f.length;
  if (end > data_bytes) {
    damage->add(f.offset, "cut_record",
                "record of " + std::to_string(f.length) +
                    " bytes cut short by the end of the data file after " +
                    std::to_string(data_bytes - f.offset) + " bytes");
  } else {
    int64_t trailer = 0;
    if (read_trailer(data, f, &trailer) && trailer != f.length) {
      damage->add(f.offset, "bad_trailer",
                  "length field " + std::to_string(f.length) + ", trailer " +
                      std::to_string(trailer));
    }
  }
  if (f.radar != 0) {
    damage->add(f.offset, "unknown_radar",
                "radar " + std::to_string(f.radar) +
                    "; the header describes radar 0 only");
  }
  if (!f.beam_described) {
    damage->add(f.offset, "unknown_beam",
                "beam " + std::to_string(f.beam) +
                    " is not a usable entry of its HeaderBlock's beam table");
  }
}

std::string header_read_error(int32_t header_offset, int64_t records) {
  return "the HeaderBlock at header offset " + std::to_string(header_offset) +
         " cannot be read; " + std::to_string(records) +
         " record(s) name it and are read with the block held before";
}

}  // namespace

RecordFacts record_facts() {
  RecordFacts f;
  f.offset = pda_get_record_offset();
  f.length = pda_get_record_length();
  f.datacode = pda_get_record_datacode();
  f.spectra_flag = pda_get_spectra_flag();
  f.layout = f.datacode >= 3000 ? 'N' : (f.spectra_flag != 0 ? 'S' : 'M');
  f.header_offset = pda_get_record_header_offset();
  f.header_loaded = pda_get_loaded_header_offset() == f.header_offset;
  int32_t year, day, hour, minute, second;
  f.time = pda_get_time(&year, &day, &hour, &minute, &second);
  f.radar = pda_get_record_radar();
  f.beam = pda_get_record_beam();
  const bool encoding16 = f.datacode / 100 % 10 != 0;
  const int family = f.datacode % 100;
  f.second_set = encoding16 ? (family == 16 || family == 17) : family == 16;

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
    f.elevation = d.elevation > 90 ? static_cast<float>(d.elevation / 100.0)
                                   : static_cast<float>(d.elevation);
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

NcScan scan_for_conversion(const PairInput& input, StdoutCapture& capture,
                           size_t damage_kept, NcPlanner* planner) {
  NcScan scan;
  DamageList damage(damage_kept, &scan);
  std::ifstream data(input.path, std::ios::binary);
  // Per HeaderBlock that could not be loaded: how many records name it and
  // where its finding is kept (-1: not kept).
  struct Unloaded {
    int64_t records = 0;
    long kept = -1;
  };
  std::map<int32_t, Unloaded> unloaded;
  capture.take();
  for (;;) {
    int new_header = 0;
    const int64_t offset = pda_current_offset();
    const int status = pda_read_record_header(&new_header);
    const std::string messages = trimmed(capture.take());
    if (status == 1) break;
    if (status != 0) {
      if (messages.find("bad record length") != std::string::npos) {
        damage.add(offset, "bad_length", messages);
      } else {
        damage.add(offset, "cut_record_header",
                   "the data file ends " +
                       std::to_string(input.data_bytes - offset) +
                       " bytes into a RecordHeader");
      }
      break;
    }
    const RecordFacts f = record_facts();
    check_record(f, input.data_bytes, data, &damage);
    if (!f.header_loaded) {
      auto [it, first] = unloaded.try_emplace(f.header_offset);
      ++it->second.records;
      if (first) {
        it->second.kept = damage.add(f.offset, "header_read_error",
                                     header_read_error(f.header_offset, 0));
      }
    }
    planner->add(f);
    ++scan.records;
    pda_advance_record();
  }
  for (const auto& [header_offset, u] : unloaded) {
    if (u.kept >= 0) {
      damage.at(u.kept).detail = header_read_error(header_offset, u.records);
    }
  }
  return scan;
}

}  // namespace qcomp

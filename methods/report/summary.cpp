#include "methods/report/summary.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace quellmar::companions {

const char* name_date_text(NameDate result) {
  return result == NameDate::kNoLetter ? "no A or a in the name marks its date"
                                       : "the date in the name cannot be read";
}

const char* header_status_text(int status) {
  switch (status) {
    case 0:
      return "read whole";
    case -1:
      return "nothing to read at this offset";
    case -10:
      return "version outside 100 to 999";
    case -4:
      return "cut short before its closing field";
    case -3:
      return "met instrument list too long or cut short";
    default:
      return "unreadable";
  }
}

std::string field_text(const char* field, size_t width) {
  size_t n = 0;
  while (n < width && field[n] != '\0') ++n;
  return std::string(field, n);
}

int32_t usable_beams(const ParameterBlock& block) {
  const int32_t count = block.radars[0].beam_count;
  return count < 0 ? 0 : (count > kBeamCount ? kBeamCount : count);
}

std::vector<int32_t> modes_in_use(const ParameterBlock& block) {
  std::vector<int32_t> modes;
  for (int32_t b = 0; b < usable_beams(block); ++b) {
    const int32_t m = block.radars[0].beams[b].mode_index;
    if (m >= 0 && m < kModeCount &&
        std::find(modes.begin(), modes.end(), m) == modes.end()) {
      modes.push_back(m);
    }
  }
  std::sort(modes.begin(), modes.end());
  return modes;
}

bool rass_mode(const ModeEntry& mode) {
  return mode.spectral_points >= kRassSpectralPoints;
}

ToolRun tool_run(const std::string& name,
                 const std::vector<RecordFacts>& records) {
  ToolRun run;
  int32_t year = 0, day = 0;
  run.name_date = pda_name_date(name, &year, &day);
  if (run.name_date != NameDate::kRead) return run;
  run.stop_time = pda_stop_time_for(year, day);
  bool stopped = false;
  for (size_t i = 0; i < records.size(); ++i) {
    if (i > 0 && records[i].radar != 0) continue;
    if (stopped) {
      ++run.left_out;
    } else {
      ++run.records;
      stopped = records[i].time >= run.stop_time;
    }
  }
  return run;
}

InfoSummary summarize(const PairInput& input, const ScanResult& scan) {
  InfoSummary s;
  s.input = input;
  s.end_offset = scan.end_offset;
  s.damage = scan.damage;
  s.record_count = static_cast<int64_t>(scan.records.size());
  s.tool_run = tool_run(input.name, scan.records);

  std::map<std::tuple<int32_t, int32_t, int32_t>, RecordGroup> groups;
  std::map<int32_t, int64_t> datacodes;
  std::map<char, int64_t> layouts;
  std::map<int32_t, int64_t> per_block;
  for (size_t i = 0; i < scan.records.size(); ++i) {
    const RecordFacts& f = scan.records[i];
    if (i == 0 || f.time < s.first_time) s.first_time = f.time;
    if (i == 0 || f.time > s.last_time) s.last_time = f.time;
    RecordGroup& g = groups[{f.radar, f.beam, f.mode}];
    if (g.count == 0) {
      g.radar = f.radar;
      g.beam = f.beam;
      g.mode = f.mode;
      g.first_time = f.time;
      g.last_time = f.time;
    }
    ++g.count;
    g.first_time = std::min(g.first_time, f.time);
    g.last_time = std::max(g.last_time, f.time);
    ++datacodes[f.datacode];
    ++layouts[f.layout];
    ++per_block[f.header_offset];
  }
  for (const auto& [key, group] : groups) s.groups.push_back(group);
  s.datacodes.assign(datacodes.begin(), datacodes.end());
  s.layouts.assign(layouts.begin(), layouts.end());

  for (int32_t offset : scan.header_offsets) {
    HeaderBlockView view;
    view.offset = offset;
    pda_parameters = ParameterBlock();
    view.status = pda_read_header_block_at(offset);
    view.block = pda_parameters;
    view.records = per_block[offset];
    s.blocks.push_back(view);
  }
  return s;
}

}  // namespace quellmar::companions

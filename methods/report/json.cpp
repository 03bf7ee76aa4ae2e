// JSON form of quellmar-info's report: one document, described in
// docs/companions.md.

#include "methods/pairs/time_text.h"
#include "methods/report/json_writer.h"
#include "methods/report/report.h"

namespace quellmar::companions {

namespace {

void put_time(JsonWriter& j, const std::string& name, int32_t seconds) {
  j.field(name, iso_time(seconds));
  j.field(name + "_s", static_cast<int64_t>(seconds));
}

void put_block(JsonWriter& j, const HeaderBlockView& v) {
  const ParameterBlock& p = v.block;
  const RadarRecord& r = p.radars[0];
  j.begin_object();
  j.field("offset", static_cast<int64_t>(v.offset));
  j.field("status", v.status);
  j.field("status_text", header_status_text(v.status));
  j.field("records", v.records);
  if (v.status == -1 || v.status == -10) {
    j.end_object();
    return;
  }
  j.field("version", static_cast<int>(p.header_version));
  j.field("met_instrument_count", static_cast<int>(p.met_instrument_count));
  j.field("beam_count", static_cast<int>(r.beam_count));
  j.key("modes");
  j.begin_array();
  for (int32_t m : modes_in_use(p)) {
    const ModeEntry& e = r.modes[m];
    j.begin_object();
    j.field("index", m);
    j.field("ipp_ns", e.ipp_ns);
    j.field("pulse_width", e.pulse_width);
    j.field("first_gate_delay_ns", e.first_gate_delay_ns);
    j.field("delay_offset_ns", static_cast<int>(e.delay_offset_ns));
    j.field("gate_spacing_ns", e.gate_spacing_ns);
    j.field("gate_count", static_cast<int>(e.gate_count));
    j.field("coherent_integrations", static_cast<int>(e.coherent_integrations));
    j.field("spectral_averages", static_cast<int>(e.spectral_averages));
    j.field("spectral_points", static_cast<int>(e.spectral_points));
    j.field("rass", rass_mode(e));
    j.end_object();
  }
  j.end_array();
  j.key("beams");
  j.begin_array();
  for (int32_t b = 0; b < usable_beams(p); ++b) {
    const BeamEntry& e = r.beams[b];
    j.begin_object();
    j.field("index", b);
    j.field("mode", static_cast<int>(e.mode_index));
    j.field("direction_index", static_cast<int>(e.direction_index));
    if (e.direction_index >= 0 && e.direction_index < kDirectionCount) {
      const DirectionEntry& d = r.directions[e.direction_index];
      j.field("direction",
              field_text(d.direction_name, sizeof d.direction_name));
      j.field("azimuth", static_cast<int>(d.azimuth));
      j.field("elevation",
              static_cast<double>(pda_elevation_degrees(d.elevation)));
    }
    j.end_object();
  }
  j.end_array();
  j.key("windows");
  j.begin_object();
  j.field("window1_start", static_cast<int>(r.window1_start));
  j.field("window1_points", static_cast<int>(r.window1_points));
  j.field("window2_start", static_cast<int>(r.window2_start));
  j.field("window2_points", static_cast<int>(r.window2_points));
  j.field("window2_placed", r.spectrum_extra[0] == 1);
  j.end_object();
  j.end_object();
}

}  // namespace

std::string info_json(const InfoSummary& s) {
  const PairInput& in = s.input;
  const ParameterBlock& site = in.first_block;
  const RadarRecord& radar = site.radars[0];
  JsonWriter j;
  j.begin_object();
  j.key("pair");
  j.begin_object();
  j.field("data_file", in.path);
  j.field("data_bytes", in.data_bytes);
  j.field("header_file", in.header_path);
  j.field("header_bytes", in.header_bytes);
  j.field("spectra_input", in.spectra_name);
  j.end_object();

  j.key("site");
  j.begin_object();
  j.field("name", field_text(site.site_name, sizeof site.site_name));
  j.key("values");
  j.begin_array();
  j.value(static_cast<int>(site.site_value_1));
  j.value(static_cast<int>(site.site_value_2));
  j.value(static_cast<int>(site.site_value_3));
  j.value(static_cast<int>(site.site_value_4));
  j.end_array();
  j.field("radar_name", field_text(radar.radar_name, sizeof radar.radar_name));
  j.field("tx_frequency", radar.tx_frequency);
  j.field("frequency_mhz", radar.tx_frequency / 100.0);
  j.end_object();

  j.key("header_blocks");
  j.begin_array();
  for (const HeaderBlockView& v : s.blocks) put_block(j, v);
  j.end_array();

  j.key("records");
  j.begin_object();
  j.field("count", s.record_count);
  if (s.record_count > 0) {
    put_time(j, "first_time", s.first_time);
    put_time(j, "last_time", s.last_time);
  }
  j.key("groups");
  j.begin_array();
  for (const RecordGroup& g : s.groups) {
    j.begin_object();
    j.field("radar", g.radar);
    j.field("beam", g.beam);
    j.field("mode", g.mode);
    j.field("count", g.count);
    put_time(j, "first_time", g.first_time);
    put_time(j, "last_time", g.last_time);
    j.end_object();
  }
  j.end_array();
  j.end_object();

  const ToolRun& run = s.tool_run;
  j.key("quellmar");
  j.begin_object();
  j.field("records", run.records);
  if (run.name_date == NameDate::kRead) {
    j.field("stop_time", iso_time(run.stop_time));
    j.field("stop_time_s", run.stop_time);
    j.field("left_out", run.left_out);
  } else {
    j.field("refused", name_date_text(run.name_date));
  }
  j.end_object();

  j.key("datacodes");
  j.begin_array();
  for (const auto& [code, count] : s.datacodes) {
    j.begin_object();
    j.field("datacode", code);
    j.field("count", count);
    j.end_object();
  }
  j.end_array();
  j.key("layouts");
  j.begin_array();
  for (const auto& [layout, count] : s.layouts) {
    j.begin_object();
    j.field("layout", std::string(1, layout));
    j.field("count", count);
    j.end_object();
  }
  j.end_array();

  j.key("damage");
  j.begin_array();
  for (const Damage& d : s.damage) {
    j.begin_object();
    j.field("offset", d.offset);
    j.field("kind", d.kind);
    j.field("detail", d.detail);
    j.end_object();
  }
  j.end_array();
  j.end_object();
  return j.text();
}

}  // namespace quellmar::companions

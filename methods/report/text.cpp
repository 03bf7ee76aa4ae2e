// Plain-text form of quellmar-info's report.

#include <cstdarg>
#include <cstdio>

#include "methods/pairs/time_text.h"
#include "methods/report/report.h"

namespace quellmar::companions {

namespace {

// Names as they are, with bytes that are not printable ASCII as \xNN.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    }
  }
  return out;
}

// Appends printf-style text.
void add(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    std::string line(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, again);
    line.pop_back();
    *out += line;
  }
  va_end(again);
}

void add_block(std::string* out, const HeaderBlockView& v) {
  add(out, "\nHeaderBlock at header offset %ld: ", static_cast<long>(v.offset));
  if (v.status == -1 || v.status == -10) {
    add(out, "%s (%d), named by %lld record(s)\n", header_status_text(v.status),
        v.status, static_cast<long long>(v.records));
    return;
  }
  const ParameterBlock& p = v.block;
  const RadarRecord& r = p.radars[0];
  add(out, "version %d, %s, named by %lld record(s)\n", p.header_version,
      header_status_text(v.status), static_cast<long long>(v.records));
  for (int32_t m : modes_in_use(p)) {
    const ModeEntry& e = r.modes[m];
    add(out,
        "  mode %d%s: ipp %ld ns, pulse %ld (unit unknown), first gate delay "
        "%ld ns, delay offset %d ns, gate spacing %ld ns, %d gates, %d "
        "coherent integrations, %d spectral averages, %d spectral points\n",
        m, rass_mode(e) ? " (RASS)" : "", static_cast<long>(e.ipp_ns),
        static_cast<long>(e.pulse_width),
        static_cast<long>(e.first_gate_delay_ns), e.delay_offset_ns,
        static_cast<long>(e.gate_spacing_ns), e.gate_count,
        e.coherent_integrations, e.spectral_averages, e.spectral_points);
  }
  for (int32_t b = 0; b < usable_beams(p); ++b) {
    const BeamEntry& e = r.beams[b];
    add(out, "  beam %d: mode %d, direction %d", b, e.mode_index,
        e.direction_index);
    if (e.direction_index >= 0 && e.direction_index < kDirectionCount) {
      const DirectionEntry& d = r.directions[e.direction_index];
      add(out, " %s, azimuth %d, elevation %g",
          printable(field_text(d.direction_name, sizeof d.direction_name))
              .c_str(),
          d.azimuth, pda_elevation_degrees(d.elevation));
    } else {
      add(out, " (not in the direction table)");
    }
    *out += "\n";
  }
  add(out, "  spectral window 1: points %d to %d\n", r.window1_start,
      r.window1_start + r.window1_points - 1);
  if (pda_locate_windows(r.window1_start, r.window2_start, r.window2_points,
                         false)
          .two_windows) {
    add(out, "  spectral window 2: points %d to %d, %s\n", r.window2_start,
        r.window2_start + r.window2_points - 1,
        r.spectrum_extra[0] == 1 ? "placed" : "not placed");
  }
  add(out, "  met instruments: %d\n", p.met_instrument_count);
}

}  // namespace

std::string info_text(const InfoSummary& s) {
  std::string out;
  const PairInput& in = s.input;
  add(&out, "pair: %s (%lld bytes), header %s (%lld bytes), %s\n",
      printable(in.path).c_str(), static_cast<long long>(in.data_bytes),
      printable(in.header_path).c_str(),
      static_cast<long long>(in.header_bytes),
      in.spectra_name ? "spectra" : "moments");
  const ParameterBlock& site = in.first_block;
  const RadarRecord& radar = site.radars[0];
  add(&out,
      "site: %s, values %d %d %d %d (units unknown), radar %s, transmit "
      "frequency %.2f MHz\n",
      printable(field_text(site.site_name, sizeof site.site_name)).c_str(),
      site.site_value_1, site.site_value_2, site.site_value_3,
      site.site_value_4,
      printable(field_text(radar.radar_name, sizeof radar.radar_name)).c_str(),
      radar.tx_frequency / 100.0);

  add(&out, "records: %lld", static_cast<long long>(s.record_count));
  if (s.record_count > 0) {
    add(&out, ", %s to %s", iso_time(s.first_time).c_str(),
        iso_time(s.last_time).c_str());
  }
  out += "\n";
  for (const RecordGroup& g : s.groups) {
    add(&out, "  radar %d beam %d mode %d: %lld record(s), %s to %s\n", g.radar,
        g.beam, g.mode, static_cast<long long>(g.count),
        iso_time(g.first_time).c_str(), iso_time(g.last_time).c_str());
  }
  out += "datacodes:";
  for (const auto& [code, count] : s.datacodes) {
    add(&out, " %d (%lld)", code, static_cast<long long>(count));
  }
  out += "\nlayouts:";
  for (const auto& [layout, count] : s.layouts) {
    add(&out, " %c (%lld)", layout, static_cast<long long>(count));
  }
  out += "\n";
  const ToolRun& run = s.tool_run;
  if (run.name_date == NameDate::kRead) {
    add(&out,
        "quellmar: %lld record(s) written, stop time %s, %lld record(s) of "
        "radar 0 past it left out\n",
        static_cast<long long>(run.records), iso_time(run.stop_time).c_str(),
        static_cast<long long>(run.left_out));
  } else {
    add(&out, "quellmar: writes nothing: %s\n", name_date_text(run.name_date));
  }

  for (const HeaderBlockView& v : s.blocks) add_block(&out, v);

  out += "\n";
  if (s.damage.empty()) {
    out += "damage: none\n";
  } else {
    add(&out, "damage: %zu finding(s)\n", s.damage.size());
    for (const Damage& d : s.damage) {
      add(&out, "  data offset %lld: %s: %s\n",
          static_cast<long long>(d.offset), d.kind.c_str(),
          printable(d.detail).c_str());
    }
  }
  return out;
}

}  // namespace quellmar::companions

#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disk/pda.h"

namespace quellmar::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern =
      (fs::temp_directory_path() / "quellmar-test-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary folder";
  }
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
  return path_ + "/" + name;
}

WorkingFolder::WorkingFolder(const std::string& path)
    : saved_(std::filesystem::current_path()) {
  std::filesystem::current_path(path);
}

WorkingFolder::~WorkingFolder() { std::filesystem::current_path(saved_); }

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

RunResult run_tool(const std::string& dir,
                   const std::vector<std::string>& args) {
  return run_program(QUELLMAR_BINARY, dir, args);
}

RunResult run_program(const std::string& binary, const std::string& dir,
                      const std::vector<std::string>& args) {
  const std::string out = dir + "/.stdout";
  const std::string err = dir + "/.stderr";
  std::string command = "cd " + quote(dir) + " && " + quote(binary);
  for (const std::string& a : args) command += " " + quote(a);
  command += " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
  const int raw = std::system(command.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_text(out);
  r.err = read_text(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) { return fs::exists(path); }

void write_pair(const std::string& dir, const std::string& name,
                const quellmar::writer::Bytes& header,
                const quellmar::writer::Bytes& data) {
  quellmar::writer::write_file(dir + "/" + name, data);
  quellmar::writer::write_file(dir + "/h" + name.substr(1), header);
}

int open_pair(const std::string& dir, const std::string& name, int spectra) {
  pda_reset();
  return pda_set_file(dir + "/", name, spectra);
}

int write_and_open_pair(const std::string& dir, const std::string& name,
                        const quellmar::writer::Bytes& header,
                        const quellmar::writer::Bytes& data, int spectra) {
  write_pair(dir, name, header, data);
  return open_pair(dir, name, spectra);
}

quellmar::writer::Bytes join(
    const std::vector<quellmar::writer::Bytes>& parts) {
  quellmar::writer::Bytes out;
  for (const quellmar::writer::Bytes& p : parts) out.append(p);
  return out;
}

void start_capture() {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
}

std::string stop_capture() {
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

quellmar::writer::HeaderSpec standard_header(int gates, int points) {
  quellmar::writer::HeaderSpec h;
  h.site_name = "ABCD Profiler";
  h.site_value_1 = 4000;
  h.site_value_2 = -10500;
  h.site_value_3 = 7;
  h.site_value_4 = 1500;
  h.tx_frequency = 91500;
  h.beam_count = 5;
  h.modes[0].ipp_ns = 40000;
  h.modes[0].pulse_width = 700;
  h.modes[0].first_gate_delay_ns = 2500;
  h.modes[0].gate_spacing_ns = 700;
  h.modes[0].gate_count = static_cast<int16_t>(gates);
  h.modes[0].coherent_integrations = 100;
  h.modes[0].spectral_averages = 30;
  h.modes[0].spectral_points = static_cast<int16_t>(points);
  const char* names[5] = {"VERTICAL", "NORTH", "EAST", "SOUTH", "WEST"};
  for (int b = 0; b < 5; ++b) {
    h.beams[b].direction_index = static_cast<int16_t>(b);
    h.beams[b].mode_index = 0;
    h.directions[b].name = names[b];
    h.directions[b].azimuth = static_cast<int16_t>(b == 0 ? 0 : (b - 1) * 90);
    h.directions[b].elevation = static_cast<int16_t>(b == 0 ? 90 : 75);
  }
  h.window1_start = 1;
  h.window1_points = static_cast<int16_t>(points);
  return h;
}

quellmar::writer::Bytes moments_record(int32_t time, int16_t beam, int gates,
                                       int16_t radar, int32_t header_offset) {
  quellmar::writer::BodySpec body;
  body.datacode = 2000;
  for (int g = 0; g < gates; ++g) {
    quellmar::writer::GateMoments m;
    m.velocity = static_cast<int16_t>(100 * (g + 1) + beam);
    m.width = static_cast<uint16_t>(10 + g);
    m.snr = static_cast<int16_t>(g - 5);
    m.noise_or_aux = static_cast<int16_t>(-40 - g);
    body.moments.push_back(m);
  }
  quellmar::writer::RecordSpec r;
  r.datacode = 2000;
  r.layout = quellmar::writer::Layout::M;
  r.header_offset = header_offset;
  r.record_time = time;
  r.radar_index = radar;
  r.beam_index = beam;
  r.body = quellmar::writer::encode_body(body);
  return quellmar::writer::encode_record(r);
}

quellmar::writer::Bytes spectra_record(int32_t time, int16_t beam, int gates,
                                       int points, uint32_t seed) {
  quellmar::writer::BodySpec body;
  body.datacode = 3000;
  for (int g = 0; g < gates; ++g) {
    quellmar::writer::GateMoments m;
    m.velocity = static_cast<int16_t>(seed % 4000);
    m.snr = static_cast<int16_t>(g);
    body.moments.push_back(m);
    std::vector<float> row(static_cast<size_t>(points));
    for (float& v : row) {
      seed = seed * 1664525u + 1013904223u;
      v = static_cast<float>(seed >> 8) / 1024.0f;
    }
    body.spectra.push_back(row);
  }
  body.met_values = {1, 2};
  quellmar::writer::RecordSpec r;
  r.datacode = 3000;
  r.layout = quellmar::writer::Layout::N;
  r.spectra_flag = 1;
  r.record_time = time;
  r.beam_index = beam;
  r.body = quellmar::writer::encode_body(body);
  return quellmar::writer::encode_record(r);
}

}  // namespace quellmar::test

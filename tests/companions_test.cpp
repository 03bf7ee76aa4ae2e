// The companion programs, run as built: quellmar-info (text and JSON
// report of a file pair) and quellmar-nc (CF-Radial netCDF conversion).
// Inputs are made with the project's file writer; converted files are read
// back with the netCDF library and compared with what the access module
// decodes from the same pair.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "disk/pda.h"
#include "tests/test_support.h"
#include "tool/output_files.h"
#include "writer/format_writer.h"

#ifdef QUELLMAR_NC_BINARY
#include "tests/nc_read.h"
#endif

namespace {

using quellmar::test::quote;

namespace fs = std::filesystem;
using quellmar::test::join;
using quellmar::test::spectra_record;
using quellmar::test::TempDir;
using quellmar::writer::Bytes;

// ---------------------------------------------------------------------------
// Running a companion program

// The built quellmar-info: as the build names it, or next to quellmar.
std::string info_binary() {
#ifdef QUELLMAR_INFO_BINARY
  return QUELLMAR_INFO_BINARY;
#else
  return (fs::path(QUELLMAR_BINARY).parent_path() / "quellmar-info").string();
#endif
}

quellmar::test::RunResult run(const std::string& binary, const std::string& dir,
                              const std::vector<std::string>& args) {
  return quellmar::test::run_program(binary, dir, args);
}

quellmar::test::RunResult info(const std::string& dir,
                               const std::vector<std::string>& args) {
  return run(info_binary(), dir, args);
}

// ---------------------------------------------------------------------------
// A small JSON reader: enough to prove a document well-formed and to reach
// its values.

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;        // array elements, or object values
  std::vector<std::string> keys;  // object keys, one per item

  const Json& operator[](const std::string& key) const {
    for (size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) return items[i];
    }
    return missing();
  }
  const Json& operator[](size_t i) const {
    return i < items.size() ? items[i] : missing();
  }
  int64_t integer() const { return static_cast<int64_t>(number); }
  static const Json& missing() {
    static const Json none;
    return none;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& s) : s_(s) {}

  // True when the whole text is one JSON value.
  bool read(Json* out) {
    if (!value(out)) return false;
    space();
    return i_ == s_.size();
  }

 private:
  void space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' ||
                              s_[i_] == '\r' || s_[i_] == '\t')) {
      ++i_;
    }
  }
  bool literal(const char* word) {
    const std::string w = word;
    if (s_.compare(i_, w.size(), w) != 0) return false;
    i_ += w.size();
    return true;
  }
  bool value(Json* v) {
    space();
    if (i_ >= s_.size()) return false;
    const char c = s_[i_];
    if (c == '{') return object(v);
    if (c == '[') return array(v);
    if (c == '"') {
      v->kind = Json::kString;
      return string(&v->text);
    }
    if (literal("true")) {
      v->kind = Json::kBool;
      v->boolean = true;
      return true;
    }
    if (literal("false")) {
      v->kind = Json::kBool;
      return true;
    }
    if (literal("null")) return true;
    return number(v);
  }
  bool number(Json* v) {
    const size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    auto digits = [&] {
      const size_t from = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      return i_ > from;
    };
    if (!digits()) return false;
    if (i_ < s_.size() && s_[i_] == '.') {
      ++i_;
      if (!digits()) return false;
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!digits()) return false;
    }
    v->kind = Json::kNumber;
    v->number = std::strtod(s_.substr(start, i_ - start).c_str(), nullptr);
    return true;
  }
  bool string(std::string* out) {
    ++i_;  // the opening quote
    while (i_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        *out += static_cast<char>(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      const std::string simple = "\"\\/bfnrt";
      const std::string meant = "\"\\/\b\f\n\r\t";
      const size_t k = simple.find(e);
      if (k != std::string::npos) {
        *out += meant[k];
      } else if (e == 'u' && i_ + 4 <= s_.size()) {
        const unsigned long code =
            std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16);
        i_ += 4;
        if (code > 0xff) return false;  // this project writes bytes only
        *out += static_cast<char>(code);
      } else {
        return false;
      }
    }
    return false;
  }
  bool array(Json* v) {
    v->kind = Json::kArray;
    ++i_;
    space();
    if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
    for (;;) {
      Json item;
      if (!value(&item)) return false;
      v->items.push_back(std::move(item));
      space();
      if (i_ >= s_.size()) return false;
      if (s_[i_] == ']') return ++i_, true;
      if (s_[i_++] != ',') return false;
    }
  }
  bool object(Json* v) {
    v->kind = Json::kObject;
    ++i_;
    space();
    if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
    for (;;) {
      space();
      std::string key;
      if (i_ >= s_.size() || s_[i_] != '"' || !string(&key)) return false;
      space();
      if (i_ >= s_.size() || s_[i_++] != ':') return false;
      Json item;
      if (!value(&item)) return false;
      v->keys.push_back(std::move(key));
      v->items.push_back(std::move(item));
      space();
      if (i_ >= s_.size()) return false;
      if (s_[i_] == '}') return ++i_, true;
      if (s_[i_++] != ',') return false;
    }
  }

  const std::string& s_;
  size_t i_ = 0;
};

Json parse_json(const std::string& text) {
  Json doc;
  EXPECT_TRUE(JsonReader(text).read(&doc)) << "not one JSON document:\n"
                                           << text;
  return doc;
}

TEST(CompanionJsonReader, RejectsWhatIsNotJson) {
  Json doc;
  EXPECT_TRUE(
      JsonReader(R"({"a": [1, -2.5e3, "x\u00e9"], "b": null})").read(&doc));
  EXPECT_EQ(doc["a"][1].number, -2500);
  EXPECT_EQ(doc["a"][2].text, "x\xe9");
  for (const char* bad : {"{", "{\"a\" 1}", "[1,]", "[1] [2]", "\"a\nb\"",
                          "{\"a\": 01.}", "tru"}) {
    EXPECT_FALSE(JsonReader(bad).read(&doc)) << bad;
  }
}

// ---------------------------------------------------------------------------
// Inputs

constexpr int32_t kT0 = 1020384000;  // 2002-05-03 00:00:00 UTC, day 123

// A layout M record of the 16-bit encoding (datacode 2100, or 1116 with a
// second set), with its override words as the layout requires.
Bytes record_16(int32_t time, int16_t beam, int gates, int16_t datacode = 2100,
                int32_t header_offset = 0, int16_t integrations = 100) {
  quellmar::writer::BodySpec body;
  body.datacode = datacode;
  for (int g = 0; g < gates; ++g) {
    quellmar::writer::GateMoments m;
    m.velocity = static_cast<int16_t>(5000 - 700 * g + beam);
    m.width = static_cast<uint16_t>(1200 + 333 * g);
    m.snr = static_cast<int16_t>(1000 - 150 * g);
    m.noise_or_aux = static_cast<int16_t>(-4500 + 40 * g);
    body.moments.push_back(m);
    m.velocity = static_cast<int16_t>(-m.velocity);
    m.noise_or_aux = static_cast<int16_t>(-123 + g);
    body.second.push_back(m);
  }
  quellmar::writer::RecordSpec r;
  r.datacode = datacode;
  r.layout = quellmar::writer::Layout::M;
  r.header_offset = header_offset;
  r.record_time = time;
  r.beam_index = beam;
  r.has_overrides = true;
  r.coherent_integrations = integrations;
  r.body = quellmar::writer::encode_body(body);
  return quellmar::writer::encode_record(r);
}

// Header file: the standard block (4 gates) at 0, and a version 103 block
// at 568 with two met instruments, 6 gates and beam 1 tilted to 80
// degrees.
Bytes two_blocks() {
  Bytes h =
      quellmar::writer::encode_header(quellmar::test::standard_header(4, 64));
  quellmar::writer::HeaderSpec second = quellmar::test::standard_header(6, 64);
  second.header_version = 103;
  second.met_instrument_list = {11, 12};
  second.directions[1].elevation = 8000;
  h.append(quellmar::writer::encode_header(second));
  return h;
}

// ---------------------------------------------------------------------------
// quellmar-info

TEST(QuellmarInfo, JsonCountsMatchTheWrittenPair) {
  TempDir dir;
  const std::vector<Bytes> records = {
      quellmar::test::moments_record(kT0, 0, 4),
      quellmar::test::moments_record(kT0 + 60, 1, 4),
      quellmar::test::moments_record(kT0 + 120, 0, 4),
      record_16(kT0 + 180, 2, 4),
      quellmar::test::moments_record(kT0 + 240, 0, 6, 0, 568),
      quellmar::test::moments_record(kT0 + 300, 1, 6, 0, 568),
  };
  const Bytes data = join(records);
  quellmar::test::write_pair(dir.path(), "d02123a.mom", two_blocks(), data);

  const quellmar::test::RunResult r =
      info(dir.path(), {"d02123a.mom", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json doc = parse_json(r.out);

  EXPECT_EQ(doc["pair"]["data_bytes"].integer(),
            static_cast<int64_t>(data.size()));
  EXPECT_EQ(doc["pair"]["header_bytes"].integer(), 568 + 580 + 4);
  EXPECT_FALSE(doc["pair"]["spectra_input"].boolean);
  EXPECT_EQ(doc["site"]["name"].text, "ABCD Profiler");
  ASSERT_EQ(doc["site"]["values"].items.size(), 4u);
  EXPECT_EQ(doc["site"]["values"][0].integer(), 4000);
  EXPECT_EQ(doc["site"]["values"][1].integer(), -10500);
  EXPECT_EQ(doc["site"]["values"][2].integer(), 7);
  EXPECT_EQ(doc["site"]["values"][3].integer(), 1500);
  EXPECT_EQ(doc["site"]["tx_frequency"].integer(), 91500);
  EXPECT_DOUBLE_EQ(doc["site"]["frequency_mhz"].number, 915.0);

  const Json& recs = doc["records"];
  EXPECT_EQ(recs["count"].integer(), 6);
  EXPECT_EQ(recs["first_time"].text, "2002-05-03T00:00:00Z");
  EXPECT_EQ(recs["last_time"].text, "2002-05-03T00:05:00Z");
  // Radar 0 only; beam 0 three times, beam 1 twice, beam 2 once; all mode 0.
  ASSERT_EQ(recs["groups"].items.size(), 3u);
  const int64_t counts[3] = {3, 2, 1};
  const char* firsts[3] = {"2002-05-03T00:00:00Z", "2002-05-03T00:01:00Z",
                           "2002-05-03T00:03:00Z"};
  const char* lasts[3] = {"2002-05-03T00:04:00Z", "2002-05-03T00:05:00Z",
                          "2002-05-03T00:03:00Z"};
  for (int b = 0; b < 3; ++b) {
    const Json& g = recs["groups"][b];
    EXPECT_EQ(g["radar"].integer(), 0);
    EXPECT_EQ(g["beam"].integer(), b);
    EXPECT_EQ(g["mode"].integer(), 0);
    EXPECT_EQ(g["count"].integer(), counts[b]) << "beam " << b;
    EXPECT_EQ(g["first_time"].text, firsts[b]);
    EXPECT_EQ(g["last_time"].text, lasts[b]);
    EXPECT_EQ(g["first_time_s"].integer() % 60, 0);
  }

  ASSERT_EQ(doc["datacodes"].items.size(), 2u);
  EXPECT_EQ(doc["datacodes"][0]["datacode"].integer(), 2000);
  EXPECT_EQ(doc["datacodes"][0]["count"].integer(), 5);
  EXPECT_EQ(doc["datacodes"][1]["datacode"].integer(), 2100);
  EXPECT_EQ(doc["datacodes"][1]["count"].integer(), 1);
  ASSERT_EQ(doc["layouts"].items.size(), 1u);
  EXPECT_EQ(doc["layouts"][0]["layout"].text, "M");
  EXPECT_EQ(doc["layouts"][0]["count"].integer(), 6);

  const Json& blocks = doc["header_blocks"];
  ASSERT_EQ(blocks.items.size(), 2u);
  EXPECT_EQ(blocks[0]["offset"].integer(), 0);
  EXPECT_EQ(blocks[0]["version"].integer(), 102);
  EXPECT_EQ(blocks[0]["records"].integer(), 4);
  EXPECT_EQ(blocks[1]["offset"].integer(), 568);
  EXPECT_EQ(blocks[1]["version"].integer(), 103);
  EXPECT_EQ(blocks[1]["records"].integer(), 2);
  EXPECT_EQ(blocks[1]["met_instrument_count"].integer(), 2);
  for (int k = 0; k < 2; ++k) {
    const Json& b = blocks[k];
    EXPECT_EQ(b["status"].integer(), 0);
    ASSERT_EQ(b["modes"].items.size(), 1u);
    const Json& m = b["modes"][0];
    EXPECT_EQ(m["gate_count"].integer(), k == 0 ? 4 : 6);
    EXPECT_EQ(m["spectral_points"].integer(), 64);
    EXPECT_EQ(m["ipp_ns"].integer(), 40000);
    EXPECT_EQ(m["first_gate_delay_ns"].integer(), 2500);
    EXPECT_EQ(m["gate_spacing_ns"].integer(), 700);
    ASSERT_EQ(b["beams"].items.size(), 5u);
    const char* names[5] = {"VERTICAL", "NORTH", "EAST", "SOUTH", "WEST"};
    for (int beam = 0; beam < 5; ++beam) {
      const Json& e = b["beams"][beam];
      EXPECT_EQ(e["direction"].text, names[beam]);
      EXPECT_EQ(e["azimuth"].integer(), beam == 0 ? 0 : (beam - 1) * 90);
      const double elevation = beam == 0 ? 90 : (k == 1 && beam == 1 ? 80 : 75);
      EXPECT_DOUBLE_EQ(e["elevation"].number, elevation);
    }
  }
  EXPECT_TRUE(doc["damage"].items.empty()) << r.out;
}

TEST(QuellmarInfo, PlainTextNamesSiteGroupsAndDamage) {
  TempDir dir;
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      join({quellmar::test::moments_record(kT0, 0, 4),
            quellmar::test::moments_record(kT0, 3, 4),
            quellmar::test::moments_record(kT0 + 60, 0, 4)}));
  const quellmar::test::RunResult r = info(dir.path(), {"d02123a.mom"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line :
       {"site: ABCD Profiler, values 4000 -10500 7 1500 (units unknown), "
        "radar RADAR0, transmit frequency 915.00 MHz\n",
        "records: 3, 2002-05-03T00:00:00Z to 2002-05-03T00:01:00Z\n",
        "  radar 0 beam 0 mode 0: 2 record(s), 2002-05-03T00:00:00Z to "
        "2002-05-03T00:01:00Z\n",
        "  radar 0 beam 3 mode 0: 1 record(s)", "datacodes: 2000 (3)\n",
        "layouts: M (3)\n", "HeaderBlock at header offset 0: version 102",
        "  beam 2: mode 0, direction 2 EAST, azimuth 90, elevation 75\n",
        "damage: none\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos)
        << "missing: " << line << "\nin:\n"
        << r.out;
  }
}

// Modes of 2048 spectral points or more are RASS modes, and say so; one
// point fewer is a wind mode. Times are in ns; the pulse value has no unit
// the format gives.
TEST(QuellmarInfo, ModesSayWhetherTheyAreRass) {
  TempDir dir;
  quellmar::writer::HeaderSpec h = quellmar::test::standard_header();
  for (int m : {1, 2}) {
    h.modes[m] = h.modes[0];
    h.modes[m].spectral_points = m == 1 ? 2048 : 2047;
    h.beams[5 - m].mode_index = static_cast<int16_t>(m);
  }
  quellmar::test::write_pair(dir.path(), "d02123a.mom",
                             quellmar::writer::encode_header(h),
                             quellmar::test::moments_record(kT0, 0, 4));
  const quellmar::test::RunResult r = info(dir.path(), {"d02123a.mom"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string timing =
      ": ipp 40000 ns, pulse 700 (unit unknown), first gate delay 2500 ns, "
      "delay offset 0 ns, gate spacing 700 ns, 4 gates, 100 coherent "
      "integrations, 30 spectral averages, ";
  for (const std::string& line :
       {"\n  mode 0" + timing + "64 spectral points\n",
        "\n  mode 1 (RASS)" + timing + "2048 spectral points\n",
        "\n  mode 2" + timing + "2047 spectral points\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos)
        << "missing: " << line << "\nin:\n"
        << r.out;
  }

  const Json doc = parse_json(info(dir.path(), {"d02123a.mom", "--json"}).out);
  const Json& modes = doc["header_blocks"][0]["modes"];
  ASSERT_EQ(modes.items.size(), 3u);
  for (int m = 0; m < 3; ++m) {
    EXPECT_EQ(modes[m]["index"].integer(), m);
    EXPECT_EQ(modes[m]["rass"].kind, Json::kBool) << "mode " << m;
    EXPECT_EQ(modes[m]["rass"].boolean, m == 1) << "mode " << m;
  }
}

// What quellmar writes from the pair: the first record (here of radar 1),
// then radar 0 in file order up to the first at or after the stop time,
// 2002-05-05 00:00:00 for d02123a; the radar 0 records after it are left
// out, also one of an earlier time. The count is what quellmar writes.
TEST(QuellmarInfo, SaysWhatQuellmarWritesUpToTheStopTime) {
  TempDir dir;
  constexpr int32_t kStop = kT0 + 2 * 86400;
  const Bytes data = join({quellmar::test::moments_record(kT0, 0, 4, 1),
                           quellmar::test::moments_record(kStop - 30, 1, 4),
                           quellmar::test::moments_record(kStop, 2, 4, 1),
                           quellmar::test::moments_record(kStop + 30, 3, 4),
                           quellmar::test::moments_record(kT0 + 60, 0, 4),
                           quellmar::test::moments_record(kStop + 90, 1, 4, 1),
                           quellmar::test::moments_record(kStop + 120, 2, 4)});
  const Bytes header =
      quellmar::writer::encode_header(quellmar::test::standard_header());
  quellmar::test::write_pair(dir.path(), "d02123a.mom", header, data);

  const quellmar::test::RunResult written =
      quellmar::test::run_tool(dir.path(), {"d02123a.mom"});
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(std::count(written.out.begin(), written.out.end(), '\n'), 3);
  const quellmar::test::RunResult text = info(dir.path(), {"d02123a.mom"});
  EXPECT_NE(text.out.find("\nquellmar: 3 record(s) written, stop time "
                          "2002-05-05T00:00:00Z, 2 record(s) of radar 0 past "
                          "it left out\n"),
            std::string::npos)
      << text.out;
  const Json doc = parse_json(info(dir.path(), {"d02123a.mom", "--json"}).out);
  EXPECT_EQ(doc["quellmar"]["records"].integer(), 3);
  EXPECT_EQ(doc["quellmar"]["stop_time"].text, "2002-05-05T00:00:00Z");
  EXPECT_EQ(doc["quellmar"]["stop_time_s"].integer(), kStop);
  EXPECT_EQ(doc["quellmar"]["left_out"].integer(), 2);

  // A name quellmar refuses: nothing written.
  quellmar::test::write_pair(dir.path(), "dxx123a.mom", header, data);
  EXPECT_NE(info(dir.path(), {"dxx123a.mom"})
                .out.find("\nquellmar: writes nothing: the date in the name "
                          "cannot be read\n"),
            std::string::npos);
  EXPECT_EQ(parse_json(info(dir.path(), {"dxx123a.mom", "--json"})
                           .out)["quellmar"]["records"]
                .integer(),
            0);
}

struct DamageCase {
  const char* what;
  Bytes header;
  Bytes data;
  int64_t records;  // records the walk reads
  int64_t offset;   // where the damage lies
  const char* kind;
};

TEST(QuellmarInfo, DamageIsReportedWithItsOffsetAndTheReportStaysJson) {
  const Bytes header =
      quellmar::writer::encode_header(quellmar::test::standard_header());
  const Bytes r0 = quellmar::test::moments_record(kT0, 0, 4);
  const Bytes r1 = quellmar::test::moments_record(kT0 + 60, 1, 4);
  const int64_t n0 = static_cast<int64_t>(r0.size());
  const int64_t n1 = static_cast<int64_t>(r1.size());

  std::vector<DamageCase> cases;
  cases.push_back({"last record cut short", header,
                   join({r0, r1, quellmar::writer::cut(r0, r0.size() - 5)}), 3,
                   n0 + n1, "cut_record"});
  cases.push_back({"RecordHeader cut short", header,
                   join({r0, r1, quellmar::writer::cut(r0, 7)}), 2, n0 + n1,
                   "cut_record_header"});
  {
    Bytes bad = r1;
    bad.patch_i16(bad.size() - 2, 999);  // trailer disagrees with length
    cases.push_back(
        {"trailer", header, join({r0, bad, r0}), 3, n0, "bad_trailer"});
  }
  {
    Bytes bad = r1;
    bad.patch_i16(2, 5);  // below the smallest layout M record
    cases.push_back(
        {"length", header, join({r0, bad, r0}), 1, n0, "bad_length"});
  }
  cases.push_back(
      {"header offset past the header file", header,
       join({r0, quellmar::test::moments_record(kT0 + 60, 1, 4, 0, 9000)}), 2,
       n0, "header_read_error"});
  cases.push_back({"beam outside the beam table", header,
                   join({r0, quellmar::test::moments_record(kT0 + 60, 7, 4)}),
                   2, n0, "unknown_beam"});

  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    quellmar::test::write_pair(dir.path(), "d02123a.mom", c.header, c.data);
    const quellmar::test::RunResult r =
        info(dir.path(), {"d02123a.mom", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    const Json doc = parse_json(r.out);
    EXPECT_EQ(doc["records"]["count"].integer(), c.records);
    bool found = false;
    for (const Json& d : doc["damage"].items) {
      found |= d["kind"].text == c.kind && d["offset"].integer() == c.offset;
    }
    EXPECT_TRUE(found) << r.out;

    // The text form names the same finding.
    const quellmar::test::RunResult t = info(dir.path(), {"d02123a.mom"});
    EXPECT_NE(
        t.out.find("data offset " + std::to_string(c.offset) + ": " + c.kind),
        std::string::npos)
        << t.out;
  }
}

TEST(QuellmarInfo, AnyBytesInNamesGiveValidJson) {
  TempDir dir;
  quellmar::writer::HeaderSpec h = quellmar::test::standard_header();
  h.site_name = std::string("Q\"uote\\ \x01 caf\xe9");
  h.directions[0].name = "V\tE\x7f";
  quellmar::test::write_pair(dir.path(), "d02123a.mom",
                             quellmar::writer::encode_header(h),
                             quellmar::test::moments_record(kT0, 0, 4));
  const quellmar::test::RunResult r =
      info(dir.path(), {"d02123a.mom", "--json"});
  ASSERT_EQ(r.status, 0);
  const Json doc = parse_json(r.out);
  EXPECT_EQ(doc["site"]["name"].text, h.site_name);
  EXPECT_EQ(doc["header_blocks"][0]["beams"][0]["direction"].text, "V\tE\x7f");
}

TEST(QuellmarInfo, PairThatCannotBeOpenedExitsOne) {
  TempDir dir;
  quellmar::test::RunResult r = info(dir.path(), {"d02123a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("d02123a.mom"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());

  // Data file without its header file.
  quellmar::writer::write_file(dir.file("d02123a.mom"),
                               quellmar::test::moments_record(kT0, 0, 4));
  r = info(dir.path(), {"d02123a.mom", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("h02123a.mom"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());

  // An empty data file holds no record.
  quellmar::test::write_pair(
      dir.path(), "d02124a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      Bytes());
  r = info(dir.path(), {"d02124a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no complete record"), std::string::npos) << r.err;

  // Its header file in place of the data file.
  r = info(dir.path(), {"h02124a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quellmar-info: h02124a.mom: this is a header file; give its data "
            "file d02124a.mom\n");
  EXPECT_TRUE(r.out.empty());

  EXPECT_EQ(info(dir.path(), {}).status, 2);
  EXPECT_EQ(info(dir.path(), {"d02123a.mom", "--bogus"}).status, 2);
  EXPECT_EQ(info(dir.path(), {"d02123a.mom", "d02124a.mom"}).status, 2);
}

#ifdef QUELLMAR_NC_BINARY

// ---------------------------------------------------------------------------
// quellmar-nc

quellmar::test::RunResult nc(const std::string& dir,
                             const std::vector<std::string>& args) {
  return run(QUELLMAR_NC_BINARY, dir, args);
}

class NcReader {
 public:
  explicit NcReader(const std::string& path) {
    status_ = nc_open(path.c_str(), NC_NOWRITE, &id_);
  }
  ~NcReader() {
    if (status_ == NC_NOERR) nc_close(id_);
  }
  bool ok() const { return status_ == NC_NOERR; }

  bool has(const char* name) const {
    int v;
    return nc_inq_varid(id_, name, &v) == NC_NOERR;
  }
  size_t length(const char* name) const {
    return quellmar::test::nc_var_length(id_, var(name));
  }
  std::vector<float> floats(const char* name) const {
    std::vector<float> v(length(name));
    EXPECT_EQ(nc_get_var_float(id_, var(name), v.data()), NC_NOERR) << name;
    return v;
  }
  std::vector<double> doubles(const char* name) const {
    std::vector<double> v(length(name));
    EXPECT_EQ(nc_get_var_double(id_, var(name), v.data()), NC_NOERR) << name;
    return v;
  }
  std::vector<int> ints(const char* name) const {
    std::vector<int> v(length(name));
    EXPECT_EQ(nc_get_var_int(id_, var(name), v.data()), NC_NOERR) << name;
    return v;
  }
  // A text attribute; varname nullptr for a global one.
  std::string text(const char* varname, const char* att) const {
    const int v = varname == nullptr ? NC_GLOBAL : var(varname);
    size_t len = 0;
    if (nc_inq_attlen(id_, v, att, &len) != NC_NOERR) return "<none>";
    std::string s(len, '\0');
    nc_get_att_text(id_, v, att, s.data());
    return s;
  }
  float float_att(const char* varname, const char* att) const {
    float f = 0;
    EXPECT_EQ(nc_get_att_float(id_, var(varname), att, &f), NC_NOERR) << att;
    return f;
  }

 private:
  int var(const char* name) const {
    int v = -1;
    EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
    return v;
  }
  int id_ = -1;
  int status_ = -1;
};

// What the access module decodes from the pair, record by record.
struct Decoded {
  int32_t time;
  int32_t beam;
  MomentArrays moments;
};

std::vector<Decoded> decode_all(const std::string& dir,
                                const std::string& name) {
  std::vector<Decoded> out;
  quellmar::test::start_capture();
  quellmar::test::open_pair(dir, name, 0);
  pda_select_radar(-1);
  pda_select_beam(-1);
  int new_header = 0;
  for (int found = pda_first_record(&new_header); found;
       found = pda_next_record(&new_header)) {
    Decoded d;
    int32_t y, day, h, mi, s;
    d.time = pda_get_time(&y, &day, &h, &mi, &s);
    d.beam = pda_get_record_beam();
    d.moments = std::move(pda_moments);
    pda_release_moments();
    out.push_back(std::move(d));
  }
  pda_reset();
  quellmar::test::stop_capture();
  return out;
}

// Standard header with a second mode (6 gates, wider spacing, a delay
// offset) used by beam 4.
quellmar::writer::HeaderSpec two_mode_header() {
  quellmar::writer::HeaderSpec h = quellmar::test::standard_header(4, 64);
  h.modes[1] = h.modes[0];
  h.modes[1].ipp_ns = 60000;
  h.modes[1].first_gate_delay_ns = 4000;
  h.modes[1].gate_spacing_ns = 1400;
  h.modes[1].delay_offset_ns = 300;
  h.modes[1].gate_count = 6;
  h.modes[1].coherent_integrations = 50;
  h.beams[4].mode_index = 1;
  h.directions[4].elevation = 7550;  // hundredths of a degree
  return h;
}

TEST(QuellmarNc, HoldsTheDecodedValuesTimesAnglesAndRangesOfEveryRecord) {
  TempDir dir;
  const std::vector<Bytes> records = {
      record_16(kT0, 0, 4),
      quellmar::test::moments_record(kT0 + 60, 1, 4),
      record_16(kT0 + 120, 4, 6, 1116, 0, 50),
      quellmar::test::moments_record(kT0 + 180, 4, 6),
      record_16(kT0 - 30, 0, 4),
  };
  quellmar::test::write_pair(dir.path(), "d02123a.mom",
                             quellmar::writer::encode_header(two_mode_header()),
                             join(records));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "out.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;  // no terminal, no damage: silent

  NcReader f(dir.file("out.nc"));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.text(nullptr, "Conventions").rfind("CF/Radial", 0), 0u);
  EXPECT_EQ(f.text(nullptr, "version"), "1.4");
  EXPECT_EQ(f.text(nullptr, "instrument_name"), "ABCD Profiler");
  EXPECT_EQ(f.text(nullptr, "instrument_type"), "radar");
  EXPECT_EQ(f.text(nullptr, "platform_type"), "fixed");
  EXPECT_EQ(f.text(nullptr, "time_coverage_start"), "2002-05-02T23:59:30Z");
  EXPECT_EQ(f.text(nullptr, "time_coverage_end"), "2002-05-03T00:03:00Z");
  EXPECT_EQ(f.text("time", "units"), "seconds since 2002-05-03T00:00:00Z");
  for (const char* name :
       {"volume_number", "time_coverage_start", "time_coverage_end", "latitude",
        "longitude", "altitude", "sweep_number", "sweep_mode", "fixed_angle",
        "sweep_start_ray_index", "sweep_end_ray_index"}) {
    EXPECT_TRUE(f.has(name)) << name;
  }
  EXPECT_FALSE(f.has("spectra"));

  // One ray per record, in file order.
  EXPECT_EQ(f.doubles("time"), (std::vector<double>{0, 60, 120, 180, -30}));
  EXPECT_EQ(f.floats("azimuth"), (std::vector<float>{0, 0, 270, 270, 0}));
  EXPECT_EQ(f.floats("elevation"),
            (std::vector<float>{90, 75, 75.5f, 75.5f, 90}));
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{4, 4, 6, 6, 4}));
  EXPECT_EQ(f.ints("ray_start_index"), (std::vector<int>{0, 4, 8, 14, 20}));
  EXPECT_EQ(f.ints("beam_index"), (std::vector<int>{0, 1, 4, 4, 0}));
  EXPECT_EQ(f.ints("datacode"),
            (std::vector<int>{2100, 2000, 1116, 2000, 2100}));
  // Ranges: (first gate delay - delay offset + g spacings) x 0.15 m/ns.
  EXPECT_EQ(f.floats("ray_start_range"),
            (std::vector<float>{375, 375, 555, 555, 375}));
  EXPECT_EQ(f.floats("ray_gate_spacing"),
            (std::vector<float>{105, 105, 210, 210, 105}));
  EXPECT_EQ(f.floats("range"),
            (std::vector<float>{555, 765, 975, 1185, 1395, 1605}));
  EXPECT_EQ(f.float_att("range", "meters_between_gates"), 210.0f);
  // Sweeps: runs of one beam.
  EXPECT_EQ(f.ints("sweep_start_ray_index"), (std::vector<int>{0, 1, 2, 4}));
  EXPECT_EQ(f.ints("sweep_end_ray_index"), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(f.floats("fixed_angle"), (std::vector<float>{90, 75, 75.5f, 90}));

  // Documented values: V = 20.478142 m/s for 915 MHz, 40 us, 100
  // integrations; a velocity count of 5000 is 10.239071 m/s; SNR 1000 and
  // noise -4500 hundredths of a dB with 64 points give a signal power of
  // 0.020238578, -16.9382 dB.
  const std::vector<float> vel = f.floats("VEL");
  const std::vector<float> snr = f.floats("SNR");
  const std::vector<float> noise = f.floats("NOISE");
  const std::vector<float> power = f.floats("SIGNAL_POWER");
  EXPECT_FLOAT_EQ(f.floats("nyquist_velocity")[0], 20.478142f);
  EXPECT_FLOAT_EQ(vel[0], 10.239071f);
  EXPECT_EQ(snr[0], 10.0f);
  EXPECT_EQ(noise[0], -45.0f);
  EXPECT_NEAR(power[0], -16.9382f, 5e-5f);

  // Every value is the module's decoded float, unchanged.
  const std::vector<Decoded> decoded = decode_all(dir.path(), "d02123a.mom");
  ASSERT_EQ(decoded.size(), records.size());
  const std::vector<float> width = f.floats("WIDTH");
  const std::vector<float> vel2 = f.floats("VEL2");
  const std::vector<float> width2 = f.floats("WIDTH2");
  const std::vector<float> snr2 = f.floats("SNR2");
  const std::vector<float> power2 = f.floats("SIGNAL_POWER2");
  const std::vector<float> aux2 = f.floats("AUX2");
  const std::vector<int> start = f.ints("ray_start_index");
  const float fill = f.float_att("VEL", "_FillValue");
  EXPECT_EQ(fill, -9999.0f);
  for (size_t i = 0; i < decoded.size(); ++i) {
    const MomentArrays& m = decoded[i].moments;
    const bool second = i == 2;
    for (int64_t g = 0; g < m.gate_count; ++g) {
      SCOPED_TRACE("ray " + std::to_string(i) + " gate " + std::to_string(g));
      const size_t k = static_cast<size_t>(start[i] + g);
      EXPECT_EQ(vel[k], m.velocity[g]);
      EXPECT_EQ(width[k], m.width[g]);
      EXPECT_EQ(snr[k], m.snr[g]);
      EXPECT_EQ(noise[k], m.noise[g]);
      EXPECT_EQ(power[k], pda_power_db(m.signal_power[g]));
      EXPECT_EQ(vel2[k], second ? m.velocity2[g] : fill);
      EXPECT_EQ(width2[k], second ? m.width2[g] : fill);
      EXPECT_EQ(snr2[k], second ? m.snr2[g] : fill);
      EXPECT_EQ(power2[k], second ? pda_power_db(m.signal_power2[g]) : fill);
      EXPECT_EQ(aux2[k], second ? m.aux2[g] : fill);
    }
  }
  EXPECT_EQ(aux2[8], -12.3f);  // an auxiliary count of -123
}

TEST(QuellmarNc, EachRayTakesItsOwnHeaderBlock) {
  TempDir dir;
  // Beam 1 runs on across the change of HeaderBlock, which tilts it from
  // 75 to 80 degrees and gives its mode 6 gates instead of 4.
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom", two_blocks(),
      join({quellmar::test::moments_record(kT0, 1, 4),
            quellmar::test::moments_record(kT0 + 60, 1, 4),
            quellmar::test::moments_record(kT0 + 120, 1, 6, 0, 568),
            quellmar::test::moments_record(kT0 + 180, 0, 6, 0, 568)}));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "o.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader f(dir.file("o.nc"));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.floats("elevation"), (std::vector<float>{75, 75, 80, 90}));
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{4, 4, 6, 6}));
  EXPECT_EQ(f.ints("ray_start_index"), (std::vector<int>{0, 4, 8, 14}));
  EXPECT_EQ(f.length("VEL"), 20u);
  // A new elevation starts a new sweep, as a new beam does.
  EXPECT_EQ(f.ints("sweep_start_ray_index"), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(f.ints("sweep_end_ray_index"), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(f.floats("fixed_angle"), (std::vector<float>{75, 80, 90}));
}

TEST(QuellmarNc, FailedConversionLeavesNoFileBehind) {
  TempDir dir;
  const Bytes header =
      quellmar::writer::encode_header(quellmar::test::standard_header());
  // Beam 7 is outside the five beams of the header: quellmar stops there
  // too ("Cannot get information for beam 7").
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom", header,
      join({quellmar::test::moments_record(kT0, 0, 4),
            quellmar::test::moments_record(kT0 + 60, 7, 4)}));
  quellmar::test::RunResult r = nc(dir.path(), {"d02123a.mom", "-o", "out.nc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("beam 7"), std::string::npos) << r.err;

  // A folder that does not exist.
  quellmar::test::write_pair(dir.path(), "d02124a.mom", header,
                             quellmar::test::moments_record(kT0, 0, 4));
  r = nc(dir.path(), {"d02124a.mom", "-o", "missing/out.nc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing/out.nc"), std::string::npos) << r.err;

  // No record of the radar asked for.
  r = nc(dir.path(), {"d02124a.mom", "--radar", "1", "-o", "out.nc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no record of radar 1"), std::string::npos) << r.err;

  // Pair that cannot be opened, and a header file given for its data file.
  r = nc(dir.path(), {"d09999a.mom", "-o", "out.nc"});
  EXPECT_EQ(r.status, 1);
  r = nc(dir.path(),
         {"../" + fs::path(dir.path()).filename().string() + "/h02124a.mom"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      r.err.find("h02124a.mom: this is a header file; give its data "
                 "file ../" +
                 fs::path(dir.path()).filename().string() + "/d02124a.mom\n"),
      std::string::npos)
      << r.err;

  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    left.push_back(e.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"d02123a.mom", "d02124a.mom",
                                            "h02123a.mom", "h02124a.mom"}));

  EXPECT_EQ(nc(dir.path(), {}).status, 2);
  EXPECT_EQ(nc(dir.path(), {"d02124a.mom", "--radar", "x"}).status, 2);
  EXPECT_EQ(nc(dir.path(), {"d02124a.mom", "-o"}).status, 2);
}

TEST(QuellmarNc, WritesIntoTheCurrentFolderAndReportsDamageOnStderr) {
  TempDir dir;
  fs::create_directory(dir.file("in"));
  const Bytes r0 = quellmar::test::moments_record(kT0, 0, 4);
  quellmar::test::write_pair(
      dir.file("in"), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      join({r0, r0, quellmar::writer::cut(r0, r0.size() - 4)}));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"in/d02123a.mom", "--radar", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("cut_record"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("data offset " + std::to_string(2 * r0.size())),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(quellmar::test::file_exists(dir.file("in/d02123a.mom.nc")));
  NcReader f(dir.file("d02123a.mom.nc"));
  ASSERT_TRUE(f.ok());
  // The cut record is converted as the module decodes it, like quellmar
  // writes it.
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{4, 4, 4}));
}

TEST(QuellmarNc, ReportsTheFindingsOfQuellmarInfo) {
  TempDir dir;
  const Bytes r0 = quellmar::test::moments_record(kT0, 0, 4);
  Bytes bad_trailer = quellmar::test::moments_record(kT0 + 1, 1, 4);
  bad_trailer.patch_i16(bad_trailer.size() - 2, 999);
  std::vector<Bytes> records = {
      r0, bad_trailer, quellmar::test::moments_record(kT0 + 2, 1, 4, 0, 9000),
      quellmar::test::moments_record(kT0 + 3, 1, 4, 0, 9000)};
  for (int i = 0; i < 22; ++i) {
    records.push_back(quellmar::test::moments_record(kT0 + 4 + i, 2, 4, 1));
  }
  records.push_back(quellmar::writer::cut(r0, 7));
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      join(records));
  const quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "o.nc"});
  ASSERT_EQ(r.status, 0) << r.err;

  // The first twenty of quellmar-info's findings, in its words, then a
  // count of the rest.
  const Json doc = parse_json(info(dir.path(), {"d02123a.mom", "--json"}).out);
  const std::vector<Json>& damage = doc["damage"].items;
  ASSERT_EQ(damage.size(), 25u);
  std::string wanted;
  for (size_t i = 0; i < 20; ++i) {
    wanted += "quellmar-nc: d02123a.mom: data offset " +
              std::to_string(damage[i]["offset"].integer()) + ": " +
              damage[i]["kind"].text + ": " + damage[i]["detail"].text + "\n";
  }
  wanted +=
      "quellmar-nc: d02123a.mom: 5 more finding(s); quellmar-info lists them "
      "all\n";
  EXPECT_EQ(r.err, wanted);
  EXPECT_NE(r.err.find("2 record(s) name it"), std::string::npos);
}

// A spectra header: mode 0 of `points` spectral points (beams 0 to 3) and
// mode 1 of `long_points` (beam 4), both of `gates` gates. Window 2 holds
// points 1 to 8 and is placed, window 1 points 9 to 64, so that a line is
// as long as the mode's spectral points and its value k (k < 64) is row
// value k.
quellmar::writer::HeaderSpec spectra_header(int gates, int points,
                                            int long_points) {
  quellmar::writer::HeaderSpec h =
      quellmar::test::standard_header(gates, points);
  h.modes[1] = h.modes[0];
  h.modes[1].spectral_points = static_cast<int16_t>(long_points);
  h.beams[4].mode_index = 1;
  h.window2_start = 1;
  h.window2_points = 8;
  h.window1_start = 9;
  h.window1_points = 56;
  h.spectrum_extra[0] = 1;
  return h;
}

// Every variable of the file as raw bytes, by name.
std::vector<std::pair<std::string, std::vector<char>>> all_values(
    const std::string& path) {
  std::vector<std::pair<std::string, std::vector<char>>> out;
  int id = -1;
  if (nc_open(path.c_str(), NC_NOWRITE, &id) != NC_NOERR) return out;
  int count = 0;
  nc_inq_nvars(id, &count);
  for (int v = 0; v < count; ++v) {
    char name[NC_MAX_NAME + 1];
    nc_type type;
    int dims = 0;
    int dim_ids[NC_MAX_VAR_DIMS];
    nc_inq_var(id, v, name, &type, &dims, dim_ids, nullptr);
    size_t bytes = 0;
    nc_inq_type(id, type, nullptr, &bytes);
    for (int d = 0; d < dims; ++d) {
      size_t len = 0;
      nc_inq_dimlen(id, dim_ids[d], &len);
      bytes *= len;
    }
    std::vector<char> values(bytes);
    EXPECT_EQ(nc_get_var(id, v, values.data()), NC_NOERR) << name;
    out.emplace_back(name, std::move(values));
  }
  nc_close(id);
  return out;
}

TEST(QuellmarNc, EveryDeflateLevelKeepsEverySpectrumValue) {
  TempDir dir;
  // Forty short-spectrum rays first: whole blocks of gates whose lines all
  // end at 64 points, then rays of 256 points, then short ones again.
  std::vector<Bytes> records;
  for (int i = 0; i < 40; ++i) {
    records.push_back(spectra_record(kT0 + i, 0, 4, 64, 7u + i));
  }
  records.push_back(spectra_record(kT0 + 40, 4, 4, 256, 99));
  records.push_back(spectra_record(kT0 + 41, 4, 4, 256, 98));
  for (int i = 0; i < 10; ++i) {
    records.push_back(spectra_record(kT0 + 42 + i, 1, 4, 64, 200u + i));
  }
  quellmar::test::write_pair(
      dir.path(), "d02123a.spc",
      quellmar::writer::encode_header(spectra_header(4, 64, 256)),
      join(records));
  const std::vector<Decoded> decoded = decode_all(dir.path(), "d02123a.spc");
  ASSERT_EQ(decoded.size(), records.size());

  std::vector<std::pair<std::string, std::vector<char>>> first;
  for (const char* level : {"0", "1", "9"}) {
    SCOPED_TRACE(std::string("--deflate ") + level);
    const std::string out = std::string("l") + level + ".nc";
    const quellmar::test::RunResult r =
        nc(dir.path(), {"d02123a.spc", "--deflate", level, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    {
      NcReader f(dir.file(out));
      ASSERT_TRUE(f.ok());
      ASSERT_EQ(f.length("spectra"), 52u * 4u * 256u);
      const std::vector<float> spectra = f.floats("spectra");
      for (size_t i = 0; i < decoded.size(); ++i) {
        const MomentArrays& m = decoded[i].moments;
        const size_t line = decoded[i].beam == 4 ? 256 : 64;
        for (int64_t g = 0; g < m.gate_count; ++g) {
          const float* row = m.spectra_row(g);
          const float* got = &spectra[(i * 4 + static_cast<size_t>(g)) * 256];
          for (size_t k = 0; k < 256; ++k) {
            const float want = k < 64 ? row[k] : k < line ? 0.0f : -9999.0f;
            ASSERT_EQ(got[k], want)
                << "ray " << i << " gate " << g << " point " << k;
          }
        }
      }
    }
    int id = -1, var = -1, shuffle = -1, deflate = -1, deflate_level = -1;
    ASSERT_EQ(nc_open(dir.file(out).c_str(), NC_NOWRITE, &id), NC_NOERR);
    nc_inq_varid(id, "spectra", &var);
    nc_inq_var_deflate(id, var, &shuffle, &deflate, &deflate_level);
    nc_close(id);
    EXPECT_EQ(deflate != 0 ? deflate_level : 0, std::atoi(level));
    EXPECT_EQ(shuffle != 0, std::atoi(level) != 0);

    const auto values = all_values(dir.file(out));
    if (first.empty()) {
      first = values;
    } else {
      EXPECT_TRUE(values == first) << "variables differ from --deflate 0";
    }
  }
}

TEST(QuellmarNc, RaysWithoutGatesGiveEmptyFields) {
  TempDir dir;
  // n_points is then an unlimited dimension of length 0.
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header(0, 64)),
      join({quellmar::test::moments_record(kT0, 0, 0),
            quellmar::test::moments_record(kT0 + 5, 1, 0)}));
  quellmar::test::RunResult r = nc(dir.path(), {"d02123a.mom", "-o", "z.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader f(dir.file("z.nc"));
  EXPECT_EQ(f.ints("ray_n_gates"), (std::vector<int>{0, 0}));
  EXPECT_EQ(f.length("VEL"), 0u);
  EXPECT_EQ(f.ints("sweep_start_ray_index"), (std::vector<int>{0, 1}));
  quellmar::test::write_pair(
      dir.path(), "d02124a.spc",
      quellmar::writer::encode_header(spectra_header(0, 64, 64)),
      join({spectra_record(kT0, 0, 0, 64, 1)}));
  r = nc(dir.path(), {"d02124a.spc", "-o", "s.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader g(dir.file("s.nc"));
  EXPECT_EQ(g.length("spectra"), 0u);
}

TEST(QuellmarNc, LocationOptionsFillTheLocationVariables) {
  TempDir dir;
  quellmar::test::write_pair(
      dir.path(), "d02123a.mom",
      quellmar::writer::encode_header(quellmar::test::standard_header()),
      quellmar::test::moments_record(kT0, 0, 4));
  quellmar::test::RunResult r =
      nc(dir.path(), {"d02123a.mom", "-o", "none.nc"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = nc(dir.path(), {"d02123a.mom", "-o", "site.nc", "--latitude", "47.8",
                      "--longitude", "-11.25", "--altitude", "1500.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  {
    NcReader none(dir.file("none.nc"));
    NcReader site(dir.file("site.nc"));
    ASSERT_TRUE(none.ok() && site.ok());
    for (const char* name : {"latitude", "longitude", "altitude"}) {
      EXPECT_EQ(none.doubles(name), std::vector<double>{-9999.0}) << name;
    }
    EXPECT_EQ(site.doubles("latitude"), std::vector<double>{47.8});
    EXPECT_EQ(site.doubles("longitude"), std::vector<double>{-11.25});
    EXPECT_EQ(site.doubles("altitude"), std::vector<double>{1500.5});
    EXPECT_EQ(site.text("latitude", "units"), "degrees_north");
    // Only what was given is filled.
    EXPECT_EQ(site.floats("VEL"), none.floats("VEL"));
  }
  r = nc(dir.path(), {"d02123a.mom", "-o", "half.nc", "--altitude", "20"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcReader half(dir.file("half.nc"));
  EXPECT_EQ(half.doubles("latitude"), std::vector<double>{-9999.0});
  EXPECT_EQ(half.doubles("altitude"), std::vector<double>{20.0});

  // Values out of range or not numbers are wrong command lines.
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--latitude", "91"},
        {"--latitude", "nan"},
        {"--longitude", "east"},
        {"--altitude"},
        {"--deflate", "10"},
        {"--deflate", "-1"},
        {"--deflate", ""}}) {
    std::vector<std::string> args = {"d02123a.mom", "-o", "bad.nc"};
    args.insert(args.end(), bad.begin(), bad.end());
    r = nc(dir.path(), args);
    EXPECT_EQ(r.status, 2) << bad.front();
    EXPECT_NE(r.err.find(bad.front()), std::string::npos) << r.err;
  }
  EXPECT_FALSE(quellmar::test::file_exists(dir.file("bad.nc")));
}

// The names in a folder, sorted.
std::vector<std::string> folder_names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(QuellmarNc, TerminatedConversionLeavesNoFileAndEndsBySignal) {
  TempDir dir;
  // Enough spectra that compressing them at level 9 takes a while.
  quellmar::writer::HeaderSpec header = spectra_header(32, 2048, 2048);
  std::vector<Bytes> records;
  for (int i = 0; i < 80; ++i) {
    records.push_back(spectra_record(kT0 + i, static_cast<int16_t>(i % 4), 32,
                                     2048, static_cast<uint32_t>(i)));
  }
  quellmar::test::write_pair(dir.path(), "d02123a.spc",
                             quellmar::writer::encode_header(header),
                             join(records));
  const std::vector<std::string> before = folder_names(dir.path());

  for (const int signal_number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal_number));
    const std::string binary = QUELLMAR_NC_BINARY;
    const std::string data = dir.file("d02123a.spc");
    const std::string out = dir.file("out.nc");
    std::vector<char*> argv;
    for (const std::string* a : {&binary, &data}) {
      argv.push_back(const_cast<char*>(a->c_str()));
    }
    char o[] = "-o", deflate[] = "--deflate", nine[] = "9";
    argv.insert(argv.end(),
                {o, const_cast<char*>(out.c_str()), deflate, nine, nullptr});
    // The child starts with the signals' default actions, whatever this
    // process has.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    ASSERT_EQ(
        posix_spawn(&pid, binary.c_str(), nullptr, &attr, argv.data(), environ),
        0);
    posix_spawnattr_destroy(&attr);

    // Once the temporary file is there, the conversion is under way.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool started = false;
    while (!started && std::chrono::steady_clock::now() < deadline) {
      for (const std::string& name : folder_names(dir.path())) {
        started |= name.rfind("out.nc.tmp-", 0) == 0;
      }
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(started);
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal_number);
    }
    EXPECT_EQ(folder_names(dir.path()), before);
  }
}

#endif  // QUELLMAR_NC_BINARY

}  // namespace

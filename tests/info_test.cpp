// quellmar-info, run as built: the text and JSON report of a file pair,
// checked against pairs made with the project's file writer.
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
#include "tests/companion_support.h"
#include "tests/test_support.h"
#include "tool/output_files.h"
#include "writer/format_writer.h"

#ifdef QUELLMAR_NC_BINARY
#include "tests/nc_read.h"
#endif

namespace {

using namespace quellmar::test::companion;
using quellmar::test::quote;

namespace fs = std::filesystem;
using quellmar::test::join;
using quellmar::test::spectra_record;
using quellmar::test::TempDir;
using quellmar::writer::Bytes;

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

}  // namespace

// What the tests of the companion programs share: running quellmar-info,
// a small JSON reader for its reports, and the pairs both programs read.

#ifndef QUELLMAR_TESTS_COMPANION_SUPPORT_H
#define QUELLMAR_TESTS_COMPANION_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "writer/format_writer.h"

namespace quellmar::test::companion {

using quellmar::writer::Bytes;

// ---------------------------------------------------------------------------
// Running a companion program

// The built quellmar-info: as the build names it, or next to quellmar.
inline std::string info_binary() {
#ifdef QUELLMAR_INFO_BINARY
  return QUELLMAR_INFO_BINARY;
#else
  return (std::filesystem::path(QUELLMAR_BINARY).parent_path() /
          "quellmar-info")
      .string();
#endif
}

inline quellmar::test::RunResult run(const std::string& binary,
                                     const std::string& dir,
                                     const std::vector<std::string>& args) {
  return quellmar::test::run_program(binary, dir, args);
}

inline quellmar::test::RunResult info(const std::string& dir,
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

inline Json parse_json(const std::string& text) {
  Json doc;
  EXPECT_TRUE(JsonReader(text).read(&doc)) << "not one JSON document:\n"
                                           << text;
  return doc;
}

// ---------------------------------------------------------------------------
// Inputs

inline constexpr int32_t kT0 = 1020384000;  // 2002-05-03 00:00:00 UTC, day 123

// A layout M record of the 16-bit encoding (datacode 2100, or 1116 with a
// second set), with its override words as the layout requires.
inline Bytes record_16(int32_t time, int16_t beam, int gates,
                       int16_t datacode = 2100, int32_t header_offset = 0,
                       int16_t integrations = 100) {
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
inline Bytes two_blocks() {
  Bytes h =
      quellmar::writer::encode_header(quellmar::test::standard_header(4, 64));
  quellmar::writer::HeaderSpec second = quellmar::test::standard_header(6, 64);
  second.header_version = 103;
  second.met_instrument_list = {11, 12};
  second.directions[1].elevation = 8000;
  h.append(quellmar::writer::encode_header(second));
  return h;
}

}  // namespace quellmar::test::companion

#endif  // QUELLMAR_TESTS_COMPANION_SUPPORT_H

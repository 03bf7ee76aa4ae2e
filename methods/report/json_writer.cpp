#include "methods/report/json_writer.h"

#include <cmath>
#include <cstdio>

namespace quellmar::companions {

std::string json_quote(const std::string& text) {
  std::string q = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      q += '\\';
      q += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      q += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      q += escape;
    }
  }
  return q + "\"";
}

void JsonWriter::newline() {
  text_ += '\n';
  text_.append(2 * first_.size(), ' ');
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) text_ += ',';
  first_.back() = false;
  newline();
}

void JsonWriter::key(const std::string& name) {
  before_value();
  text_ += json_quote(name);
  text_ += ": ";
  after_key_ = true;
}

void JsonWriter::begin_object() {
  before_value();
  text_ += '{';
  first_.push_back(true);
}

void JsonWriter::end_object() {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) newline();
  text_ += '}';
  if (first_.empty()) text_ += '\n';
}

void JsonWriter::begin_array() {
  before_value();
  text_ += '[';
  first_.push_back(true);
}

void JsonWriter::end_array() {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) newline();
  text_ += ']';
}

void JsonWriter::value(int64_t v) {
  before_value();
  text_ += std::to_string(v);
}

void JsonWriter::value(double v) {
  before_value();
  if (!std::isfinite(v)) {
    text_ += "null";
    return;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%.9g", v);
  text_ += number;
}

void JsonWriter::value(bool v) {
  before_value();
  text_ += v ? "true" : "false";
}

void JsonWriter::value(const std::string& v) {
  before_value();
  text_ += json_quote(v);
}

}  // namespace quellmar::companions

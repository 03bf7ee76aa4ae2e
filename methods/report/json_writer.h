// A small writer of well-formed, indented JSON text.

#ifndef QUELLMAR_COMPANIONS_JSON_WRITER_H
#define QUELLMAR_COMPANIONS_JSON_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace quellmar::companions {

// Values and containers are written in order; inside an object, key()
// comes before each value or container. Commas and indentation follow by
// themselves.
class JsonWriter {
 public:
  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(const std::string& name);
  void value(int64_t v);
  void value(int v) { value(static_cast<int64_t>(v)); }
  void value(double v);  // null when not finite
  void value(bool v);
  void value(const std::string& v);
  void value(const char* v) { value(std::string(v)); }

  template <typename T>
  void field(const std::string& name, const T& v) {
    key(name);
    value(v);
  }

  const std::string& text() const { return text_; }

 private:
  void before_value();
  void newline();

  std::string text_;
  std::vector<bool> first_;  // per open container: nothing written yet
  bool after_key_ = false;
};

// The text as a JSON string literal. Bytes that are not printable ASCII
// are written as \u00XX, so any byte string gives valid JSON.
std::string json_quote(const std::string& text);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_JSON_WRITER_H

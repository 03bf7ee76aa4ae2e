#include "methods/pairs/name_text.h"

namespace quellmar::companions {

std::string utf8_of_latin1(std::string_view bytes) {
  std::string out;
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

std::string name_text(const char* field, size_t width) {
  size_t n = 0;
  while (n < width && field[n] != '\0') ++n;
  return utf8_of_latin1(std::string_view(field, n));
}

}  // namespace quellmar::companions

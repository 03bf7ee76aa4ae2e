// Names in a file pair (site, radar, file names) are bytes of no declared
// encoding. The companions take them as Latin-1 and write them as UTF-8.

#ifndef QUELLMAR_COMPANIONS_NAME_TEXT_H
#define QUELLMAR_COMPANIONS_NAME_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace quellmar::companions {

std::string utf8_of_latin1(std::string_view bytes);

// The name in a fixed-width field: its bytes up to the first NUL.
std::string name_text(const char* field, size_t width);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_NAME_TEXT_H

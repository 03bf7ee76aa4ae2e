// Writing the outputs of a program that makes whole files at the end of a
// run (quellmar-wind, quellmar-rass): the folder checked before the inputs
// are read, each file under a temporary name renamed when complete.

#ifndef QUELLMAR_COMPANIONS_TEXT_OUTPUT_H
#define QUELLMAR_COMPANIONS_TEXT_OUTPUT_H

#include <functional>
#include <stdexcept>
#include <string>

namespace quellmar::companions {

// A file that cannot be written.
class OutputFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The folder the output goes to exists and takes new files; otherwise
// false with "cannot write PATH: reason".
bool folder_writable(const std::string& path, std::string* error);

// Writes the text as the whole file at path; false with a message.
bool write_text(const std::string& path, const std::string& text,
                std::string* error);

// Has write() make the file under a temporary name beside final_path
// (PendingOutput) and renames it when write() succeeds. False with a
// message (write()'s own, or why the temporary file could not be made or
// renamed); the temporary file is then gone.
bool write_committed(const std::string& final_path,
                     const std::function<bool(const std::string& temp_path,
                                              std::string*)>& write,
                     std::string* error);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_TEXT_OUTPUT_H

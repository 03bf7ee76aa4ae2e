// Command line of the extraction tool: one data-file name, from which the
// date that bounds the run and the spectra-input flag are taken.

#ifndef QUELLMAR_TOOL_COMMAND_LINE_H
#define QUELLMAR_TOOL_COMMAND_LINE_H

#include <cstdint>
#include <string>

namespace quellmar::tool {

struct RunRequest {
  std::string argument;   // the input name as given
  std::string directory;  // up to and including the last '/', or empty
  std::string file_name;  // the rest
  int32_t name_year = 0;  // years since 1900, after the two-digit rule
  int32_t name_day = 0;   // day of the year
  int64_t stop_time = 0;  // seconds since 1970: 00:00:00 of name day + 2
  bool spectra_input = false;
  // --help or --version was asked for and answered: there is nothing to run.
  bool answered = false;
};

// Checks the arguments and derives the request. Returns 0 when the run can
// go on (or --help or --version has been answered on standard output,
// request->answered), else the exit status (-1 usage, -2 name), its
// message printed. Neither option can be a data-file name: those hold an
// 'a' or 'A'.
int parse_command_line(int argc, const char* const* argv, RunRequest* request);

}  // namespace quellmar::tool

#endif  // QUELLMAR_TOOL_COMMAND_LINE_H

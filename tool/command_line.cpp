#include "tool/command_line.h"

#include <cstdio>

#include "disk/pda.h"

namespace quellmar::tool {

int parse_command_line(int argc, const char* const* argv, RunRequest* request) {
  if (argc != 2) {
    std::fputs("Usage: Quellmar d*.[mom|spc]\n", stdout);
    return -1;
  }
  RunRequest r;
  r.argument = argv[1];
  const size_t slash = r.argument.rfind('/');
  if (slash != std::string::npos) {
    r.directory = r.argument.substr(0, slash + 1);
    r.file_name = r.argument.substr(slash + 1);
  } else {
    r.file_name = r.argument;
  }

  switch (pda_name_date(r.file_name, &r.name_year, &r.name_day)) {
    case NameDate::kNoLetter:
      std::printf("Did not find A|a in file name: %s\n", r.argument.c_str());
      return -2;
    case NameDate::kUnreadable:
      std::printf("Cannot read the date from file name: %s\n",
                  r.argument.c_str());
      return -2;
    case NameDate::kRead:
      break;
  }
  r.stop_time = pda_stop_time_for(r.name_year, r.name_day);
  r.spectra_input = pda_is_spectra_name(r.argument);
  *request = r;
  return 0;
}

}  // namespace quellmar::tool

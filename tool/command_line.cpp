#include "tool/command_line.h"

#include <cstdio>

#include "disk/pda.h"

namespace quellmar::tool {

int64_t stop_time_for(int32_t year, int32_t day_of_year) {
  const int64_t new_year = pda_seconds_from_date(1900LL + year, 1, 1, 0, 0, 0);
  return new_year + (static_cast<int64_t>(day_of_year) + 1) * 86400;
}

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

  size_t letter = r.file_name.find('a');
  if (letter == std::string::npos) letter = r.file_name.find('A');
  if (letter == std::string::npos) {
    std::printf("Did not find A|a in file name: %s\n", r.argument.c_str());
    return -2;
  }

  char leading[2];
  long year = 0;
  long day = 0;
  const char* pattern = letter == 6 ? "%1s%2ld%3ld" : "%1s%3ld%3ld";
  if (std::sscanf(r.file_name.c_str(), pattern, leading, &year, &day) != 3) {
    std::printf("Cannot read the date from file name: %s\n",
                r.argument.c_str());
    return -2;
  }
  if (year < 70) year += 100;
  r.name_year = static_cast<int32_t>(year);
  r.name_day = static_cast<int32_t>(day);
  r.stop_time = stop_time_for(r.name_year, r.name_day);
  r.spectra_input = pda_is_spectra_name(r.argument);
  *request = r;
  return 0;
}

}  // namespace quellmar::tool

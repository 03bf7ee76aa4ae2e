#include "tool/command_line.h"

#include <cstdio>
#include <cstring>

#include "disk/pda.h"

namespace quellmar::tool {

namespace {

constexpr const char* kHelp =
    "Usage: quellmar d*.[mom|spc]\n"
    "\n"
    "Writes every dwell of radar 0 of a profiler file pair as text, in the\n"
    "current folder, appending to what is there: wind records to\n"
    "sssYYDDD.rew, RASS records to sssYYDDD.rat_e and, for spectra input\n"
    "(.spc), the spectra to sssYYDDD.ras; a summary line per record on\n"
    "standard output. The header file is the data file's name with h for d.\n"
    "A last record that the end of the file cuts short is not written.\n"
    "\n"
    "Exit status: 0 done; 1 a file cannot be opened or written, or a record\n"
    "cannot be handled; 2 out of memory; 254 no date in the name; 255 not\n"
    "one argument. See quellmar(1) for the rest.\n";

}  // namespace

int parse_command_line(int argc, const char* const* argv, RunRequest* request) {
  if (argc != 2) {
    std::fputs("Usage: Quellmar d*.[mom|spc]\n", stdout);
    return -1;
  }
  RunRequest r;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    request->answered = true;
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("quellmar %s\n", QUELLMAR_VERSION);
    request->answered = true;
    return 0;
  }
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

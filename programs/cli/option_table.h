// The command line of a companion program, declared once: each option's
// name, value, bounds, default and one line of meaning. The same table
// parses argv, writes --help (from which the manual page is generated) and
// answers --version. Values are bound to fields of the program's structs,
// and the default shown is the field's value when the option is declared,
// so a default is written in one place: the method struct.
//
// A wrong command line is two lines on standard error, the program and the
// option named in the first and --help pointed to in the second, and exit
// status 2.

#ifndef QUELLMAR_PROGRAMS_CLI_OPTION_TABLE_H
#define QUELLMAR_PROGRAMS_CLI_OPTION_TABLE_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quellmar::companions {

// The exit statuses every companion program uses.
enum ExitStatus : int {
  kExitWritten = 0,      // done (or --help, --version)
  kExitFailed = 1,       // an input cannot be read or an output written
  kExitCommandLine = 2,  // a wrong command line
};

class OptionTable {
 public:
  // synopsis: what follows the program's name on the usage line;
  // about: the paragraph --help gives before the options.
  OptionTable(std::string program, std::string synopsis, std::string about);

  const std::string& program() const { return program_; }

  // Starts a group of options under a heading of its own in --help.
  void group(const std::string& heading);

  // An option without a value that sets *field to `to`; the default shown
  // is when_true or when_false, by the field's value (none when empty).
  void flag(const std::string& name, const std::string& meaning, bool* field,
            bool to = true, const std::string& when_true = "",
            const std::string& when_false = "");
  // A whole number within [low, high]; shown with the field's default.
  void integer(const std::string& name, const std::string& value_name,
               const std::string& meaning, int32_t* field, long low, long high);
  // A finite number within [low, high]; shown with the field's default.
  void number(const std::string& name, const std::string& value_name,
              const std::string& meaning, double* field, double low,
              double high);
  // A finite number within [low, high] that may have no default (none).
  void number(const std::string& name, const std::string& value_name,
              const std::string& meaning, std::optional<double>* field,
              double low, double high);
  // A whole number within [low, high] that has no default (none).
  void integer(const std::string& name, const std::string& value_name,
               const std::string& meaning, std::optional<int32_t>* field,
               long low, long high);
  // A file name, not empty. `default_text` says what happens without it.
  void file(const std::string& name, const std::string& value_name,
            const std::string& meaning, std::string* field,
            const std::string& default_text);
  // One of the given words; shown with the word of the field's default.
  template <class T>
  void choice(const std::string& name, const std::string& meaning, T* field,
              std::vector<std::pair<std::string, T>> words) {
    std::string names, shown;
    for (const auto& [word, value] : words) {
      names += (names.empty() ? "" : "|") + word;
      if (value == *field) shown = word;
    }
    add(name, names, meaning, shown, "", [field, words](const char* text) {
      for (const auto& [word, value] : words) {
        if (word == text) {
          *field = value;
          return true;
        }
      }
      return false;
    });
  }
  // Any other option: the parsing of its value is the caller's.
  void add(const std::string& name, const std::string& value_name,
           const std::string& meaning, const std::string& default_text,
           const std::string& bounds,
           std::function<bool(const char* value)> take);

  // The arguments that are not options (data files): at least one, at
  // most `most` (0: no limit).
  void inputs(const std::string& name, std::vector<std::string>* field,
              size_t most);

  // Parses the command line. kRun when the program should run; kDone
  // after --help or --version was answered on standard output; kWrong
  // after a wrong command line was reported (see wrong()).
  enum class Parsed { kRun, kDone, kWrong };
  Parsed parse(int argc, char** argv) const;

  // Reports a wrong command line on standard error; returns
  // kExitCommandLine.
  int wrong(const std::string& message) const;

  // The text of --help: usage, the paragraph, every option with its
  // meaning, bounds and default.
  std::string help() const;

 private:
  struct Entry {
    std::string name;
    std::string value_name;  // empty: a flag
    std::string meaning;
    std::string default_text;  // empty: no default shown
    std::string bounds;        // "1 to 1440", or empty
    std::function<bool(const char*)> take;
    std::string heading;  // the group it belongs to
  };

  std::string program_;
  std::string synopsis_;
  std::string about_;
  std::string heading_ = "Options";
  std::vector<Entry> entries_;
  std::vector<std::string>* inputs_ = nullptr;
  std::string inputs_name_;
  size_t inputs_most_ = 0;
};

// The project's version, as --version gives it.
const char* project_version();

}  // namespace quellmar::companions

#endif  // QUELLMAR_PROGRAMS_CLI_OPTION_TABLE_H

#include "programs/cli/option_table.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quellmar::companions {

namespace {

// Where the meanings start in --help, and the width they wrap to.
constexpr size_t kMeaningColumn = 26;
constexpr size_t kWidth = 79;

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// "LOW to HIGH", "LOW or more", or nothing for bounds that are only there
// to keep the value finite.
std::string bounds_text(double low, double high, double open) {
  if (high >= open) return low <= -open ? "" : number_text(low) + " or more";
  return number_text(low) + " to " + number_text(high);
}

bool parse_double(const char* text, double low, double high, double* value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(v) || v < low || v > high) {
    return false;
  }
  *value = v;
  return true;
}

bool parse_long(const char* text, long low, long high, int32_t* value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || v < low || v > high) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Appends words to out, wrapped at kWidth, continuation lines indented to
// kMeaningColumn.
void append_wrapped(const std::string& text, size_t column, std::string* out) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (column > kMeaningColumn && column + 1 + word.size() > kWidth) {
      *out += "\n" + std::string(kMeaningColumn, ' ');
      column = kMeaningColumn;
    } else if (column > kMeaningColumn) {
      *out += ' ';
      ++column;
    }
    *out += word;
    column += word.size();
    at = end + 1;
  }
  *out += '\n';
}

}  // namespace

OptionTable::OptionTable(std::string program, std::string synopsis,
                         std::string about)
    : program_(std::move(program)),
      synopsis_(std::move(synopsis)),
      about_(std::move(about)) {}

void OptionTable::group(const std::string& heading) { heading_ = heading; }

void OptionTable::add(const std::string& name, const std::string& value_name,
                      const std::string& meaning,
                      const std::string& default_text,
                      const std::string& bounds,
                      std::function<bool(const char* value)> take) {
  entries_.push_back(Entry{name, value_name, meaning, default_text, bounds,
                           std::move(take), heading_});
}

void OptionTable::flag(const std::string& name, const std::string& meaning,
                       bool* field, bool to, const std::string& when_true,
                       const std::string& when_false) {
  add(name, "", meaning, *field ? when_true : when_false, "",
      [field, to](const char*) {
        *field = to;
        return true;
      });
}

void OptionTable::integer(const std::string& name,
                          const std::string& value_name,
                          const std::string& meaning, int32_t* field, long low,
                          long high) {
  add(name, value_name, meaning, std::to_string(*field),
      bounds_text(static_cast<double>(low), static_cast<double>(high), 1e6),
      [field, low, high](const char* text) {
        return parse_long(text, low, high, field);
      });
}

void OptionTable::integer(const std::string& name,
                          const std::string& value_name,
                          const std::string& meaning,
                          std::optional<int32_t>* field, long low, long high) {
  add(name, value_name, meaning, "none",
      bounds_text(static_cast<double>(low), static_cast<double>(high), 1e6),
      [field, low, high](const char* text) {
        int32_t v = 0;
        if (!parse_long(text, low, high, &v)) return false;
        *field = v;
        return true;
      });
}

void OptionTable::number(const std::string& name, const std::string& value_name,
                         const std::string& meaning, double* field, double low,
                         double high) {
  add(name, value_name, meaning, number_text(*field),
      bounds_text(low, high, 1e6), [field, low, high](const char* text) {
        return parse_double(text, low, high, field);
      });
}

void OptionTable::number(const std::string& name, const std::string& value_name,
                         const std::string& meaning,
                         std::optional<double>* field, double low,
                         double high) {
  add(name, value_name, meaning, *field ? number_text(**field) : "none",
      bounds_text(low, high, 1e6), [field, low, high](const char* text) {
        double v = 0.0;
        if (!parse_double(text, low, high, &v)) return false;
        *field = v;
        return true;
      });
}

void OptionTable::file(const std::string& name, const std::string& value_name,
                       const std::string& meaning, std::string* field,
                       const std::string& default_text) {
  add(name, value_name, meaning, default_text, "", [field](const char* text) {
    *field = text;
    return !field->empty();
  });
}

void OptionTable::inputs(const std::string& name,
                         std::vector<std::string>* field, size_t most) {
  inputs_name_ = name;
  inputs_ = field;
  inputs_most_ = most;
}

OptionTable::Parsed OptionTable::parse(int argc, char** argv) const {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(help().c_str(), stdout);
      return Parsed::kDone;
    }
    if (arg == "--version") {
      std::printf("%s (quellmar) %s\n", program_.c_str(), project_version());
      return Parsed::kDone;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      const Entry* entry = nullptr;
      for (const Entry& e : entries_) {
        if (e.name == arg) entry = &e;
      }
      if (entry == nullptr) {
        wrong("unknown option " + arg);
        return Parsed::kWrong;
      }
      const char* value = nullptr;
      if (!entry->value_name.empty()) {
        if (i + 1 >= argc) {
          wrong(arg + " needs a value (" + entry->value_name + ")");
          return Parsed::kWrong;
        }
        value = argv[++i];
      }
      if (!entry->take(value)) {
        std::string wanted = entry->value_name;
        if (!entry->bounds.empty()) wanted += ", " + entry->bounds;
        wrong("bad value for " + arg + ": " + value + " (wanted " + wanted +
              ")");
        return Parsed::kWrong;
      }
      continue;
    }
    if (inputs_ == nullptr ||
        (inputs_most_ > 0 && inputs_->size() >= inputs_most_)) {
      wrong("one " + inputs_name_ + " only: " + arg);
      return Parsed::kWrong;
    }
    inputs_->push_back(arg);
  }
  if (inputs_ != nullptr && inputs_->empty()) {
    wrong("no " + inputs_name_ + " given");
    return Parsed::kWrong;
  }
  return Parsed::kRun;
}

int OptionTable::wrong(const std::string& message) const {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
               program_.c_str(), message.c_str(), program_.c_str());
  return kExitCommandLine;
}

std::string OptionTable::help() const {
  std::string out = "Usage: " + program_ + " " + synopsis_ + "\n\n" + about_;
  if (!about_.empty() && about_.back() != '\n') out += '\n';
  std::vector<Entry> all = entries_;
  const std::string first = entries_.empty() ? "Options" : entries_[0].heading;
  all.push_back({"-h, --help", "", "this help, then exit", "", "", {}, first});
  all.push_back({"--version",
                 "",
                 "the version of quellmar, then exit",
                 "",
                 "",
                 {},
                 first});
  std::vector<std::string> headings;
  for (const Entry& e : all) {
    bool seen = false;
    for (const std::string& h : headings) seen = seen || h == e.heading;
    if (!seen) headings.push_back(e.heading);
  }
  for (const std::string& heading : headings) {
    out += "\n" + heading + ":\n";
    for (const Entry& e : all) {
      if (e.heading != heading) continue;
      std::string left = "  " + e.name;
      if (!e.value_name.empty()) left += " " + e.value_name;
      out += left;
      size_t column = left.size();
      if (column + 2 > kMeaningColumn) {
        out += "\n";
        column = 0;
      }
      out += std::string(kMeaningColumn - column, ' ');
      std::string meaning = e.meaning;
      std::string notes = e.bounds;
      if (!e.default_text.empty()) {
        notes += (notes.empty() ? "" : "; ") + std::string("default: ") +
                 e.default_text;
      }
      if (!notes.empty()) meaning += " (" + notes + ")";
      append_wrapped(meaning, kMeaningColumn, &out);
    }
  }
  return out;
}

const char* project_version() { return QUELLMAR_VERSION; }

}  // namespace quellmar::companions

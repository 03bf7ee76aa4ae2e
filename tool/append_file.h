// An output file opened for appending, with the text of whole records held
// in memory until it is handed to the system.
//
// The contract, which the extraction tool's output files rely on:
//   - the file is opened with O_APPEND, so every write lands at the end of
//     the file as it is then, even when another process appends to it too;
//   - text is handed over only at record boundaries (hand_over() is called
//     between records, never inside one), so a record's text never spans
//     two writes unless the system takes less than asked; the rest of a
//     short write is written at once;
//   - once the held text reaches kHoldBytes it is handed over after the
//     record that reached it (holds_enough()), so a file holds at most
//     kHoldBytes plus one record.
//
// Errors are returned, not printed: the owner words the message.

#ifndef QUELLMAR_TOOL_APPEND_FILE_H
#define QUELLMAR_TOOL_APPEND_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "tool/text_format.h"

namespace quellmar::tool {

// The call that hands text to the system for every AppendFile: ::write
// unless a stand-in is put in its place (tests use one that takes less than
// asked). nullptr puts ::write back.
using WriteCall = ssize_t (*)(int fd, const void* data, std::size_t size);
void set_write_call(WriteCall call);

class AppendFile {
 public:
  static constexpr std::size_t kHoldBytes = std::size_t{1} << 20;

  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  // Closes without handing anything over; call hand_over() first.
  ~AppendFile();

  // Opens name for appending, creating it when missing. A file counts as
  // new when it could not be opened for reading; a new file starts with
  // header_line, written before anything else can reach the file (it is
  // created under a private name with the line in it and then linked into
  // place, so of two processes creating the same file one makes it and the
  // other appends after the line). *is_new tells whether this call wrote
  // the line. False with errno set when the file cannot be opened or the
  // line cannot be written.
  // REQUIRES: !is_open().
  bool open(const std::string& name, std::string_view header_line,
            bool* is_new);

  bool is_open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }

  // Where the text of the record being formatted goes.
  TextBuffer& text() { return text_; }

  // True once the held text has reached kHoldBytes: the owner hands it
  // over at the end of the record.
  bool holds_enough() const { return text_.size() >= kHoldBytes; }

  // Writes all held text. False with errno set when a write failed; the
  // text is dropped either way.
  bool hand_over();

  // Drops the held text and closes the file.
  void close();

 private:
  int fd_ = -1;
  std::string name_;
  TextBuffer text_;
};

}  // namespace quellmar::tool

#endif  // QUELLMAR_TOOL_APPEND_FILE_H

// What went wrong last with the open pair, where the messages about it go,
// and the record trailer query that lets a program check a record's framing
// without reading the file itself.

#include <cstdarg>
#include <cstdio>

#include "disk/disk_state.h"
#include "disk/pda.h"

namespace {

struct Problem {
  DiskProblem code = DiskProblem::kNone;
  int64_t data_offset = -1;
  int64_t value = 0;
};

Problem last_problem;

// Set by pda_set_message_stream; stdout until then.
bool stream_chosen = false;
std::FILE* chosen_stream = nullptr;

}  // namespace

void pda_set_message_stream(std::FILE* stream) {
  stream_chosen = true;
  chosen_stream = stream;
}

namespace quellmar::disk {

void message(const char* format, ...) {
  std::FILE* stream = stream_chosen ? chosen_stream : stdout;
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
}

void note_problem(DiskProblem code, int64_t data_offset, int64_t value) {
  last_problem = Problem{code, data_offset, value};
}

}  // namespace quellmar::disk

int pda_get_problem(DiskProblem* code, int64_t* data_offset, int64_t* value) {
  *code = last_problem.code;
  *data_offset = last_problem.data_offset;
  *value = last_problem.value;
  return last_problem.code == DiskProblem::kNone ? 0 : 1;
}

void pda_clear_problem() { last_problem = Problem(); }

int pda_read_record_trailer(int64_t offset, int32_t length, int32_t width,
                            int32_t* value) {
  using quellmar::disk::pair;
  if (!pair.open || (width != 2 && width != 4) || offset < 0) return 0;
  const int64_t at = offset + length - width;
  if (at < offset) return 0;
  const int64_t saved = pair.data.tell();
  int ok = 0;
  unsigned char b[4] = {0, 0, 0, 0};
  if (pair.data.seek(at) && pair.data.read(b, static_cast<size_t>(width)) ==
                                static_cast<size_t>(width)) {
    *value =
        width == 4 ? quellmar::disk::get_i32(b) : quellmar::disk::get_i16(b);
    ok = 1;
  }
  pair.data.seek(saved);
  return ok;
}

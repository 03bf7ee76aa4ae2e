// Helpers shared by the tests: scratch folders, running the built tool,
// capturing what the access module prints, and a standard file pair.

#ifndef QUELLMAR_TESTS_TEST_SUPPORT_H
#define QUELLMAR_TESTS_TEST_SUPPORT_H

#include <filesystem>
#include <string>
#include <vector>

#include "writer/format_writer.h"

namespace quellmar::test {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Changes the working folder for the life of the object.
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& path);
  ~WorkingFolder();
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  std::filesystem::path saved_;
};

struct RunResult {
  int status = -1;  // exit status as the shell sees it (0..255)
  std::string out;
  std::string err;
};

// s quoted for the shell.
std::string quote(const std::string& s);

// Runs binary with args in folder dir, standard input empty.
RunResult run_program(const std::string& binary, const std::string& dir,
                      const std::vector<std::string>& args);

// Runs the built quellmar binary with args in folder dir.
RunResult run_tool(const std::string& dir,
                   const std::vector<std::string>& args);

// Whole file as a string; empty when it cannot be read.
std::string read_text(const std::string& path);
bool file_exists(const std::string& path);

// Writes data file `name` and its header file ('h' + name[1..]) into dir.
void write_pair(const std::string& dir, const std::string& name,
                const quellmar::writer::Bytes& header,
                const quellmar::writer::Bytes& data);

// Opens dir + "/" + name with the access module after resetting it.
// Returns pda_set_file's result.
int open_pair(const std::string& dir, const std::string& name, int spectra);

// write_pair, then open_pair: the one way a test makes a pair and opens it.
// Returns pda_set_file's result.
int write_and_open_pair(const std::string& dir, const std::string& name,
                        const quellmar::writer::Bytes& header,
                        const quellmar::writer::Bytes& data, int spectra = 0);

// The given buffers one after another.
quellmar::writer::Bytes join(const std::vector<quellmar::writer::Bytes>& parts);

// Captures what the access module prints on standard output.
void start_capture();
std::string stop_capture();

// A version 102 header with one mode of `gates` gates and `points` points,
// five beams (vertical and four oblique at 75 degrees), site "ABCD Profiler".
quellmar::writer::HeaderSpec standard_header(int gates = 4, int points = 64);

// A layout M record (x0xx moments, datacode 2000) of the given time, beam and
// gate count, with simple distinct moments.
quellmar::writer::Bytes moments_record(int32_t time, int16_t beam, int gates,
                                       int16_t radar = 0,
                                       int32_t header_offset = 0);

// A layout N spectra record (datacode 3000) of `gates` gates, with rows of
// `points` made-up values drawn from seed.
quellmar::writer::Bytes spectra_record(int32_t time, int16_t beam, int gates,
                                       int points, uint32_t seed);

}  // namespace quellmar::test

#endif  // QUELLMAR_TESTS_TEST_SUPPORT_H

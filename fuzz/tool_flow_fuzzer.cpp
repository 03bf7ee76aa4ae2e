// Fuzz target: the whole extraction tool flow (command line, opening,
// positioning, the record loop and all three writers) on an arbitrary file
// pair. The pair is written into <scratch>/in, the tool runs with
// <scratch>/out as its current folder, and every output file is removed
// afterwards. Input layout: fuzz/fuzz_input.h. A crash inside the tool
// leaves the current folder at <scratch>/out: give libFuzzer an absolute
// -artifact_prefix.
//
// Checked beyond the sanitizers: the exit status is 0 or 1, and nothing is
// created outside the current folder.

#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "disk/pda.h"
#include "fuzz/fuzz_flows.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_scratch.h"
#include "tool/command_line.h"
#include "tool/main_loop.h"

namespace fs = std::filesystem;

namespace {

using quellmar::tool::parse_command_line;
using quellmar::tool::run_main_loop;
using quellmar::tool::RunRequest;

std::string in_dir() { return quellmar::fuzz::scratch_root() + "/in"; }
std::string out_dir() { return quellmar::fuzz::scratch_root() + "/out"; }

void clear_folder(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    fs::remove_all(entry.path(), ec);
  }
}

// The walk the tool makes, without writing: true when it never ends.
bool walk_is_stuck(const std::string& dir, const std::string& name,
                   bool spectra, size_t data_size) {
  pda_reset();
  if (pda_set_file(dir, name, spectra ? 1 : 0) != 1) return false;
  int new_header = 0;
  pda_seek_time(1990, 1, 0, 0, 0, &new_header);
  if (pda_select_radar(0) != 1 || pda_select_beam(-1) != 1) return false;
  return !quellmar::fuzz::walk_rest(data_size, "tool").empty();
}

// Names of the entries of a folder.
std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quellmar::fuzz::set_up_process();
  fs::create_directory(in_dir());
  fs::create_directory(out_dir());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quellmar::fuzz::PairInput in;
  std::vector<uint8_t> header;
  // One decode may allocate at most 10^6 spectra values, and the spectra
  // file may print at most that many numbers per record.
  if (!quellmar::fuzz::take_pair_input(data, size, 1000000, true, &in,
                                       &header)) {
    return -1;
  }
  // libFuzzer installs its own handler of SIGXFSZ: a write beyond the cap
  // on file sizes must fail quietly instead (see set_up_process).
  std::signal(SIGXFSZ, SIG_IGN);

  clear_folder(in_dir());
  const std::string name =
      quellmar::fuzz::pair_data_name(in.name_choice, in.spectra);
  const std::string dir = in_dir() + "/";
  if (!quellmar::fuzz::write_bytes(dir + name, in.data.data(),
                                   in.data.size()) ||
      !quellmar::fuzz::write_bytes(dir + "h" + name.substr(1), header.data(),
                                   header.size())) {
    return 0;
  }
  if (quellmar::fuzz::skip_stuck_walks() &&
      walk_is_stuck(dir, name, in.spectra, in.data.size())) {
    return -1;
  }

  pda_reset();
  const std::string argument = "../in/" + name;  // from out/
  const char* argv[] = {"quellmar", argument.c_str()};
  RunRequest request;
  int status = parse_command_line(2, argv, &request);
  // The tool writes into the current folder: the scratch output folder for
  // the run, the folder libFuzzer started in afterwards.
  const fs::path started_in = fs::current_path();
  if (chdir(out_dir().c_str()) != 0)
    quellmar::fuzz::report_problem("chdir failed");
  if (status == 0) status = run_main_loop(request);
  if (chdir(started_in.c_str()) != 0)
    quellmar::fuzz::report_problem("chdir failed");
  if (status != 0 && status != 1) {
    quellmar::fuzz::report_problem("exit status " + std::to_string(status));
  }

  // Nothing may appear beside in/ and out/, nor in in/ beside the pair.
  for (const std::string& e : entries(quellmar::fuzz::scratch_root())) {
    if (e != "in" && e != "out") {
      quellmar::fuzz::report_problem(
          "file written outside the current folder: " + e);
    }
  }
  if (entries(in_dir()).size() != 2) {
    quellmar::fuzz::report_problem("file written into the input folder");
  }
  clear_folder(out_dir());
  return 0;
}

// Writing an output file under a temporary name in the same folder and
// renaming it to its final name only when it is complete, so that no
// half-written file is ever found under the final name. The temporary file
// is removed when the object goes without commit(), and also when the
// process is ended by SIGINT, SIGTERM or SIGHUP (which then end it as they
// would have: default action, same signal). Only one PendingOutput at a
// time is watched for signals.

#ifndef QUELLMAR_COMPANIONS_OUTPUT_COMMIT_H
#define QUELLMAR_COMPANIONS_OUTPUT_COMMIT_H

#include <string>

namespace quellmar::companions {

class PendingOutput {
 public:
  // Makes the temporary file (final_path + ".tmp-XXXXXX"). ok() tells
  // whether that worked; error() says why not.
  explicit PendingOutput(const std::string& final_path);
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  bool ok() const { return !temp_path_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& temp_path() const { return temp_path_; }

  // Renames the temporary file to the final name. False, with error(),
  // when that fails (the temporary file is then removed).
  bool commit();

 private:
  void discard();

  std::string final_path_;
  std::string temp_path_;
  std::string error_;
};

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_OUTPUT_COMMIT_H

#include "methods/output/text_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "methods/output/output_commit.h"

namespace quellmar::companions {

bool folder_writable(const std::string& path, std::string* error) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos
                                 ? "."
                                 : (slash == 0 ? "/" : path.substr(0, slash));
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool write_text(const std::string& path, const std::string& text,
                std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written =
      std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int saved = errno;
  if (std::fclose(f) != 0 || !written) {
    *error =
        "cannot write " + path + ": " + std::strerror(written ? errno : saved);
    return false;
  }
  return true;
}

bool write_committed(const std::string& final_path,
                     const std::function<bool(const std::string& temp_path,
                                              std::string*)>& write,
                     std::string* error) {
  PendingOutput output(final_path);
  if (!output.ok()) {
    *error = output.error();
    return false;
  }
  if (!write(output.temp_path(), error)) return false;
  if (!output.commit()) {
    *error = output.error();
    return false;
  }
  return true;
}

}  // namespace quellmar::companions

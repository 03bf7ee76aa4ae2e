#include "disk/byte_stream.h"

#include <cerrno>
#include <cstring>

namespace quellmar::disk {

namespace {
constexpr size_t kBufferSize = 1 << 16;
}

bool ByteStream::open(const std::string& path, int* error) {
  close();
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = errno;
    return false;
  }
  file_ = f;
  std::setvbuf(file_, nullptr, _IONBF, 0);
  buffer_.resize(kBufferSize);
  buffer_start_ = 0;
  buffer_length_ = 0;
  position_ = 0;
  size_ = 0;
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    const long end = std::ftell(file_);
    if (end > 0) size_ = end;
  }
  file_position_ = -1;
  return true;
}

void ByteStream::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  buffer_length_ = 0;
  buffer_start_ = 0;
  position_ = 0;
  size_ = 0;
  file_position_ = -1;
}

size_t ByteStream::read_file(void* dst, size_t n) {
  if (file_position_ != position_) {
    file_position_ = -1;
    if (std::fseek(file_, static_cast<long>(position_), SEEK_SET) != 0) {
      return 0;
    }
  }
  const size_t got = std::fread(dst, 1, n, file_);
  // After a short read the position is not trusted: seek again next time.
  file_position_ = got == n ? position_ + static_cast<int64_t>(got) : -1;
  return got;
}

// Loads the buffer so that it starts at the present position.
bool ByteStream::fill() {
  buffer_start_ = position_;
  buffer_length_ = read_file(buffer_.data(), buffer_.size());
  return buffer_length_ > 0;
}

size_t ByteStream::read(void* dst, size_t n) {
  if (file_ == nullptr || n == 0) return 0;
  unsigned char* out = static_cast<unsigned char*>(dst);
  size_t delivered = 0;
  while (delivered < n) {
    if (position_ < buffer_start_ ||
        position_ >= buffer_start_ + static_cast<int64_t>(buffer_length_)) {
      size_t wanted = n - delivered;
      if (wanted >= buffer_.size()) {
        // A large read goes straight to the caller's memory.
        size_t got = read_file(out + delivered, wanted);
        delivered += got;
        position_ += static_cast<int64_t>(got);
        break;
      }
      if (!fill()) break;
    }
    size_t offset = static_cast<size_t>(position_ - buffer_start_);
    size_t available = buffer_length_ - offset;
    size_t take = n - delivered < available ? n - delivered : available;
    std::memcpy(out + delivered, buffer_.data() + offset, take);
    delivered += take;
    position_ += static_cast<int64_t>(take);
  }
  return delivered;
}

bool ByteStream::seek(int64_t position) {
  if (file_ == nullptr || position < 0) return false;
  position_ = position;
  return true;
}

}  // namespace quellmar::disk

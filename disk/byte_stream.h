// Buffered, positioned reading of one binary file.
//
// A ByteStream behaves like a stdio stream opened for binary reading: a
// read delivers what the file holds from the present position on and moves
// the position by what it delivered; a position may be set past the end of
// the file (reads there deliver nothing) but never below 0. Reads inside the
// buffered window and small relative moves cost no system call.
//
// Multi-byte values in the profiler files are little-endian; the get_*
// helpers assemble them from bytes, so the code is independent of the host
// byte order.

#ifndef QUELLMAR_DISK_BYTE_STREAM_H
#define QUELLMAR_DISK_BYTE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quellmar::disk {

class ByteStream {
 public:
  ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;
  ~ByteStream() { close(); }

  // Opens path for binary reading. On failure returns false and leaves the
  // system's error number in *error.
  bool open(const std::string& path, int* error);
  void close();
  bool is_open() const { return file_ != nullptr; }

  // Copies up to n bytes from the present position into dst and returns the
  // number delivered (fewer only at the end of the file).
  size_t read(void* dst, size_t n);

  // Sets the present position. A position below 0 is refused (false) and
  // the position stays where it was.
  bool seek(int64_t position);
  bool seek_relative(int64_t delta) { return seek(position_ + delta); }
  int64_t tell() const { return position_; }

  // Size of the file in bytes when it was opened.
  int64_t size() const { return size_; }

 private:
  bool fill();
  // Reads n bytes at the present position of the stream into dst, seeking
  // the file only when its own position differs.
  size_t read_file(void* dst, size_t n);

  std::FILE* file_ = nullptr;
  std::vector<unsigned char> buffer_;
  int64_t buffer_start_ = 0;  // file position of buffer_[0]
  size_t buffer_length_ = 0;  // valid bytes in buffer_
  int64_t position_ = 0;
  int64_t size_ = 0;
  int64_t file_position_ = -1;  // the FILE's own position; -1: unknown
};

// Little-endian decoding of bytes already in memory.
inline int16_t get_i16(const unsigned char* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
inline uint16_t get_u16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t get_i32(const unsigned char* p) {
  return static_cast<int32_t>(get_u32(p));
}

// Whole-or-nothing reads of one field: the destination changes only when
// every byte of the field was delivered.
inline bool read_i16(ByteStream& s, int16_t* dst) {
  unsigned char b[2];
  if (s.read(b, 2) != 2) return false;
  *dst = get_i16(b);
  return true;
}
inline bool read_i32(ByteStream& s, int32_t* dst) {
  unsigned char b[4];
  if (s.read(b, 4) != 4) return false;
  *dst = get_i32(b);
  return true;
}

}  // namespace quellmar::disk

#endif  // QUELLMAR_DISK_BYTE_STREAM_H

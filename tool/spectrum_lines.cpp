#include "tool/spectrum_lines.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "disk/pda.h"

using quellmar::TextBuffer;

// " %.2f" of each of n values. Most points of a windowed spectrum are
// exactly zero; those are written without the formatter.
void put_spectrum_values(TextBuffer& t, const float* values, int64_t n) {
  if (n <= 0) return;
  char* p =
      t.tail(static_cast<size_t>(n) * (quellmar::kMaxFormattedLength + 1));
  for (int64_t i = 0; i < n; ++i) {
    if (std::bit_cast<uint32_t>(values[i]) == 0) {
      std::memcpy(p, " 0.00", 5);
      p += 5;
    } else {
      *p++ = ' ';
      p = quellmar::format_fixed_fast<2>(p, values[i], 0);
    }
  }
  t.commit(p);
}

namespace {

// n values " 0.00", copied in blocks.
void put_zero_values(TextBuffer& t, int64_t n) {
  if (n <= 0) return;
  static constexpr auto kZeros = [] {
    std::array<char, 64 * 5> zeros{};
    for (size_t i = 0; i < zeros.size(); i += 5) {
      zeros[i] = ' ';
      zeros[i + 1] = '0';
      zeros[i + 2] = '.';
      zeros[i + 3] = '0';
      zeros[i + 4] = '0';
    }
    return zeros;
  }();
  char* p = t.tail(static_cast<size_t>(n) * 5);
  for (; n >= 64; n -= 64, p += kZeros.size()) {
    std::memcpy(p, kZeros.data(), kZeros.size());
  }
  std::memcpy(p, kZeros.data(), static_cast<size_t>(n) * 5);
  t.commit(p + n * 5);
}

// A window's place on a line of `points` values: line positions [begin,
// end) take row values from row index `source` on.
struct Placed {
  int64_t begin = 0;
  int64_t end = 0;
  int64_t source = 0;
  bool empty() const { return end <= begin; }
};

Placed place(int64_t start, int64_t count, int64_t source, int64_t points) {
  Placed w;
  w.begin = start - 1;
  w.end = w.begin + count;
  w.source = source;
  if (w.begin < 0) {
    w.source -= w.begin;
    w.begin = 0;
  }
  w.end = std::min(w.end, points);
  return w;
}

}  // namespace

void put_spectrum_lines(TextBuffer& t, const SpectrumSource& s) {
  const int64_t points = s.points;
  const WindowRows windows =
      pda_locate_windows(s.w1s, s.w2s, s.w2n, s.positional);
  std::vector<float> buffer;
  for (int64_t g = 0; g < s.gate_count; ++g) {
    const bool allocated = g < s.decoded_gates;
    const float* row = allocated ? s.rows.get() + g * s.row_length : nullptr;
    const int64_t row_length = allocated ? s.row_length : 0;
    // Row value at index i, 0 outside what the decode allocated.
    auto value = [&](int64_t i) {
      return i >= 0 && i < row_length ? row[i] : 0.0f;
    };
    // The n row values from index i on, 0 beyond the row.
    auto put_run = [&](int64_t i, int64_t n) {
      const int64_t in_row = std::clamp<int64_t>(row_length - i, 0, n);
      put_spectrum_values(t, row + (in_row > 0 ? i : 0), in_row);
      put_zero_values(t, n - in_row);
    };
    t.append_int(g, 2);
    if (windows.two_windows) {
      // All points of the spectrum, 0.00 where no (placed) window is.
      Placed a = place(s.w1s, s.w1n, windows.window1_row, points);
      Placed b = s.placement == 1
                     ? place(s.w2s, s.w2n, windows.window2_row, points)
                     : Placed();
      const bool overlap =
          !a.empty() && !b.empty() && a.begin < b.end && b.begin < a.end;
      if (!overlap) {
        if (a.empty()) a = Placed();
        if (b.empty()) b = Placed();
        if (b.begin < a.begin) std::swap(a, b);
        put_zero_values(t, a.begin);
        put_run(a.source, a.end - a.begin);
        put_zero_values(t, b.begin - a.end);
        put_run(b.source, b.end - b.begin);
        put_zero_values(t, points - std::max(a.end, b.end));
      } else {
        // Window 2 is placed after window 1 and covers it where they meet.
        buffer.assign(static_cast<size_t>(points), 0.0f);
        for (int64_t pos = a.begin; pos < a.end; ++pos) {
          buffer[pos] = value(a.source + pos - a.begin);
        }
        for (int64_t pos = b.begin; pos < b.end; ++pos) {
          buffer[pos] = value(b.source + pos - b.begin);
        }
        put_spectrum_values(t, buffer.data(), points);
      }
    } else if (s.positional) {
      buffer.resize(s.w1n > 0 ? s.w1n : 0);
      for (int64_t j = 0; j < s.w1n; ++j) {
        buffer[j] = value(windows.window1_row + j);
      }
      put_spectrum_values(t, buffer.data(), s.w1n);
    } else {
      // One window of a compact row: its values from index 0 on.
      put_spectrum_values(t, row, s.w1n < row_length ? s.w1n : row_length);
    }
    t.append_char('\n');
  }
}

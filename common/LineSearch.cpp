#include "common/LineSearch.h"

#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace NSCheckerTool {

namespace {

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Whether the n bytes at text spell lowered (already in lower case).
inline bool SameIgnoringCase(const char* text, const std::string& lowered) {
  for (std::size_t i = 0; i < lowered.size(); ++i) {
    if (Lower(text[i]) != lowered[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) {
      return false;
    }
  }
  return true;
}

const char* FindIgnoringCase(const char* from, const char* end, const std::string& needle) {
  const std::size_t n = needle.size();
  if (n == 0 || end - from < static_cast<std::ptrdiff_t>(n)) {
    return nullptr;
  }
  std::string lowered(needle);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), Lower);
#ifdef __SSE2__
  // Sixteen positions at a time are tested for the needle's first and last
  // bytes with bit 5 (the ASCII case bit) set on both sides: every match in
  // any letter case passes, and only the few that pass are compared whole.
  // On the long texts of blocklist hosts files this is far faster than
  // looking at every byte.
  const __m128i caseBit = _mm_set1_epi8(0x20);
  const __m128i first = _mm_set1_epi8(static_cast<char>(lowered.front() | 0x20));
  const __m128i last = _mm_set1_epi8(static_cast<char>(lowered.back() | 0x20));
  for (; static_cast<std::size_t>(end - from) >= n + 15; from += 16) {
    const __m128i head =
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), caseBit);
    const __m128i tail =
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + n - 1)), caseBit);
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last))));
    while (mask != 0) {
      const char* candidate = from + __builtin_ctz(mask);
      if (SameIgnoringCase(candidate, lowered)) {
        return candidate;
      }
      mask &= mask - 1;
    }
  }
#endif
  // What is left (all of it without SSE2): one position at a time.
  for (; static_cast<std::size_t>(end - from) >= n; ++from) {
    if (Lower(*from) == lowered.front() && SameIgnoringCase(from, lowered)) {
      return from;
    }
  }
  return nullptr;
}

std::vector<std::size_t> LinesContaining(const std::string& text,
                                         const std::vector<std::string>& needles) {
  std::vector<std::size_t> starts;
  LinesContaining(std::string_view(text), needles, starts);
  return starts;
}

void LinesContaining(std::string_view text, const std::vector<std::string>& needles,
                     std::vector<std::size_t>& starts) {
  starts.clear();
  const char* const base = text.data();
  const std::size_t size = text.size();
  for (const std::string& needle : needles) {
    std::size_t from = 0;
    while (from < size) {
      const char* hit = FindIgnoringCase(base + from, base + size, needle);
      if (hit == nullptr) {
        break;
      }
      const std::size_t at = static_cast<std::size_t>(hit - base);
      const void* before = ::memrchr(base, '\n', at);
      starts.push_back(
          before ? static_cast<std::size_t>(static_cast<const char*>(before) - base) + 1 : 0);
      // One hit is enough for a line: go on after its end.
      const void* after = std::memchr(base + at, '\n', size - at);
      from = after ? static_cast<std::size_t>(static_cast<const char*>(after) - base) + 1 : size;
    }
  }
  if (needles.size() > 1) {
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  }
}

}  // namespace NSCheckerTool

#include "common/LineSearch.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define CHECKTOOL_X86_VECTORS 1
#endif

namespace NSCheckerTool {

namespace {

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// A needle made ready for the search: in lower case, with the two places
// whose bytes the vector filter looks for.
struct Pattern {
  std::string lowered;
  std::size_t rare = 0;   // the byte least common in hosts files
  std::size_t other = 0;  // the next least common, at another place (the same one for one byte)
};

// How common each byte, with bit 5 set as the filter sees it, is in hosts
// files (counted on blocklists): the higher, the more common; 0 for the
// bytes that hardly occur. A "\n" is seen as "*". On real blocklists the
// two rarest bytes of local.tolvane.com let about a tenth as many false
// candidates through as its first and last bytes do.
struct CommonnessTable {
  unsigned char rank[256] = {};
  constexpr CommonnessTable() {
    const char order[] = "q#j9z8653x4yhw7fvk2ugb-p1ldrns i*matcoe0.";  // rarest first
    for (unsigned char i = 0; order[i] != '\0'; ++i) {
      rank[static_cast<unsigned char>(order[i])] = static_cast<unsigned char>(i + 1);
    }
  }
};
constexpr CommonnessTable kCommonness;

Pattern Prepare(const std::string& needle) {
  Pattern pattern{needle};
  std::transform(pattern.lowered.begin(), pattern.lowered.end(), pattern.lowered.begin(), Lower);
  const std::string& s = pattern.lowered;
  auto commonness = [&](std::size_t i) {
    return kCommonness.rank[static_cast<unsigned char>(s[i] | 0x20)];
  };
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (commonness(i) < commonness(pattern.rare)) {
      pattern.rare = i;
    }
  }
  // Of the next rarest, the one nearest the rarest: a pair of neighbours
  // is rarer still than its two bytes apart.
  pattern.other = pattern.rare;
  auto distance = [&](std::size_t i) {
    return i > pattern.rare ? i - pattern.rare : pattern.rare - i;
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i != pattern.rare &&
        (pattern.other == pattern.rare || commonness(i) < commonness(pattern.other) ||
         (commonness(i) == commonness(pattern.other) && distance(i) < distance(pattern.other)))) {
      pattern.other = i;
    }
  }
  return pattern;
}

// Whether the bytes at text spell lowered (already in lower case).
inline bool SameIgnoringCase(const char* text, const std::string& lowered) {
  for (std::size_t i = 0; i < lowered.size(); ++i) {
    if (Lower(text[i]) != lowered[i]) {
      return false;
    }
  }
  return true;
}

// The candidates of mask (bit k: the position at + k), in order: the first
// that is a match, or null.
inline const char* FirstMatch(const char* at, std::uint32_t mask, const std::string& lowered) {
  for (; mask != 0; mask &= mask - 1) {
    const char* candidate = at + __builtin_ctz(mask);
    if (SameIgnoringCase(candidate, lowered)) {
      return candidate;
    }
  }
  return nullptr;
}

// One position at a time, from from while a match still fits before end.
const char* FindPlain(const char* from, const char* end, const Pattern& pattern) {
  const std::string& lowered = pattern.lowered;
  for (; static_cast<std::size_t>(end - from) >= lowered.size(); ++from) {
    if (Lower(*from) == lowered.front() && SameIgnoringCase(from, lowered)) {
      return from;
    }
  }
  return nullptr;
}

#ifdef CHECKTOOL_X86_VECTORS
// The vector searches test many positions at once for the pattern's two
// rare bytes, with bit 5 (the ASCII case bit) set on both sides: every
// match in any letter case passes, and only the few that pass are compared
// whole. A round looks at four vectors' worth of positions and branches
// once, so the bookkeeping is small against the tests; what is too short
// for a round goes a vector at a time, and the last few positions one at a
// time. Every load stays inside [from, end).

// Which of the sixteen positions from at may start a match: a byte of 0xff
// where both rare bytes stand, in either letter case.
struct Filter16 {
  explicit Filter16(const Pattern& pattern)
      : rareAt(pattern.rare),
        otherAt(pattern.other),
        rare(_mm_set1_epi8(static_cast<char>(pattern.lowered[pattern.rare] | 0x20))),
        other(_mm_set1_epi8(static_cast<char>(pattern.lowered[pattern.other] | 0x20))) {}
  __m128i Hits(const char* at) const {
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i a =
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + rareAt)), caseBit);
    const __m128i b =
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + otherAt)), caseBit);
    return _mm_and_si128(_mm_cmpeq_epi8(a, rare), _mm_cmpeq_epi8(b, other));
  }
  std::size_t rareAt, otherAt;
  __m128i rare, other;
};

const char* FindSse2(const char* from, const char* end, const Pattern& pattern) {
  const std::size_t n = pattern.lowered.size();
  const Filter16 filter(pattern);
  // Rounds of 64 positions that all start a text of n bytes inside [from,
  // end) (from stands at most n - 1 bytes before end).
  for (std::size_t rounds = (static_cast<std::size_t>(end - from) + 1 - n) / 64; rounds > 0;
       --rounds, from += 64) {
    const __m128i h0 = filter.Hits(from);
    const __m128i h1 = filter.Hits(from + 16);
    const __m128i h2 = filter.Hits(from + 32);
    const __m128i h3 = filter.Hits(from + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) == 0) {
      continue;
    }
    const __m128i each[] = {h0, h1, h2, h3};
    for (std::ptrdiff_t k = 0; k < 4; ++k) {
      const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(each[k]));
      if (const char* match = FirstMatch(from + 16 * k, mask, pattern.lowered)) {
        return match;
      }
    }
  }
  for (; static_cast<std::size_t>(end - from) >= n + 15; from += 16) {
    const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(filter.Hits(from)));
    if (const char* match = FirstMatch(from, mask, pattern.lowered)) {
      return match;
    }
  }
  return FindPlain(from, end, pattern);
}

// The same, thirty-two positions wide. (Functions built for AVX2 may
// only be inlined into functions built for AVX2, hence no lambda.)
struct Filter32 {
  std::size_t rareAt, otherAt;
  __m256i rare, other;
};

__attribute__((target("avx2"), always_inline)) inline __m256i Hits32(const Filter32& filter,
                                                                     const char* at) {
  const __m256i caseBit = _mm256_set1_epi8(0x20);
  const __m256i a = _mm256_or_si256(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + filter.rareAt)), caseBit);
  const __m256i b = _mm256_or_si256(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + filter.otherAt)), caseBit);
  return _mm256_and_si256(_mm256_cmpeq_epi8(a, filter.rare), _mm256_cmpeq_epi8(b, filter.other));
}

__attribute__((target("avx2"))) const char* FindAvx2(const char* from, const char* end,
                                                     const Pattern& pattern) {
  const std::size_t n = pattern.lowered.size();
  const Filter32 filter{pattern.rare, pattern.other,
                        _mm256_set1_epi8(static_cast<char>(pattern.lowered[pattern.rare] | 0x20)),
                        _mm256_set1_epi8(static_cast<char>(pattern.lowered[pattern.other] | 0x20))};
  // Rounds of 128 positions that all start a text of n bytes inside [from,
  // end) (from stands at most n - 1 bytes before end).
  static_assert(sizeof(__m256i) == kWidestVector && kRoundVectors == 4, "a round of four vectors");
  constexpr std::size_t kRound = kRoundVectors * kWidestVector;
  for (std::size_t rounds = (static_cast<std::size_t>(end - from) + 1 - n) / kRound; rounds > 0;
       --rounds, from += kRound) {
    const __m256i h0 = Hits32(filter, from);
    const __m256i h1 = Hits32(filter, from + kWidestVector);
    const __m256i h2 = Hits32(filter, from + 2 * kWidestVector);
    const __m256i h3 = Hits32(filter, from + 3 * kWidestVector);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(h0, h1), _mm256_or_si256(h2, h3));
    if (_mm256_testz_si256(any, any) != 0) {
      continue;
    }
    const __m256i each[] = {h0, h1, h2, h3};
    for (std::ptrdiff_t k = 0; k < 4; ++k) {
      const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(each[k]));
      if (const char* match = FirstMatch(from + kWidestVector * k, mask, pattern.lowered)) {
        return match;
      }
    }
  }
  for (; static_cast<std::size_t>(end - from) >= n + kWidestVector - 1; from += kWidestVector) {
    const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(Hits32(filter, from)));
    if (const char* match = FirstMatch(from, mask, pattern.lowered)) {
      return match;
    }
  }
  // Fewer than thirty-two positions are left, for the SSE2 search; with the
  // upper halves of the vector registers cleared first, which the compiler
  // leaves out on this way out, or every SSE2 instruction after it would
  // pay for their state.
  _mm256_zeroupper();
  return FindSse2(from, end, pattern);
}
#endif

using Finder = const char* (*)(const char*, const char*, const Pattern&);

SearchWidth Widest() {
#ifdef CHECKTOOL_X86_VECTORS
  return __builtin_cpu_supports("avx2") ? SearchWidth::kAvx2 : SearchWidth::kSse2;
#else
  return SearchWidth::kPlain;
#endif
}

Finder FinderFor(SearchWidth width) {
  switch (std::min(width, Widest())) {
#ifdef CHECKTOOL_X86_VECTORS
    case SearchWidth::kAvx2:
      return FindAvx2;
    case SearchWidth::kSse2:
      return FindSse2;
#endif
    default:
      return FindPlain;
  }
}

const char* FindFirstTime(const char* from, const char* end, const Pattern& pattern);

// The widest search allowed, and the search in use: chosen at the first
// search, for the widest vectors the CPU has.
std::atomic<SearchWidth> g_width{SearchWidth::kAvx2};
std::atomic<Finder> g_find{FindFirstTime};

const char* FindFirstTime(const char* from, const char* end, const Pattern& pattern) {
  const Finder find = FinderFor(g_width.load(std::memory_order_relaxed));
  g_find.store(find, std::memory_order_relaxed);
  return find(from, end, pattern);
}

inline const char* Find(const char* from, const char* end, const Pattern& pattern) {
  if (pattern.lowered.empty() || end - from < static_cast<std::ptrdiff_t>(pattern.lowered.size())) {
    return nullptr;
  }
  return g_find.load(std::memory_order_relaxed)(from, end, pattern);
}

}  // namespace

SearchWidth UseSearchWidth(SearchWidth width) {
  const SearchWidth before = g_width.exchange(width);
  g_find.store(FinderFor(width));
  return before;
}

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
  if (needle.empty() || end - from < static_cast<std::ptrdiff_t>(needle.size())) {
    return nullptr;
  }
  return Find(from, end, Prepare(needle));
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
    if (needle.empty() || size < needle.size()) {
      continue;
    }
    const Pattern pattern = Prepare(needle);
    std::size_t from = 0;
    while (from < size) {
      const char* hit = Find(base + from, base + size, pattern);
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

#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace NSCheckerTool {

// Whether a and b are the same text, ASCII letters compared without regard to
// case (other bytes exactly), as the resolver compares host names.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

// How many positions the caseless search tests at once: one, sixteen (SSE2)
// or thirty-two (AVX2). The widest the build and the CPU have is chosen at
// the first search; every width finds the same.
enum class SearchWidth { kPlain, kSse2, kAvx2 };
// Has the searches from now on test at most width positions at once (the
// widest below it that the build and the CPU have); answers the width asked
// for before (the widest at first). Tests run their rows at every width through it.
SearchWidth UseSearchWidth(SearchWidth width);
// The widest search tests kWidestVector positions at once, and branches once
// a round of kRoundVectors such vectors.
constexpr std::size_t kWidestVector = 32;
constexpr std::size_t kRoundVectors = 4;

// The first place in [from, end) where needle stands, ASCII letters compared
// without regard to case (other bytes exactly); null when there is none or
// needle is empty.
const char* FindIgnoringCase(const char* from, const char* end, const std::string& needle);

// The start offsets, in ascending order and each once, of the lines of text
// ("\n"-separated; a last line without one counts) that contain any of the
// needles in the sense of FindIgnoringCase. Empty needles find nothing.
std::vector<std::size_t> LinesContaining(const std::string& text,
                                         const std::vector<std::string>& needles);
// The same, into starts (emptied first, its room kept).
void LinesContaining(std::string_view text, const std::vector<std::string>& needles,
                     std::vector<std::size_t>& starts);

}  // namespace NSCheckerTool

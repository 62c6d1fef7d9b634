// Small routines over UTF-8 text. Positions and counts are in bytes (1-based where the
// routine answers a position), as the callers compare and cut ASCII names and keys;
// `RightStr` never cuts a multi-byte character in half.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zor {

// The text before the first `delimiter`; `text` keeps what follows it. Without the
// delimiter (or with an empty one) the whole text is the token and `text` becomes empty.
std::string FetchToken(std::string& text, std::string_view delimiter);
// As `FetchToken`, with the token trimmed and the rest trimmed on the left.
std::string FetchTokenTrim(std::string& text, std::string_view delimiter);

// Blanks and control characters (bytes up to 0x20) off both ends / the left end.
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);

// 1-based position of `part` at or after `start` (values below 1 count as 1); 0 when
// absent, when `part` is empty or when `start` lies beyond the text.
int PosFrom(std::string_view text, std::string_view part, int start);

// The last `count` bytes, or the whole text when it is shorter. When the cut would fall
// inside a UTF-8 character, the partial character is left out.
std::string RightStr(std::string_view text, int count);

// Clears `list` and adds each piece of the text, taken with `FetchToken` until the text
// is used up: "a,,b" gives "a", "", "b"; a delimiter at the very end adds no empty piece.
void SplitToStrings(std::string_view text, std::vector<std::string>& list,
                    std::string_view delimiter);

}  // namespace zor

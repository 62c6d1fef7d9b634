// The user-interface language and the numbered message table of the launcher, in English,
// the traditional and the simplified Chinese script. The language is chosen once from the
// system default LCID and only read afterwards, from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

inline constexpr int kLangEnglish = 0;
inline constexpr int kLangTraditional = 1;
inline constexpr int kLangSimplified = 2;
inline constexpr int kLangCount = 3;
inline constexpr int kLangMessageCount = 42;

// 1028 and 3076 give the traditional script, 2052 the simplified one, everything else English.
int LangIndexForLcid(uint32_t lcid);

// The language of this process, taken from the system default LCID on first use.
int LangIndex();
// Replaces the language of the process (tests).
void SetLangIndex(int langIndex);

// Message `number` in the language of the process; "" for a number outside 0..41.
std::string GetLangMessage(int number);
// Message `number` in a given language; "" when either index is out of range.
std::string GetLangMessageIn(int langIndex, int number);
bool IsTraditionalLanguage();

// Numbers of the messages the launcher refers to by name.
inline constexpr int kMsgAlreadyRunning = 1;
inline constexpr int kMsgStarting = 2;
inline constexpr int kMsgNeedRestart = 11;

}  // namespace zor

// Command lines as one string, split into arguments and put back together by the rules of
// the Windows C run-time, so that a command line written for the launcher (quotes,
// backslashes before quotes) means the same here:
// - the program name (first argument) ends at the first blank outside quotes; quotes in it
//   only switch quoting and backslashes are plain characters;
// - other arguments are separated by blanks (space, tab) outside quotes; 2n backslashes
//   before a quote give n backslashes and the quote switches quoting; 2n+1 backslashes
//   before a quote give n backslashes and a literal quote; "" inside quotes is a literal
//   quote; backslashes not before a quote are literal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zor {

// The arguments of `commandLine`, the program name first; empty for a blank line.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// One argument written so that `SplitCommandLine` gives it back (quoted when it is empty or
// holds a blank or a quote).
std::string QuoteArgument(std::string_view argument);

// The program name (quoted when it is empty or holds a blank; a quote in it cannot be
// written) and the arguments quoted, separated by single spaces.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

}  // namespace zor

// Word helpers that the description builder and the format readers share, so
// that a rule text and a misspelt name read the same in every language.
// Internal to the library: not installed.
#ifndef FAZOLT_COMMON_WORDS_H
#define FAZOLT_COMMON_WORDS_H

#include <string>
#include <vector>

namespace fazolt {
// The blank-separated words of a rule text.
std::vector<std::string> splitWords(const std::string &text);
// "; did you mean "x"?" for the one candidate close to word, or "".
std::string closestNameSuggestion(const std::string &word, const std::vector<std::string> &candidates);
// Text from a file as it may go into a message: control bytes and bytes
// that are not UTF-8 become \xHH, so a message never drives a terminal.
std::string printableText(const std::string &text);
}  // namespace fazolt

#endif

// Words and text that the description builder and the format readers share:
// a rule's words, the suggestion for a misspelt name, text from a file made
// safe for a message.
#include "common/words.h"

#include <algorithm>
#include <sstream>

namespace fazolt {
namespace {

// Letters folded to lower case, '_' and '-' dropped: "num_samples" and
// "andmethod" fold to the folds of "numSamples" and "andMethod".
std::string folded(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c != '_' && c != '-') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Insertions, deletions, substitutions and swaps of two neighbouring
// letters ("hihg" for "high") each count one.
size_t editDistance(const std::string &a, const std::string &b) {
    std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        before.swap(previous);
        previous.swap(row);
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                row[j] = std::min(row[j], before[j - 2] + 1);
        }
    }
    return row[b.size()];
}

}  // namespace

std::string closestNameSuggestion(const std::string &word, const std::vector<std::string> &candidates) {
    std::string w = folded(word);
    size_t reach = w.size() < 5 ? 1 : 2;
    size_t best = reach + 1;
    const std::string *found = nullptr;
    bool isTie = false;
    for (const std::string &c : candidates) {
        size_t d = editDistance(w, folded(c));
        if (d < best) {
            best = d;
            found = &c;
            isTie = false;
        } else if (d == best) {
            isTie = true;
        }
    }
    return found == nullptr || isTie ? std::string() : "; did you mean \"" + *found + "\"?";
}

std::string printableText(const std::string &text) {
    std::string out;
    size_t k = 0;
    auto escape = [&](unsigned char c) {
        static const char hex[] = "0123456789ABCDEF";
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
    };
    while (k < text.size()) {
        auto c = static_cast<unsigned char>(text[k]);
        if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++k;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++k;
            continue;
        }
        // A well-formed UTF-8 sequence (no overlong forms, no surrogates) passes whole.
        size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        bool isValid = length > 0 && k + length <= text.size();
        for (size_t j = 1; isValid && j < length; ++j) {
            auto t = static_cast<unsigned char>(text[k + j]);
            bool isContinuation = (t & 0xC0) == 0x80;
            if (j == 1 && c == 0xE0) isContinuation = isContinuation && t >= 0xA0;
            if (j == 1 && c == 0xED) isContinuation = isContinuation && t < 0xA0;
            if (j == 1 && c == 0xF0) isContinuation = isContinuation && t >= 0x90;
            if (j == 1 && c == 0xF4) isContinuation = isContinuation && t < 0x90;
            isValid = isContinuation;
        }
        if (!isValid) {
            escape(c);
            ++k;
            continue;
        }
        out += text.substr(k, length);
        k += length;
    }
    return out;
}

std::vector<std::string> splitWords(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

}  // namespace fazolt

// Locale-free reading of one decimal number, shared by the CSV reader of the
// tool and the rule weights of descriptions, so that both accept the same
// text and give the same bits.
#ifndef FAZOLT_COMMON_NUMBERS_H
#define FAZOLT_COMMON_NUMBERS_H

#include <charconv>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace fazolt {

enum class NumberStatus { ok, notANumber, overflow };

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// from_chars reports a value that rounds to zero and one beyond the double
// range alike. The decimal exponent of the first significant digit tells
// them apart: only values below 1e-300 or above 1e300 get here.
inline bool isBelowOne(std::string_view s) {
    size_t k = 0;
    if (k < s.size() && (s[k] == '-' || s[k] == '+')) ++k;
    int64_t magnitude = 0;
    bool isSignificant = false;
    bool isFraction = false;
    for (; k < s.size(); ++k) {
        char c = s[k];
        if (c == '.') {
            isFraction = true;
        } else if (c >= '0' && c <= '9') {
            if (!isSignificant && c == '0') {
                if (isFraction) --magnitude;
            } else if (!isSignificant) {
                isSignificant = true;
                if (isFraction) --magnitude;
            } else if (!isFraction) {
                ++magnitude;
            }
        } else {
            break;
        }
    }
    int64_t exponent = 0;
    if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
        ++k;
        bool isNegative = k < s.size() && s[k] == '-';
        if (k < s.size() && (s[k] == '-' || s[k] == '+')) ++k;
        for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k) {
            if (exponent < 1000000000) exponent = exponent * 10 + (s[k] - '0');
        }
        if (isNegative) exponent = -exponent;
    }
    return magnitude + exponent < 0;
}

// One number in from_chars' general format, with an optional leading '+'
// and blanks around it. A value too small for a double reads as a zero of
// its sign, as common CSV readers give it; one too large is an overflow.
inline NumberStatus readDecimalNumber(std::string_view text, double &value) {
    std::string_view s = trimBlanks(text);
    bool isNegative = !s.empty() && s.front() == '-';
    // from_chars takes no '+', which spreadsheets sometimes write.
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (s.empty() || s.front() == '+' || s.front() == '-') return NumberStatus::notANumber;
    }
    if (s.empty()) return NumberStatus::notANumber;
    double v = 0.0;
    std::from_chars_result r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ptr != s.data() + s.size()) return NumberStatus::notANumber;
    if (r.ec == std::errc::result_out_of_range) {
        if (!isBelowOne(s)) return NumberStatus::overflow;
        v = isNegative ? -0.0 : 0.0;
    } else if (r.ec != std::errc()) {
        return NumberStatus::notANumber;
    }
    value = v;
    return NumberStatus::ok;
}

}  // namespace fazolt

#endif

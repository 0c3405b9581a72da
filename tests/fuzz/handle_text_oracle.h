// An independent reference for the handle-text conversions (the fuzzer's and
// the corpus replay's): a regular expression decides what is a number, wide
// arithmetic what overflows. Check() gives the first disagreement, or "".
#pragma once

#include <cstdint>
#include <regex>
#include <string>

#include "behaviours.h"
#include "handle_text.h"

namespace kavrelo::fuzz {

// "T" (type mismatch), "O" (overflow) or the value.
inline std::string Expected(std::u16string_view text) {
    std::string narrow;  // units beyond ASCII stand for a character never allowed
    for (char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '\x7f');
    static const std::regex number("[ \t]*([+-]?)0*([0-9]*)[ \t]*");
    std::smatch m;
    if (!std::regex_match(narrow, m, number) || narrow.find_first_of("0123456789") == std::string::npos) return "T";
    long long value = 0;  // twelve digits at most: no wrap, and more than 32 bits
    for (char d : m[2].str().substr(0, 12)) value = value * 10 + (d - '0');
    if (m[1] == "-") value = -value;
    return value < INT32_MIN || value > INT32_MAX ? "O" : std::to_string(value);
}

inline std::string Actual(std::u16string_view text) {
    try {
        return std::to_string(HandleFromText(text));
    } catch (const Error& e) {
        return e.code() == ErrorCode::Overflow ? "O" : e.code() == ErrorCode::TypeMismatch ? "T" : "error";
    }
}

inline std::string Check(const std::uint8_t* data, std::size_t size) {
    std::u16string units, bytes;  // the input as UTF-16LE, and each byte widened
    for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(data[i]);
    for (const std::u16string& text : {units, bytes})
        if (Actual(text) != Expected(text)) return "HandleFromText gave " + Actual(text) + ", expected " + Expected(text);

    // The first four bytes as a handle, the first two as a bar value.
    std::uint8_t b[4] = {};
    for (std::size_t i = 0; i < 4 && i < size; ++i) b[i] = data[i];
    const auto v = static_cast<std::int32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24);
    const std::string plain = std::to_string(v);
    if (DecimalText(v).view() != std::u16string(plain.begin(), plain.end()) || Actual(DecimalText(v).view()) != plain)
        return "DecimalText(" + plain + ") or its conversion back";
    const auto bar = static_cast<std::int16_t>(b[0] | b[1] << 8);
    int alpha = -1;  // -1: Overflow raised
    try {
        alpha = AlphaForValue(bar);
    } catch (const Error& e) {
        if (e.code() != ErrorCode::Overflow) alpha = -2;
    }
    if (alpha != (bar >= 0 && bar <= 255 ? 255 - bar : -1)) return "AlphaForValue(" + std::to_string(bar) + ")";
    return {};
}

}  // namespace kavrelo::fuzz

// A reference for the handle-text conversions, shared by the libFuzzer target
// and the corpus replay test. The reference parser is written from the rules
// of handle text, not from the program's loop: it trims the blanks, takes the
// sign, checks that only ASCII digits are left and compares the digit string
// with the limits "2147483647" and "2147483648" by length, then character by
// character; it never does arithmetic that could wrap.
//
// Each check returns the faults it saw as readable messages: an empty list is
// a pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "behaviours.h"
#include "error.h"
#include "handle_text.h"
#include "text.h"

namespace kavrelo::fuzz {

// What one call did: returned a value, raised a kavrelo::Error, or threw
// something else (never allowed).
struct Outcome {
    enum class Kind { Value, Error, Foreign };
    Kind kind = Kind::Foreign;
    std::int32_t value = 0;
    ErrorCode code = ErrorCode::CreateFailed;

    static Outcome Of(std::int32_t v) {
        Outcome o;
        o.kind = Kind::Value;
        o.value = v;
        return o;
    }
    static Outcome Raised(ErrorCode c) {
        Outcome o;
        o.kind = Kind::Error;
        o.code = c;
        return o;
    }
    bool operator==(const Outcome& other) const {
        if (kind != other.kind) return false;
        if (kind == Kind::Value) return value == other.value;
        if (kind == Kind::Error) return code == other.code;
        return true;
    }
    bool operator!=(const Outcome& other) const { return !(*this == other); }
};

inline std::string Describe(const Outcome& o) {
    switch (o.kind) {
        case Outcome::Kind::Value: return "value " + std::to_string(o.value);
        case Outcome::Kind::Error:
            switch (o.code) {
                case ErrorCode::TypeMismatch: return "error TypeMismatch (13)";
                case ErrorCode::Overflow: return "error Overflow (6)";
                default: return "error " + std::to_string(static_cast<std::int32_t>(o.code));
            }
        case Outcome::Kind::Foreign: break;
    }
    return "an exception that is not kavrelo::Error";
}

// Printable ASCII as it is, everything else as \uXXXX, in double quotes.
inline std::string Escape(std::u16string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\') {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
        }
    }
    out += "\" (" + std::to_string(text.size()) + " units)";
    return out;
}

inline std::u16string Widen(std::string_view ascii) {
    std::u16string out;
    for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

// The reference parser.
inline Outcome ReferenceHandleFromText(std::u16string_view text) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    std::size_t first = 0, last = text.size();
    while (first < last && blank(text[first])) ++first;
    while (last > first && blank(text[last - 1])) --last;
    std::u16string_view body = text.substr(first, last - first);

    bool negative = false;
    if (!body.empty() && (body.front() == u'+' || body.front() == u'-')) {
        negative = body.front() == u'-';
        body.remove_prefix(1);
    }
    if (body.empty()) return Outcome::Raised(ErrorCode::TypeMismatch);

    std::string digits;
    for (char16_t c : body) {
        if (c < u'0' || c > u'9') return Outcome::Raised(ErrorCode::TypeMismatch);
        digits.push_back(static_cast<char>(c));
    }
    const std::size_t significant = digits.find_first_not_of('0');
    digits = significant == std::string::npos ? std::string("0") : digits.substr(significant);

    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
        return Outcome::Raised(ErrorCode::Overflow);
    }
    std::int64_t magnitude = 0;  // at most ten digits, at most 2^31: no wrap
    for (char d : digits) magnitude = magnitude * 10 + (d - '0');
    return Outcome::Of(static_cast<std::int32_t>(negative ? -magnitude : magnitude));
}

using HandleParser = std::int32_t (*)(std::u16string_view);

inline Outcome Observe(HandleParser parse, std::u16string_view text) {
    try {
        return Outcome::Of(parse(text));
    } catch (const Error& e) {
        return Outcome::Raised(e.code());
    } catch (...) {
        return Outcome{};
    }
}

// The parser against the reference for one text.
inline void CheckHandleText(HandleParser parse, std::u16string_view text,
                            std::vector<std::string>& faults) {
    const Outcome expected = ReferenceHandleFromText(text);
    const Outcome actual = Observe(parse, text);
    if (actual != expected) {
        faults.push_back("HandleFromText(" + Escape(text) + ") gave " + Describe(actual) +
                         ", expected " + Describe(expected));
    }
}

// DecimalText(v) is the plain decimal text of v, and the parser reads it and
// its accepted variants (blanks around, a plus sign, leading zeros) back as v.
inline void CheckRoundTrip(HandleParser parse, std::int32_t v, std::vector<std::string>& faults) {
    const std::u16string plain = Widen(std::to_string(v));
    std::u16string decimal;
    try {
        decimal = std::u16string(DecimalText(v).view());
    } catch (...) {
        faults.push_back("DecimalText(" + std::to_string(v) + ") threw");
        return;
    }
    if (decimal != plain) {
        faults.push_back("DecimalText(" + std::to_string(v) + ") gave " + Escape(decimal) +
                         ", expected " + Escape(plain));
    }
    const std::u16string sign = v < 0 ? u"-" : u"";
    const std::u16string magnitude = plain.substr(sign.size());
    std::vector<std::u16string> forms = {
        plain,
        u" \t" + plain + u"\t ",
        sign + u"000" + magnitude,
    };
    if (v >= 0) forms.push_back(u"+" + plain);
    for (const std::u16string& form : forms) {
        const Outcome actual = Observe(parse, form);
        if (actual != Outcome::Of(v)) {
            faults.push_back("round trip of " + std::to_string(v) + ": HandleFromText(" +
                             Escape(form) + ") gave " + Describe(actual));
        }
    }
}

// AlphaForValue(v) is 255 - v for v in 0..255 and raises Overflow otherwise.
inline void CheckAlpha(std::int16_t v, std::vector<std::string>& faults) {
    Outcome actual;
    try {
        actual = Outcome::Of(AlphaForValue(v));
    } catch (const Error& e) {
        actual = Outcome::Raised(e.code());
    } catch (...) {
    }
    const Outcome expected =
        v >= 0 && v <= 255 ? Outcome::Of(255 - v) : Outcome::Raised(ErrorCode::Overflow);
    if (actual != expected) {
        faults.push_back("AlphaForValue(" + std::to_string(v) + ") gave " + Describe(actual) +
                         ", expected " + Describe(expected));
    }
}

// Text holds up to kCapacity - 1 characters, terminated; longer raises
// ControlAccess.
inline void CheckText(std::u16string_view s, std::vector<std::string>& faults) {
    const bool fits = s.size() < Text::kCapacity;
    try {
        const Text t(s);
        if (!fits) {
            faults.push_back("Text(" + Escape(s) + ") accepted a text over its capacity");
        } else if (t.view() != s || t.size() != s.size() || t.c_str()[s.size()] != u'\0') {
            faults.push_back("Text(" + Escape(s) + ") holds " + Escape(t.view()));
        }
    } catch (const Error& e) {
        if (fits || e.code() != ErrorCode::ControlAccess) {
            faults.push_back("Text(" + Escape(s) + ") raised error " +
                             std::to_string(e.number()));
        }
    } catch (...) {
        faults.push_back("Text(" + Escape(s) + ") threw an exception that is not kavrelo::Error");
    }
}

// The input bytes as UTF-16LE code units (an odd last byte is dropped).
inline std::u16string UnitsFromBytes(const std::uint8_t* data, std::size_t size) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return out;
}

// The input bytes each widened to one code unit: ASCII-shaped text at once.
inline std::u16string WidenedBytes(const std::uint8_t* data, std::size_t size) {
    return std::u16string(data, data + size);
}

// Every check for one input.
inline std::vector<std::string> CheckInput(const std::uint8_t* data, std::size_t size,
                                           HandleParser parse = &HandleFromText) {
    std::vector<std::string> faults;
    const std::u16string texts[] = {UnitsFromBytes(data, size), WidenedBytes(data, size)};

    std::vector<std::int32_t> values;
    std::uint8_t head[4] = {};
    for (std::size_t i = 0; i < 4 && i < size; ++i) head[i] = data[i];
    values.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(head[0]) |
                                               static_cast<std::uint32_t>(head[1]) << 8 |
                                               static_cast<std::uint32_t>(head[2]) << 16 |
                                               static_cast<std::uint32_t>(head[3]) << 24));
    for (const std::u16string& text : texts) {
        CheckHandleText(parse, text, faults);
        CheckText(text, faults);
        const Outcome reference = ReferenceHandleFromText(text);
        if (reference.kind == Outcome::Kind::Value) values.push_back(reference.value);
    }
    for (std::int32_t v : values) CheckRoundTrip(parse, v, faults);
    CheckAlpha(static_cast<std::int16_t>(head[0] | head[1] << 8), faults);
    return faults;
}

}  // namespace kavrelo::fuzz

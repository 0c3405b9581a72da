#include "handle_text.h"

namespace kavrelo {

Text DecimalText(std::int32_t value) noexcept {
    char16_t digits[12];
    std::size_t n = 0;
    // Work in unsigned so that the most negative value needs no special case.
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                        : static_cast<std::uint32_t>(value);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);

    char16_t out[12];
    std::size_t len = 0;
    if (value < 0) out[len++] = u'-';
    while (n > 0) out[len++] = digits[--n];
    return Text(std::u16string_view(out, len));  // at most 11 characters: never raises
}

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool Fail(ErrorCode code, ErrorCode* error) {
    if (error != nullptr) *error = code;
    return false;
}

}  // namespace

bool TryHandleFromText(std::u16string_view text, std::int32_t& value, ErrorCode* error) noexcept {
    std::size_t i = 0, end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;

    bool negative = false;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == end) return Fail(ErrorCode::TypeMismatch, error);

    // The magnitude may reach 2^31 for a negative value.
    const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    std::uint32_t magnitude = 0;
    bool overflow = false;
    for (; i < end; ++i) {
        const char16_t c = text[i];
        if (c < u'0' || c > u'9') return Fail(ErrorCode::TypeMismatch, error);
        const std::uint32_t digit = static_cast<std::uint32_t>(c - u'0');
        if (overflow || magnitude > (limit - digit) / 10) {
            overflow = true;  // keep scanning: a later non-digit is still a type mismatch
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (overflow) return Fail(ErrorCode::Overflow, error);
    if (negative) {
        value = magnitude == 0x80000000u ? INT32_MIN : -static_cast<std::int32_t>(magnitude);
    } else {
        value = static_cast<std::int32_t>(magnitude);
    }
    return true;
}

std::int32_t HandleFromText(std::u16string_view text) {
    std::int32_t value = 0;
    ErrorCode error = ErrorCode::TypeMismatch;
    if (TryHandleFromText(text, value, &error)) return value;
    if (error == ErrorCode::Overflow) {
        throw Error(ErrorCode::Overflow, u"溢出：窗口句柄超出 32 位整数的范围。");
    }
    throw Error(ErrorCode::TypeMismatch, u"类型不匹配：窗口句柄文本不是数字。");
}

}  // namespace kavrelo

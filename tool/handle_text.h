// Handle text: the only form in which a window handle lives from one event to
// the next. It is the decimal text of the handle's signed 32-bit value, with
// "-" before a negative value and no leading space or plus sign.
#pragma once

#include <cstdint>
#include <string_view>

#include "text.h"

namespace kavrelo {

// Decimal text of a signed 32-bit value: "0", "-1", "-2147483648".
Text DecimalText(std::int32_t value) noexcept;

// Converts numeric text back to a signed 32-bit value. Accepted: optional
// spaces or tabs around an optionally signed run of decimal digits (leading
// zeros allowed). Anything else, the empty text, fractions, exponents, hex and
// thousands separators among them, raises TypeMismatch; a number outside the
// signed 32-bit range raises Overflow.
std::int32_t HandleFromText(std::u16string_view text);

// The same conversion without raising: false (and the error it would raise in
// *error) where HandleFromText raises.
bool TryHandleFromText(std::u16string_view text, std::int32_t& value,
                       ErrorCode* error = nullptr) noexcept;

}  // namespace kavrelo

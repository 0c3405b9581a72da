// Handle text both ways: DecimalText, HandleFromText and TryHandleFromText,
// and the capacity of a control's Text.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "handle_text.h"

namespace kavrelo {
namespace {

// What converting a text gives: a value, or the error it raises.
struct Conversion {
    std::u16string_view text;
    std::int32_t value;
    std::optional<ErrorCode> error;
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << ::testing::PrintToString(std::u16string(c.text)); }

Conversion Ok(std::u16string_view text, std::int32_t value) { return {text, value, std::nullopt}; }
Conversion Mismatch(std::u16string_view text) { return {text, 0, ErrorCode::TypeMismatch}; }
Conversion Overflow(std::u16string_view text) { return {text, 0, ErrorCode::Overflow}; }

class HandleFromTextCase : public ::testing::TestWithParam<Conversion> {};

// Both forms of the conversion: the one that raises and the one that answers
// false (leaving the value alone), with the same error.
TEST_P(HandleFromTextCase, ConvertsOrRaises) {
    const Conversion& c = GetParam();
    std::int32_t value = 12345;
    ErrorCode error{};
    const bool ok = TryHandleFromText(c.text, value, &error);
    if (!c.error) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(HandleFromText(c.text), c.value);
        return;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, *c.error);
    EXPECT_EQ(value, 12345);
    try {
        HandleFromText(c.text);
        ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), *c.error);
        EXPECT_FALSE(e.text().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Accepted, HandleFromTextCase, ::testing::Values(
    Ok(u"0", 0), Ok(u"+42", 42), Ok(u"-0", 0), Ok(u"000123", 123), Ok(u"  77\t", 77), Ok(u"\t-7 ", -7),
    Ok(u"2147483647", INT32_MAX), Ok(u"-2147483648", INT32_MIN), Ok(u"-2147483647", -INT32_MAX),
    Ok(u"0000000000002147483647", INT32_MAX), Ok(u"-0000000000002147483648", INT32_MIN)));

INSTANTIATE_TEST_SUITE_P(NotANumber, HandleFromTextCase, ::testing::Values(
    Mismatch(u"未设置窗口"), Mismatch(u""), Mismatch(u"   "), Mismatch(u"-"), Mismatch(u"+"), Mismatch(u"--1"),
    Mismatch(u"+-1"), Mismatch(u"1-"), Mismatch(u"- 1"), Mismatch(u"1 2"), Mismatch(u"1.5"), Mismatch(u"1e3"),
    Mismatch(u"&H10"), Mismatch(u"0x10"), Mismatch(u"1,000"), Mismatch(u"12a"), Mismatch(u"a12"),
    Mismatch(u"１２"), Mismatch(u"\u00A012"), Mismatch(u"12\n"), Mismatch(u"\u30005"), Mismatch(u"\u0661"),
    Mismatch(std::u16string_view(u"1\0" u"2", 3)),  // a NUL is a character, not the end
    Mismatch(u"99999999999x")));                    // a later non-digit wins over overflow

INSTANTIATE_TEST_SUITE_P(OutOfRange, HandleFromTextCase, ::testing::Values(
    Overflow(u"2147483648"), Overflow(u"-2147483649"), Overflow(u"4294967296"), Overflow(u"4294967297"),
    Overflow(u"99999999999999999999999999999")));

TEST(DecimalText, IsThePlainDecimalTextAndConvertsBack) {
    for (std::int32_t v : {0, 7, -1, 65590, -987654, INT32_MAX, INT32_MIN, INT32_MIN + 1}) {
        const Text t = DecimalText(v);
        const std::string plain = std::to_string(v);
        EXPECT_EQ(std::u16string(t.view()), std::u16string(plain.begin(), plain.end()));
        EXPECT_EQ(HandleFromText(t.view()), v);
    }
}

TEST(Text, HoldsUpToItsCapacityLessOneAndRaisesAControlErrorBeyond) {
    const std::u16string fits(Text::kCapacity - 1, u'x');
    EXPECT_EQ(Text(fits).view(), fits);
    EXPECT_EQ(Text(fits).c_str()[fits.size()], u'\0');
    try {
        Text(fits + u'x');
        ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::ControlAccess);
    }
}

}  // namespace
}  // namespace kavrelo

#include <gtest/gtest.h>

#include <string>

#include "handle_text.h"

namespace kavrelo {
namespace {

std::u16string Str(const Text& t) { return std::u16string(t.view()); }

ErrorCode ErrorOf(std::u16string_view text) {
    try {
        HandleFromText(text);
    } catch (const Error& e) {
        return e.code();
    }
    ADD_FAILURE() << "no error raised";
    return ErrorCode::CreateFailed;
}

TEST(HandleText, DecimalTextOfSigned32BitValues) {
    EXPECT_EQ(Str(DecimalText(0)), u"0");
    EXPECT_EQ(Str(DecimalText(7)), u"7");
    EXPECT_EQ(Str(DecimalText(65590)), u"65590");
    EXPECT_EQ(Str(DecimalText(-1)), u"-1");
    EXPECT_EQ(Str(DecimalText(-20)), u"-20");
    EXPECT_EQ(Str(DecimalText(INT32_MAX)), u"2147483647");
    EXPECT_EQ(Str(DecimalText(INT32_MIN)), u"-2147483648");
}

TEST(HandleText, EveryTextWrittenConvertsBackToItsValue) {
    for (std::int32_t v : {0, 1, -1, 9, 10, -10, 123456, -987654, 65590, INT32_MAX, INT32_MIN,
                           INT32_MIN + 1, INT32_MAX - 1}) {
        EXPECT_EQ(HandleFromText(DecimalText(v).view()), v) << v;
    }
}

TEST(HandleText, OptionallySignedDecimalIntegers) {
    EXPECT_EQ(HandleFromText(u"+42"), 42);
    EXPECT_EQ(HandleFromText(u"-0"), 0);
    EXPECT_EQ(HandleFromText(u"000123"), 123);
    EXPECT_EQ(HandleFromText(u"  77\t"), 77);  // blanks around the number are allowed
    EXPECT_EQ(HandleFromText(u" -5 "), -5);
    EXPECT_EQ(HandleFromText(u"+0"), 0);
    EXPECT_EQ(HandleFromText(u"\t-7\t"), -7);
    EXPECT_EQ(HandleFromText(u"  \t65590"), 65590);
    EXPECT_EQ(HandleFromText(u"+2147483647"), INT32_MAX);
    // Leading zeros count for nothing, also before the limits.
    EXPECT_EQ(HandleFromText(u"0000000000002147483647"), INT32_MAX);
    EXPECT_EQ(HandleFromText(u"-0000000000002147483648"), INT32_MIN);
}

TEST(HandleText, TextThatIsNotAnIntegerIsATypeMismatch) {
    for (std::u16string_view bad :
         {u"未设置窗口", u"", u"   ", u"-", u"+", u"--1", u"+-1", u"1-", u"- 1", u"1 2", u"1.5", u"1.",
          u".5", u"1e3", u"&H10", u"0x10", u"1,000", u"12a", u"a12", u"１２", u"\u00A012",
          // Other blanks and digits than ASCII spaces, tabs and 0-9.
          u"12\n", u"\u30005", u"\u0661"}) {
        EXPECT_EQ(ErrorOf(bad), ErrorCode::TypeMismatch) << std::string(bad.begin(), bad.end());
    }
    // A NUL inside the text is a character like any other, not its end.
    EXPECT_EQ(ErrorOf(std::u16string_view(u"1\0", 2)), ErrorCode::TypeMismatch);
    EXPECT_EQ(ErrorOf(std::u16string_view(u"1\0" u"2", 3)), ErrorCode::TypeMismatch);
}

TEST(HandleText, NumbersOutsideTheSigned32BitRangeOverflow) {
    EXPECT_EQ(ErrorOf(u"2147483648"), ErrorCode::Overflow);
    EXPECT_EQ(ErrorOf(u"-2147483649"), ErrorCode::Overflow);
    EXPECT_EQ(ErrorOf(u"4294967296"), ErrorCode::Overflow);
    EXPECT_EQ(ErrorOf(u"99999999999999999999999999999"), ErrorCode::Overflow);
    // A wrapped value must never come back as a handle.
    EXPECT_EQ(ErrorOf(u"4294967297"), ErrorCode::Overflow);
}

TEST(HandleText, ALaterNonDigitStillMakesATypeMismatchOfALongNumber) {
    EXPECT_EQ(ErrorOf(u"99999999999x"), ErrorCode::TypeMismatch);
}

TEST(HandleText, TheConversionWithoutRaisingAgreesWithTheOneThatRaises) {
    for (std::u16string_view text : {u"0", u" -12 ", u"+7", u"-2147483648", u"2147483647", u"未设置窗口",
                                     u"", u"1.5", u"2147483648", u"-2147483649", u"99999999999x"}) {
        std::int32_t value = 12345;
        ErrorCode error = ErrorCode::CreateFailed;
        const bool ok = TryHandleFromText(text, value, &error);
        std::int32_t raised = 0;
        try {
            raised = HandleFromText(text);
        } catch (const Error& e) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error, e.code());
            EXPECT_EQ(value, 12345) << "a failed conversion leaves the value alone";
            continue;
        }
        EXPECT_TRUE(ok);
        EXPECT_EQ(value, raised);
    }
}

TEST(HandleText, ErrorsCarryAText) {
    try {
        HandleFromText(u"未设置窗口");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_FALSE(e.text().empty());
    }
}

TEST(Text, TooLongForAControlIsAControlError) {
    const std::u16string longText(Text::kCapacity, u'x');
    try {
        Text t(longText);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::ControlAccess);
    }
    const std::u16string fits(Text::kCapacity - 1, u'x');
    EXPECT_EQ(Text(fits).size(), fits.size());
}

}  // namespace
}  // namespace kavrelo

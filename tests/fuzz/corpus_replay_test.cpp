// Replays every file of the fuzz corpus (tests/fuzz/corpus) through the same
// checks as the libFuzzer target, with g++ and no sanitizer runtime. Also
// checks the reference itself on known answers, and that the corpus catches
// a few plausible faults of a handle-text parser.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "handle_text_oracle.h"

#ifndef KAVRELO_FUZZ_CORPUS_DIR
#error "KAVRELO_FUZZ_CORPUS_DIR must name the corpus folder"
#endif

namespace kavrelo::fuzz {
namespace {

struct CorpusFile {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

std::vector<CorpusFile> ReadCorpus() {
    std::vector<CorpusFile> files;
    const std::filesystem::path dir(KAVRELO_FUZZ_CORPUS_DIR);
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        CorpusFile f;
        f.name = entry.path().filename().string();
        f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        files.push_back(std::move(f));
    }
    return files;
}

bool HasFile(const std::vector<CorpusFile>& files, const std::string& name) {
    for (const auto& f : files) {
        if (f.name == name) return true;
    }
    return false;
}

TEST(FuzzCorpus, IsPresentWithItsSeeds) {
    const auto files = ReadCorpus();
    ASSERT_FALSE(files.empty()) << "no corpus files in " << KAVRELO_FUZZ_CORPUS_DIR;
    for (const char* seed : {"seed-zero", "seed-int32-min", "seed-int32-max", "seed-above-max",
                             "seed-below-min", "seed-not-set-utf16le", "seed-empty",
                             "seed-fullwidth-digits-utf16le", "seed-nul-after-digit"}) {
        EXPECT_TRUE(HasFile(files, seed)) << seed << " is missing from the corpus";
    }
}

TEST(FuzzCorpus, EveryFilePassesEveryCheck) {
    const auto files = ReadCorpus();
    ASSERT_FALSE(files.empty()) << "no corpus files in " << KAVRELO_FUZZ_CORPUS_DIR;
    for (const auto& f : files) {
        for (const std::string& fault : CheckInput(f.bytes.data(), f.bytes.size())) {
            ADD_FAILURE() << f.name << ": " << fault;
        }
    }
}

// The reference on answers worked out by hand, so that a fault shared by the
// reference and the program does not pass unseen.
TEST(FuzzCorpus, ReferenceGivesTheKnownAnswers) {
    const auto value = [](std::int32_t v) { return Outcome::Of(v); };
    const Outcome mismatch = Outcome::Raised(ErrorCode::TypeMismatch);
    const Outcome overflow = Outcome::Raised(ErrorCode::Overflow);
    const struct {
        std::u16string text;
        Outcome expected;
    } cases[] = {
        {u"0", value(0)},
        {u"-0", value(0)},
        {u"+0", value(0)},
        {u"7", value(7)},
        {u" 12 ", value(12)},
        {u"\t-7\t", value(-7)},
        {u"  \t65590", value(65590)},
        {u"2147483647", value(INT32_MAX)},
        {u"-2147483648", value(INT32_MIN)},
        {u"+2147483647", value(INT32_MAX)},
        {u"0000000000002147483647", value(INT32_MAX)},
        {u"-0000000000002147483648", value(INT32_MIN)},
        {u"2147483648", overflow},
        {u"-2147483649", overflow},
        {u"4294967296", overflow},
        {u"99999999999999999999", overflow},
        {u"", mismatch},
        {u" ", mismatch},
        {u"+", mismatch},
        {u"-", mismatch},
        {u"- 1", mismatch},
        {u"1 2", mismatch},
        {u"+-1", mismatch},
        {u"1.5", mismatch},
        {u"1e3", mismatch},
        {u"&H10", mismatch},
        {u"0x10", mismatch},
        {u"1,000", mismatch},
        {u"12\n", mismatch},
        {u"\u00A05", mismatch},
        {u"\u30005", mismatch},
        {u"\uFF11\uFF12", mismatch},
        {u"\u0661", mismatch},
        {u"\u672A\u8BBE\u7F6E\u7A97\u53E3", mismatch},
        {std::u16string(u"1\0", 2), mismatch},
        {u"99999999999x", mismatch},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Describe(ReferenceHandleFromText(c.text)), Describe(c.expected))
            << Escape(c.text);
    }
}

// Faulty parsers, each close to the real one: the corpus must catch each.
std::int32_t NoBlanks(std::u16string_view text) {
    if (!text.empty() && (text.front() == u' ' || text.back() == u' ')) {
        throw Error(ErrorCode::TypeMismatch, u"");
    }
    return HandleFromText(text);
}

std::int32_t NoMostNegative(std::u16string_view text) {
    const std::int32_t v = HandleFromText(text);
    if (v == INT32_MIN) throw Error(ErrorCode::Overflow, u"");
    return v;
}

std::int32_t WrapsAround(std::u16string_view text) {
    try {
        return HandleFromText(text);
    } catch (const Error& e) {
        if (e.code() != ErrorCode::Overflow) throw;
        return 0;
    }
}

std::int32_t FullWidthDigits(std::u16string_view text) {
    std::u16string ascii(text);
    for (char16_t& c : ascii) {
        if (c >= u'\uFF10' && c <= u'\uFF19') c = static_cast<char16_t>(c - 0xFF10 + u'0');
    }
    return HandleFromText(ascii);
}

std::int32_t StopsAtNul(std::u16string_view text) {
    return HandleFromText(text.substr(0, text.find(u'\0')));
}

std::int32_t AcceptsNothing(std::u16string_view) {
    throw Error(ErrorCode::TypeMismatch, u"");
}

TEST(FuzzCorpus, CatchesFaultyParsers) {
    const auto files = ReadCorpus();
    ASSERT_FALSE(files.empty()) << "no corpus files in " << KAVRELO_FUZZ_CORPUS_DIR;
    const struct {
        const char* name;
        HandleParser parse;
    } faulty[] = {
        {"no blanks", &NoBlanks},         {"no most negative value", &NoMostNegative},
        {"wraps around", &WrapsAround},   {"full-width digits", &FullWidthDigits},
        {"stops at NUL", &StopsAtNul},    {"accepts nothing", &AcceptsNothing},
    };
    for (const auto& f : faulty) {
        bool caught = false;
        for (const auto& file : files) {
            if (!CheckInput(file.bytes.data(), file.bytes.size(), f.parse).empty()) {
                caught = true;
                break;
            }
        }
        EXPECT_TRUE(caught) << "no corpus file shows the fault: " << f.name;
    }
}

}  // namespace
}  // namespace kavrelo::fuzz

// Replays every file of the fuzz corpus (tests/fuzz/corpus) through the same
// checks as the libFuzzer target, with g++ and no sanitizer runtime: the
// program's conversions against the reference. The known answers of handle
// text are the cases of tests/unit/handle_text_test.cpp.
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

}  // namespace
}  // namespace kavrelo::fuzz

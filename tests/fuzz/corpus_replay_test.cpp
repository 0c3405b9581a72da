// Replays every file of the fuzz corpus through the fuzzer's checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "handle_text_oracle.h"

// The hand-written seeds (seed-*): every edge case of the handle text that
// the corpus started from. Fuzzing adds files and removes none, so fewer
// means the corpus lost some.
constexpr int kSeeds = 38;

TEST(FuzzCorpus, EveryFilePassesTheReference) {
    int files = 0, seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KAVRELO_FUZZ_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(kavrelo::fuzz::Check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
            << entry.path().filename();
        ++files;
        if (entry.path().filename().string().rfind("seed-", 0) == 0) ++seeds;
    }
    EXPECT_GE(seeds, kSeeds) << "seeds missing from the corpus";
    EXPECT_EQ(files, KAVRELO_FUZZ_CORPUS_FILES) << "files of the corpus not replayed";
}

// Replays every file of the fuzz corpus through the fuzzer's checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "handle_text_oracle.h"

TEST(FuzzCorpus, EveryFilePassesTheReference) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KAVRELO_FUZZ_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(kavrelo::fuzz::Check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
            << entry.path().filename();
        ++files;
    }
    EXPECT_EQ(files, KAVRELO_FUZZ_CORPUS_FILES) << "files of the corpus not replayed";
}

// Replays the fuzzer's corpus (real dumps as bytes and as driver text, and the inputs the fuzzer
// kept for the code paths they reach) through the reader, every query and the formulas. Run
// under the address sanitizer, a read or write past any buffer fails it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "EdidTestSupport.h"
#include "fuzz/EdidFuzzInput.h"

TEST(EdidFuzzRegression, ReplaysCorpus)
{
    const std::filesystem::path oCorpus = PELLIX_SOURCE_DIR "/tests/framework/edid/fuzz/corpus";
    std::vector<std::filesystem::path> aoFiles;
    for (const auto& roEntry : std::filesystem::directory_iterator(oCorpus))
        aoFiles.push_back(roEntry.path());
    std::sort(aoFiles.begin(), aoFiles.end());
    ASSERT_GE(aoFiles.size(), 80u);

    CPlatformRoot oRoot;
    for (const std::filesystem::path& roFile : aoFiles)
    {
        std::ifstream oStream(roFile, std::ios::binary);
        const std::vector<uint8_t> aInput((std::istreambuf_iterator<char>(oStream)), std::istreambuf_iterator<char>());
        ExerciseEdidInput(aInput.data(), aInput.size());
    }
    // The dump inputs went to the test's own platform root.
    EXPECT_TRUE(std::filesystem::exists(oRoot.EdidPath(0)));
}

// The minimised inputs of past fuzzing findings, replayed through the fuzz
// targets' hosts (fuzz/host): each folder of tests/fuzz-regressions is one
// target. Under the sanitizer build every replay must stay silent; a replay
// that hangs again runs into the test timeout.
#include <string>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "host/FuzzEntries.h"

namespace {

struct Target {
    const char* folder;
    int (*entry)(const uint8_t*, size_t);
};

const Target kTargets[] = {{"bmp", FuzzBmp},
                           {"jpeg", FuzzJpeg},
                           {"jpeg_thumbnail", FuzzJpegThumbnail},
                           {"imgproc", FuzzImgProc},
                           {"tiff", FuzzTiff},
                           {"tiff_resources", FuzzTiffResources},
                           {"gif", FuzzGif},
                           {"png", FuzzPng},
                           {"pict", FuzzPict},
                           {"dct", FuzzDct}};

class FuzzRegression : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzRegression, FindingsReplayCleanly)
{
    std::string dir = std::string(getenv("RASTIK_SOURCE_DIR")) + "/tests/fuzz-regressions/" + GetParam().folder;
    for (const std::string& path : testutil::ListFiles(dir, "", "")) {
        SCOPED_TRACE(path);
        std::vector<uint8_t> input = testutil::ReadBytes(path);
        EXPECT_EQ(GetParam().entry(input.data(), input.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegression, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.folder); });

}  // namespace

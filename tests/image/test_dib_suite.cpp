// The public BMP test suite through LoadDibImage: pixels against digests of an independent decoder's output,
// rejections with their exact message, and every file returning cleanly with at most one box.
#include "dib_test_util.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

struct SuiteExpectation {
    std::string outcome; // "image" or "error"
    int width = 0;
    int height = 0;
    std::string digestOrMessage;
};

static std::map<std::string, SuiteExpectation> ReadExpectations()
{
    std::map<std::string, SuiteExpectation> expected;
    std::ifstream in(TW_IMAGE_TEST_DATA "/bmp_suite_expected.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string name;
        SuiteExpectation e;
        fields >> name >> e.outcome;
        if (e.outcome == "image") {
            fields >> e.width >> e.height >> e.digestOrMessage;
        } else {
            fields >> std::ws;
            std::getline(fields, e.digestOrMessage);
        }
        expected[name] = e;
    }
    return expected;
}

TEST(DibSuite, EveryFileGivesItsExpectedImageOrMessage)
{
    std::map<std::string, SuiteExpectation> expected = ReadExpectations();
    ASSERT_GT(expected.size(), 80u);
    int checked = 0;
    for (const char* folder : {"g", "q", "b", "x"}) {
        std::filesystem::path dir = std::filesystem::path(TW_BMP_SUITE_DIR) / folder;
        ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::string name = std::string(folder) + "/" + entry.path().filename().string();
            SCOPED_TRACE(name);
            auto found = expected.find(name);
            ASSERT_NE(found, expected.end()) << "no expectation recorded";
            const SuiteExpectation& e = found->second;
            FakePlatformReset();
            ImagePtr image(LoadDibImage(entry.path().string().c_str()));
            if (e.outcome == "image") {
                ASSERT_TRUE(image) << OnlyMessage();
                EXPECT_TRUE(fakePlatform.boxes.empty());
                EXPECT_EQ(image->width, e.width);
                EXPECT_EQ(image->height, e.height);
                ASSERT_EQ(image->pixels.size(), size_t(e.width) * e.height * 3);
                if (e.digestOrMessage != "any") {
                    EXPECT_EQ(Sha256Hex(image->pixels.data(), image->pixels.size()), e.digestOrMessage);
                }
            } else {
                EXPECT_FALSE(image);
                ASSERT_EQ(fakePlatform.boxes.size(), 1u);
                EXPECT_EQ(fakePlatform.boxes[0].text, e.digestOrMessage);
                EXPECT_EQ(fakePlatform.boxes[0].caption, "Error");
                EXPECT_EQ(fakePlatform.boxes[0].flags, PLAT_MB_OK);
            }
            checked++;
        }
    }
    EXPECT_EQ(checked, int(expected.size()));
}

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(Sha256Hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string abc = "abc";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(twoBlocks.data()), twoBlocks.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

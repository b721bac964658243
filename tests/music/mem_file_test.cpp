// The host's in-memory file callbacks and the loader's ModFile routing over them.
#include "music/music.h"
#include "tools/xmwriter/xmwriter.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A real file of `size` bytes 0, 1, 2, ... in the temporary directory, removed at the end of the test.
struct TempFile {
    std::string path;
    explicit TempFile(int size)
    {
        path = ::testing::TempDir() + "memfile_" + std::to_string(::getpid()) + "_" + std::to_string(size);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        for (int k = 0; k < size; ++k)
            std::fputc(k & 0xFF, file);
        std::fclose(file);
    }
    ~TempFile() { std::remove(path.c_str()); }
};

TEST(MemFile, ReadsTheWholeFileAndStopsAtItsEnd)
{
    TempFile source(100);
    void* handle = MemFileOpen(source.path.c_str());
    auto* file = static_cast<MemFile*>(handle);
    ASSERT_EQ(file->length, 100);
    EXPECT_EQ(MemFileTell(handle), 0);

    MemFileSeek(handle, 96, FileSeekStart);
    std::vector<uint8_t> buffer(10, 0xEE);
    MemFileRead(buffer.data(), 10, handle);
    EXPECT_EQ(MemFileTell(handle), 100);
    EXPECT_EQ(buffer[0], 96);
    EXPECT_EQ(buffer[3], 99);
    EXPECT_EQ(buffer[4], 0xEE) << "bytes beyond what was delivered stay as they were";

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    MemFileRead(buffer.data(), 10, handle);
    EXPECT_EQ(MemFileTell(handle), 100);
    EXPECT_EQ(buffer[0], 0xEE);

    // Counts of zero or below deliver nothing and do not move the position.
    MemFileSeek(handle, 10, FileSeekStart);
    MemFileRead(buffer.data(), 0, handle);
    MemFileRead(buffer.data(), -5, handle);
    MemFileRead(buffer.data(), INT32_MIN, handle);
    EXPECT_EQ(MemFileTell(handle), 10);
    EXPECT_EQ(buffer[0], 0xEE);

    // A count near the 32-bit limit cannot overflow the end test.
    MemFileRead(buffer.data(), INT32_MAX, nullptr);
    std::vector<uint8_t> whole(100);
    MemFileSeek(handle, 90, FileSeekStart);
    MemFileRead(whole.data(), INT32_MAX, handle);
    EXPECT_EQ(MemFileTell(handle), 100);
    EXPECT_EQ(whole[9], 99);
    MemFileClose(handle);
}

TEST(MemFile, SeeksFromEachOriginAndClampsToTheFile)
{
    TempFile source(100);
    void* handle = MemFileOpen(source.path.c_str());

    MemFileSeek(handle, 0, FileSeekEnd);
    EXPECT_EQ(MemFileTell(handle), 100);
    MemFileSeek(handle, 500, FileSeekStart);
    EXPECT_EQ(MemFileTell(handle), 100);
    MemFileSeek(handle, 10, FileSeekStart);
    MemFileSeek(handle, 23, FileSeekCurrent);
    EXPECT_EQ(MemFileTell(handle), 33);
    MemFileSeek(handle, -3, FileSeekEnd);
    EXPECT_EQ(MemFileTell(handle), 97);

    // Unknown origins leave the position where it is.
    MemFileSeek(handle, 5, 3);
    EXPECT_EQ(MemFileTell(handle), 97);
    MemFileSeek(handle, 5, -1);
    EXPECT_EQ(MemFileTell(handle), 97);

    // Before the start clamps to 0; sums beyond 32 bits neither wrap nor go negative.
    MemFileSeek(handle, -1, FileSeekStart);
    EXPECT_EQ(MemFileTell(handle), 0);
    MemFileSeek(handle, -50, FileSeekCurrent);
    EXPECT_EQ(MemFileTell(handle), 0);
    MemFileSeek(handle, 50, FileSeekStart);
    MemFileSeek(handle, INT32_MAX, FileSeekCurrent);
    EXPECT_EQ(MemFileTell(handle), 100);
    MemFileSeek(handle, INT32_MIN, FileSeekCurrent);
    EXPECT_EQ(MemFileTell(handle), 0);
    MemFileSeek(handle, INT32_MAX, FileSeekEnd);
    EXPECT_EQ(MemFileTell(handle), 100);
    MemFileClose(handle);
}

TEST(MemFile, MissingFileOpensAsTheEmptyFile)
{
    void* handle = MemFileOpen("/nonexistent/dir/song.xm");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(static_cast<MemFile*>(handle)->length, 0);
    EXPECT_EQ(MemFileTell(handle), 0);
    uint8_t byte = 0x5A;
    MemFileRead(&byte, 1, handle);
    EXPECT_EQ(byte, 0x5A);
    MemFileSeek(handle, 10, FileSeekStart);
    EXPECT_EQ(MemFileTell(handle), 0);
    MemFileClose(handle);
}

TEST(ModFile, RoutesToTheRegisteredCallbacks)
{
    TempFile source(20);
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    EXPECT_TRUE(ModFileCallbacksRegistered());
    ModFile* file = ModFileOpen(source.path.c_str());
    ASSERT_NE(file, nullptr);
    ModFileSeek(file, 5, FileSeekStart);
    uint8_t bytes[2] = {};
    ModFileRead(bytes, 2, file);
    EXPECT_EQ(bytes[0], 5);
    EXPECT_EQ(bytes[1], 6);
    EXPECT_EQ(ModFileTell(file), 7);

    // Clearing the registration while a file is open: the file keeps the set it was opened with.
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(ModFileTell(file), 7);
    ModFileClose(file);
}

TEST(ModFile, AnyNullCallbackClearsTheRegistration)
{
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    ASSERT_TRUE(ModFileCallbacksRegistered());
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, nullptr);
    EXPECT_FALSE(ModFileCallbacksRegistered());
    EXPECT_EQ(ModFileOpen("/dev/null"), nullptr);
    EXPECT_EQ(ModLoadSong("/dev/null", nullptr), nullptr);

    // A null file does nothing and reports 0.
    uint8_t byte = 0x33;
    ModFileRead(&byte, 1, nullptr);
    EXPECT_EQ(byte, 0x33);
    EXPECT_EQ(ModFileSeek(nullptr, 4, FileSeekStart), 0);
    EXPECT_EQ(ModFileTell(nullptr), 0);
    ModFileClose(nullptr);
}

void* RefusingOpen(const char*)
{
    return nullptr;
}

TEST(ModFile, OpenThatFailsGivesNoFileAndNoSong)
{
    ModSetFileCallbacks(RefusingOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    EXPECT_EQ(ModFileOpen("anything"), nullptr);
    EXPECT_EQ(ModLoadSong("anything", nullptr), nullptr);
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(ModFile, MissingSongFileFailsAtTheSignature)
{
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    EXPECT_EQ(ModLoadSong("/nonexistent/data/glimrook.xm", nullptr), nullptr);
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
}

// Fails the first allocation after it is armed and lets the later ones through.
int allocationsSinceArmed = 0;
void* FirstAllocationFails(size_t bytes)
{
    return ++allocationsSinceArmed == 1 ? nullptr : ModSystemAllocZeroed(bytes);
}

// The host's open with no memory for the MemFile record itself; the file's copy would still get memory.
void* OpenWithoutMemoryForTheRecord(const char* path)
{
    allocationsSinceArmed = 0;
    ModAllocZeroed = FirstAllocationFails;
    void* handle = MemFileOpen(path);
    ModAllocZeroed = ModSystemAllocZeroed;
    return handle;
}

TEST(MemFile, ARecordThatCannotBeAllocatedFailsTheLoadCleanly)
{
    XmModule module;
    module.channelCount = 2;
    module.orders = {0};
    module.patterns.push_back(XmMakePattern(4, 2));
    std::string path = ::testing::TempDir() + "memfile_record_" + std::to_string(::getpid()) + ".xm";
    ASSERT_TRUE(XmSaveModule(module, path.c_str()));

    EXPECT_EQ(OpenWithoutMemoryForTheRecord(path.c_str()), nullptr);
    EXPECT_EQ(allocationsSinceArmed, 1) << "the file was read without a record to hold it";

    ModSetFileCallbacks(OpenWithoutMemoryForTheRecord, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    EXPECT_EQ(ModFileOpen(path.c_str()), nullptr);
    EXPECT_EQ(ModLoadSong(path.c_str(), nullptr), nullptr);
    // With memory for the record the same file loads.
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong(path.c_str(), nullptr);
    EXPECT_NE(song, nullptr);
    ModFreeSong(song);
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    std::remove(path.c_str());
}

} // namespace

// The host's in-memory file callbacks and the loader's ModFile routing over them.
#include "music/music.h"
#include "tools/xmwriter/xmwriter.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
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

// ---- Whole files and the kept file ----------------------------------------------------------------------------

std::vector<uint8_t> Counting(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t k = 0; k < size; ++k)
        bytes[k] = static_cast<uint8_t>(k * 7 + k / 251);
    return bytes;
}

// A pipe whose other end a thread fills with `bytes` in pieces, as a command in "<(...)" does; the thread
// stops early when the reader goes away.
struct PipeSource {
    std::FILE* stream = nullptr;
    std::thread writer;
    explicit PipeSource(const std::vector<uint8_t>& bytes)
    {
        // The writer sees the reader go when it stops early; the test must not die of that.
        signal(SIGPIPE, SIG_IGN);
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        stream = ::fdopen(ends[0], "rb");
        int out = ends[1];
        writer = std::thread([out, &bytes] {
            for (size_t at = 0; at < bytes.size(); at += 3000) {
                size_t count = std::min<size_t>(3000, bytes.size() - at);
                if (::write(out, bytes.data() + at, count) != static_cast<ssize_t>(count))
                    break;
            }
            ::close(out);
        });
    }
    ~PipeSource()
    {
        std::fclose(stream);
        writer.join();
    }
};

TEST(WholeFile, ARegularFileWithinTheLimitAndBeyondIt)
{
    TempFile source(100);
    WholeFile whole = MemFileReadWhole(source.path.c_str(), 100);
    ASSERT_EQ(whole.result, WholeFileResult::Read);
    ASSERT_EQ(whole.length, 100);
    EXPECT_EQ(whole.data[0], 0);
    EXPECT_EQ(whole.data[99], 99);
    std::free(whole.data);

    // One byte over the limit: refused by its size, before a byte is read.
    std::FILE* stream = std::fopen(source.path.c_str(), "rb");
    whole = MemFileReadStream(stream, 99);
    EXPECT_EQ(whole.result, WholeFileResult::TooLarge);
    EXPECT_EQ(whole.data, nullptr);
    EXPECT_EQ(std::ftell(stream), 0);
    // From where the stream stands: the 60 bytes left are within a limit of 60.
    std::fseek(stream, 40, SEEK_SET);
    whole = MemFileReadStream(stream, 60);
    ASSERT_EQ(whole.result, WholeFileResult::Read);
    ASSERT_EQ(whole.length, 60);
    EXPECT_EQ(whole.data[0], 40);
    std::free(whole.data);
    std::fclose(stream);

    TempFile empty(0);
    whole = MemFileReadWhole(empty.path.c_str(), MemFileMaxBytes);
    EXPECT_EQ(whole.result, WholeFileResult::Read);
    EXPECT_EQ(whole.length, 0);
    EXPECT_EQ(whole.data, nullptr);

    EXPECT_EQ(MemFileReadWhole("/nonexistent/dir/song.xm", 100).result, WholeFileResult::Missing);
    EXPECT_EQ(MemFileReadWhole(nullptr, 100).result, WholeFileResult::Missing);
    EXPECT_EQ(MemFileReadWhole(::testing::TempDir().c_str(), 100).result, WholeFileResult::Unreadable);
    EXPECT_EQ(MemFileReadStream(nullptr, 100).result, WholeFileResult::Unreadable);
}

TEST(WholeFile, APipeHasNoSizeAndIsCheckedWhileItIsRead)
{
    // Larger than the first piece read and than a pipe's buffer, so the reading grows and waits.
    std::vector<uint8_t> bytes = Counting(300000);
    {
        PipeSource pipe(bytes);
        WholeFile whole = MemFileReadStream(pipe.stream, MemFileMaxBytes);
        ASSERT_EQ(whole.result, WholeFileResult::Read);
        ASSERT_EQ(whole.length, 300000);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), whole.data));
        std::free(whole.data);
    }
    {
        PipeSource pipe(bytes);
        WholeFile whole = MemFileReadStream(pipe.stream, 300000);
        EXPECT_EQ(whole.result, WholeFileResult::Read) << "exactly the limit";
        std::free(whole.data);
    }
    {
        PipeSource pipe(bytes);
        WholeFile whole = MemFileReadStream(pipe.stream, 299999);
        EXPECT_EQ(whole.result, WholeFileResult::TooLarge);
        EXPECT_EQ(whole.data, nullptr);
    }
}

int allocationsAllowed = 0;
void* AllocationsRunOut(size_t bytes)
{
    return allocationsAllowed-- > 0 ? ModSystemAllocZeroed(bytes) : nullptr;
}

TEST(WholeFile, NoMemoryForTheBytes)
{
    TempFile source(100);
    std::vector<uint8_t> bytes = Counting(200000);
    for (int allowed : {0, 1, 2}) {
        // A regular file needs one allocation; a pipe one per step of the growing buffer.
        allocationsAllowed = allowed;
        ModAllocZeroed = AllocationsRunOut;
        WholeFile file = MemFileReadWhole(source.path.c_str(), MemFileMaxBytes);
        PipeSource pipe(bytes);
        WholeFile piped = MemFileReadStream(pipe.stream, MemFileMaxBytes);
        ModAllocZeroed = ModSystemAllocZeroed;
        EXPECT_EQ(file.result, allowed == 0 ? WholeFileResult::NoMemory : WholeFileResult::Read) << allowed;
        EXPECT_EQ(piped.result, WholeFileResult::NoMemory) << allowed;
        EXPECT_EQ(piped.data, nullptr);
        std::free(file.data);
    }
}

// Bytes through a pipe opened by its name, as "<(...)" gives it ("/dev/fd/N"): a thread writes it whole
// and closes its end, so a second reading finds the pipe at its end.
struct ModulePipe {
    int ends[2] = {-1, -1};
    std::string path;
    std::thread writer;
    explicit ModulePipe(const std::vector<uint8_t>& bytes)
    {
        signal(SIGPIPE, SIG_IGN);
        EXPECT_EQ(::pipe(ends), 0);
        path = "/dev/fd/" + std::to_string(ends[0]);
        int out = ends[1];
        writer = std::thread([out, &bytes] {
            for (size_t at = 0; at < bytes.size(); at += 4096) {
                if (::write(out, bytes.data() + at, std::min<size_t>(4096, bytes.size() - at)) <= 0)
                    break;
            }
            ::close(out);
        });
    }
    ~ModulePipe()
    {
        ::close(ends[0]);
        writer.join();
    }
};

TEST(MemFile, APipeOpensWithAllItsBytes)
{
    // What a module from "<(...)" meets: no size, no seeking.
    std::vector<uint8_t> bytes = Counting(150000);
    ModulePipe pipe(bytes);
    void* handle = MemFileOpen(pipe.path.c_str());
    auto* file = static_cast<MemFile*>(handle);
    ASSERT_EQ(file->length, 150000);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), file->data));
    MemFileClose(handle);
}

XmModule SmallModule()
{
    XmModule module;
    module.channelCount = 2;
    module.orders = {0, 0};
    module.patterns.push_back(XmMakePattern(4, 2));
    return module;
}

TEST(MemFile, AKeptSongFromAPipeLoadsAsOftenAsItIsNeeded)
{
    // A recording loads its song twice: once to measure it, once to play it.
    std::vector<uint8_t> bytes = XmWriteModule(SmallModule());
    ModulePipe pipe(bytes);
    ASSERT_TRUE(MemFileKeep(pipe.path.c_str()));
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    for (int load = 1; load <= 3; ++load) {
        Song* song = ModLoadSong(pipe.path.c_str(), nullptr);
        ASSERT_NE(song, nullptr) << "load " << load;
        EXPECT_EQ(song->orderCount, 2);
        ModFreeSong(song);
    }
    MemFileForget();
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(MemFile, AKeptFileIsReadAtItsFirstOpenAndNeverAgain)
{
    std::string path = ::testing::TempDir() + "memfile_kept_" + std::to_string(::getpid());
    std::remove(path.c_str());
    ASSERT_TRUE(MemFileKeep(path.c_str()));
    // Not read when kept: the file may not be there yet.
    std::vector<uint8_t> first = Counting(50);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(first.data(), 1, first.size(), out);
    std::fclose(out);
    void* handle = MemFileOpen(path.c_str());
    ASSERT_EQ(static_cast<MemFile*>(handle)->length, 50);
    MemFileClose(handle);
    // Changed or gone since: the bytes of the first reading, a copy for each open.
    std::remove(path.c_str());
    void* again = MemFileOpen(path.c_str());
    void* third = MemFileOpen(path.c_str());
    ASSERT_EQ(static_cast<MemFile*>(again)->length, 50);
    EXPECT_NE(static_cast<MemFile*>(again)->data, static_cast<MemFile*>(third)->data);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), static_cast<MemFile*>(again)->data));
    MemFileClose(again);
    MemFileClose(third);
    // Another path is opened as ever; forgotten, the path is opened again (and is missing now).
    TempFile other(20);
    handle = MemFileOpen(other.path.c_str());
    EXPECT_EQ(static_cast<MemFile*>(handle)->length, 20);
    MemFileClose(handle);
    MemFileForget();
    handle = MemFileOpen(path.c_str());
    EXPECT_EQ(static_cast<MemFile*>(handle)->length, 0);
    MemFileClose(handle);

    // A kept file that cannot be read opens as the empty file every time.
    ASSERT_TRUE(MemFileKeep("/nonexistent/dir/song.xm"));
    for (int k = 0; k < 2; ++k) {
        handle = MemFileOpen("/nonexistent/dir/song.xm");
        EXPECT_EQ(static_cast<MemFile*>(handle)->length, 0);
        MemFileClose(handle);
    }
    MemFileForget();
}

TEST(MemFile, KeptBytesStandForTheirPathOnly)
{
    std::vector<uint8_t> bytes = XmWriteModule(SmallModule());
    ASSERT_TRUE(MemFileKeepBytes("-", bytes.data(), static_cast<int32_t>(bytes.size())));
    bytes.assign(bytes.size(), 0);  // kept as a copy
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong("-", nullptr);
    ASSERT_NE(song, nullptr);
    ModFreeSong(song);
    EXPECT_EQ(ModLoadSong("./-", nullptr), nullptr) << "another path reads the file system";

    // Kept empty: the loader refuses it at the signature.
    ASSERT_TRUE(MemFileKeepBytes("-", nullptr, 0));
    EXPECT_EQ(ModLoadSong("-", nullptr), nullptr);

    // No memory to keep them: nothing is kept.
    allocationsAllowed = 1;
    ModAllocZeroed = AllocationsRunOut;
    EXPECT_FALSE(MemFileKeepBytes("-", bytes.data(), static_cast<int32_t>(bytes.size())));
    ModAllocZeroed = ModSystemAllocZeroed;
    EXPECT_EQ(ModLoadSong("-", nullptr), nullptr);
    MemFileForget();
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
}

} // namespace

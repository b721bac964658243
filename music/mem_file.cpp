// The host's file callbacks: the whole file is copied into memory when it is opened, and every later read,
// seek and tell is a bounds check and a memory copy. Also the one reading of a whole file that the intro and
// the tools share (a pipe included, within a limit), and the one file kept in memory for a song that is loaded
// more than once.
#include "music/music.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Bytes the first read of a file of unknown size asks for; the buffer doubles from there.
constexpr int64_t FirstChunkBytes = 64 * 1024;

// The kept file (main thread): its path, whether it has been read, and its bytes.
struct KeptFile {
    char* path;      // null while nothing is kept
    bool read;       // MemFileKeep reads at the first open
    uint8_t* data;   // length bytes, null when empty
    int32_t length;
};
static KeptFile kept;

WholeFile MemFileReadStream(std::FILE* stream, int64_t limit)
{
    WholeFile whole{WholeFileResult::Unreadable, nullptr, 0};
    if (stream == nullptr)
        return whole;
    limit = limit < 0 ? 0 : (limit > MemFileMaxBytes ? MemFileMaxBytes : limit);
    // A regular file tells its size: one that is too large is refused before a byte is read, and the buffer
    // is made one byte larger than the rest of it, so that its end is seen without a second allocation.
    int64_t capacity = FirstChunkBytes;
    struct stat info {};
    if (fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode)) {
        long at = std::ftell(stream);
        int64_t rest = int64_t{info.st_size} - (at > 0 ? at : 0);
        if (rest > limit) {
            whole.result = WholeFileResult::TooLarge;
            return whole;
        }
        capacity = (rest > 0 ? rest : 0) + 1;
    }
    // More than the limit is never read: one byte beyond it tells a file that is too large.
    if (capacity > limit + 1)
        capacity = limit + 1;
    auto* data = static_cast<uint8_t*>(ModAllocZeroed(static_cast<size_t>(capacity)));
    if (data == nullptr) {
        whole.result = WholeFileResult::NoMemory;
        return whole;
    }
    int64_t length = 0;
    for (;;) {
        if (length == capacity) {
            // A file that grew or has no size: a larger buffer, up to one byte beyond the limit.
            if (capacity > limit) {
                std::free(data);
                whole.result = WholeFileResult::TooLarge;
                return whole;
            }
            int64_t larger = capacity * 2 < FirstChunkBytes ? FirstChunkBytes : capacity * 2;
            larger = larger > limit + 1 ? limit + 1 : larger;
            auto* grown = static_cast<uint8_t*>(ModAllocZeroed(static_cast<size_t>(larger)));
            if (grown == nullptr) {
                std::free(data);
                whole.result = WholeFileResult::NoMemory;
                return whole;
            }
            std::memcpy(grown, data, static_cast<size_t>(length));
            std::free(data);
            data = grown;
            capacity = larger;
        }
        size_t wanted = static_cast<size_t>(capacity - length);
        size_t got = std::fread(data + length, 1, wanted, stream);
        length += static_cast<int64_t>(got);
        if (got < wanted) {
            if (std::ferror(stream) != 0) {
                std::free(data);
                return whole;  // unreadable: a directory, or an input error part way
            }
            break;  // the end of the file
        }
    }
    if (length > limit) {
        std::free(data);
        whole.result = WholeFileResult::TooLarge;
        return whole;
    }
    whole.result = WholeFileResult::Read;
    if (length == 0) {
        std::free(data);
        return whole;
    }
    whole.data = data;
    whole.length = static_cast<int32_t>(length);
    return whole;
}

WholeFile MemFileReadWhole(const char* path, int64_t limit)
{
    std::FILE* stream = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (stream == nullptr) {
        bool missing = path == nullptr || errno == ENOENT || errno == ENOTDIR;
        return WholeFile{missing ? WholeFileResult::Missing : WholeFileResult::Unreadable, nullptr, 0};
    }
    WholeFile whole = MemFileReadStream(stream, limit);
    std::fclose(stream);
    return whole;
}

std::string MemFileReadFailure(WholeFileResult result)
{
    switch (result) {
    case WholeFileResult::Read:
        break;
    case WholeFileResult::Missing:
        return "no such file";
    case WholeFileResult::Unreadable:
        return "the file cannot be read";
    case WholeFileResult::TooLarge:
        return "larger than the loader takes (" + std::to_string(MemFileMaxBytes) + " bytes)";
    case WholeFileResult::NoMemory:
        return "not enough memory to read it";
    }
    return "";
}

void MemFileForget()
{
    std::free(kept.path);
    std::free(kept.data);
    kept = KeptFile{};
}

// Keeps the path, not yet read; false without memory for it.
static bool KeepPath(const char* path)
{
    MemFileForget();
    if (path == nullptr)
        return false;
    size_t size = std::strlen(path) + 1;
    kept.path = static_cast<char*>(ModAllocZeroed(size));
    if (kept.path == nullptr)
        return false;
    std::memcpy(kept.path, path, size);
    return true;
}

bool MemFileKeep(const char* path)
{
    return KeepPath(path);
}

bool MemFileKeepBytes(const char* path, const uint8_t* data, int32_t length)
{
    if (!KeepPath(path))
        return false;
    kept.read = true;
    if (data == nullptr || length <= 0)
        return true;
    kept.data = static_cast<uint8_t*>(ModAllocZeroed(static_cast<size_t>(length)));
    if (kept.data == nullptr) {
        MemFileForget();
        return false;
    }
    std::memcpy(kept.data, data, static_cast<size_t>(length));
    kept.length = length;
    return true;
}

void* MemFileOpen(const char* path)
{
    auto* file = static_cast<MemFile*>(ModAllocZeroed(sizeof(MemFile)));
    if (file == nullptr)
        return nullptr;
    if (kept.path == nullptr || path == nullptr || std::strcmp(path, kept.path) != 0) {
        // A missing or unreadable file reads as an empty one: opening never reports failure, the loader's
        // signature check does.
        WholeFile whole = MemFileReadWhole(path, MemFileMaxBytes);
        file->data = whole.data;
        file->length = whole.length;
        return file;
    }
    if (!kept.read) {
        // Read once, whatever comes of it: a pipe read again would give nothing, or the wrong bytes.
        WholeFile whole = MemFileReadWhole(path, MemFileMaxBytes);
        kept.read = true;
        kept.data = whole.data;
        kept.length = whole.length;
    }
    if (kept.length > 0) {
        // Each open owns its copy, as it owns a file's bytes; without memory for it, the empty file.
        file->data = static_cast<uint8_t*>(ModAllocZeroed(static_cast<size_t>(kept.length)));
        if (file->data != nullptr) {
            std::memcpy(file->data, kept.data, static_cast<size_t>(kept.length));
            file->length = kept.length;
        }
    }
    return file;
}

void MemFileClose(void* handle)
{
    auto* file = static_cast<MemFile*>(handle);
    if (file == nullptr)
        return;
    std::free(file->data);
    std::free(file);
}

void MemFileRead(void* buffer, int32_t count, void* handle)
{
    auto* file = static_cast<MemFile*>(handle);
    if (file == nullptr || buffer == nullptr || count <= 0)
        return;
    // Compared against what is left rather than position + count, which could overflow.
    int32_t left = file->length - file->position;
    if (count > left)
        count = left;
    if (count <= 0)
        return;
    std::memcpy(buffer, file->data + file->position, static_cast<size_t>(count));
    file->position += count;
}

int32_t MemFileSeek(void* handle, int32_t offset, int32_t origin)
{
    auto* file = static_cast<MemFile*>(handle);
    if (file == nullptr)
        return 0;
    int64_t position;
    switch (origin) {
    case FileSeekStart: position = offset; break;
    case FileSeekCurrent: position = int64_t{file->position} + offset; break;
    case FileSeekEnd: position = int64_t{file->length} + offset; break;
    default: return 0;  // an unknown origin leaves the position where it is
    }
    if (position < 0)
        position = 0;
    if (position > file->length)
        position = file->length;
    file->position = static_cast<int32_t>(position);
    return 0;
}

int32_t MemFileTell(void* handle)
{
    auto* file = static_cast<MemFile*>(handle);
    return file != nullptr ? file->position : 0;
}

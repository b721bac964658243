// The host's file callbacks: the whole file is copied into memory when it is opened, and every later read,
// seek and tell is a bounds check and a memory copy.
#include "music/music.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void* MemFileOpen(const char* path)
{
    auto* file = static_cast<MemFile*>(ModAllocZeroed(sizeof(MemFile)));
    if (file == nullptr)
        return nullptr;
    // A missing file reads as an empty one: opening never reports failure, the loader's signature check does.
    std::FILE* stream = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (stream == nullptr)
        return file;
    long size = -1;
    if (std::fseek(stream, 0, SEEK_END) == 0)
        size = std::ftell(stream);
    // A size that cannot be taken, does not fit the 32-bit position, or cannot be allocated: the empty file.
    if (size > 0 && size <= INT32_MAX && std::fseek(stream, 0, SEEK_SET) == 0) {
        auto* data = static_cast<uint8_t*>(ModAllocZeroed(static_cast<size_t>(size)));
        if (data != nullptr) {
            // A file that shrank since its size was taken keeps only what could be read.
            size_t got = std::fread(data, 1, static_cast<size_t>(size), stream);
            if (got > 0) {
                file->data = data;
                file->length = static_cast<int32_t>(got);
            } else {
                std::free(data);
            }
        }
    }
    std::fclose(stream);
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

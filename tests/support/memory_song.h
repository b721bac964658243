// Songs loaded from bytes in memory, or from a module described for the XM writer, for the tests, the
// benchmarks and the fuzz targets: the open callback hands out a MemFile over a copy of the bytes, and the
// other four operations are the host's own MemFile callbacks, so every read, seek and tell of the loader runs
// through the code the intro uses.
#pragma once

#include "music/music.h"
#include "tools/xmwriter/xmwriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// The bytes the next open hands out (main thread; set only for the length of one load).
struct MemorySongBytes {
    const uint8_t* data;
    size_t size;
};

inline MemorySongBytes& MemorySongSource()
{
    static MemorySongBytes source{};
    return source;
}

// The open callback: a MemFile over a copy of the source bytes, whatever the path; null when memory runs out.
inline void* MemorySongOpen(const char*)
{
    const MemorySongBytes& source = MemorySongSource();
    auto* file = static_cast<MemFile*>(std::calloc(1, sizeof(MemFile)));
    if (file == nullptr) {
        return nullptr;
    }
    // One spare byte, so that an empty source still gets a buffer of its own.
    file->data = static_cast<uint8_t*>(std::malloc(source.size + 1));
    if (file->data == nullptr) {
        std::free(file);
        return nullptr;
    }
    if (source.size > 0) {
        std::memcpy(file->data, source.data, source.size);
    }
    file->length = static_cast<int32_t>(source.size);
    return file;
}

// Registers the in-memory callbacks and loads the song from `size` bytes (at most INT32_MAX); null when
// they are no module the loader takes. hook may be null. The callbacks stay registered.
inline Song* LoadSongBytes(const uint8_t* data, size_t size, SampleLoadCallback hook = nullptr)
{
    MemorySongSource() = MemorySongBytes{data, size};
    ModSetFileCallbacks(MemorySongOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong("memory", hook);
    // The caller's bytes may go once the load is done: no later open may see them.
    MemorySongSource() = MemorySongBytes{};
    return song;
}

inline Song* LoadSongBytes(const std::vector<uint8_t>& bytes, SampleLoadCallback hook = nullptr)
{
    return LoadSongBytes(bytes.data(), bytes.size(), hook);
}

// A song from a module written in memory with the XM writer; null if it does not load.
inline Song* LoadModule(const XmModule& module, SampleLoadCallback hook = nullptr)
{
    return LoadSongBytes(XmWriteModule(module), hook);
}

// Songs loaded from bytes in memory, or from a module described for the XM writer, for the tests, the
// benchmarks and the fuzz targets: the bytes are kept by the host's own in-memory file (MemFileKeepBytes), so
// every open, read, seek and tell of the loader runs through the code the intro uses.
#pragma once

#include "music/music.h"
#include "tools/xmwriter/xmwriter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The path the bytes are kept under for one load; no file of that name is opened.
constexpr char MemorySongPath[] = "memory";

// Registers the intro's file callbacks and loads the song from `size` bytes (at most INT32_MAX), kept in
// memory for the one load as a song read from a pipe is; null when they are no module the loader takes (or
// cannot be kept). hook may be null. The callbacks stay registered.
inline Song* LoadSongBytes(const uint8_t* data, size_t size, SampleLoadCallback hook = nullptr)
{
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    if (!MemFileKeepBytes(MemorySongPath, data, static_cast<int32_t>(size))) {
        return nullptr;
    }
    Song* song = ModLoadSong(MemorySongPath, hook);
    // The caller's bytes may go once the load is done: no later open may see them.
    MemFileForget();
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

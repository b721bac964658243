// File access for the module loader: the process-wide set of five host callbacks and the small ModFile
// handle that routes every operation to them.
#include "music/music.h"

#include <cstdlib>

// The registered set; all five set or all five null (main thread).
static FileCallbacks Registered;

void ModSetFileCallbacks(FileOpenCallback open, FileCloseCallback close, FileReadCallback read,
                         FileSeekCallback seek, FileTellCallback tell)
{
    if (open == nullptr || close == nullptr || read == nullptr || seek == nullptr || tell == nullptr) {
        Registered = FileCallbacks{};
        return;
    }
    Registered = FileCallbacks{open, close, read, seek, tell};
}

bool ModFileCallbacksRegistered()
{
    return Registered.open != nullptr;
}

ModFile* ModFileOpen(const char* path)
{
    if (!ModFileCallbacksRegistered())
        return nullptr;
    auto* file = static_cast<ModFile*>(ModAllocZeroed(sizeof(ModFile)));
    if (file == nullptr)
        return nullptr;
    // The handle keeps the set it was opened with, so replacing or clearing the registration while a file
    // is open cannot route its later operations to callbacks that do not know its handle.
    file->callbacks = Registered;
    file->handle = file->callbacks.open(path);
    if (file->handle == nullptr) {
        std::free(file);
        return nullptr;
    }
    return file;
}

void ModFileClose(ModFile* file)
{
    if (file == nullptr)
        return;
    file->callbacks.close(file->handle);
    std::free(file);
}

void ModFileRead(void* buffer, int32_t count, ModFile* file)
{
    if (file == nullptr)
        return;
    file->callbacks.read(buffer, count, file->handle);
}

int32_t ModFileSeek(ModFile* file, int32_t offset, int32_t origin)
{
    if (file == nullptr)
        return 0;
    return file->callbacks.seek(file->handle, offset, origin);
}

int32_t ModFileTell(ModFile* file)
{
    if (file == nullptr)
        return 0;
    return file->callbacks.tell(file->handle);
}

// The running executable's path on Windows, in the ANSI code page as the intro's other file names.
#include "platform/win32/win32_internal.h"

#include <vector>

std::string PlatExecutablePath()
{
    // GetModuleFileNameA cuts a path that does not fit (and then fills the buffer): grow until it fits.
    for (DWORD size = MAX_PATH; size <= 32768 * 4; size *= 4) {
        std::vector<char> buffer(size);
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), size);
        if (length == 0) {
            return "";
        }
        if (length < size) {
            return std::string(buffer.data(), length);
        }
    }
    return "";
}

// The running executable's path on Linux: the kernel's link to it, with symbolic links already resolved, so
// a link in a folder on the PATH still leads to the folder the intro was installed or built in.
#include "platform/platform.h"

#include <unistd.h>

#include <vector>

std::string PlatExecutablePath()
{
    // A path longer than the buffer is cut by readlink without saying so: grow until it fits.
    for (size_t size = 4096; size <= 1024 * 1024; size *= 4) {
        std::vector<char> buffer(size);
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return "";
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
    }
    return "";
}

// The browser has no executable file: the page puts the intro's data at data/ in its own file system, where
// the intro looks first.
#include "platform/web/web_internal.h"

std::string PlatExecutablePath()
{
    return "";
}

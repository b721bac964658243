// composer OUT.xm: writes the intro's song. The bytes depend on nothing but this program, so running it
// again reproduces the committed "data/glimrook.xm" exactly.
#include "tools/composer/composer.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: composer OUT.xm\n");
        return 2;
    }
    std::vector<uint8_t> bytes = XmWriteModule(ComposeGlimrook());
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "composer: cannot write %s\n", argv[1]);
        return 1;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "composer: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %zu bytes\n", argv[1], bytes.size());
    return 0;
}

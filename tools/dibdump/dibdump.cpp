// dibdump FILE [OUT.ppm]: loads FILE with the intro's bitmap loader. Prints "WIDTH HEIGHT" and exits 0, or
// writes the loader's message to standard error and exits 1. With OUT.ppm it also writes the picture as a
// binary PPM (P6), top row first. Usage errors exit 2.
#include "image/image.h"
#include "platform/platform.h"

#include <cstdio>

static bool WritePpm(const RgbImage& image, const char* path)
{
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    bool ok = std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height) > 0;
    size_t rowBytes = static_cast<size_t>(image.width) * 3;
    for (int32_t row = image.height - 1; ok && row >= 0; row--) {
        ok = std::fwrite(image.pixels.data() + static_cast<size_t>(row) * rowBytes, 1, rowBytes, out) == rowBytes;
    }
    return std::fclose(out) == 0 && ok;
}

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: dibdump FILE [OUT.ppm]\n");
        return 2;
    }
    // A failure prints the loader's message ("Error: " and the text) instead of showing a box.
    PlatMessageBox = PlatMessageBoxToStderr;
    RgbImage* image = LoadDibImage(argv[1]);
    if (image == nullptr) {
        return 1;
    }
    std::printf("%d %d\n", image->width, image->height);
    int status = 0;
    if (argc == 3 && !WritePpm(*image, argv[2])) {
        std::fprintf(stderr, "dibdump: cannot write %s\n", argv[2]);
        status = 1;
    }
    FreeRgbImage(image);
    return status;
}

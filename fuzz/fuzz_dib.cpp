// libFuzzer target for the bitmap loader: any bytes must give either one image of consistent size or exactly
// one message, with nothing read or written out of bounds (the sanitizers watch the rest).
#include "image/image.h"
#include "platform/platform.h"

#include <cstdlib>

static int boxesShown = 0;

static int CountBox(PlatWindow, const char*, const char*, unsigned)
{
    boxesShown++;
    return PLAT_IDOK;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PlatMessageBox = CountBox;
    boxesShown = 0;
    RgbImage* image = LoadDibImageFromMemory(data, size, "fuzz.bmp");
    if (image == nullptr) {
        if (boxesShown != 1) {
            std::abort();
        }
        return 0;
    }
    uint64_t expectedBytes = static_cast<uint64_t>(image->width) * static_cast<uint64_t>(image->height) * 3;
    if (boxesShown != 0 || image->width <= 0 || image->height <= 0 || image->pixels.size() != expectedBytes) {
        std::abort();
    }
    // Touch the first and last pixel so a wrongly sized buffer shows up under AddressSanitizer.
    volatile uint8_t sink = image->pixels.front() ^ image->pixels.back();
    (void)sink;
    FreeRgbImage(image);
    return 0;
}

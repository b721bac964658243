// Preloaded into the intro by the bad-input tests: stands in for SDL2's message box, so that no box waits
// for a person. Each box is written to the file named by TW_BOX_LOG as one line "caption|text" (a newline in
// the text written as \n) and answered at once with its Return-key button, as a user pressing Return would.
//
// The two records mirror SDL2's message-box data as its stable ABI lays it out; the test's program does not
// otherwise depend on SDL.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct BoxButton {
    uint32_t flags;  // 1 = the Return key's button
    int buttonId;
    const char* text;
};

struct BoxData {
    uint32_t flags;
    void* window;
    const char* title;
    const char* message;
    int buttonCount;
    const BoxButton* buttons;
    const void* colorScheme;
};

constexpr uint32_t ReturnKeyDefault = 1;

}  // namespace

extern "C" int SDL_ShowMessageBox(const BoxData* data, int* buttonId)
{
    if (data == nullptr) {
        return -1;
    }
    if (const char* path = std::getenv("TW_BOX_LOG")) {
        if (std::FILE* log = std::fopen(path, "a")) {
            std::fputs(data->title != nullptr ? data->title : "", log);
            std::fputc('|', log);
            for (const char* c = data->message != nullptr ? data->message : ""; *c != '\0'; c++) {
                if (*c == '\n') {
                    std::fputs("\\n", log);
                } else {
                    std::fputc(*c, log);
                }
            }
            std::fputc('\n', log);
            std::fclose(log);
        }
    }
    int answer = -1;
    for (int i = 0; i < data->buttonCount; i++) {
        if ((data->buttons[i].flags & ReturnKeyDefault) != 0) {
            answer = data->buttons[i].buttonId;
            break;
        }
    }
    if (buttonId != nullptr) {
        *buttonId = answer;
    }
    return 0;
}

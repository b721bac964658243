// The scene drawn from its start, as the frame loop draws it, with chosen frames read back: the same source
// built twice, once over the system's OpenGL 1.1 and once over the fixed-function layer on OpenGL ES 2.0,
// so the two can be compared pixel for pixel.
#pragma once

#include <cstdint>
#include <vector>

// One window size and the frames (counted from 1) to keep at that size. The scene runs on from one size to
// the next, as it does across an F1.
struct SceneFramePlan {
    int width;
    int height;
    std::vector<int> frames;
    bool probe;  // one more frame of OpenGL calls the scene makes in other combinations (DrawProbe)
};

// The frames the check compares: the opening frame, the first refills of slots 0 and 1 (the text's opening
// spaces), a frame with the first nine characters of the greeting on the wave (from frame 181 on, one more
// every 16 frames), one in the 640 × 480 window of an F1, and the probe frame.
const std::vector<SceneFramePlan>& SceneFramePlans();

// On a cleared frame in the scene's projection, the calls of the scene in combinations the scene itself does
// not reach: flat and smooth shading with a colour per vertex, lines of width 1 and steep wide lines, an
// image of odd width (unpack alignment 1) zoomed at a 3-D raster position, an image half hidden behind a
// nearer quad (depth-tested at the raster depth) and one at a raster position outside the view volume,
// which must vanish whole though the image would reach into the window.
void DrawProbe();

// A frame read back: width × height × 4 bytes of red, green, blue, alpha, bottom row first.
struct SceneFrame {
    int width;
    int height;
    int number;
    std::vector<uint8_t> rgba;
};

// Starts the greeting from its beginning (assets loaded from data/, scene angle 0).
void StartScene();
// With a context current for a window of the plan's size: sets the projection and the scene state as the
// window layer does, draws up to the plan's last frame (continuing from `drawn` frames drawn before) and
// appends the frames of the plan (and the probe frame). Returns the number of frames drawn so far.
int DrawPlannedFrames(const SceneFramePlan& plan, int drawn, std::vector<SceneFrame>* out);

// The frames in one file: a count, then per frame its width, height, number and pixels (little-endian
// 32-bit integers).
bool WriteSceneFrames(const char* path, const std::vector<SceneFrame>& frames);
bool ReadSceneFrames(const char* path, std::vector<SceneFrame>* frames);

#include "tests/gles/scene_frames.h"

#include "platform/gl.h"
#include "scene/scene.h"
#include "shell/shell.h"

#include <cstdio>

const std::vector<SceneFramePlan>& SceneFramePlans()
{
    static const std::vector<SceneFramePlan> plans = {
        {800, 600, {1, 21, 37, 330}, false},
        {640, 480, {400}, true},
    };
    return plans;
}

void StartScene()
{
    ResetScrollerState();
    LoadGreetingAssets();
    treeAngle = 0.0f;
}

// A picture of odd width (37 pixels: rows of 111 bytes, so only an unpack alignment of 1 reads it right)
// with a colour gradient, bottom row first.
static const std::vector<uint8_t>& ProbeImage()
{
    static std::vector<uint8_t> pixels;
    if (pixels.empty()) {
        for (int y = 0; y < 23; y++) {
            for (int x = 0; x < 37; x++) {
                pixels.push_back(static_cast<uint8_t>(x * 7));
                pixels.push_back(static_cast<uint8_t>(y * 11));
                pixels.push_back(static_cast<uint8_t>(255 - x * 3 - y * 2));
            }
        }
    }
    return pixels;
}

static void DrawProbeImage()
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glDrawPixels(37, 23, GL_RGB, GL_UNSIGNED_BYTE, ProbeImage().data());
}

void DrawProbe()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -5.8f);

    // A flat quad takes the colour of its last vertex; a smooth triangle blends its three.
    glShadeModel(GL_FLAT);
    glBegin(GL_QUADS);
    glColor3ub(200, 30, 30);
    glVertex3f(-3.0f, 0.5f, 0.0f);
    glColor3ub(30, 200, 30);
    glVertex3f(-1.0f, 0.5f, 0.0f);
    glColor3ub(30, 30, 200);
    glVertex3f(-1.0f, 2.0f, 0.0f);
    glColor3ub(220, 220, 40);
    glVertex3f(-3.0f, 2.0f, 0.0f);
    glEnd();
    glShadeModel(GL_SMOOTH);
    glBegin(GL_TRIANGLES);
    glColor3ub(255, 0, 0);
    glVertex3f(0.0f, 0.5f, -2.0f);
    glColor3ub(0, 255, 0);
    glVertex3f(2.5f, 0.5f, -2.0f);
    glColor3ub(0, 0, 255);
    glVertex3f(1.2f, 2.2f, 1.0f);
    glEnd();

    // Thin lines, then steep and shallow wide ones, rotated.
    glColor3ub(255, 255, 255);
    glLineWidth(1.0f);
    glBegin(GL_LINE_LOOP);
    glVertex3f(-2.8f, -0.2f, 0.0f);
    glVertex3f(-0.5f, -0.4f, 0.0f);
    glVertex3f(-1.5f, -1.6f, 0.0f);
    glEnd();
    glPushMatrix();
    glTranslated(1.5, -1.0, 0.5);
    glRotatef(20.0f, 0.0f, 0.0f, 1.0f);
    glLineWidth(5.0f);
    glBegin(GL_LINES);
    glColor3ub(250, 120, 0);
    glVertex3f(0.0f, -0.8f, 0.0f);
    glVertex3f(0.1f, 0.8f, 0.0f);
    glVertex3f(-1.0f, 0.0f, 0.0f);
    glColor3ub(0, 120, 250);
    glVertex3f(1.0f, 0.3f, 0.0f);
    glEnd();
    glPopMatrix();

    // The image zoomed 2 × 3 at a 3-D raster position.
    glRasterPos3d(0.3, -2.2, 0.4);
    glPixelZoom(2.0f, 3.0f);
    DrawProbeImage();
    // Behind a nearer grey quad that covers its right half.
    glBegin(GL_QUADS);
    glColor3ub(90, 90, 90);
    glVertex3f(-1.5f, -2.3f, 0.5f);
    glVertex3f(-0.9f, -2.3f, 0.5f);
    glVertex3f(-0.9f, -1.0f, 0.5f);
    glVertex3f(-1.5f, -1.0f, 0.5f);
    glEnd();
    glRasterPos3d(-2.0, -2.0, -0.5);
    glPixelZoom(1.0f, 1.0f);
    DrawProbeImage();
    // Left of the view volume: the whole image is skipped, though it would reach into the window.
    glRasterPos2d(-3.25, 1.0);
    glPixelZoom(4.0f, 4.0f);
    DrawProbeImage();
    glPixelZoom(1.0f, 1.0f);
}

static SceneFrame ReadFrame(const SceneFramePlan& plan, int number)
{
    glFinish();
    SceneFrame frame{plan.width, plan.height, number, {}};
    frame.rgba.assign(static_cast<size_t>(plan.width) * plan.height * 4, 0);
    glReadPixels(0, 0, plan.width, plan.height, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
    return frame;
}

int DrawPlannedFrames(const SceneFramePlan& plan, int drawn, std::vector<SceneFrame>* out)
{
    ResizeScene(plan.width, plan.height);
    InitSceneState();
    for (int wanted : plan.frames) {
        while (drawn < wanted) {
            DrawScene();
            drawn++;
        }
        out->push_back(ReadFrame(plan, wanted));
    }
    if (plan.probe) {
        DrawProbe();
        // Numbered 0: not a frame of the scene.
        out->push_back(ReadFrame(plan, 0));
    }
    return drawn;
}

static bool WriteInt(std::FILE* file, int32_t value)
{
    uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    return std::fwrite(bytes, 1, 4, file) == 4;
}

static bool ReadInt(std::FILE* file, int32_t* value)
{
    uint8_t bytes[4];
    if (std::fread(bytes, 1, 4, file) != 4) {
        return false;
    }
    *value = static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t{bytes[3]} << 24));
    return true;
}

bool WriteSceneFrames(const char* path, const std::vector<SceneFrame>& frames)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = WriteInt(file, static_cast<int32_t>(frames.size()));
    for (const SceneFrame& frame : frames) {
        ok = ok && WriteInt(file, frame.width) && WriteInt(file, frame.height) && WriteInt(file, frame.number) &&
             std::fwrite(frame.rgba.data(), 1, frame.rgba.size(), file) == frame.rgba.size();
    }
    return std::fclose(file) == 0 && ok;
}

bool ReadSceneFrames(const char* path, std::vector<SceneFrame>* frames)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    int32_t count = 0;
    bool ok = ReadInt(file, &count) && count >= 0 && count <= 64;
    for (int32_t i = 0; ok && i < count; i++) {
        SceneFrame frame{};
        ok = ReadInt(file, &frame.width) && ReadInt(file, &frame.height) && ReadInt(file, &frame.number) &&
             frame.width > 0 && frame.width <= 4096 && frame.height > 0 && frame.height <= 4096;
        if (ok) {
            frame.rgba.resize(static_cast<size_t>(frame.width) * frame.height * 4);
            ok = std::fread(frame.rgba.data(), 1, frame.rgba.size(), file) == frame.rgba.size();
            frames->push_back(std::move(frame));
        }
    }
    std::fclose(file);
    return ok;
}

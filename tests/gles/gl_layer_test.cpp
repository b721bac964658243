// The fixed-function layer over OpenGL ES 2.0 against real OpenGL 1.1, both on Mesa's llvmpipe: the scene
// (tree, snowflakes, scroller, pictures, outline) at several frames and the probe frame, drawn once through
// the layer in an ES 2.0 context made here with EGL (no window system needed) and once by scene_frames_gl
// with the system's OpenGL in the intro's own window. Both draw into 16-bit colour (5-6-5) with a 16-bit
// depth buffer. At most 0.5 % of the pixels of a frame may differ by more than 8 levels in any channel.
#include "tests/gles/scene_frames.h"

#include "platform/gl.h"
#include "platform/platform.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr double MaxDifferingShare = 0.005;
constexpr int MaxLevelDifference = 8;

// An ES 2.0 context on a small pbuffer, drawing into a framebuffer object of the window's size.
class EsContext {
public:
    // Empty on success, else what failed.
    std::string Open(int width, int height)
    {
        // Mesa's surfaceless platform needs no window system, so a display server busy with the other tests
        // cannot refuse the connection; the default display serves where Mesa lacks it.
        auto platformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        if (platformDisplay != nullptr && clientExtensions != nullptr &&
            std::strstr(clientExtensions, "EGL_MESA_platform_surfaceless") != nullptr) {
            display = platformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        } else {
            display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        }
        if (display == EGL_NO_DISPLAY || eglInitialize(display, nullptr, nullptr) != EGL_TRUE) {
            return "no EGL display";
        }
        if (eglBindAPI(EGL_OPENGL_ES_API) != EGL_TRUE) {
            return "EGL has no OpenGL ES";
        }
        const EGLint configWanted[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT,
                                       EGL_NONE};
        EGLConfig config;
        EGLint configs = 0;
        if (eglChooseConfig(display, configWanted, &config, 1, &configs) != EGL_TRUE || configs < 1) {
            return "no EGL configuration for an ES 2.0 pbuffer";
        }
        const EGLint surfaceSize[] = {EGL_WIDTH, 16, EGL_HEIGHT, 16, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, surfaceSize);
        const EGLint version[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
        context = eglCreateContext(display, config, EGL_NO_CONTEXT, version);
        if (surface == EGL_NO_SURFACE || context == EGL_NO_CONTEXT ||
            eglMakeCurrent(display, surface, surface, context) != EGL_TRUE) {
            return "no ES 2.0 context";
        }
        glGenRenderbuffers(2, renderbuffers);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB565, width, height);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            return "the 5-6-5 framebuffer with 16-bit depth is incomplete";
        }
        // A new context starts with a viewport of its drawable, as a window's does.
        glViewport(0, 0, width, height);
        return PlatGlLayerContextCurrent() ? "" : "the layer's programs do not build";
    }

    ~EsContext()
    {
        if (context != EGL_NO_CONTEXT) {
            PlatGlLayerContextReleased();
            glDeleteFramebuffers(1, &framebuffer);
            glDeleteRenderbuffers(2, renderbuffers);
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display, context);
        }
        if (surface != EGL_NO_SURFACE) {
            eglDestroySurface(display, surface);
        }
    }

private:
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint renderbuffers[2] = {};
    GLuint framebuffer = 0;
};

// Pixels of two frames that differ by more than MaxLevelDifference in any colour channel.
int64_t DifferingPixels(const SceneFrame& a, const SceneFrame& b)
{
    int64_t count = 0;
    for (size_t i = 0; i + 3 < a.rgba.size(); i += 4) {
        for (size_t c = 0; c < 3; c++) {
            if (std::abs(int(a.rgba[i + c]) - int(b.rgba[i + c])) > MaxLevelDifference) {
                count++;
                break;
            }
        }
    }
    return count;
}

// Pixels within 8 levels of the backdrop's colour: a frame of the scene is mostly backdrop.
int64_t BackdropPixels(const SceneFrame& frame)
{
    int64_t count = 0;
    for (size_t i = 0; i + 3 < frame.rgba.size(); i += 4) {
        count += std::abs(frame.rgba[i] - 125) <= 8 && std::abs(frame.rgba[i + 1] - 167) <= 8 &&
                 std::abs(frame.rgba[i + 2] - 217) <= 8;
    }
    return count;
}

// Writes a frame as a binary PPM (top row first), for a look at a failure.
void WritePpm(const fs::path& path, const SceneFrame& frame)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    std::fprintf(file, "P6\n%d %d\n255\n", frame.width, frame.height);
    for (int y = frame.height - 1; y >= 0; y--) {
        for (int x = 0; x < frame.width; x++) {
            std::fwrite(&frame.rgba[(static_cast<size_t>(y) * frame.width + x) * 4], 1, 3, file);
        }
    }
    std::fclose(file);
}

TEST(GlLayer, SceneAndProbeFramesMatchRealOpenGl)
{
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "no display: the reference frames need an OpenGL window (./test.sh runs this under Xvfb)";
    }
    ASSERT_TRUE(fs::exists("data/l1.bmp")) << "run from the repository root (ctest does)";
    const fs::path folder = fs::temp_directory_path() / ("tw_gl_layer_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path referencePath = folder / "reference.frames";

    // The reference: real OpenGL 1.1 in its own process (the scene's state is program-wide).
    std::string command = std::string(SCENE_FRAMES_GL) + " '" + referencePath.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<SceneFrame> reference;
    ASSERT_TRUE(ReadSceneFrames(referencePath.c_str(), &reference));

    // The same frames through the layer, with a new context per window size as after an F1.
    PlatMessageBox = PlatMessageBoxToStderr;
    StartScene();
    std::vector<SceneFrame> layered;
    int drawn = 0;
    for (const SceneFramePlan& plan : SceneFramePlans()) {
        EsContext context;
        std::string failure = context.Open(plan.width, plan.height);
        ASSERT_EQ(failure, "");
        drawn = DrawPlannedFrames(plan, drawn, &layered);
    }

    ASSERT_EQ(layered.size(), reference.size());
    bool keep = false;
    for (size_t i = 0; i < layered.size(); i++) {
        const SceneFrame& ours = layered[i];
        const SceneFrame& real = reference[i];
        ASSERT_EQ(ours.width, real.width);
        ASSERT_EQ(ours.height, real.height);
        ASSERT_EQ(ours.number, real.number);
        const double pixels = double(ours.width) * ours.height;
        // Neither side may pass by drawing nothing: scene frames are mostly backdrop.
        if (real.number > 0) {
            EXPECT_GT(BackdropPixels(real), pixels * 0.3) << "reference frame " << real.number;
        }
        int64_t differing = DifferingPixels(ours, real);
        std::printf("frame %d at %dx%d: %lld of %.0f pixels differ by more than %d levels (%.3f %%)\n", real.number,
                    real.width, real.height, static_cast<long long>(differing), pixels, MaxLevelDifference,
                    100.0 * differing / pixels);
        EXPECT_LE(differing, pixels * MaxDifferingShare) << "frame " << real.number << " at " << real.width;
        if (differing > pixels * MaxDifferingShare) {
            std::string name = "frame" + std::to_string(real.number) + "_" + std::to_string(real.width);
            WritePpm(folder / (name + "_layer.ppm"), ours);
            WritePpm(folder / (name + "_opengl.ppm"), real);
            keep = true;
        }
    }
    // The probe frame is not the scene: it must differ from the last scene frame at its size.
    EXPECT_GT(DifferingPixels(layered[layered.size() - 1], layered[layered.size() - 2]), 10000);
    if (keep) {
        std::printf("frames that differ are kept in %s\n", folder.c_str());
    } else {
        fs::remove_all(folder);
    }
}

}  // namespace

// OpenGL 1.1 immediate mode over OpenGL ES 2.0. The layer keeps the fixed-function state itself (matrix
// stacks, current colour, shading, line width, raster position, pixel zoom) and turns every glBegin/glEnd
// pair into one draw of triangles or lines whose vertices it has already carried to clip coordinates, with
// the arithmetic OpenGL implementations use (single-precision matrices, the model-view-projection product
// formed once). ES 2.0 has no wide lines worth the name (WebGL allows width 1 only), so wider lines become
// quads in window space, widened along the minor axis as OpenGL's aliased wide lines are; glDrawPixels
// becomes a quad of the image as a texture, sampled nearest, at the raster position's depth.
#include "platform/gles/gl_layer.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// ---- State ---------------------------------------------------------------------------------------------

// A 4 × 4 matrix in OpenGL's column-major order.
struct Matrix {
    float m[16];
};

constexpr Matrix Identity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

// OpenGL's guaranteed stack depths.
constexpr int ModelViewDepth = 32;
constexpr int ProjectionDepth = 2;

// One vertex as the layer sends it: clip coordinates, colour, texture coordinates.
struct LayerVertex {
    float x, y, z, w;
    uint8_t rgba[4];
    float u, v;
};

// A vertex in clip coordinates.
struct Clip {
    float x, y, z, w;
};

// A vertex given between glBegin and glEnd: object coordinates and the colour current at the time.
struct ImmediateVertex {
    float x, y, z;
    uint8_t rgb[3];
};

// The emulated OpenGL state of the current context (main thread).
struct LayerState {
    Matrix modelView[ModelViewDepth];
    int modelViewTop;  // index of the current model-view matrix
    Matrix projection[ProjectionDepth];
    int projectionTop;
    GLenum matrixMode;  // PLAT_GL_MODELVIEW or PLAT_GL_PROJECTION
    uint8_t colour[3];  // current colour, 0..255 per channel
    GLenum shadeModel;
    float lineWidth;    // pixels
    GLint viewport[4];  // x, y, width, height in window pixels
    float zoomX, zoomY;
    bool rasterValid;
    float rasterX, rasterY, rasterZ;  // window coordinates; depth 0..1
    bool inBegin;
    GLenum primitive;  // mode of the glBegin in progress
};

LayerState state;

// The layer's objects in the current context; 0 when not made (main thread).
struct LayerObjects {
    GLuint colourProgram;
    GLuint imageProgram;
    GLint imageSampler;
    GLuint buffer;
    GLuint texture;
    GLint maxTextureSize;  // pixels; a larger image is not drawn
};

LayerObjects objects;

// Vertices of the glBegin in progress and of the draw being built, kept between frames so drawing allocates
// nothing once they have grown (main thread).
std::vector<ImmediateVertex> immediate;
std::vector<LayerVertex> drawVertices;
std::vector<Clip> clipped;

constexpr double Pi = 3.14159265358979323846;

constexpr GLuint PositionAttribute = 0;
constexpr GLuint ColourAttribute = 1;
constexpr GLuint TexCoordAttribute = 2;

const char* const VertexShader =
    "attribute vec4 position;\n"
    "attribute vec4 colour;\n"
    "attribute vec2 texCoord;\n"
    "varying vec4 vColour;\n"
    "varying vec2 vTexCoord;\n"
    "void main() {\n"
    "    gl_Position = position;\n"
    "    vColour = colour;\n"
    "    vTexCoord = texCoord;\n"
    "}\n";

const char* const ColourFragmentShader =
    "precision mediump float;\n"
    "varying vec4 vColour;\n"
    "void main() {\n"
    "    gl_FragColor = vColour;\n"
    "}\n";

const char* const ImageFragmentShader =
    "precision mediump float;\n"
    "varying vec2 vTexCoord;\n"
    "uniform sampler2D image;\n"
    "void main() {\n"
    "    gl_FragColor = texture2D(image, vTexCoord);\n"
    "}\n";

// ---- Matrices ------------------------------------------------------------------------------------------

Matrix& CurrentMatrix()
{
    return state.matrixMode == PLAT_GL_PROJECTION ? state.projection[state.projectionTop]
                                                  : state.modelView[state.modelViewTop];
}

// a × b, each element summed in column order in single precision.
Matrix Multiply(const Matrix& a, const Matrix& b)
{
    Matrix r;
    for (int column = 0; column < 4; column++) {
        for (int row = 0; row < 4; row++) {
            r.m[column * 4 + row] = a.m[row] * b.m[column * 4] + a.m[4 + row] * b.m[column * 4 + 1] +
                                    a.m[8 + row] * b.m[column * 4 + 2] + a.m[12 + row] * b.m[column * 4 + 3];
        }
    }
    return r;
}

void MultiplyCurrent(const Matrix& by)
{
    Matrix& current = CurrentMatrix();
    current = Multiply(current, by);
}

// Matrix calls between glBegin and glEnd are errors in OpenGL and change nothing.
bool MatrixCallAllowed()
{
    return !state.inBegin;
}

Clip Transform(const Matrix& m, float x, float y, float z)
{
    return Clip{m.m[0] * x + m.m[4] * y + m.m[8] * z + m.m[12], m.m[1] * x + m.m[5] * y + m.m[9] * z + m.m[13],
                m.m[2] * x + m.m[6] * y + m.m[10] * z + m.m[14], m.m[3] * x + m.m[7] * y + m.m[11] * z + m.m[15]};
}

Matrix ModelViewProjection()
{
    return Multiply(state.projection[state.projectionTop], state.modelView[state.modelViewTop]);
}

// ---- Objects -------------------------------------------------------------------------------------------

GLuint CompileShader(GLenum kind, const char* source)
{
    GLuint shader = glCreateShader(kind);
    if (shader == 0) {
        return 0;
    }
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLuint LinkProgram(const char* fragmentSource)
{
    GLuint vertex = CompileShader(GL_VERTEX_SHADER, VertexShader);
    GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, fragmentSource);
    GLuint program = vertex != 0 && fragment != 0 ? glCreateProgram() : 0;
    if (program != 0) {
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glBindAttribLocation(program, PositionAttribute, "position");
        glBindAttribLocation(program, ColourAttribute, "colour");
        glBindAttribLocation(program, TexCoordAttribute, "texCoord");
        glLinkProgram(program);
        GLint linked = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        if (linked != GL_TRUE) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    // The program keeps what it needs of its shaders.
    if (vertex != 0) {
        glDeleteShader(vertex);
    }
    if (fragment != 0) {
        glDeleteShader(fragment);
    }
    return program;
}

void DeleteObjects()
{
    if (objects.colourProgram != 0) {
        glDeleteProgram(objects.colourProgram);
    }
    if (objects.imageProgram != 0) {
        glDeleteProgram(objects.imageProgram);
    }
    if (objects.buffer != 0) {
        glDeleteBuffers(1, &objects.buffer);
    }
    if (objects.texture != 0) {
        glDeleteTextures(1, &objects.texture);
    }
    objects = LayerObjects{};
}

bool Ready()
{
    return objects.colourProgram != 0 && objects.imageProgram != 0 && objects.buffer != 0 && objects.texture != 0;
}

void ResetState()
{
    state = LayerState{};
    for (Matrix& m : state.modelView) {
        m = Identity;
    }
    for (Matrix& m : state.projection) {
        m = Identity;
    }
    state.matrixMode = PLAT_GL_MODELVIEW;
    state.colour[0] = state.colour[1] = state.colour[2] = 255;
    state.shadeModel = PLAT_GL_SMOOTH;
    state.lineWidth = 1.0f;
    state.zoomX = state.zoomY = 1.0f;
    // The initial raster position is the origin of the clip volume, which is valid.
    state.rasterValid = true;
    state.primitive = GL_TRIANGLES;
}

// ---- Drawing -------------------------------------------------------------------------------------------

LayerVertex ColourVertex(const Clip& c, const uint8_t* rgb)
{
    return LayerVertex{c.x, c.y, c.z, c.w, {rgb[0], rgb[1], rgb[2], 255}, 0.0f, 0.0f};
}

void SetAttribute(GLuint index, GLint size, GLenum type, GLboolean normalised, size_t offset, bool used)
{
    if (used) {
        glEnableVertexAttribArray(index);
        glVertexAttribPointer(index, size, type, normalised, sizeof(LayerVertex), reinterpret_cast<const void*>(offset));
    } else {
        glDisableVertexAttribArray(index);
    }
}

// Draws drawVertices as `mode` with the colour or the image program.
void Submit(GLenum mode, bool image)
{
    if (drawVertices.empty()) {
        return;
    }
    glUseProgram(image ? objects.imageProgram : objects.colourProgram);
    glBindBuffer(GL_ARRAY_BUFFER, objects.buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(drawVertices.size() * sizeof(LayerVertex)),
                 drawVertices.data(), GL_STREAM_DRAW);
    SetAttribute(PositionAttribute, 4, GL_FLOAT, GL_FALSE, offsetof(LayerVertex, x), true);
    SetAttribute(ColourAttribute, 4, GL_UNSIGNED_BYTE, GL_TRUE, offsetof(LayerVertex, rgba), !image);
    SetAttribute(TexCoordAttribute, 2, GL_FLOAT, GL_FALSE, offsetof(LayerVertex, u), image);
    glDrawArrays(mode, 0, static_cast<GLsizei>(drawVertices.size()));
}

// The colour a primitive's vertex gets: its own when smooth, the provoking vertex's when flat.
const uint8_t* VertexColour(size_t own, size_t provoking)
{
    return immediate[state.shadeModel == PLAT_GL_FLAT ? provoking : own].rgb;
}

void EmitTriangle(const std::vector<Clip>& clip, size_t a, size_t b, size_t c, size_t provoking)
{
    drawVertices.push_back(ColourVertex(clip[a], VertexColour(a, provoking)));
    drawVertices.push_back(ColourVertex(clip[b], VertexColour(b, provoking)));
    drawVertices.push_back(ColourVertex(clip[c], VertexColour(c, provoking)));
}

// Cuts the segment a-b to the part in front of the near plane (z >= -w); false when nothing is left.
bool ClipToNearPlane(Clip& a, Clip& b)
{
    float da = a.z + a.w;
    float db = b.z + b.w;
    if (da < 0.0f && db < 0.0f) {
        return false;
    }
    if (da < 0.0f || db < 0.0f) {
        float t = da / (da - db);
        Clip cut{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z), a.w + t * (b.w - a.w)};
        (da < 0.0f ? a : b) = cut;
    }
    return a.w > 0.0f && b.w > 0.0f;
}

// A segment of a line wider than one pixel as a quad: in window space the line is widened by the line width
// along its minor axis (vertically for a line closer to horizontal), as OpenGL widens aliased lines. The
// offsets are carried back to clip space at each end's own w, so depth is interpolated as for the line.
void EmitWideSegment(Clip a, Clip b, const uint8_t* colourA, const uint8_t* colourB)
{
    if (!ClipToNearPlane(a, b)) {
        return;
    }
    const float halfWidth = static_cast<float>(state.viewport[2]) * 0.5f;
    const float halfHeight = static_cast<float>(state.viewport[3]) * 0.5f;
    if (halfWidth <= 0.0f || halfHeight <= 0.0f) {
        return;
    }
    float dx = (b.x / b.w - a.x / a.w) * halfWidth;
    float dy = (b.y / b.w - a.y / a.w) * halfHeight;
    bool xMajor = std::fabs(dx) >= std::fabs(dy);
    // Half the line width in normalised device units along the minor axis.
    float half = state.lineWidth * 0.5f / (xMajor ? halfHeight : halfWidth);
    auto offset = [&](const Clip& c, float sign) {
        Clip moved = c;
        (xMajor ? moved.y : moved.x) += sign * half * c.w;
        return moved;
    };
    Clip a0 = offset(a, -1.0f);
    Clip a1 = offset(a, 1.0f);
    Clip b0 = offset(b, -1.0f);
    Clip b1 = offset(b, 1.0f);
    drawVertices.push_back(ColourVertex(a0, colourA));
    drawVertices.push_back(ColourVertex(b0, colourB));
    drawVertices.push_back(ColourVertex(b1, colourB));
    drawVertices.push_back(ColourVertex(a0, colourA));
    drawVertices.push_back(ColourVertex(b1, colourB));
    drawVertices.push_back(ColourVertex(a1, colourA));
}

void EmitSegment(const std::vector<Clip>& clip, size_t a, size_t b, size_t provoking, bool wide)
{
    const uint8_t* colourA = VertexColour(a, provoking);
    const uint8_t* colourB = VertexColour(b, provoking);
    if (wide) {
        EmitWideSegment(clip[a], clip[b], colourA, colourB);
    } else {
        drawVertices.push_back(ColourVertex(clip[a], colourA));
        drawVertices.push_back(ColourVertex(clip[b], colourB));
    }
}

// Window coordinates (pixels, depth 0..1) back to clip coordinates with w = 1.
Clip WindowToClip(float x, float y, float depth)
{
    float nx = (x - static_cast<float>(state.viewport[0])) / (static_cast<float>(state.viewport[2]) * 0.5f) - 1.0f;
    float ny = (y - static_cast<float>(state.viewport[1])) / (static_cast<float>(state.viewport[3]) * 0.5f) - 1.0f;
    return Clip{nx, ny, depth * 2.0f - 1.0f, 1.0f};
}

void SetRasterPosition(float x, float y, float z)
{
    if (!MatrixCallAllowed()) {
        return;
    }
    Clip c = Transform(ModelViewProjection(), x, y, z);
    // Outside the view volume the position is invalid, and images drawn there are skipped whole.
    state.rasterValid = c.w > 0.0f && -c.w <= c.x && c.x <= c.w && -c.w <= c.y && c.y <= c.w && -c.w <= c.z &&
                        c.z <= c.w;
    if (!state.rasterValid) {
        return;
    }
    float halfWidth = static_cast<float>(state.viewport[2]) * 0.5f;
    float halfHeight = static_cast<float>(state.viewport[3]) * 0.5f;
    state.rasterX = (c.x / c.w) * halfWidth + (static_cast<float>(state.viewport[0]) + halfWidth);
    state.rasterY = (c.y / c.w) * halfHeight + (static_cast<float>(state.viewport[1]) + halfHeight);
    state.rasterZ = (c.z / c.w) * 0.5f + 0.5f;
}

}  // namespace

// ---- Context -------------------------------------------------------------------------------------------

bool PlatGlLayerContextCurrent()
{
    // Objects of a context that is gone cannot be deleted any more; they went with it.
    objects = LayerObjects{};
    ResetState();
    glGetIntegerv(GL_VIEWPORT, state.viewport);
    objects.colourProgram = LinkProgram(ColourFragmentShader);
    objects.imageProgram = LinkProgram(ImageFragmentShader);
    if (objects.imageProgram != 0) {
        objects.imageSampler = glGetUniformLocation(objects.imageProgram, "image");
        glUseProgram(objects.imageProgram);
        glUniform1i(objects.imageSampler, 0);
    }
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &objects.maxTextureSize);
    glGenBuffers(1, &objects.buffer);
    glGenTextures(1, &objects.texture);
    if (objects.texture != 0) {
        glBindTexture(GL_TEXTURE_2D, objects.texture);
        // Whole pixels, as glDrawPixels gives them; any width (ES 2.0 allows that only with edge clamping).
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    if (!Ready()) {
        DeleteObjects();
        return false;
    }
    return true;
}

void PlatGlLayerContextReleased()
{
    DeleteObjects();
}

// ---- Immediate mode ------------------------------------------------------------------------------------

void PlatGlBegin(GLenum mode)
{
    if (state.inBegin) {
        return;
    }
    state.inBegin = true;
    state.primitive = mode;
    immediate.clear();
}

void PlatGlVertex3f(GLfloat x, GLfloat y, GLfloat z)
{
    if (state.inBegin) {
        immediate.push_back(ImmediateVertex{x, y, z, {state.colour[0], state.colour[1], state.colour[2]}});
    }
}

void PlatGlColor3ub(GLubyte red, GLubyte green, GLubyte blue)
{
    state.colour[0] = red;
    state.colour[1] = green;
    state.colour[2] = blue;
}

void PlatGlEnd()
{
    if (!state.inBegin) {
        return;
    }
    state.inBegin = false;
    if (!Ready() || immediate.empty()) {
        return;
    }
    const Matrix mvp = ModelViewProjection();
    std::vector<Clip>& clip = clipped;
    clip.clear();
    for (const ImmediateVertex& v : immediate) {
        clip.push_back(Transform(mvp, v.x, v.y, v.z));
    }
    drawVertices.clear();
    const size_t n = immediate.size();
    const bool wide = state.lineWidth > 1.0f;
    GLenum mode = GL_TRIANGLES;
    // The provoking vertex (whose colour a flat primitive takes) is each primitive's last, as in OpenGL;
    // for a line loop's closing segment it is the first vertex.
    switch (state.primitive) {
    case GL_TRIANGLES:
        for (size_t i = 0; i + 3 <= n; i += 3) {
            EmitTriangle(clip, i, i + 1, i + 2, i + 2);
        }
        break;
    case PLAT_GL_QUADS:
        for (size_t i = 0; i + 4 <= n; i += 4) {
            EmitTriangle(clip, i, i + 1, i + 2, i + 3);
            EmitTriangle(clip, i, i + 2, i + 3, i + 3);
        }
        break;
    case GL_LINES:
        for (size_t i = 0; i + 2 <= n; i += 2) {
            EmitSegment(clip, i, i + 1, i + 1, wide);
        }
        mode = wide ? GL_TRIANGLES : GL_LINES;
        break;
    case GL_LINE_LOOP:
        if (n >= 2) {
            for (size_t i = 0; i + 1 < n; i++) {
                EmitSegment(clip, i, i + 1, i + 1, wide);
            }
            EmitSegment(clip, n - 1, 0, 0, wide);
        }
        mode = wide ? GL_TRIANGLES : GL_LINES;
        break;
    default:
        // Not a primitive the program draws: nothing, as an unknown mode is an error in OpenGL.
        return;
    }
    Submit(mode, false);
}

// ---- Matrices and the rest of the state ----------------------------------------------------------------

void PlatGlMatrixMode(GLenum mode)
{
    if (MatrixCallAllowed() && (mode == PLAT_GL_MODELVIEW || mode == PLAT_GL_PROJECTION)) {
        state.matrixMode = mode;
    }
}

void PlatGlLoadIdentity()
{
    if (MatrixCallAllowed()) {
        CurrentMatrix() = Identity;
    }
}

void PlatGlPushMatrix()
{
    if (!MatrixCallAllowed()) {
        return;
    }
    // A full stack refuses the push (a stack overflow in OpenGL) and keeps its top.
    if (state.matrixMode == PLAT_GL_PROJECTION) {
        if (state.projectionTop + 1 < ProjectionDepth) {
            state.projection[state.projectionTop + 1] = state.projection[state.projectionTop];
            state.projectionTop++;
        }
    } else if (state.modelViewTop + 1 < ModelViewDepth) {
        state.modelView[state.modelViewTop + 1] = state.modelView[state.modelViewTop];
        state.modelViewTop++;
    }
}

void PlatGlPopMatrix()
{
    if (!MatrixCallAllowed()) {
        return;
    }
    int& top = state.matrixMode == PLAT_GL_PROJECTION ? state.projectionTop : state.modelViewTop;
    if (top > 0) {
        top--;
    }
}

void PlatGlTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    if (!MatrixCallAllowed()) {
        return;
    }
    Matrix& m = CurrentMatrix();
    for (int row = 0; row < 4; row++) {
        m.m[12 + row] = m.m[row] * x + m.m[4 + row] * y + m.m[8 + row] * z + m.m[12 + row];
    }
}

void PlatGlTranslated(GLdouble x, GLdouble y, GLdouble z)
{
    PlatGlTranslatef(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

void PlatGlRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    if (!MatrixCallAllowed()) {
        return;
    }
    float s = static_cast<float>(std::sin(static_cast<double>(angle) * Pi / 180.0));
    float c = static_cast<float>(std::cos(static_cast<double>(angle) * Pi / 180.0));
    Matrix r = Identity;
    if (x == 0.0f && y == 0.0f && z != 0.0f) {
        // About the z axis alone (the scene's only axis): exact ones and zeros off the xy block.
        if (z < 0.0f) {
            s = -s;
        }
        r.m[0] = c;
        r.m[1] = s;
        r.m[4] = -s;
        r.m[5] = c;
    } else {
        float length = std::sqrt(x * x + y * y + z * z);
        if (length == 0.0f) {
            return;
        }
        x /= length;
        y /= length;
        z /= length;
        float oneMinusC = 1.0f - c;
        r.m[0] = x * x * oneMinusC + c;
        r.m[1] = y * x * oneMinusC + z * s;
        r.m[2] = x * z * oneMinusC - y * s;
        r.m[4] = x * y * oneMinusC - z * s;
        r.m[5] = y * y * oneMinusC + c;
        r.m[6] = y * z * oneMinusC + x * s;
        r.m[8] = x * z * oneMinusC + y * s;
        r.m[9] = y * z * oneMinusC - x * s;
        r.m[10] = z * z * oneMinusC + c;
    }
    MultiplyCurrent(r);
}

void PlatGlMultMatrixd(const GLdouble* m)
{
    if (!MatrixCallAllowed() || m == nullptr) {
        return;
    }
    Matrix by;
    for (int i = 0; i < 16; i++) {
        by.m[i] = static_cast<float>(m[i]);
    }
    MultiplyCurrent(by);
}

void PlatGluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar)
{
    double radians = fovy / 2.0 * Pi / 180.0;
    double depth = zFar - zNear;
    double sine = std::sin(radians);
    // A degenerate frustum leaves the matrix as it is.
    if (depth == 0.0 || sine == 0.0 || aspect == 0.0) {
        return;
    }
    double cotangent = std::cos(radians) / sine;
    double m[16] = {};
    m[0] = cotangent / aspect;
    m[5] = cotangent;
    m[10] = -(zFar + zNear) / depth;
    m[11] = -1.0;
    m[14] = -2.0 * zNear * zFar / depth;
    PlatGlMultMatrixd(m);
}

void PlatGlShadeModel(GLenum mode)
{
    if (mode == PLAT_GL_FLAT || mode == PLAT_GL_SMOOTH) {
        state.shadeModel = mode;
    }
}

void PlatGlLineWidth(GLfloat width)
{
    if (width > 0.0f) {
        state.lineWidth = width;
    }
}

void PlatGlHint(GLenum, GLenum)
{
    // ES 2.0 always interpolates with perspective correction: the only hint the program gives is met.
}

void PlatGlClearDepth(GLclampd depth)
{
    glClearDepthf(static_cast<GLfloat>(depth));
}

void PlatGlViewport(GLint x, GLint y, GLsizei width, GLsizei height)
{
    if (width < 0 || height < 0) {
        return;
    }
    state.viewport[0] = x;
    state.viewport[1] = y;
    state.viewport[2] = width;
    state.viewport[3] = height;
    glViewport(x, y, width, height);
}

void PlatGlPixelStorei(GLenum name, GLint value)
{
    glPixelStorei(name, value);
}

void PlatGlPixelZoom(GLfloat x, GLfloat y)
{
    state.zoomX = x;
    state.zoomY = y;
}

void PlatGlRasterPos2d(GLdouble x, GLdouble y)
{
    SetRasterPosition(static_cast<float>(x), static_cast<float>(y), 0.0f);
}

void PlatGlRasterPos3d(GLdouble x, GLdouble y, GLdouble z)
{
    SetRasterPosition(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

void PlatGlDrawPixels(GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels)
{
    // The program draws RGB bytes; other formats are not carried out. An image larger than the context's
    // largest texture is not drawn (a texture it cannot hold would draw as a black rectangle).
    if (!Ready() || state.inBegin || !state.rasterValid || width <= 0 || height <= 0 || pixels == nullptr ||
        format != GL_RGB || type != GL_UNSIGNED_BYTE || width > objects.maxTextureSize ||
        height > objects.maxTextureSize) {
        return;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, objects.texture);
    // The unpack alignment the program set applies, as it would to glDrawPixels.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);

    // The image's rectangle in window space: the lower-left corner at the raster position, each pixel
    // zoomX × zoomY; a fragment belongs to the pixel whose rectangle holds its centre.
    float x0 = state.rasterX;
    float y0 = state.rasterY;
    float x1 = x0 + static_cast<float>(width) * state.zoomX;
    float y1 = y0 + static_cast<float>(height) * state.zoomY;
    Clip c00 = WindowToClip(x0, y0, state.rasterZ);
    Clip c10 = WindowToClip(x1, y0, state.rasterZ);
    Clip c11 = WindowToClip(x1, y1, state.rasterZ);
    Clip c01 = WindowToClip(x0, y1, state.rasterZ);
    auto corner = [](const Clip& c, float u, float v) {
        return LayerVertex{c.x, c.y, c.z, c.w, {255, 255, 255, 255}, u, v};
    };
    drawVertices.clear();
    drawVertices.push_back(corner(c00, 0.0f, 0.0f));
    drawVertices.push_back(corner(c10, 1.0f, 0.0f));
    drawVertices.push_back(corner(c11, 1.0f, 1.0f));
    drawVertices.push_back(corner(c00, 0.0f, 0.0f));
    drawVertices.push_back(corner(c11, 1.0f, 1.0f));
    drawVertices.push_back(corner(c01, 0.0f, 1.0f));
    Submit(GL_TRIANGLES, true);
}

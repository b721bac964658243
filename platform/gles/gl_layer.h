// OpenGL 1.1 as the scene and the window layer use it, carried out over OpenGL ES 2.0 (WebGL in the browser,
// Mesa's GLES2 natively): immediate-mode triangles, quads, lines and line loops with a colour per vertex,
// the two matrix stacks and gluPerspective, flat or smooth shading, lines of any width (drawn as quads),
// raster positions through the current matrices and glDrawPixels as a textured quad at the raster
// position's depth.
//
// The drawing code reaches these functions under their OpenGL names through platform/gl.h; the platform
// code that makes a context current tells the layer with PlatGlLayerContextCurrent. Main thread only (the
// thread the context is current on).
#pragma once

#include <GLES2/gl2.h>

typedef double GLdouble;
typedef double GLclampd;

// OpenGL 1.1 names that OpenGL ES 2.0 lacks, with their OpenGL values.
constexpr GLenum PLAT_GL_QUADS = 0x0007;
constexpr GLenum PLAT_GL_MODELVIEW = 0x1700;
constexpr GLenum PLAT_GL_PROJECTION = 0x1701;
constexpr GLenum PLAT_GL_FLAT = 0x1D00;
constexpr GLenum PLAT_GL_SMOOTH = 0x1D01;
constexpr GLenum PLAT_GL_PERSPECTIVE_CORRECTION_HINT = 0x0C50;

// A context has just been made current on this thread: every emulated state goes back to OpenGL's
// defaults (matrices, colour, shading, line width, raster position, zoom) and the layer's own program,
// buffer and texture are made in it. false when they cannot be made (nothing will be drawn).
bool PlatGlLayerContextCurrent();
// The current context is about to be released or deleted: the layer's objects in it are deleted and
// forgotten, so a later context starts from scratch.
void PlatGlLayerContextReleased();

// ---- OpenGL 1.1 and GLU, as their OpenGL namesakes ----------------------------------------------------------
void PlatGlBegin(GLenum mode);
void PlatGlEnd();
void PlatGlVertex3f(GLfloat x, GLfloat y, GLfloat z);
void PlatGlColor3ub(GLubyte red, GLubyte green, GLubyte blue);
void PlatGlMatrixMode(GLenum mode);
void PlatGlLoadIdentity();
void PlatGlPushMatrix();
void PlatGlPopMatrix();
void PlatGlTranslatef(GLfloat x, GLfloat y, GLfloat z);
void PlatGlTranslated(GLdouble x, GLdouble y, GLdouble z);
void PlatGlRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);
void PlatGlMultMatrixd(const GLdouble* m);
void PlatGluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);
void PlatGlShadeModel(GLenum mode);
void PlatGlLineWidth(GLfloat width);
void PlatGlHint(GLenum target, GLenum mode);
void PlatGlClearDepth(GLclampd depth);
void PlatGlViewport(GLint x, GLint y, GLsizei width, GLsizei height);
void PlatGlPixelStorei(GLenum name, GLint value);
void PlatGlPixelZoom(GLfloat x, GLfloat y);
void PlatGlRasterPos2d(GLdouble x, GLdouble y);
void PlatGlRasterPos3d(GLdouble x, GLdouble y, GLdouble z);
void PlatGlDrawPixels(GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels);

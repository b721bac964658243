// OpenGL 1.1 and GLU for the drawing code. The one place that knows which headers a system needs first, and
// where OpenGL comes from: the system's own library, or (TARNWICK_GL_LAYER, set by the build for the browser
// and for the layer's check against real OpenGL) our fixed-function layer over OpenGL ES 2.0.
#pragma once

#if defined(TARNWICK_GL_LAYER)

#include "platform/gles/gl_layer.h"

#define GL_QUADS PLAT_GL_QUADS
#define GL_MODELVIEW PLAT_GL_MODELVIEW
#define GL_PROJECTION PLAT_GL_PROJECTION
#define GL_FLAT PLAT_GL_FLAT
#define GL_SMOOTH PLAT_GL_SMOOTH
#define GL_PERSPECTIVE_CORRECTION_HINT PLAT_GL_PERSPECTIVE_CORRECTION_HINT

// Clearing, the depth test and its function are ES 2.0's own; everything else goes through the layer.
#define glBegin PlatGlBegin
#define glEnd PlatGlEnd
#define glVertex3f PlatGlVertex3f
#define glColor3ub PlatGlColor3ub
#define glMatrixMode PlatGlMatrixMode
#define glLoadIdentity PlatGlLoadIdentity
#define glPushMatrix PlatGlPushMatrix
#define glPopMatrix PlatGlPopMatrix
#define glTranslatef PlatGlTranslatef
#define glTranslated PlatGlTranslated
#define glRotatef PlatGlRotatef
#define glMultMatrixd PlatGlMultMatrixd
#define gluPerspective PlatGluPerspective
#define glShadeModel PlatGlShadeModel
#define glLineWidth PlatGlLineWidth
#define glHint PlatGlHint
#define glClearDepth PlatGlClearDepth
#define glViewport PlatGlViewport
#define glPixelStorei PlatGlPixelStorei
#define glPixelZoom PlatGlPixelZoom
#define glRasterPos2d PlatGlRasterPos2d
#define glRasterPos3d PlatGlRasterPos3d
#define glDrawPixels PlatGlDrawPixels

#else

#if defined(_WIN32)
// The system's GL headers declare their functions with the calling convention and import markers that
// windows.h defines.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <GL/gl.h>
#include <GL/glu.h>

#endif

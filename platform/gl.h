// OpenGL 1.1 and GLU for the drawing code. The one place that knows which headers a system needs first.
#pragma once

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

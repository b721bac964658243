// OpenGL 1.1 and GLU for the drawing code. The one place that knows which headers a system needs first.
#pragma once

#include <GL/gl.h>
#include <GL/glu.h>

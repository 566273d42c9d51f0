// NanoVG's OpenGL 2 back end, compiled against the glad loader (which must come before it).
#include <glad/gl.h>

#include "nanovg.h"
#define NANOVG_GL2_IMPLEMENTATION
#include "nanovg_gl.h"

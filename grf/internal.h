#pragma once
// Included by every header of the library but grf.h. Only the library and its
// own tests are built with SLIMGRF_INTERNAL: the engine, the front ends and
// the tools use the library through grf/grf.h alone.
#ifndef SLIMGRF_INTERNAL
#error "a header internal to libslimgrf: include grf/grf.h"
#endif

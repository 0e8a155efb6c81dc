#pragma once
// The optional codec library that replaces zlib for reading source archives.
//
// The front end remembers the chosen library's path; each source open
// unloads the library of the previous open and loads the current one, so a
// changed or cleared path takes effect with the next job.

#include <cstddef>

#include "grf/grf.h"
#include "support/file_util.h"

// Path of the chosen codec library; empty when none is chosen. Written by the
// front end (window thread), read by the job with a bounded copy.
extern char CodecLibraryPath[260];
// The library loaded for the most recent source open, or null.
extern LibraryHandle LoadedCodecLibrary;

void SetCodecLibraryPath(const char* path);
void ClearCodecLibraryPath();

// The hooks a library offers: "compress" (or else "compress2") and
// "uncompress"; a missing export leaves its hook null (the built-in codec).
struct CodecHooks {
  GrfCodecHook compress;
  GrfCodecHook uncompress;
};
CodecHooks FindCodecHooks(LibraryHandle module);

// Whether a library exports what a codec library needs: "compress" or
// "compress2", and "uncompress".
bool HasCodecExports(LibraryHandle module);

// Unloads the previous library, loads the one at CodecLibraryPath (if any)
// and returns its hooks; a failed load leaves both hooks null.
CodecHooks ReloadCodecLibrary();

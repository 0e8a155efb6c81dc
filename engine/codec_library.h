#pragma once
// The optional codec library that replaces zlib for reading a job's source
// archive. A job loads it when it starts, installs its hooks on the source
// archive alone, and unloads it when it ends: nothing of it outlives the job.

#include "grf/grf.h"
#include "support/file_util.h"

// The hooks a library offers: "compress" (or else "compress2") and
// "uncompress"; a missing export leaves its hook null (the built-in codec).
struct CodecHooks {
  GrfCodecHook compress;
  GrfCompress2Hook compress2;  // only when there is no compress
  GrfCodecHook uncompress;
};
CodecHooks FindCodecHooks(LibraryHandle module);

// Whether a library exports what a codec library needs: "compress" or
// "compress2", and "uncompress".
bool HasCodecExports(LibraryHandle module);

// A codec library loaded for one job.
class CodecLibrary {
 public:
  CodecLibrary() = default;
  CodecLibrary(const CodecLibrary&) = delete;
  CodecLibrary& operator=(const CodecLibrary&) = delete;
  // Unloads the library; every archive it was installed on is closed by then.
  ~CodecLibrary();

  // Loads the library at `path` (none for an empty path). A library that
  // does not load leaves the built-in codec.
  void Load(const char* path);
  bool Loaded() const { return module_ != nullptr; }
  // Installs the library's hooks on the archive (the built-in ones where it
  // has none).
  void Install(GrfArchive* archive) const;

 private:
  LibraryHandle module_ = nullptr;
  CodecHooks hooks_{};
};

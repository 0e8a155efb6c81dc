#include "engine/codec_library.h"

CodecHooks FindCodecHooks(LibraryHandle module) {
  CodecHooks hooks{};
  if (!module) return hooks;
  hooks.compress = reinterpret_cast<GrfCodecHook>(GetLibrarySymbol(module, "compress"));
  if (!hooks.compress)
    hooks.compress2 = reinterpret_cast<GrfCompress2Hook>(GetLibrarySymbol(module, "compress2"));
  hooks.uncompress = reinterpret_cast<GrfCodecHook>(GetLibrarySymbol(module, "uncompress"));
  return hooks;
}

bool HasCodecExports(LibraryHandle module) {
  const CodecHooks hooks = FindCodecHooks(module);
  return (hooks.compress || hooks.compress2) && hooks.uncompress;
}

CodecLibrary::~CodecLibrary() {
  if (module_) FreeLibraryModule(module_);
}

void CodecLibrary::Load(const char* path) {
  if (module_) FreeLibraryModule(module_);
  module_ = nullptr;
  if (path && path[0] && !LoadLibraryByName(path, &module_)) module_ = nullptr;
  hooks_ = FindCodecHooks(module_);
}

void CodecLibrary::Install(GrfArchive* archive) const {
  if (hooks_.compress2)
    GrfSetCompress2Hook(archive, hooks_.compress2);
  else
    GrfSetCompressHook(archive, hooks_.compress);
  GrfSetUncompressHook(archive, hooks_.uncompress);
}

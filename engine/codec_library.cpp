#include "engine/codec_library.h"

#include "support/text.h"

char CodecLibraryPath[260];
LibraryHandle LoadedCodecLibrary = nullptr;

void SetCodecLibraryPath(const char* path) {
  CopyBounded(CodecLibraryPath, path, sizeof CodecLibraryPath);
}

void ClearCodecLibraryPath() { CodecLibraryPath[0] = '\0'; }

namespace {

// compress2 takes a fifth argument, the level; a hook has four. The adapter
// supplies zlib's default level to the library's compress2.
using Compress2Function = int (*)(unsigned char*, unsigned long*, const unsigned char*,
                                  unsigned long, int);
Compress2Function g_compress2 = nullptr;
constexpr int kDefaultLevel = -1;

int Compress2Adapter(unsigned char* destination, unsigned long* destinationLength,
                     const unsigned char* source, unsigned long sourceLength) {
  return g_compress2(destination, destinationLength, source, sourceLength, kDefaultLevel);
}

}  // namespace

CodecHooks FindCodecHooks(LibraryHandle module) {
  CodecHooks hooks{};
  if (!module) return hooks;
  hooks.compress = reinterpret_cast<GrfCodecHook>(GetLibrarySymbol(module, "compress"));
  if (!hooks.compress) {
    auto compress2 = reinterpret_cast<Compress2Function>(GetLibrarySymbol(module, "compress2"));
    if (compress2) {
      g_compress2 = compress2;
      hooks.compress = &Compress2Adapter;
    }
  }
  hooks.uncompress = reinterpret_cast<GrfCodecHook>(GetLibrarySymbol(module, "uncompress"));
  return hooks;
}

bool HasCodecExports(LibraryHandle module) {
  const CodecHooks hooks = FindCodecHooks(module);
  return hooks.compress != nullptr && hooks.uncompress != nullptr;
}

CodecHooks ReloadCodecLibrary() {
  if (LoadedCodecLibrary) {
    LibraryHandle old = LoadedCodecLibrary;
    LoadedCodecLibrary = nullptr;
    FreeLibraryModule(old);
  }
  // The window thread may change the path meanwhile; work on a bounded copy.
  char path[sizeof CodecLibraryPath];
  CopyBounded(path, CodecLibraryPath, sizeof path);
  if (path[0] != '\0') {
    LibraryHandle module = nullptr;
    if (LoadLibraryByName(path, &module)) LoadedCodecLibrary = module;
  }
  return FindCodecHooks(LoadedCodecLibrary);
}

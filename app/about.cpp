#include "app/about.h"

#include <libdeflate.h>
#include <zlib.h>

#include "engine/format.h"
#include "support/about_box.h"
#include "version.h"

namespace {

void ComposeAboutText(const char* libdeflateVersionText, const char* zlibVersionText, char* out,
                      size_t size) {
  if (!zlibVersionText || !*zlibVersionText) zlibVersionText = "(unknown)";
  FormatBounded(
      out, size,
      "\r\n"
      "\"This tool does not include an escalator, sorry.\"\r\n"
      "\r\n"
      "Slimwick is free software under the MIT License: you may use, copy, change and "
      "pass it on, as long as the copyright notice and the licence go with it. It comes "
      "as it is, without warranty of any kind, stated or implied: nobody promises that it "
      "works, that it suits any particular purpose, or that it leaves your archives the way "
      "they were. Its developers accept no liability for any damage, loss of data, loss of "
      "time or other harm that comes from using the program or from being unable to use "
      "it. Keep a copy of every archive before you let it work on one.\r\n"
      "\r\n"
      "The GRF archive format is the work of its original designers; many thanks to them "
      "and to everyone who took the time to describe it.\r\n"
      "Compression and decompression are done by the libdeflate library, version %s, and "
      "the zlib library, version %s; thanks to their authors for libraries that simply "
      "work.\r\n"
      "\r\n"
      "Designed and written on GNU/Linux, for Windows.",
      libdeflateVersionText, zlibVersionText);
}

}  // namespace

void ShowProductAbout(HWND window) {
  // Composed once, on the window thread; the box keeps a pointer to it.
  static char text[kMessageCapacity];
  if (text[0] == 0) ComposeAboutText(LIBDEFLATE_VERSION_STRING, zlibVersion(), text, sizeof text);
  AboutInfo info{};
  info.owner = window;
  info.firstYear = 2026;
  info.lastYear = 2026;
  info.title = "About Slimwick...";
  info.productName = "Slimwick";
  info.version = SLIMWICK_VERSION;
  info.copyrightHolder = "the Slimwick developers";
  info.text = text;
  info.homepage = nullptr;  // no homepage: the button is hidden
  ShowAboutBox(&info);
}

#include "support/dialog_template_win32.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "support/diag.h"
#include "support/pool.h"

namespace {

// The metrics records without the padded-border field of newer systems, so
// that every system from the oldest on accepts them.
constexpr UINT kMetricsSizeW = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof(LOGFONTW);
constexpr UINT kMetricsSizeA = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
static_assert(kMetricsSizeW == 500 && kMetricsSizeA == 340);
static_assert(sizeof(wchar_t) == sizeof(char16_t));

// The message font's face can change between measuring and filling; a few
// rounds settle it, more would mean the system keeps changing it under us.
constexpr int kTemplateAttempts = 8;

}  // namespace

bool QueryMessageFontAnsi(LOGFONTA* font) {
  NONCLIENTMETRICSA metrics;
  std::memset(&metrics, 0, sizeof metrics);
  metrics.cbSize = kMetricsSizeA;
  if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kMetricsSizeA, &metrics, 0)) {
    SLIM_DEBUG_ASSERT(!"SystemParametersInfoA(SPI_GETNONCLIENTMETRICS) failed");
    return false;
  }
  *font = metrics.lfMessageFont;
  return true;
}

bool AnsiToWide(const char* text, wchar_t* buffer, int capacity) {
  size_t length = std::strlen(text);
  if (length >= static_cast<size_t>(INT_MAX)) return false;
  return MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length) + 1, buffer, capacity) != 0;
}

bool WideFontFromAnsi(const LOGFONTA* narrow, LOGFONTW* wide) {
  wide->lfHeight = narrow->lfHeight;
  wide->lfWidth = narrow->lfWidth;
  wide->lfEscapement = narrow->lfEscapement;
  wide->lfOrientation = narrow->lfOrientation;
  wide->lfWeight = narrow->lfWeight;
  wide->lfItalic = narrow->lfItalic;
  wide->lfUnderline = narrow->lfUnderline;
  wide->lfStrikeOut = narrow->lfStrikeOut;
  wide->lfCharSet = narrow->lfCharSet;
  wide->lfOutPrecision = narrow->lfOutPrecision;
  wide->lfClipPrecision = narrow->lfClipPrecision;
  wide->lfQuality = narrow->lfQuality;
  wide->lfPitchAndFamily = narrow->lfPitchAndFamily;
  // The narrow face need not be terminated; a face fills at most 31 units
  // and the terminator.
  char face[LF_FACESIZE];
  std::memcpy(face, narrow->lfFaceName, LF_FACESIZE);
  face[LF_FACESIZE - 1] = 0;
  return AnsiToWide(face, wide->lfFaceName, LF_FACESIZE);
}

bool QueryMessageFont(LOGFONTW* font) {
  NONCLIENTMETRICSW metrics;
  std::memset(&metrics, 0, sizeof metrics);
  metrics.cbSize = kMetricsSizeW;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kMetricsSizeW, &metrics, 0)) {
    *font = metrics.lfMessageFont;
    return true;
  }
  if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
    LOGFONTA narrow;
    std::memset(&narrow, 0, sizeof narrow);
    if (!QueryMessageFontAnsi(&narrow)) return false;
    return WideFontFromAnsi(&narrow, font);
  }
  SLIM_DEBUG_ASSERT(!"SystemParametersInfoW(SPI_GETNONCLIENTMETRICS) failed");
  return false;
}

int ResolveDialogFont(LOGFONTW* font) {
  if (QueryMessageFont(font)) {
    int resolution = 96;
    if (HDC dc = GetDC(nullptr)) {
      resolution = GetDeviceCaps(dc, LOGPIXELSY);
      ReleaseDC(nullptr, dc);
    }
    return PointSizeFromHeight(font->lfHeight, resolution);
  }
  std::memcpy(font->lfFaceName, dlg::kFallbackFace, sizeof dlg::kFallbackFace);
  return dlg::kFallbackPointSize;
}

DialogFont DialogFontFromLogFont(const LOGFONTW* font, int pointSize) {
  DialogFont f{};
  std::memcpy(f.faceName, font->lfFaceName, sizeof f.faceName);
  f.pointSize = static_cast<uint16_t>(pointSize);
  f.weight = static_cast<uint16_t>(font->lfWeight);
  f.italic = font->lfItalic;
  f.charSet = font->lfCharSet;
  return f;
}

bool BuildDialogTemplate(const DialogSpec* spec, void* buffer, size_t* length) {
  if (spec && (spec->style & dlg::kSetFont)) {
    LOGFONTW font;
    std::memset(&font, 0, sizeof font);
    int points = ResolveDialogFont(&font);
    DialogFont facts = DialogFontFromLogFont(&font, points);
    return BuildDialogTemplateFor(spec, &facts, buffer, length);
  }
  return BuildDialogTemplateFor(spec, nullptr, buffer, length);
}

bool CreateDialogTemplate(const DialogSpec* spec, void** dialogTemplate) {
  size_t length = 0;
  if (BuildDialogTemplate(spec, nullptr, &length)) {
    SLIM_DEBUG_ASSERT(!"template built without a buffer");
    return false;
  }
  if (length == 0) return false;  // malformed description
  for (int attempt = 0; attempt < kTemplateAttempts; ++attempt) {
    void* block = PoolAlloc(length);
    if (!block) return false;
    size_t filled = length;
    if (BuildDialogTemplate(spec, block, &filled)) {
      *dialogTemplate = block;
      return true;
    }
    PoolFree(block);
    if (filled == 0) return false;
    length = filled;  // the message font changed in between
  }
  SetLastError(ERROR_INVALID_DATA);
  return false;
}

INT_PTR RunDialogFromSpec(HINSTANCE instance, const DialogSpec* spec, HWND parent,
                          DLGPROC dialogProc, LPARAM initParam) {
  void* dialogTemplate = nullptr;
  if (!CreateDialogTemplate(spec, &dialogTemplate)) return -1;
  INT_PTR result = DialogBoxIndirectParamA(
      instance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), parent, dialogProc, initParam);
  DWORD error = GetLastError();
  PoolFree(dialogTemplate);
  SetLastError(error);
  return result;
}

bool InsertSystemSubmenu(HWND window, HMENU submenu, const char* text, bool withSeparator) {
  HMENU menu = GetSystemMenu(window, FALSE);
  if (!menu) return false;
  if (withSeparator && !InsertMenuA(menu, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr))
    return false;
  if (InsertMenuA(menu, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), text))
    return true;
  if (withSeparator) {
    DWORD error = GetLastError();
    RemoveMenu(menu, 0, MF_BYPOSITION);
    SetLastError(error);
  }
  return false;
}

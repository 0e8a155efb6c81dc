#pragma once
// Dialog descriptions and the bytes of the extended dialog template
// (DLGTEMPLATEEX followed by DLGITEMTEMPLATEEX records) built from them.
//
// This half is pure: it turns a description plus the facts of the message font
// into template bytes and needs no window system. The Win32 half
// (dialog_template_win32.h) queries the font and runs the dialogs.

#include <cstddef>
#include <cstdint>

// One control. `className` is either a terminated UTF-16 class name or the two
// words {0xFFFF, ordinal} of a predefined class.
struct DialogItemSpec {
  const char16_t* className;
  uint32_t style;
  uint32_t exStyle;
  uint16_t id;
  int16_t x;
  int16_t y;
  int16_t cx;
  int16_t cy;
};

// One dialog. With DS_SETFONT it uses the message font; point size 0 means the
// message font's size. Descriptions carry no texts: titles and control texts
// are set by the dialog procedure.
struct DialogSpec {
  uint32_t style;
  uint32_t exStyle;
  uint16_t itemCount;
  uint16_t pointSize;
  int16_t x;
  int16_t y;
  int16_t cx;
  int16_t cy;
  const DialogItemSpec* items;
};

// The font facts that the template takes from the message font.
struct DialogFont {
  char16_t faceName[32];  // as LOGFONTW: need not be terminated when all 32 are used
  uint16_t pointSize;
  uint16_t weight;
  uint8_t italic;
  uint8_t charSet;
};

namespace dlg {
// Style bits the builder looks at or adds.
constexpr uint32_t kVisible = 0x10000000;  // WS_VISIBLE
constexpr uint32_t kChild = 0x40000000;    // WS_CHILD
constexpr uint32_t kPopup = 0x80000000;    // WS_POPUP
constexpr uint32_t kSetFont = 0x00000040;  // DS_SETFONT
constexpr uint16_t kFallbackPointSize = 8;
constexpr int kFaceUnits = 32;  // LF_FACESIZE

// Predefined control classes in ordinal form.
extern const char16_t kButtonClass[2];
extern const char16_t kEditClass[2];
extern const char16_t kStaticClass[2];
extern const char16_t kProgressClass[18];  // "msctls_progress32"
extern const char16_t kFallbackFace[13];   // "MS Shell Dlg"
}  // namespace dlg

// Builds the template of `spec` into `buffer`. `messageFont` supplies the font
// when the style has DS_SETFONT (null: the fallback face at 8 points). Writes
// the header and each control that ends within *length; always stores the
// required length back. True only when a buffer was given and it was long
// enough. A malformed spec (items missing, a control
// without class, a length past the address space) gives false and length 0.
bool BuildDialogTemplateFor(const DialogSpec* spec, const DialogFont* messageFont,
                            void* buffer, size_t* length);

// The font used when no message font can be had: "MS Shell Dlg", 8 points.
DialogFont FallbackDialogFont();

// The system's MulDiv: a * b / c rounded half away from zero, computed in 64
// bits; -1 when c is 0 or the result does not fit in 32 bits.
int32_t MulDivRounded(int32_t a, int32_t b, int32_t c);

// Point size of a font whose LOGFONT height is lfHeight on a screen of
// `pixelsPerInch` (0 or less: no device context, 96 is assumed). Negative
// heights are character heights (the usual case); a positive cell height is
// taken by its magnitude; 0 (the system default) gives 8 points.
uint16_t PointSizeFromHeight(int32_t lfHeight, int pixelsPerInch);

#include "app/main_window_layout.h"

#include "app/resource.h"

namespace {
// WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER | DS_SETFONT | DS_FIXEDSYS:
// the message font.
constexpr uint32_t kMainStyle = 0x00CA0848;
constexpr uint32_t kAcceptFiles = 0x00000010;  // WS_EX_ACCEPTFILES
constexpr uint32_t kNoPrefix = 0x00000080;     // SS_NOPREFIX
constexpr uint32_t kDisabled = 0x08000000;     // WS_DISABLED
constexpr uint32_t kRight = 0x00000002;        // SS_RIGHT
constexpr uint32_t kSmooth = 0x00000001;       // PBS_SMOOTH

const DialogItemSpec kMainWindowItems[] = {
    {dlg::kStaticClass, kDisabled | kNoPrefix, 0, IDC_PROMPT, 7, 7, 186, 8},
    {dlg::kProgressClass, kSmooth, 0, IDC_PROGRESS, 7, 22, 186, 15},
    {dlg::kStaticClass, kNoPrefix, 0, IDC_STATUS, 7, 45, 186, 8},
    {dlg::kStaticClass, kNoPrefix, 0, IDC_ESTIMATE, 7, 61, 186, 8},
    {dlg::kStaticClass, kDisabled | kNoPrefix | kRight, 0, IDC_FOOTNOTE, 7, 84, 186, 8},
};
}  // namespace

const DialogSpec kMainWindowDialog = {
    kMainStyle, kAcceptFiles, 5, 0, 0, 0, 200, 100, kMainWindowItems,
};

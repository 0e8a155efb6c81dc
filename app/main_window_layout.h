#pragma once
// The main window's description: a captioned, drop-accepting window of
// 200 x 100 units with the prompt, the progress bar, two status lines and the
// footnote (control identifiers in app/resource.h).

#include "support/dialog_template.h"

extern const DialogSpec kMainWindowDialog;

// Discarding unfinalized changes: the file is cut back to its length after the
// last header write, which leaves the archive as last finalized.

#include "grf/archive.h"
#include "grf/format.h"
#include "grf/stream.h"

bool DiscardChanges(GrfArchive* archive) {
  NotifyEvent(archive, grf::kEventDiscard, nullptr);
  if (!IsDirty(archive)) {
    SetStatus(archive, GRF_S_UNCHANGED);
    return true;
  }
  if (!StreamSetSize(archive->stream, archive->fileSize)) return Fail(archive, GRF_E_IO);
  archive->flags &= ~GRF_STATE_DIRTY;
  return true;
}

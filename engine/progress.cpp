#include "engine/progress.h"

#include "engine/format.h"

bool OnEntryProgress(uint32_t current, uint32_t total, void* context) {
  auto* progress = static_cast<JobProgress*>(context);
  const uint32_t percent = PercentOf(current, total);
  if (!progress->etaStarted) {
    progress->etaStarted = 1;
    EtaStart(&progress->eta, total, 1, ShowEta, progress);
  }
  EtaAdvanceTo(&progress->eta, current);
  if (progress->host) progress->host->SetEntryProgress(current, total);
  if (percent != progress->lastPercent) {
    progress->lastPercent = percent;
    if (progress->host) progress->host->SetProgress(percent);
  }
  return true;
}

void ShowEta(uint32_t /*done*/, uint32_t /*total*/, uint32_t /*rate*/, const LocalTime& finish,
             void* context) {
  auto* progress = static_cast<JobProgress*>(context);
  char when[kDateTimeCapacity];
  FormatLocalDateTime(finish, when, sizeof when);
  char text[kEstimateCapacity];
  FormatBounded(text, sizeof text, "ETA: %s", when);
  if (progress->host) progress->host->SetEstimateText(text);
}

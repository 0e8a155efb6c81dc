#pragma once
// What a consolidation job needs from whoever started it.
//
// The job never holds a window. The window, the console and the tests each
// implement this interface: they show the texts the engine builds, ask the
// user, and tell the job when it should stop. Every method is called on the
// job's worker thread; a host that shows things on another thread does its
// own hand-over. No method may throw.

#include <cstdint>

// Caption of every message the job shows.
inline constexpr const char kNoticeCaption[] = "Notice";

// The job's failures for lack of memory.
inline constexpr const char kNoMemoryForHashMap[] = "Out of memory while allocating hash map.";
inline constexpr const char kNoMemoryForBuffer[] = "Out of memory while allocating working buffer.";
inline constexpr const char kNoMemoryForIterator[] = "Out of memory while allocating iterator.";

class JobHost {
 public:
  virtual ~JobHost() = default;

  // Position of the progress bar, 0 to 100.
  virtual void SetProgress(uint32_t percent) = 0;
  // The status line ("Preparing...", "Consolidating...", "Finalizing...",
  // or empty when the job ends).
  virtual void SetStatusText(const char* text) = 0;
  // The completion estimate ("ETA: ..."), or empty when the job ends.
  virtual void SetEstimateText(const char* text) = 0;
  // A failure, shown with the caption kNoticeCaption and the error icon.
  virtual void ShowError(const char* text) = 0;
  // A Yes/No question (caption kNoticeCaption, question icon); true only for Yes.
  virtual bool AskYesNo(const char* text) = 0;
  // The result report: caption kNoticeCaption, the application icon, one OK
  // button. Returns when the user has closed it.
  virtual void ShowReport(const char* text) = 0;
  // Starts playing a sound file without waiting for it.
  virtual void PlaySoundFile(const char* path) = 0;
  // Whether new drops are accepted while the job runs (off at its start, on
  // again at its end).
  virtual void SetDropAcceptance(bool accept) = 0;
  // Releases the drop that started the job; called once, at its end.
  virtual void ReleaseDrop() = 0;
  // Asked before each entry; true makes the job stop as after a failure,
  // deleting its unfinished output.
  virtual bool IsStopRequested() = 0;
  // Before each entry of the pass: its 1-based position and the entry count.
  // For hosts that show more than the bar; the others need not implement it.
  virtual void SetEntryProgress(uint32_t /*current*/, uint32_t /*total*/) {}
};

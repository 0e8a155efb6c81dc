#pragma once
// Intake of files dropped on the main window: an archive starts a
// consolidation job on a worker thread, a WAV file becomes the sound played
// when later jobs finish, a codec library replaces zlib for reading the
// sources of later jobs; anything else is refused with a message.

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>

#include "support/text.h"

// Options shared with the main window and copied into each new job.
extern char SoundPath[kPathCapacity];  // WAV file dropped last; never cleared
extern char CodecLibraryPath[kPathCapacity];  // codec library chosen last; empty: none
extern uint8_t BestCompression;        // "Use best &compression"
extern uint8_t BackgroundMode;         // "&Background mode": the worker runs at idle priority

// Handles one drop. True when a job was started; the job then owns the drop
// handle and releases it. False when the caller must release it (DragFinish).
bool AcceptDrop(HWND window, HDROP drop);

// The file's first GRF_PROBE_HEAD_SIZE bytes can be read and carry an archive
// header's signature.
bool HasArchiveSignature(const char* path);
// The last byte of the file is the end marker of an archive trailer.
bool HasArchiveTrailer(const char* path);
// The file begins with "RIFF".
bool IsWaveFile(const char* path);
// The file is a library exporting "compress" or "compress2", and
// "uncompress". The library is mapped without resolving its imports and
// without running its entry point; its export table is read, not called.
bool IsCodecLibrary(const char* path);
// A temporary file can be created, reopened and deleted in the file's folder.
bool CanCreateFilesBeside(const char* path);

// What a drop is, in the order of the intake's checks.
enum class DropKind {
  WrongCount,        // none, or more than one file
  PathTooLong,       // 260 characters or more
  ReadOnlyLocation,  // an archive beside which no file can be created
  Archive,           // an archive in a writable folder: start a job
  Wave,
  CodecLibrary,
  Unsupported,
};

// Sorts a drop of `fileCount` files whose first name has `pathLength`
// characters; `path` is that name when it is shorter than 260 characters.
DropKind ClassifyDrop(uint32_t fileCount, size_t pathLength, const char* path);

// The message box text telling the user about a drop that started no job;
// null for DropKind::Archive.
const char* DropMessage(DropKind kind);

// How starting a job for an archive went.
enum class LaunchResult { Started, NoMemory, NoThread };

// Allocates the job record and its host, creates the worker suspended,
// lowers it to idle priority in background mode and resumes it.
LaunchResult LaunchJob(HWND window, HDROP drop, const char* path);
// The message for a launch that failed; null for Started.
const char* LaunchMessage(LaunchResult result);

// Whether the most recently launched worker is still running.
bool IsJobRunning();
// The most recently launched worker thread (null before the first job). The
// handle stays owned by the intake; it is valid until the next launch.
HANDLE RunningJobThread();
// Waits up to `milliseconds` for the running job to end; true when no job
// runs anymore. Must not be called on the window thread while the job may
// still send messages to the window.
bool WaitForJobEnd(DWORD milliseconds);
// Number of jobs launched so far.
uint32_t JobsLaunched();

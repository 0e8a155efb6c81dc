#include "app/drop_intake.h"

#include <atomic>
#include <cstring>
#include <new>

#include "app/window_job_host.h"
#include "engine/job_host.h"
#include "grf/grf.h"
#include "support/file_util.h"
#include "support/pool.h"
#include "support/sys_error.h"
#include "support/text.h"

char SoundPath[kPathCapacity];
char CodecLibraryPath[kPathCapacity];
uint8_t BestCompression;
uint8_t BackgroundMode;

namespace {

// The last launched worker, kept so that closing the window can wait for it.
std::atomic<HANDLE> g_worker{nullptr};
std::atomic<uint32_t> g_jobsLaunched{0};

void ShowNotice(HWND window, const char* text) {
  MessageBoxA(window, text, kNoticeCaption, MB_ICONINFORMATION);
}

void DestroyHost(WindowJobHost* host) {
  host->~WindowJobHost();
  PoolFree(host);
}

// The worker: runs the job (which frees its record and releases the drop),
// then frees the host the record pointed to.
DWORD WINAPI JobThreadMain(LPVOID parameter) {
  auto* host = static_cast<WindowJobHost*>(parameter);
  RunConsolidationJob(host->job());
  DestroyHost(host);
  return 0;
}

// Bounds-checked view of a module mapped as an image.
struct ImageView {
  const uint8_t* base;
  uint32_t size;

  bool Contains(uint32_t offset, uint32_t length) const {
    return offset <= size && length <= size - offset;
  }
  uint32_t Load32(uint32_t offset) const {
    uint32_t value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
  }
  uint16_t Load16(uint32_t offset) const {
    uint16_t value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
  }
  // A NUL-terminated name at `offset` equal to `name`, without reading past
  // the image.
  bool NameEquals(uint32_t offset, const char* name) const {
    const size_t length = std::strlen(name);
    if (!Contains(offset, static_cast<uint32_t>(length + 1))) return false;
    return std::memcmp(base + offset, name, length + 1) == 0;
  }
};

// Looks for `name` among the names of the image's export directory. Forwarded
// exports count as present and are not followed, so no other library is
// loaded either.
bool ImageExportsName(HMODULE module, const char* name) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  // The loader has checked the headers it mapped; stay within them anyway.
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew > 0x1000)
    return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const IMAGE_OPTIONAL_HEADER& optional = nt->OptionalHeader;
  if (optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT) return false;
  const IMAGE_DATA_DIRECTORY& directory = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const ImageView image{base, optional.SizeOfImage};
  if (directory.VirtualAddress == 0 ||
      !image.Contains(directory.VirtualAddress, sizeof(IMAGE_EXPORT_DIRECTORY)))
    return false;

  const uint32_t exports = directory.VirtualAddress;
  const uint32_t nameCount = image.Load32(exports + offsetof(IMAGE_EXPORT_DIRECTORY, NumberOfNames));
  const uint32_t names = image.Load32(exports + offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNames));
  const uint32_t ordinals =
      image.Load32(exports + offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNameOrdinals));
  const uint32_t functionCount =
      image.Load32(exports + offsetof(IMAGE_EXPORT_DIRECTORY, NumberOfFunctions));
  if (nameCount > image.size / 4 || !image.Contains(names, nameCount * 4) ||
      !image.Contains(ordinals, nameCount * 2))
    return false;
  for (uint32_t i = 0; i < nameCount; ++i) {
    if (!image.NameEquals(image.Load32(names + i * 4), name)) continue;
    // A name whose ordinal points past the function table exports nothing.
    return image.Load16(ordinals + i * 2) < functionCount;
  }
  return false;
}

}  // namespace

bool HasArchiveSignature(const char* path) {
  char head[GRF_PROBE_HEAD_SIZE];
  return ReadFileHead(path, head, sizeof head) && GrfProbeHead(head, sizeof head);
}

bool HasArchiveTrailer(const char* path) {
  FileHandle file = kInvalidFile;
  if (!OpenFileShared(path, 0, &file)) return false;
  uint8_t last = 0;
  const bool read = SeekFile32(file, -1, fileio::kFileEnd) && ReadExact(file, &last, 1, nullptr);
  CloseFileHandle(&file);
  return read && GrfProbeTail(&last, 1);
}

bool IsWaveFile(const char* path) {
  char head[4];
  return ReadFileHead(path, head, sizeof head) && std::memcmp(head, "RIFF", sizeof head) == 0;
}

bool IsCodecLibrary(const char* path) {
  // Mapped only: no imports are resolved and the entry point does not run.
  HMODULE module = LoadLibraryExA(path, nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!module) return false;
  bool result = false;
  if (ImageExportsName(module, "compress") || ImageExportsName(module, "compress2"))
    result = ImageExportsName(module, "uncompress");
  FreeLibrary(module);
  return result;
}

bool CanCreateFilesBeside(const char* path) {
  char folder[kPathCapacity];
  CopyBounded(folder, path, sizeof folder);
  if (char* separator = FindLastChar(folder, '\\'))
    separator[1] = '\0';
  else
    CopyBounded(folder, ".", sizeof folder);

  char name[kPathCapacity];
  SetSystemError(syserr::kSuccess);
  if (CreateUniqueTempFile(folder, "zqt", 0, name, sizeof name) == 0 &&
      GetSystemError() != syserr::kSuccess)
    return false;

  FileHandle file = kInvalidFile;
  if (!ReopenDeleteOnClose(name, &file)) {
    // The file exists but cannot be reopened: do not leave it behind.
    RemoveFile(name);
    return false;
  }
  CloseFileHandle(&file);  // deletes it
  return true;
}

DropKind ClassifyDrop(uint32_t fileCount, size_t pathLength, const char* path) {
  if (fileCount != 1) return DropKind::WrongCount;
  if (pathLength >= kPathCapacity) return DropKind::PathTooLong;
  if (HasArchiveSignature(path) || HasArchiveTrailer(path))
    return CanCreateFilesBeside(path) ? DropKind::Archive : DropKind::ReadOnlyLocation;
  if (IsWaveFile(path)) return DropKind::Wave;
  if (IsCodecLibrary(path)) return DropKind::CodecLibrary;
  return DropKind::Unsupported;
}

const char* DropMessage(DropKind kind) {
  switch (kind) {
    case DropKind::WrongCount:
      return "Please drop only one fatty archive at a time. The window could break otherwise.";
    case DropKind::PathTooLong:
      return "Cannot pull the dropped archive from that location. Please move it elsewhere and "
             "try again.";
    case DropKind::ReadOnlyLocation:
      return "Your archive seems to be in a read-only location or you do not have enough "
             "privileges to create and write files in there.";
    case DropKind::Archive:
      return nullptr;
    case DropKind::Wave:
      return "Fine, will play this once the archive is ready.";
    case DropKind::CodecLibrary:
      return "I see, this one will need some support.";
    case DropKind::Unsupported:
      break;
  }
  return "This does not look like a supported GRF archive. The extension is usually .grf, .gpf, "
         ".gef or .gsf ...";
}

const char* LaunchMessage(LaunchResult result) {
  switch (result) {
    case LaunchResult::Started:
      return nullptr;
    case LaunchResult::NoMemory:
      return "Your memory seems to be occupied by a heavy-weight as well. Try again later.";
    case LaunchResult::NoThread:
      break;
  }
  return "This application does not feel like working right now. Try again later.";
}

namespace {

// The job's worker threads run at the job's own priority.
void LowerWorkerPriority(void*) { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE); }

}  // namespace

LaunchResult LaunchJob(HWND window, HDROP drop, const char* path) {
  void* memory = PoolAllocZeroed(sizeof(WindowJobHost));
  if (!memory) return LaunchResult::NoMemory;
  auto* host = new (memory) WindowJobHost(window, drop);
  ConsolidationJob* job = CreateConsolidationJob(host, path, BestCompression != 0, SoundPath);
  if (!job) {
    DestroyHost(host);
    return LaunchResult::NoMemory;
  }
  CopyBounded(job->codecLibraryPath, CodecLibraryPath, sizeof job->codecLibraryPath);
  host->AttachJob(job);
  // Every hardware thread is put to work; in background mode all of them idle.
  if (BackgroundMode) job->workerStart = &LowerWorkerPriority;

  ClearJobStop();
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, &JobThreadMain, host, CREATE_SUSPENDED, &threadId);
  if (!thread) {
    job->~ConsolidationJob();
    PoolFree(job);
    DestroyHost(host);
    return LaunchResult::NoThread;
  }
  if (BackgroundMode) SetThreadPriority(thread, THREAD_PRIORITY_IDLE);
  // The handle is kept (instead of closed at once) so that closing the
  // window can wait for the job; the previous worker has ended by now.
  if (HANDLE previous = g_worker.exchange(thread)) CloseHandle(previous);
  g_jobsLaunched.fetch_add(1);
  ResumeThread(thread);
  return LaunchResult::Started;
}

bool IsJobRunning() {
  HANDLE thread = g_worker.load();
  return thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
}

HANDLE RunningJobThread() { return g_worker.load(); }

bool WaitForJobEnd(DWORD milliseconds) {
  HANDLE thread = g_worker.load();
  return !thread || WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
}

uint32_t JobsLaunched() { return g_jobsLaunched.load(); }

bool AcceptDrop(HWND window, HDROP drop) {
  // Drops are switched off while a job runs; one that got past (queued before
  // the worker switched them off) starts nothing.
  if (IsJobRunning()) return false;

  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  char path[kPathCapacity] = "";
  size_t length = 0;
  if (count == 1) {
    length = DragQueryFileA(drop, 0, nullptr, 0);
    if (length < sizeof path) DragQueryFileA(drop, 0, path, sizeof path);
  }

  const DropKind kind = ClassifyDrop(count, length, path);
  switch (kind) {
    case DropKind::Archive: {
      const LaunchResult result = LaunchJob(window, drop, path);
      if (result == LaunchResult::Started) return true;
      ShowNotice(window, LaunchMessage(result));
      return false;
    }
    case DropKind::Wave:
      CopyBounded(SoundPath, path, sizeof SoundPath);
      break;
    case DropKind::CodecLibrary:
      CopyBounded(CodecLibraryPath, path, sizeof CodecLibraryPath);
      break;
    default:
      break;
  }
  ShowNotice(window, DropMessage(kind));
  return false;
}

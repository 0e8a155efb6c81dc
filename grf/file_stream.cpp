// The file stream type: a native file handle. A failure leaves the system's
// reason as the last system error.

#include <cstring>

#include "grf/stream.h"
#include "support/file_util.h"
#include "support/sys_error.h"

namespace {

// Reads and writes at a position do not move the handle's position where
// the system has positioned calls; the position they end at is kept, and
// the handle is moved there before the next read or write that continues.
// Data written is handed to the system's write-back every so many bytes, so
// that a flush at the end does not wait for all of it.
struct FileStreamState {
  FileHandle handle;
  uint64_t next;
  bool seekPending;
  uint64_t writtenSinceHint;
};

constexpr uint32_t kWriteBackEvery = 32u << 20;

void NoteWritten(FileStreamState& file, uint32_t moved) {
  file.writtenSinceHint += moved;
  if (file.writtenSinceHint < kWriteBackEvery) return;
  file.writtenSinceHint = 0;
  StartWriteBack(file.handle);
}

FileStreamState& StateOf(void* state) { return *static_cast<FileStreamState*>(state); }
FileHandle& HandleOf(void* state) { return StateOf(state).handle; }

void FileClose(void* state) { CloseFileHandle(&HandleOf(state)); }

bool SeekTo(FileHandle handle, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) {
    SetSystemError(syserr::kNegativeSeek);
    return false;
  }
  return SeekFile64(handle, static_cast<int64_t>(position), nullptr, fileio::kFileBegin);
}

bool CatchUp(FileStreamState& file) {
  if (!file.seekPending) return true;
  if (!SeekTo(file.handle, file.next)) return false;
  file.seekPending = false;
  return true;
}

bool FileRead(void* state, void* buffer, uint32_t length, uint32_t* moved) {
  *moved = 0;
  return CatchUp(StateOf(state)) && ReadFromFile(HandleOf(state), buffer, length, moved);
}

bool FileWrite(void* state, const void* buffer, uint32_t length, uint32_t* moved) {
  *moved = 0;
  const bool ok = CatchUp(StateOf(state)) && WriteToFile(HandleOf(state), buffer, length, moved);
  NoteWritten(StateOf(state), *moved);
  return ok;
}

// A positioned transfer, and where the stream's position ends up after it.
template <typename Transfer>
bool AtPosition(void* state, uint32_t low, uint32_t high, uint32_t* moved, Transfer transfer) {
  *moved = 0;
  FileStreamState& file = StateOf(state);
  const uint64_t position = (static_cast<uint64_t>(high) << 32) | low;
  const bool ok = transfer(file.handle, position);
  file.next = position + *moved;
  file.seekPending = true;
  return ok;
}

bool FileReadAt64(void* state, uint32_t low, uint32_t high, void* buffer, uint32_t length,
                  uint32_t* moved) {
  return AtPosition(state, low, high, moved, [&](FileHandle handle, uint64_t position) {
    return ReadFromFileAt(handle, position, buffer, length, moved);
  });
}

bool FileWriteAt64(void* state, uint32_t low, uint32_t high, const void* buffer,
                   uint32_t length, uint32_t* moved) {
  const bool ok = AtPosition(state, low, high, moved, [&](FileHandle handle, uint64_t position) {
    return WriteToFileAt(handle, position, buffer, length, moved);
  });
  NoteWritten(StateOf(state), *moved);
  return ok;
}

bool FileReadShared(const void* state, uint64_t position, void* buffer, uint32_t length,
                    uint32_t* moved) {
  *moved = 0;
  return ReadFromFileAt(static_cast<const FileStreamState*>(state)->handle, position, buffer,
                        length, moved);
}

bool FileReadAt32(void* state, uint32_t position, void* buffer, uint32_t length,
                  uint32_t* moved) {
  return FileReadAt64(state, position, 0, buffer, length, moved);
}

bool FileWriteAt32(void* state, uint32_t position, const void* buffer, uint32_t length,
                   uint32_t* moved) {
  return FileWriteAt64(state, position, 0, buffer, length, moved);
}

bool SetEnd(FileHandle handle, uint64_t size) {
  if (size > static_cast<uint64_t>(INT64_MAX)) {
    SetSystemError(syserr::kNegativeSeek);
    return false;
  }
  return SetFileEnd64(handle, static_cast<int64_t>(size), fileio::kFileBegin);
}

bool FileSetSize32(void* state, uint32_t size) { return SetEnd(HandleOf(state), size); }

bool FileGetSize32(void* state, uint32_t* size) {
  uint64_t full = 0;
  if (!QueryFileSize(HandleOf(state), &full)) return false;
  if ((full >> 32) != 0) {
    SetSystemError(syserr::kInsufficientBuffer);
    return false;
  }
  *size = static_cast<uint32_t>(full);
  return true;
}

bool FileFlush(void* state) { return FlushFile(HandleOf(state)); }

// Type information (no state needed), the handle at creation, and the
// 64-bit size.
bool FileControl(void* state, uint32_t direction, uint32_t kind, void* data,
                 uint32_t dataLength, uint32_t* lengthOut) {
  if (direction == stream::kGet && kind == stream::kTypeInfo) {
    const StreamTypeInfo info{sizeof(FileStreamState), sizeof(FileHandle),
                              stream::kFileCapabilities};
    if (!data || dataLength < sizeof(info)) return false;
    std::memcpy(data, &info, sizeof(info));
    if (lengthOut) *lengthOut = sizeof(info);
    return true;
  }
  if (!state) return false;
  if (direction == stream::kSet && kind == stream::kHandle && data &&
      dataLength == sizeof(FileHandle)) {
    std::memcpy(&HandleOf(state), data, sizeof(FileHandle));
    return true;
  }
  if (kind != stream::kSize || !data || dataLength < sizeof(uint64_t)) return false;
  if (direction == stream::kSet) {
    uint64_t size = 0;
    std::memcpy(&size, data, sizeof(size));
    return SetEnd(HandleOf(state), size);
  }
  if (direction != stream::kGet) return false;
  uint64_t size = 0;
  if (!QueryFileSize(HandleOf(state), &size)) return false;
  std::memcpy(data, &size, sizeof(size));
  if (lengthOut) *lengthOut = sizeof(size);
  return true;
}

constexpr GrfStreamOps kFileOps = {
    FileClose,     FileRead,      FileWrite, FileReadAt32, FileWriteAt32, FileSetSize32,
    FileGetSize32, FileFlush,     FileControl, FileReadAt64, FileWriteAt64, FileReadShared,
};

[[maybe_unused]] const bool g_registered = StreamRegisterType(stream::kFileTag, &kFileOps);

}  // namespace

bool FileStreamWrap(FileHandle handle, GrfStream** stream) {
  if (!StreamCreate(stream::kFileTag, &handle, sizeof(handle), stream)) {
    SetSystemError(syserr::kOutOfMemory);
    return false;
  }
  return true;
}

namespace {

bool WrapOrClose(FileHandle file, FileHandle* handle, GrfStream** stream) {
  if (FileStreamWrap(file, stream)) {
    if (handle) *handle = file;
    return true;
  }
  const uint32_t error = GetSystemError();
  CloseFileHandle(&file);
  SetSystemError(error);
  if (handle) *handle = kInvalidFile;
  return false;
}

}  // namespace

bool FileStreamCreate(const char* path, uint32_t access, uint32_t share, void* security,
                      uint32_t disposition, uint32_t flagsAndAttributes, FileHandle templateFile,
                      FileHandle* handle, GrfStream** stream) {
  *stream = nullptr;
  FileHandle file =
      CreateFileChecked(path, access, share, security, disposition, flagsAndAttributes,
                        templateFile);
  if (file == kInvalidFile) {
    if (handle) *handle = kInvalidFile;
    return false;
  }
  return WrapOrClose(file, handle, stream);
}

bool FileStreamOpenRead(const char* path, uint32_t flagsAndAttributes, FileHandle* handle,
                        GrfStream** stream) {
  *stream = nullptr;
  FileHandle file = kInvalidFile;
  if (!OpenExistingForRead(path, flagsAndAttributes, &file)) {
    if (handle) *handle = kInvalidFile;
    return false;
  }
  return WrapOrClose(file, handle, stream);
}

// The file stream type: a native file handle and the last system error code.

#include <cstring>

#include "grf/stream.h"
#include "support/file_util.h"
#include "support/sys_error.h"

namespace {

struct FileStreamState {
  FileHandle handle;
  uint32_t lastError;
};

FileStreamState* AsFile(void* state) { return static_cast<FileStreamState*>(state); }

// Every operation starts with a clean error and keeps the system's reason on failure.
bool Keep(FileStreamState* file, bool ok) {
  if (!ok) file->lastError = GetSystemError();
  return ok;
}

void FileClose(void* state) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  Keep(file, CloseFileHandle(&file->handle));
}

bool FileRead(void* state, void* buffer, uint32_t length, uint32_t* moved) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  *moved = 0;
  return Keep(file, ReadFromFile(file->handle, buffer, length, moved));
}

bool FileWrite(void* state, const void* buffer, uint32_t length, uint32_t* moved) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  *moved = 0;
  return Keep(file, WriteToFile(file->handle, buffer, length, moved));
}

bool SeekTo(FileStreamState* file, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) {
    SetSystemError(syserr::kNegativeSeek);
    return Keep(file, false);
  }
  return Keep(file, SeekFile64(file->handle, static_cast<int64_t>(position), nullptr,
                               fileio::kFileBegin));
}

bool FileReadAt64(void* state, uint32_t low, uint32_t high, void* buffer, uint32_t length,
                  uint32_t* moved) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  *moved = 0;
  if (!SeekTo(file, (static_cast<uint64_t>(high) << 32) | low)) return false;
  return Keep(file, ReadFromFile(file->handle, buffer, length, moved));
}

bool FileWriteAt64(void* state, uint32_t low, uint32_t high, const void* buffer,
                   uint32_t length, uint32_t* moved) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  *moved = 0;
  if (!SeekTo(file, (static_cast<uint64_t>(high) << 32) | low)) return false;
  return Keep(file, WriteToFile(file->handle, buffer, length, moved));
}

bool FileReadAt32(void* state, uint32_t position, void* buffer, uint32_t length,
                  uint32_t* moved) {
  return FileReadAt64(state, position, 0, buffer, length, moved);
}

bool FileWriteAt32(void* state, uint32_t position, const void* buffer, uint32_t length,
                   uint32_t* moved) {
  return FileWriteAt64(state, position, 0, buffer, length, moved);
}

bool SetEnd(FileStreamState* file, uint64_t size) {
  if (size > static_cast<uint64_t>(INT64_MAX)) {
    SetSystemError(syserr::kNegativeSeek);
    return Keep(file, false);
  }
  return Keep(file, SetFileEnd64(file->handle, static_cast<int64_t>(size), fileio::kFileBegin));
}

bool FileSetSize32(void* state, uint32_t size) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  return SetEnd(file, size);
}

bool FileGetSize32(void* state, uint32_t* size) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  uint64_t full = 0;
  if (!Keep(file, QueryFileSize(file->handle, &full))) return false;
  if ((full >> 32) != 0) {
    SetSystemError(syserr::kInsufficientBuffer);
    return Keep(file, false);
  }
  *size = static_cast<uint32_t>(full);
  return true;
}

bool FileFlush(void* state) {
  FileStreamState* file = AsFile(state);
  file->lastError = 0;
  return Keep(file, FlushFile(file->handle));
}

bool Produce(void* data, uint32_t dataLength, const void* value, uint32_t size,
             uint32_t* lengthOut) {
  if (!data || dataLength < size) return false;
  std::memcpy(data, value, size);
  if (lengthOut) *lengthOut = size;
  return true;
}

bool FileControl(void* state, uint32_t direction, uint32_t kind, void* data,
                 uint32_t dataLength, uint32_t* lengthOut) {
  if (direction == stream::kGet && kind == stream::kTypeInfo) {
    const StreamTypeInfo info{sizeof(FileStreamState), sizeof(FileHandle),
                              stream::kFileCapabilities};
    return Produce(data, dataLength, &info, sizeof(info), lengthOut);
  }
  if (!state) return false;
  FileStreamState* file = AsFile(state);
  switch (direction) {
    case stream::kGet:
      if (kind == stream::kTag) {
        const uint32_t tag = stream::kFileTag;
        return Produce(data, dataLength, &tag, sizeof(tag), lengthOut);
      }
      if (kind == stream::kLastError) {
        return Produce(data, dataLength, &file->lastError, sizeof(file->lastError), lengthOut);
      }
      if (kind == stream::kSize) {
        if (!data || dataLength < sizeof(uint64_t)) return false;
        file->lastError = 0;
        uint64_t size = 0;
        if (!Keep(file, QueryFileSize(file->handle, &size))) return false;
        return Produce(data, dataLength, &size, sizeof(size), lengthOut);
      }
      return false;
    case stream::kSet:
      if (kind == stream::kHandle && data && dataLength == sizeof(FileHandle)) {
        std::memcpy(&file->handle, data, sizeof(FileHandle));
        return true;
      }
      if (kind == stream::kLastError && data && dataLength == sizeof(uint32_t)) {
        std::memcpy(&file->lastError, data, sizeof(uint32_t));
        return true;
      }
      if (kind == stream::kSize && data && dataLength == sizeof(uint64_t)) {
        uint64_t size = 0;
        std::memcpy(&size, data, sizeof(size));
        file->lastError = 0;
        return SetEnd(file, size);
      }
      return false;
    case stream::kReset:
      if (kind == stream::kLastError) {
        file->lastError = 0;
        return true;
      }
      return false;
    default:
      return false;
  }
}

constexpr GrfStreamOps kFileOps = {
    FileClose,     FileRead,      FileWrite, FileReadAt32, FileWriteAt32, FileSetSize32,
    FileGetSize32, FileFlush,     FileControl, FileReadAt64, FileWriteAt64,
};

const bool g_fileTypeRegistered = StreamRegisterType(stream::kFileTag, &kFileOps);

}  // namespace

bool FileStreamRegistered() { return g_fileTypeRegistered; }

bool FileStreamWrap(FileHandle handle, GrfStream** stream) {
  *stream = nullptr;
  if (!StreamCreate(stream::kFileTag, &handle, sizeof(handle), stream)) {
    SetSystemError(syserr::kOutOfMemory);
    *stream = nullptr;
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
  if (!OpenExistingForRead(path, flagsAndAttributes, &file) || file == kInvalidFile) {
    if (handle) *handle = kInvalidFile;
    return false;
  }
  return WrapOrClose(file, handle, stream);
}

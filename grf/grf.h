#pragma once
// GRF archive library: the archive handle and its operations.
//
// Every operation returns a boolean and leaves a status code in the archive
// (GrfGetLastStatus); some failures also leave a detail code
// (GrfGetLastDetail), which successes never clear. Buffers handed out by the
// library come from the memory pool (support/pool.h). Nothing throws.

#include <cstdint>

struct GrfArchive;  // defined in grf/archive.h; opaque to users of the library
struct GrfStream;   // defined in grf/stream.h

// ---- status codes: bit 31 = failure, bit 29 set in every code ----
constexpr uint32_t GRF_S_OK = 0x20000000;
constexpr uint32_t GRF_S_STILL_OPEN = 0x20000001;
constexpr uint32_t GRF_S_UNCHANGED = 0x20000004;
constexpr uint32_t GRF_E_OUT_OF_MEMORY = 0xA0000001;
constexpr uint32_t GRF_E_BAD_DATA = 0xA0000002;
constexpr uint32_t GRF_E_IO = 0xA0000003;
constexpr uint32_t GRF_E_IO_GROW = 0xA0000004;
constexpr uint32_t GRF_E_NAME_CLASS = 0xA0000005;
constexpr uint32_t GRF_E_NOT_FOUND = 0xA0000006;
constexpr uint32_t GRF_E_UNSUPPORTED = 0xA0000008;
constexpr uint32_t GRF_E_ABORTED = 0xA000000C;
constexpr uint32_t GRF_E_READ_ONLY = 0xA000000D;
constexpr uint32_t GRF_E_BUFFER_TOO_SMALL = 0xA000000E;
constexpr uint32_t GRF_E_OPEN_FAILED = 0xA0000011;
constexpr uint32_t GRF_E_CREATE_FAILED = 0xA0000012;
constexpr uint32_t GRF_E_LIMIT = 0xA0000013;
constexpr uint32_t GRF_E_CODEC_IO = 0xA0000014;
constexpr uint32_t GRF_E_CODEC = 0xA0FFFFFF;

constexpr bool GrfFailed(uint32_t status) { return (status & 0x80000000u) != 0; }

// ---- open flags and state bits (GrfArchive::flags) ----
constexpr uint32_t GRF_OPEN_READ_ONLY = 0x1;
constexpr uint32_t GRF_OPEN_SEQUENTIAL = 0x2;
constexpr uint32_t GRF_OPEN_TRACK_SPACE = 0x4;
constexpr uint32_t GRF_OPEN_LIMIT_NAMES = 0x8;
constexpr uint32_t GRF_OPEN_REUSE_GAPS = 0x10;
constexpr uint32_t GRF_OPEN_DEFER_TABLE = 0x20;
constexpr uint32_t GRF_OPEN_BACKSLASH_NAMES = 0x40;
constexpr uint32_t GRF_OPEN_NO_SEED = 0x80;
constexpr uint32_t GRF_OPEN_KEEP_VERSION = 0x100;
// Finalize does not flush: the caller makes the file durable itself (a
// temporary copy that is flushed before it takes its name).
constexpr uint32_t GRF_OPEN_CALLER_FLUSHES = 0x200;
constexpr uint32_t GRF_OPEN_APPEND_ONLY = 0x10000000;
constexpr uint32_t GRF_STATE_ENUMERATING = 0x20000000;
constexpr uint32_t GRF_STATE_CLOSING = 0x40000000;
constexpr uint32_t GRF_STATE_DIRTY = 0x80000000;

// ---- entry flags ----
constexpr uint8_t ENTRY_COMPRESSED = 0x01;
constexpr uint8_t ENTRY_CIPHER_MIXED = 0x02;
constexpr uint8_t ENTRY_CIPHER_HEADER = 0x04;

// ---- header kinds ----
constexpr int32_t HEADER_TAIL = 1;
constexpr int32_t HEADER_CLASSIC = 2;
constexpr int32_t HEADER_WIDE = 3;

// What an enumeration callback sees of one entry. `name` is valid during the
// callback only.
struct EntryView {
  uint32_t realSize;
  uint32_t storedSize;  // the entry's aligned (stored block) size
  const char* name;
  uint32_t reserved;    // always 0
};

// Codec hook: zlib's compress/uncompress signature and result codes
// (destination, destination length in/out, source, source length).
using GrfCodecHook = int (*)(unsigned char* destination, unsigned long* destinationLength,
                             const unsigned char* source, unsigned long sourceLength);

// Event hook: (archive, event code, event data, cookie); must answer 0.
using GrfEventHook = int (*)(GrfArchive* archive, uint32_t code, void* data, uint32_t cookie);

// Enumeration callback: 1-based position, total, the entry, user value.
// Answer true to go on, false to stop.
using GrfEntryCallback = bool (*)(uint32_t position, uint32_t total, const EntryView* entry,
                                  void* user);

// ---- open and lifecycle ----
bool GrfOpen(const char* path, uint32_t flags, uint32_t* status, GrfArchive** archive);
bool GrfOpenFile(const char* path, uint32_t flags, uint32_t* status, uint32_t* detail,
                 GrfArchive** archive);
// The archive takes its own reference on the stream.
bool GrfOpenStream(GrfStream* stream, uint32_t flags, uint32_t* status, uint32_t* detail,
                   GrfArchive** archive);
// Opens an archive on a file the caller has opened for reading and writing
// (an empty file becomes a new archive). The archive owns the handle from the
// call on, also when the open fails.
bool GrfOpenHandle(intptr_t handle, uint32_t flags, uint32_t* status, GrfArchive** archive);
// Opens a new archive that keeps none of its data: its header is kept and of
// every other write only the size, so that after GrfFinalize GrfGetFileSize
// is the size a file given the same changes would have. Reading an entry
// back from it fails.
bool GrfOpenMeasuring(uint32_t flags, uint32_t* status, GrfArchive** archive);
// Completes a load deferred by GRF_OPEN_DEFER_TABLE; can be repeated after a failure.
bool GrfLoadTable(GrfArchive* archive);
void GrfRetain(GrfArchive* archive, GrfArchive** handle);
// Drops the caller's reference and nulls the variable; the last reference
// discards unfinalized changes and frees the archive.
void GrfClose(GrfArchive** archive);

// ---- queries ----
bool GrfForEachEntry(GrfArchive* archive, GrfEntryCallback callback, void* user);
uint64_t GrfGetFileSize(const GrfArchive* archive);
uint32_t GrfGetMaxRealSize(const GrfArchive* archive);
uint32_t GrfGetLastStatus(const GrfArchive* archive);
uint32_t GrfGetLastDetail(const GrfArchive* archive);

// ---- codec hooks (null installs the built-in zlib hook) ----
void GrfSetCompressHook(GrfArchive* archive, GrfCodecHook hook);
void GrfSetUncompressHook(GrfArchive* archive, GrfCodecHook hook);

// ---- reading ----
// Decodes the named entry into the buffer. The real size is stored first, so
// a size query (null buffer, capacity 0) learns it even though it fails with
// GRF_E_BUFFER_TOO_SMALL for a non-empty entry.
bool GrfReadEntry(GrfArchive* archive, const char* name, void* buffer, uint32_t capacity,
                  uint32_t* realSize);

// ---- block-level reading: read once, decode once, copy from what was decoded ----
// One entry's record values and what can be said of them without reading.
struct GrfBlockInfo {
  uint32_t compressedSize;
  uint32_t alignedSize;  // length of the stored block
  uint32_t realSize;
  uint64_t offset;
  uint8_t flags;         // as recorded; the cipher bits tell what GrfReadBlock removes
  uint8_t lzss;          // compressed with the LZSS coding of 0x12 archives
  uint8_t viaHook;       // decoded through an uncompress hook other than built-in zlib
  uint8_t inFile;        // the stored block lies inside the file
  uint8_t decodable;     // realSize can come out of the block (sizes and expansion bounds)
};

// Record values of the named entry (GRF_E_NOT_FOUND).
bool GrfGetEntryInfo(GrfArchive* archive, const char* name, GrfBlockInfo* info);
// Reads the stored block (alignedSize bytes) and removes its cipher. Fails
// without reading: GRF_E_BUFFER_TOO_SMALL below alignedSize, GRF_E_IO when the
// block is not inside the file.
bool GrfReadBlock(GrfArchive* archive, const GrfBlockInfo* info, void* block, uint32_t capacity);
// GrfReadBlock that leaves the archive untouched and returns the status
// instead: safe on several threads at once over one archive, beside other
// calls on one thread. GRF_E_IO also for a stream that cannot read so.
uint32_t GrfReadBlockShared(const GrfArchive* archive, const GrfBlockInfo* info, void* block,
                            uint32_t capacity);
// GrfReadBlockShared for `count` blocks, each buffer holding its block's
// alignedSize bytes; statuses[i] is block i's status. Blocks that lie close
// together (consecutive entries in offset order) are read in one go.
void GrfReadBlocksShared(const GrfArchive* archive, const GrfBlockInfo* const* infos,
                         void* const* blocks, uint32_t count, uint32_t* statuses);
// Decodes a block from GrfReadBlock into `content` (capacity >= realSize), as
// GrfReadEntry would. *keepLength, also on failure, is the number of leading
// block bytes a copy must carry to decode the same way: for built-in zlib
// data up to the real end of the stream (never fewer than the recorded
// compressed size that fits the block).
bool GrfDecodeBlock(GrfArchive* archive, const GrfBlockInfo* info, const void* block,
                    void* content, uint32_t capacity, uint32_t* keepLength);
// GrfDecodeBlock that leaves the archive untouched and returns the status
// instead: safe on several threads at once over one archive, provided its
// uncompress hook is.
uint32_t GrfDecodeBlockShared(const GrfArchive* archive, const GrfBlockInfo* info,
                              const void* block, void* content, uint32_t capacity,
                              uint32_t* keepLength);
// Stores an entry read from another archive under `name`. With `content`
// (the decoded entry), stored and LZSS entries are compressed through the
// target's compress hook; otherwise the first keepLength block bytes are
// stored with the record's sizes and the cipher bits cleared. An entry of
// real size 0 is stored empty.
bool GrfPutBlock(GrfArchive* target, const char* name, const GrfBlockInfo* info,
                 const void* block, uint32_t keepLength, const void* content);

// ---- probe: signature checks on bytes the caller has read, nothing more ----
// First bytes of a file: enough to hold either header signature.
constexpr uint32_t GRF_PROBE_HEAD_SIZE = 16;
// The file's first `length` bytes start with the classic or the wide header's
// signature (terminator included).
bool GrfProbeHead(const void* head, uint32_t length);
// The file's last `length` bytes end in the trailer's end marker.
bool GrfProbeTail(const void* tail, uint32_t length);

// ---- name class ----
// True for names whose extension is "act", "gat", "gnd" or "str" (ASCII case
// ignored). Their entries in 0x1xx archives carry the header cipher, and a
// link there must not cross the class (GRF_E_NAME_CLASS).
bool GrfIsHeaderCipherName(const char* name);

// ---- changes (transfer module) ----
// realSize 0: the data is stored uncompressed.
bool GrfPutCompressed(GrfArchive* archive, const char* name, const void* data,
                      uint32_t compressedSize, uint32_t realSize);
// Compresses through the archive's compress hook.
bool GrfPutData(GrfArchive* archive, const char* name, const void* data, uint32_t size);
bool GrfCopyEntry(GrfArchive* target, GrfArchive* source, const char* name, void* work,
                  uint32_t workCapacity);
bool GrfLinkEntry(GrfArchive* archive, const char* existingName, const char* newName);

// ---- commit (table writer module) ----
bool GrfFinalize(GrfArchive* archive);

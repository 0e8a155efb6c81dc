#pragma once
// libslimgrf, the GRF archive library: the archive handle and its operations.
//
// Every operation returns a boolean and leaves a status code in the archive
// (GrfGetLastStatus); some failures also leave a detail code
// (GrfGetLastDetail), which successes never clear. The caller owns every
// buffer it passes; the library keeps none of them past the call. Nothing
// throws. This header is all a program needs: link libslimgrf (and
// libdeflate, zlib and the thread library when linking it statically).

#include <cstdint>

// Declarations of the library's entry points; only these are exported from
// the shared library.
#if defined(_WIN32) || !defined(__GNUC__)
#define GRF_API
#else
#define GRF_API __attribute__((visibility("default")))
#endif

struct GrfArchive;  // opaque

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

// ---- detail codes (GrfGetLastDetail): which check or allocation a failure came from ----
// Memory refused for: the size query of a new file, the raw table, the
// archive, the entry index, an entry, its insertion, the free-space map
// (creation, a gap, the fill), the output of a table inflate.
constexpr uint32_t GRF_DETAIL_SIZE_QUERY = 0xA0000001;
constexpr uint32_t GRF_DETAIL_TABLE_ALLOC = 0xA0000010;
constexpr uint32_t GRF_DETAIL_HANDLE_ALLOC = 0xA0000011;
constexpr uint32_t GRF_DETAIL_INDEX_CREATE = 0xA0000012;
constexpr uint32_t GRF_DETAIL_ENTRY_ALLOC = 0xA0000013;
constexpr uint32_t GRF_DETAIL_ENTRY_INSERT = 0xA0000014;
constexpr uint32_t GRF_DETAIL_SPACE_MAP_CREATE = 0xA0000015;
constexpr uint32_t GRF_DETAIL_SPACE_MAP_ADD = 0xA0000016;
constexpr uint32_t GRF_DETAIL_SPACE_MAP_FILL = 0xA0000017;
constexpr uint32_t GRF_DETAIL_INFLATE_ALLOC = 0xA0000018;
// The header: unreadable, a wrong signature, an unknown or too new version.
constexpr uint32_t GRF_DETAIL_HEADER_UNREADABLE = 0xA0000020;
constexpr uint32_t GRF_DETAIL_SIGNATURE = 0xA0000021;
constexpr uint32_t GRF_DETAIL_UNKNOWN_FAMILY = 0xA0000022;
constexpr uint32_t GRF_DETAIL_VERSION_ABOVE_103 = 0xA0000023;
constexpr uint32_t GRF_DETAIL_VERSION_ABOVE_200 = 0xA0000024;
constexpr uint32_t GRF_DETAIL_VERSION_NOT_12 = 0xA0000025;
constexpr uint32_t GRF_DETAIL_VERSION_ABOVE_300 = 0xA0000026;
// The table of each layout: past the end of the file, empty, unreadable,
// and its records: no length, the name past the end, a bad name, too short.
constexpr uint32_t GRF_DETAIL_TABLE_PAST_END = 0xA0000030;
constexpr uint32_t GRF_DETAIL_EMPTY_200_TABLE = 0xA0000031;
constexpr uint32_t GRF_DETAIL_PREFIX_UNREADABLE = 0xA0000032;
constexpr uint32_t GRF_DETAIL_TABLE_1XX_TOO_LARGE = 0xA0000040;
constexpr uint32_t GRF_DETAIL_EMPTY_1XX_TABLE = 0xA0000041;
constexpr uint32_t GRF_DETAIL_TABLE_1XX_UNREADABLE = 0xA0000042;
constexpr uint32_t GRF_DETAIL_RECORD_1XX_NO_LENGTH = 0xA0000043;
constexpr uint32_t GRF_DETAIL_RECORD_1XX_NAME_PAST_END = 0xA0000044;
constexpr uint32_t GRF_DETAIL_NAME_1XX_TOO_SHORT = 0xA0000046;
constexpr uint32_t GRF_DETAIL_NAME_1XX_NOT_BLOCKS = 0xA0000047;
constexpr uint32_t GRF_DETAIL_NAME_1XX_NO_NUL = 0xA0000048;
constexpr uint32_t GRF_DETAIL_RECORD_1XX_SHORT = 0xA0000049;
constexpr uint32_t GRF_DETAIL_TABLE_200_UNREADABLE = 0xA0000050;
constexpr uint32_t GRF_DETAIL_RECORD_200_NO_NUL = 0xA0000051;
constexpr uint32_t GRF_DETAIL_RECORD_200_SHORT = 0xA0000052;
constexpr uint32_t GRF_DETAIL_TRAILER_TABLE = 0xA0000070;
constexpr uint32_t GRF_DETAIL_EMPTY_12_TABLE = 0xA0000071;
constexpr uint32_t GRF_DETAIL_TABLE_12_UNREADABLE = 0xA0000072;
constexpr uint32_t GRF_DETAIL_RECORD_12_NAME_PAST_END = 0xA0000073;
constexpr uint32_t GRF_DETAIL_NAME_12_NO_NUL = 0xA0000075;
constexpr uint32_t GRF_DETAIL_RECORD_12_SHORT = 0xA0000076;
constexpr uint32_t GRF_DETAIL_TABLE_300_UNREADABLE = 0xA0000090;
constexpr uint32_t GRF_DETAIL_RECORD_300_NO_NUL = 0xA0000091;
constexpr uint32_t GRF_DETAIL_RECORD_300_SHORT = 0xA0000092;
// A compressed table or entry that does not inflate (the uncompress hook's
// failure), an LZSS entry that does not decode.
constexpr uint32_t GRF_DETAIL_INFLATE = 0xA0000060;
constexpr uint32_t GRF_DETAIL_LZSS = 0xA0000080;

constexpr bool GrfFailed(uint32_t status) { return (status & 0x80000000u) != 0; }

// ---- open flags and state bits (GrfArchive::flags) ----
constexpr uint32_t GRF_OPEN_READ_ONLY = 0x1;
constexpr uint32_t GRF_OPEN_SEQUENTIAL = 0x2;
constexpr uint32_t GRF_OPEN_TRACK_SPACE = 0x4;
constexpr uint32_t GRF_OPEN_LIMIT_NAMES = 0x8;
// The longest name (in bytes, terminator aside) a change stores under
// GRF_OPEN_LIMIT_NAMES (GRF_E_LIMIT beyond).
constexpr uint32_t GRF_LIMITED_NAME_LENGTH = 251;
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

// zlib's compress2: a compress hook with the level as a fifth argument.
using GrfCompress2Hook = int (*)(unsigned char* destination, unsigned long* destinationLength,
                                 const unsigned char* source, unsigned long sourceLength,
                                 int level);

// Event hook: (archive, event code, event data, cookie); must answer 0.
using GrfEventHook = int (*)(GrfArchive* archive, uint32_t code, void* data, uint32_t cookie);

// Enumeration callback: 1-based position, total, the entry, user value.
// Answer true to go on, false to stop.
using GrfEntryCallback = bool (*)(uint32_t position, uint32_t total, const EntryView* entry,
                                  void* user);

// ---- open and lifecycle ----
// Every open hands the caller one reference (*archive), released with
// GrfClose; `status` and `detail` (either may be null) receive the open's
// status and detail code, also on failure.

// Opens the archive at `path` (GRF_OPEN_* flags). Read-only, the file must
// exist (GRF_E_OPEN_FAILED) and is shared with writers; otherwise it is
// created when missing (GRF_E_CREATE_FAILED), and an empty file becomes a new
// 0x200 archive.
GRF_API bool GrfOpen(const char* path, uint32_t flags, uint32_t* status, GrfArchive** archive);
// GrfOpen that also tells the detail code of a failed open.
GRF_API bool GrfOpenFile(const char* path, uint32_t flags, uint32_t* status, uint32_t* detail,
                         GrfArchive** archive);
// Opens an archive on a file the caller has opened for reading and writing
// (an empty file becomes a new archive). The archive owns the handle from the
// call on, also when the open fails.
GRF_API bool GrfOpenHandle(intptr_t handle, uint32_t flags, uint32_t* status,
                           GrfArchive** archive);
// Opens a new archive that keeps none of its data: its header is kept and of
// every other write only the size, so that after GrfFinalize GrfGetFileSize
// is the size a file given the same changes would have. Reading an entry
// back from it fails.
GRF_API bool GrfOpenMeasuring(uint32_t flags, uint32_t* status, GrfArchive** archive);
// Completes a load deferred by GRF_OPEN_DEFER_TABLE (hooks installed between
// the open and this call read the table); can be repeated after a failure.
GRF_API bool GrfLoadTable(GrfArchive* archive);
// Takes another reference on the archive into *handle.
GRF_API void GrfRetain(GrfArchive* archive, GrfArchive** handle);
// Drops the caller's reference and nulls the variable; the last reference
// discards unfinalized changes and frees the archive.
GRF_API void GrfClose(GrfArchive** archive);

// ---- queries ----
// Calls back once per entry, in the order of their blocks in the file. Changes
// are refused meanwhile (GRF_E_READ_ONLY). A callback that answers false
// stops the walk, which then fails with GRF_E_ABORTED.
GRF_API bool GrfForEachEntry(GrfArchive* archive, GrfEntryCallback callback, void* user);
// The archive file's size at the open and after each finalize.
GRF_API uint64_t GrfGetFileSize(const GrfArchive* archive);
// The largest real (decoded) entry size the table records.
GRF_API uint32_t GrfGetMaxRealSize(const GrfArchive* archive);
// The status the last operation left (GRF_S_* or GRF_E_*).
GRF_API uint32_t GrfGetLastStatus(const GrfArchive* archive);
// The detail code of the last failure that had one (GRF_DETAIL_*).
GRF_API uint32_t GrfGetLastDetail(const GrfArchive* archive);

// ---- codec hooks: the archive's own; null installs the built-in zlib hook ----
// The hook that compresses what GrfPutData and GrfCopyEntry store.
GRF_API void GrfSetCompressHook(GrfArchive* archive, GrfCodecHook hook);
// A compress2-style compress hook, called with zlib's default level (-1).
GRF_API void GrfSetCompress2Hook(GrfArchive* archive, GrfCompress2Hook hook);
// The hook that decodes the table and every compressed entry that is not LZSS.
// A hook other than built-in zlib must stay callable while the archive is open.
GRF_API void GrfSetUncompressHook(GrfArchive* archive, GrfCodecHook hook);

// ---- reading ----
// Decodes the named entry into the caller's buffer (GRF_E_NOT_FOUND,
// GRF_E_BAD_DATA for a record no decode can satisfy, GRF_E_IO). The real size
// is stored first, so a size query (null buffer, capacity 0) learns it even
// though it fails with GRF_E_BUFFER_TOO_SMALL for a non-empty entry.
GRF_API bool GrfReadEntry(GrfArchive* archive, const char* name, void* buffer,
                          uint32_t capacity, uint32_t* realSize);

// ---- block-level reading: read once, decode once, copy from what was decoded ----
// One entry's record values and the facts of its block the library derives
// from them. GrfGetEntryInfo fills all of it without reading; a decode
// (GrfDecodeBlock*) updates carryLength.
struct GrfBlockInfo {
  uint32_t compressedSize;
  uint32_t alignedSize;  // length of the stored block
  uint32_t realSize;
  uint64_t offset;
  uint32_t decodeSpan;   // leading bytes of the deciphered block a decode reads
  uint32_t carryLength;  // leading bytes a copy carries to decode the same way
  uint8_t flags;         // as recorded; the cipher bits tell what GrfReadBlock removes
  uint8_t carryFlags;    // the flags a carried copy records: the cipher bits cleared
  uint8_t lzss;          // compressed with the LZSS coding of 0x12 archives
  uint8_t viaHook;       // decoded through an uncompress hook other than built-in zlib
  uint8_t inFile;        // the stored block lies inside the file
  uint8_t decodable;     // realSize can come out of the block (sizes and expansion bounds)
};

// Record values and block facts of the named entry (GRF_E_NOT_FOUND).
GRF_API bool GrfGetEntryInfo(GrfArchive* archive, const char* name, GrfBlockInfo* info);
// Reads the stored block (alignedSize bytes) into the caller's buffer and
// removes its cipher. Fails without reading: GRF_E_BUFFER_TOO_SMALL below
// alignedSize, GRF_E_IO when the block is not inside the file.
GRF_API bool GrfReadBlock(GrfArchive* archive, const GrfBlockInfo* info, void* block,
                          uint32_t capacity);
// GrfReadBlock that leaves the archive untouched and returns the status
// instead: safe on several threads at once over one archive, beside other
// calls on one thread. GRF_E_IO also for an archive opened on a stream that
// cannot read so.
GRF_API uint32_t GrfReadBlockShared(const GrfArchive* archive, const GrfBlockInfo* info,
                                    void* block, uint32_t capacity);
// The batch form of GrfReadBlockShared, with its thread safety: `count`
// blocks, each buffer holding its block's alignedSize bytes; statuses[i] is
// block i's status. Blocks that lie close together (consecutive entries in
// offset order) are read in one go.
GRF_API void GrfReadBlocksShared(const GrfArchive* archive, const GrfBlockInfo* const* infos,
                                 void* const* blocks, uint32_t count, uint32_t* statuses);
// Decodes a block from GrfReadBlock into `content` (capacity >= realSize) by
// the very routine GrfReadEntry uses. Also on failure it sets
// info->carryLength: for built-in zlib data of an enciphered entry the real
// end of the stream when that lies past the recorded compressed size. With no
// room for content (capacity below realSize) it fails with
// GRF_E_BUFFER_TOO_SMALL and leaves carryLength at what the record says.
GRF_API bool GrfDecodeBlock(GrfArchive* archive, GrfBlockInfo* info, const void* block,
                            void* content, uint32_t capacity);
// GrfDecodeBlock that leaves the archive untouched and returns the status
// instead: safe on several threads at once over one archive, provided its
// uncompress hook is.
GRF_API uint32_t GrfDecodeBlockShared(const GrfArchive* archive, GrfBlockInfo* info,
                                      const void* block, void* content, uint32_t capacity);
// Stores an entry read from another archive under `name`. With `content`
// (the decoded entry), stored and LZSS entries are compressed through the
// target's compress hook; otherwise the first carryLength block bytes are
// stored with the record's sizes and carryFlags. An entry of real size 0 is
// stored empty.
GRF_API bool GrfPutBlock(GrfArchive* target, const char* name, const GrfBlockInfo* info,
                         const void* block, const void* content);

// ---- probe: signature checks on bytes the caller has read, nothing more ----
// First bytes of a file: enough to hold either header signature.
constexpr uint32_t GRF_PROBE_HEAD_SIZE = 16;
// The file's first `length` bytes start with the classic or the wide header's
// signature (terminator included).
GRF_API bool GrfProbeHead(const void* head, uint32_t length);
// The file's last `length` bytes end in the trailer's end marker.
GRF_API bool GrfProbeTail(const void* tail, uint32_t length);

// ---- name class ----
// True for names whose extension is "act", "gat", "gnd" or "str" (ASCII case
// ignored). Their entries in 0x1xx archives carry the header cipher, and a
// link there must not cross the class (GRF_E_NAME_CLASS).
GRF_API bool GrfIsHeaderCipherName(const char* name);

// ---- changes: refused on read-only archives and during a walk (GRF_E_READ_ONLY) ----
// Every change stores under `name`, replacing an entry of that name (ASCII
// case ignored); nothing is in the file's table before GrfFinalize. A 0x1xx
// archive is rewritten in the 0x200 layout first (GRF_E_UNSUPPORTED with
// GRF_OPEN_KEEP_VERSION).

// Stores `compressedSize` bytes of zlib data as they are; realSize 0 stores
// them uncompressed.
GRF_API bool GrfPutCompressed(GrfArchive* archive, const char* name, const void* data,
                              uint32_t compressedSize, uint32_t realSize);
// Stores `size` bytes compressed through the archive's compress hook.
GRF_API bool GrfPutData(GrfArchive* archive, const char* name, const void* data, uint32_t size);
// Copies the source's entry `name` into the target, deciphered: zlib data as
// it is, stored and LZSS data compressed through the target's hook. The
// caller may lend a buffer (`work`), used when it holds the stored block.
// Read failures land in the source's status, the others in the target's.
GRF_API bool GrfCopyEntry(GrfArchive* target, GrfArchive* source, const char* name, void* work,
                          uint32_t workCapacity);
// Adds `newName` as a second record of the block of `existingName`
// (GRF_E_NOT_FOUND; GRF_E_NAME_CLASS across the name class in 0x1xx archives).
GRF_API bool GrfLinkEntry(GrfArchive* archive, const char* existingName, const char* newName);

// ---- commit ----
// Writes the table of a changed archive and then the header that points at
// it; an unchanged archive is left alone (GRF_S_UNCHANGED). The data and the
// table reach the disk before the header unless GRF_OPEN_CALLER_FLUSHES.
GRF_API bool GrfFinalize(GrfArchive* archive);

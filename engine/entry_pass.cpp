#include "engine/entry_pass.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "engine/batch_read.h"
#include "engine/content_index.h"
#include "engine/copy_verification.h"
#include "engine/format.h"
#include "engine/job_host.h"
#include "engine/progress.h"
#include "engine/recent_contents.h"
#include "engine/stream_memo.h"
#include "support/pool.h"
#include "support/content_crc.h"
#include "support/zlib_pool.h"

namespace {

constexpr int kMaxCompressAttempts = 8;

// Whether two buffers hold the same `length` bytes.
bool SameBytes(const void* first, const void* second, size_t length) {
  return length == 0 || std::memcmp(first, second, length) == 0;
}

// Compresses into a new pool buffer (released by the caller with PoolFree).
// Returns zlib's status; on failure the buffer is null. Retries after
// Z_BUF_ERROR are bounded.
int CompressToNewBuffer(const void* data, uint32_t length, int level,
                        uint32_t* compressedLength, unsigned char** buffer) {
  *buffer = nullptr;
  *compressedLength = 0;
  // compressBound always suffices for zlib; a few retries cover a library
  // that thinks otherwise, and then it is given up.
  unsigned long capacity = compressBound(length);
  for (int attempt = 0; attempt < kMaxCompressAttempts; ++attempt) {
    auto* out = static_cast<unsigned char*>(PoolAlloc(capacity));
    if (!out) {
      *compressedLength = static_cast<uint32_t>(capacity);
      return Z_MEM_ERROR;
    }
    unsigned long produced = capacity;
    const int status = ZlibCompressPooled(out, &produced, static_cast<const unsigned char*>(data),
                                          length, level);
    if (status == Z_OK) {
      *buffer = out;
      *compressedLength = static_cast<uint32_t>(produced);
      return Z_OK;
    }
    PoolFree(out);
    if (status != Z_BUF_ERROR) return status;
    capacity += 1024;
  }
  return Z_BUF_ERROR;
}

constexpr uint64_t kNoEntry = ~uint64_t{0};
// Decodes remembered by their blocks: about 100 bytes each.
constexpr size_t kMemoEntries = size_t{1} << 18;

// Decodes a block whole into `content`; a codec library's hook is called by
// one thread at a time, as such a library need not be thread-safe.
uint32_t DecodeBlockTurnwise(const GrfArchive* source, GrfBlockInfo* info,
                             const unsigned char* block, unsigned char* content,
                             std::mutex* hookLock) {
  std::unique_lock<std::mutex> lock;
  if (info->viaHook) lock = std::unique_lock<std::mutex>(*hookLock);
  return GrfDecodeBlockShared(source, info, block, content, info->realSize);
}

// One entry on its way through the pipeline: read, decoded and checksummed on
// a worker, decided in entry order, packed on a worker when the decision asks
// for it, and written in entry order.
struct EntryWork {
  enum class Stage : uint8_t { kDecode, kWrite };
  enum class Action : uint8_t { kEmpty, kUndecoded, kLink, kCarry, kPack };

  const GrfArchive* source = nullptr;
  const char* name = nullptr;
  uint64_t sequence = 0;  // position in the pass
  StreamMemo* memo = nullptr;
  // An earlier entry whose block is this one's, byte for byte: its results
  // were taken instead of decoding, and there is no content.
  uint64_t sameAs = kNoEntry;
  GrfBlockInfo info{};
  Stage stage = Stage::kDecode;
  bool pending = false;  // Run has work to do
  bool blockRead = false;
  bool outOfMemory = false;  // a buffer for the read or the decode was refused
  bool isolated = false;  // header-cipher name class: matched only within it
  bool remembered = false;  // content lent to the pass's recent contents
  unsigned char* block = nullptr;    // the stored block, deciphered
  unsigned char* content = nullptr;  // the decoded entry
  // Decode results.
  uint32_t status = GRF_E_BAD_DATA;
  uint32_t checksum = 0;
  uint32_t spanChecksum = 0;  // CRC-32 of the block bytes a decode reads (read, decodable)
  uint64_t digest = 0;
  const DigestKey* digestKey = nullptr;
  std::mutex* hookLock = nullptr;  // a codec library's hook is called by one thread at a time
  // The decision and its packing.
  Action action = Action::kEmpty;
  const char* linkTarget = nullptr;  // a name in the content index
  int level = 0;
  int packStatus = Z_OK;
  unsigned char* packed = nullptr;
  uint32_t packedLength = 0;

  EntryWork() = default;
  EntryWork(const EntryWork&) = delete;
  EntryWork& operator=(const EntryWork&) = delete;
  ~EntryWork() {
    ReleaseContent();
    if (block) PoolFree(block);
    if (packed) PoolFree(packed);
  }
  void ReleaseContent() {
    if (content) PoolFree(content);
    content = nullptr;
  }

  // Only blocks inside the file are read, and only sizes that can come out
  // of them are allocated: hostile declarations cost nothing.
  bool WantsBlock() const { return stage == Stage::kDecode && pending; }

  // Decodes the block the batch read.
  void Decode() noexcept {
    if (!block) {
      outOfMemory = true;
      return;
    }
    if (!blockRead || !info.decodable) return;
    const StreamKey key = StreamKeyOf(info, block, isolated);
    spanChecksum = key.checksum;
    if (TakeEarlier(key)) return;
    if (!DecodeContent()) return;
    memo->File(key, StreamDecode{sequence, source, info, checksum, digest});
  }

  // Decodes into a new content buffer and sums it; false when that failed.
  bool DecodeContent() noexcept {
    content = static_cast<unsigned char*>(PoolAlloc(info.realSize));
    if (!content) {
      outOfMemory = true;
      return false;
    }
    status = DecodeBlockTurnwise(source, &info, block, content, hookLock);
    if (status != GRF_S_OK) return false;
    checksum = ContentCrc32(content, info.realSize);
    digest = ContentDigest(*digestKey, content, info.realSize);
    return true;
  }

  // Takes the results of an earlier entry whose block equals this one's.
  bool TakeEarlier(const StreamKey& key) noexcept {
    StreamDecode earlier;
    if (!memo->Find(key, &earlier) || earlier.sequence >= sequence) return false;
    if (earlier.source != source || earlier.info.offset != info.offset) {
      PoolBuffer other;
      if (!other.Allocate(info.alignedSize) ||
          GrfReadBlockShared(earlier.source, &earlier.info, other.bytes(), info.alignedSize) !=
              GRF_S_OK ||
          std::memcmp(other.bytes(), block, info.decodeSpan) != 0)
        return false;
    }
    status = GRF_S_OK;
    checksum = earlier.checksum;
    digest = earlier.digest;
    info.carryLength = earlier.info.carryLength;
    sameAs = earlier.sequence;
    return true;
  }

  void Run() noexcept {
    if (!pending) return;
    pending = false;
    if (stage == Stage::kDecode) {
      Decode();
    } else if (action == Action::kPack) {
      packStatus = level == Z_DEFAULT_COMPRESSION
                       ? CompressToNewBuffer(content, info.realSize, level, &packedLength, &packed)
                       : DeflateToNewBuffer(content, info.realSize, level, &packedLength, &packed);
      // Data the default mode would deflate at the default level: that is
      // kept when the chosen level comes out bigger, which happens by a few bytes.
      const bool plain = !(info.flags & ENTRY_COMPRESSED) || info.lzss;
      if (packStatus == Z_OK && level != Z_DEFAULT_COMPRESSION && plain) {
        unsigned char* other = nullptr;
        uint32_t otherLength = 0;
        packStatus = CompressToNewBuffer(content, info.realSize, Z_DEFAULT_COMPRESSION,
                                         &otherLength, &other);
        if (packStatus == Z_OK && otherLength < packedLength) {
          std::swap(packed, other);
          packedLength = otherLength;
        }
        if (other) PoolFree(other);
      }
    }
  }
};

// Consecutive entries handed over together.
struct EntryBatch final : PipelineBatch<EntryWork> {
  EntryWork::Stage stage = EntryWork::Stage::kDecode;
  void Run() noexcept override {
    // A batch may span the end of one source and the start of the next.
    for (uint32_t first = 0, end = 0; stage == EntryWork::Stage::kDecode && first < count;
         first = end) {
      for (end = first + 1; end < count && items[end]->source == items[first]->source;) ++end;
      ReadBatchBlocks(items[first]->source, items + first, end - first);
    }
    PipelineBatch<EntryWork>::Run();
  }
  bool NeedsRun() const {
    for (uint32_t i = 0; i < count; ++i)
      if (items[i]->pending) return true;
    return false;
  }
};

bool SameKind(const GrfBlockInfo& a, const GrfBlockInfo& b) {
  return (a.flags & ENTRY_COMPRESSED) == (b.flags & ENTRY_COMPRESSED) && a.lzss == b.lzss &&
         a.viaHook == b.viaHook && a.realSize == b.realSize;
}

struct EntryPass;
using EntryFeeder = BatchFeeder<EntryBatch, EntryPass>;

struct EntryPass {
  GrfArchive* destination = nullptr;
  GrfArchive* const* sources = nullptr;  // in order: a later one's entries win
  uint32_t sourceCount = 0;
  uint32_t current = 0;       // the source being walked
  uint32_t walked = 0;        // entries of the sources before it
  uint32_t entries = 0;       // entries of all sources
  const PassOptions* options = nullptr;
  PassCounts counts;
  ContentIndex* index = nullptr;
  const DigestKey* digestKey = nullptr;
  OrderedPipeline* pipeline = nullptr;
  EntryFeeder* feeder = nullptr;
  std::mutex* hookLock = nullptr;
  RecentContents* recent = nullptr;
  StreamMemo* memo = nullptr;
  // Per entry in pass order: the position of its content's name in the
  // index, for entries whose content went into the index (stored or linked).
  std::vector<uint32_t> placed;
  bool failed = false;  // a failure was shown (a stop shows nothing)

  // Takes the oldest batch in flight from the feeder.
  bool Take(std::unique_ptr<PipelineTask> task);
};

constexpr uint32_t kNotPlaced = ~uint32_t{0};

struct DuplicateProbe {
  EntryPass* pass;
  const EntryWork* work;
  const unsigned char* firstContent;  // the first candidate's, when remembered
  const char* foundName;
  uint32_t visited;  // candidates visited; the found one's position is one less
};

// Shows a failure of one entry and stops the pass.
bool Report(EntryPass* pass, const char* format, const char* name, const char* other = nullptr) {
  char text[kMessageCapacity];
  if (other)
    FormatBounded(text, sizeof text, format, name, other);
  else
    FormatBounded(text, sizeof text, format, name);
  pass->options->host->ShowError(text);
  pass->failed = true;
  return false;
}

bool OutOfMemory(EntryPass* pass, const char* message) {
  pass->options->host->ShowError(message);
  pass->failed = true;
  return false;
}

bool Expect(EntryPass* pass, const char* name, const CopyExpectation& expectation) {
  if (!pass->options->expectations) return true;
  if (pass->options->expectations->Expect(name, expectation)) return true;
  return OutOfMemory(pass, kNoMemoryForHashMap);
}

// The source `name` is written from: the last one that has it; null when none
// has it or the lookup ran out of memory (*outOfMemory is then set).
GrfArchive* FindSource(const EntryPass* pass, const char* name, uint32_t from, uint32_t to,
                       bool* outOfMemory) {
  GrfBlockInfo info;
  for (uint32_t i = to; i-- > from;) {
    if (GrfGetEntryInfo(pass->sources[i], name, &info)) return pass->sources[i];
    if (GrfGetLastStatus(pass->sources[i]) == GRF_E_OUT_OF_MEMORY) *outOfMemory = true;
  }
  return nullptr;
}

// Whether a candidate holds the entry's content: equal stored streams of the
// same kind prove it without decoding; otherwise the candidate is decoded.
// A failed allocation counts as no match: the entry is then stored, not linked.
bool CandidateMatches(EntryPass* pass, const char* candidate, const EntryWork& work) {
  bool outOfMemory = false;
  GrfArchive* source = FindSource(pass, candidate, 0, pass->sourceCount, &outOfMemory);
  GrfBlockInfo info;
  if (!source || !GrfGetEntryInfo(source, candidate, &info) || !info.inFile) return false;
  PoolBuffer block;
  if (!block.Allocate(info.alignedSize ? info.alignedSize : 1)) return false;
  if (GrfReadBlockShared(source, &info, block.bytes(), info.alignedSize) != GRF_S_OK)
    return false;
  const uint32_t span = info.decodeSpan;
  if (SameKind(info, work.info) && span == work.info.decodeSpan &&
      SameBytes(block.bytes(), work.block, span))
    return true;
  PoolBuffer content;
  if (info.realSize != work.info.realSize || !content.Allocate(info.realSize)) return false;
  return DecodeBlockTurnwise(source, &info, block.bytes(), content.bytes(), pass->hookLock) ==
             GRF_S_OK &&
         SameBytes(content.bytes(), work.content, info.realSize);
}

// Visits one name stored under the entry's key (same size, class, CRC-32 and
// digest); false when it matched byte for byte.
bool MatchCandidate(const char* candidate, void* context) {
  auto* probe = static_cast<DuplicateProbe*>(context);
  const EntryWork& work = *probe->work;
  bool same = false;
  if (const unsigned char* remembered = std::exchange(probe->firstContent, nullptr)) {
    same = SameBytes(remembered, work.content, work.info.realSize);
  } else {
    same = CandidateMatches(probe->pass, candidate, work);
  }
  ++probe->visited;
  if (same) probe->foundName = candidate;
  return probe->foundName == nullptr;
}

ContentKey KeyOf(const EntryWork& work) {
  return ContentKey(work.checksum, work.info.realSize, work.digest, work.isolated);
}

void Link(EntryPass* pass, EntryWork* work, const char* target, uint32_t position) {
  work->linkTarget = target;
  ++pass->counts.linked;
  pass->placed[work->sequence] = position;
  work->action = EntryWork::Action::kLink;
  work->ReleaseContent();
  PoolFree(work->block);
  work->block = nullptr;
}

// Where the content of an entry that took an earlier entry's results went:
// the one name in the index proven to hold that content. Null when the
// earlier entry placed nothing.
const char* EarlierPlace(const EntryPass* pass, const EntryWork& work, uint32_t* position) {
  *position = pass->placed[work.sameAs];
  return pass->index->NameAt(KeyOf(work), *position);  // null at kNotPlaced, past every list
}

// Decides a decoded entry in entry order: empty, undecoded, linked to an
// earlier identical entry, or stored (packed on a worker when it must be).
bool Decide(EntryPass* pass, EntryWork* work) {
  const GrfBlockInfo& info = work->info;
  if (info.realSize == 0) {
    work->action = EntryWork::Action::kEmpty;
    return true;
  }
  if (work->outOfMemory) return OutOfMemory(pass, kNoMemoryForBuffer);
  if (work->sameAs != kNoEntry) {
    uint32_t position = 0;
    if (const char* target = EarlierPlace(pass, *work, &position)) {
      Link(pass, work, target, position);
      return true;
    }
    work->sameAs = kNoEntry;
    if (!work->DecodeContent() && work->outOfMemory)
      return OutOfMemory(pass, kNoMemoryForBuffer);
  }
  if (!work->blockRead || work->status != GRF_S_OK) {
    ++pass->counts.unreadable;
    work->action = EntryWork::Action::kUndecoded;
    work->ReleaseContent();
    return true;
  }
  const ContentKey key = KeyOf(*work);
  const bool seen = pass->index->Contains(key);
  if (seen) {
    DuplicateProbe probe{pass, work, pass->recent->Find(key), nullptr, 0};
    pass->index->VisitNames(key, &MatchCandidate, &probe);
    if (probe.foundName) {
      Link(pass, work, probe.foundName, probe.visited - 1);
      return true;
    }
  }
  if (!pass->index->Insert(key, work->name, &pass->placed[work->sequence]))
    return OutOfMemory(pass, kNoMemoryForHashMap);
  work->remembered = !seen && pass->recent->Lend(key, work->content);

  const bool compressed = (info.flags & ENTRY_COMPRESSED) != 0;
  if (pass->options->recompressionLevel != 0) {
    work->action = EntryWork::Action::kPack;
    work->level = pass->options->recompressionLevel;
    work->pending = true;
  } else if (!compressed || info.lzss) {
    // Stored and LZSS data are deflated as the destination's own hook would.
    work->action = EntryWork::Action::kPack;
    work->level = Z_DEFAULT_COMPRESSION;
    work->pending = true;
  } else {
    work->action = EntryWork::Action::kCarry;
    if (!work->remembered) work->ReleaseContent();
  }
  return true;
}

// The expectation of a block carried as it is: its bytes, checked without
// decoding. A carried stream was decoded from these very bytes by the pass,
// which summed them already when it kept all it read.
CopyExpectation Carried(const EntryWork& work) {
  const GrfBlockInfo& info = work.info;
  const bool summed = work.blockRead && info.decodable && info.carryLength == info.decodeSpan;
  const uint32_t checksum = summed ? work.spanChecksum : ContentCrc32(work.block, info.carryLength);
  return CopyExpectation{info.realSize, checksum, info.carryLength, true, info.carryFlags};
}

bool Write(EntryPass* pass, EntryWork* work) {
  if (work->remembered && pass->recent->Adopt(KeyOf(*work))) work->content = nullptr;
  const char* name = work->name;
  const GrfBlockInfo& info = work->info;
  switch (work->action) {
    case EntryWork::Action::kEmpty:
      if (!GrfPutBlock(pass->destination, name, &info, nullptr, nullptr))
        return Report(pass, "Failed to copy item '%s'.", name);
      return Expect(pass, name, CopyExpectation{});
    case EntryWork::Action::kUndecoded:
      if (!work->blockRead ||
          !GrfPutBlock(pass->destination, name, &info, work->block, nullptr))
        return Report(pass, "Failed to copy unreadable item '%s'.", name);
      return Expect(pass, name, Carried(*work));
    case EntryWork::Action::kLink: {
      if (!GrfLinkEntry(pass->destination, work->linkTarget, name))
        return Report(pass, "Failed to link item '%s'->'%s'.", name, work->linkTarget);
      const CopyExpectations* known = pass->options->expectations;
      const CopyExpectation* target = known ? known->Find(work->linkTarget) : nullptr;
      return !target || Expect(pass, name, *target);
    }
    case EntryWork::Action::kPack: {
      const bool best = work->level != Z_DEFAULT_COMPRESSION;
      if (work->packStatus != Z_OK)
        return best ? Report(pass, "Failed to recompress item '%s'.", name)
                    : Report(pass, "Failed to copy item '%s'.", name);
      // The source's own stream is kept when the chosen level does not beat it,
      // unless the codec library made it: the copy is read with the built-in codec.
      const bool carryable = (info.flags & ENTRY_COMPRESSED) && !info.lzss && !info.viaHook;
      if (!(carryable && info.carryLength <= work->packedLength)) {
        if (!GrfPutCompressed(pass->destination, name, work->packed, work->packedLength,
                              info.realSize))
          return best ? Report(pass, "Failed to put recompressed item '%s'.", name)
                      : Report(pass, "Failed to copy item '%s'.", name);
        return Expect(pass, name, CopyExpectation{info.realSize, work->checksum, 0, false, 0});
      }
      [[fallthrough]];
    }
    case EntryWork::Action::kCarry:
      if (!GrfPutBlock(pass->destination, name, &info, work->block, nullptr))
        return Report(pass, "Failed to copy item '%s'.", name);
      return Expect(pass, name, Carried(*work));
  }
  return true;
}

// Takes the oldest batch in flight: decoded entries are decided and go back
// for their write, decided ones are written.
bool EntryPass::Take(std::unique_ptr<PipelineTask> task) {
  if (options->host->IsStopRequested()) return false;
  auto* batch = static_cast<EntryBatch*>(task.get());
  for (uint32_t i = 0; i < batch->count; ++i) {
    EntryWork* work = batch->items[i];
    if (batch->stage == EntryWork::Stage::kWrite ? !Write(this, work) : !Decide(this, work))
      return false;
    work->stage = EntryWork::Stage::kWrite;
  }
  if (batch->stage == EntryWork::Stage::kWrite) return true;
  batch->stage = EntryWork::Stage::kWrite;
  const bool run = batch->NeedsRun();
  // Back in the order it left: one taken, one put back, so the ring has room.
  pipeline->Submit(std::move(task), batch->cost, run);
  return true;
}

// Bytes an entry holds while in flight.
uint64_t EntryCost(const GrfBlockInfo& info, bool best) {
  return uint64_t{info.alignedSize} + info.realSize + (best ? info.realSize : 0);
}

// Counts the entry as unchanged, replacing or added; false when a later
// source replaces it (or a lookup ran out of memory: *outOfMemory).
bool Wins(EntryPass* pass, const char* name, bool* outOfMemory) {
  const uint32_t current = pass->current;
  if (FindSource(pass, name, current + 1, pass->sourceCount, outOfMemory) || *outOfMemory)
    return false;
  if (current == 0)
    ++pass->counts.unchanged;
  else if (FindSource(pass, name, 0, current, outOfMemory))
    ++pass->counts.replaced;
  else
    ++pass->counts.added;
  return !*outOfMemory;
}

bool ProcessEntry(uint32_t current, uint32_t, const EntryView* view, void* context) {
  auto* pass = static_cast<EntryPass*>(context);
  if (pass->options->host->IsStopRequested()) return false;
  if (pass->options->progress)
    OnEntryProgress(pass->walked + current, pass->entries, pass->options->progress);

  const char* name = view->name;
  if (pass->options->keepsEntry &&
      !pass->options->keepsEntry(name, pass->options->keepsEntryContext)) {
    ++pass->counts.removed;
    return true;
  }
  bool lookupFailed = false;
  if (!Wins(pass, name, &lookupFailed))
    return lookupFailed ? OutOfMemory(pass, kNoMemoryForBuffer) : true;
  GrfArchive* source = pass->sources[pass->current];
  auto work = std::unique_ptr<EntryWork>(new (std::nothrow) EntryWork());
  if (!work) return OutOfMemory(pass, kNoMemoryForBuffer);
  work->source = source;
  work->name = name;
  work->memo = pass->memo;
  work->sequence = pass->placed.size();
  try {
    if (pass->placed.empty()) {
      pass->placed.reserve(pass->entries);
      pass->index->Reserve(pass->entries);
      pass->memo->Reserve(pass->entries);
      if (pass->options->expectations) pass->options->expectations->Reserve(pass->entries);
    }
    pass->placed.push_back(kNotPlaced);
  } catch (...) {
    return OutOfMemory(pass, kNoMemoryForBuffer);
  }
  work->digestKey = pass->digestKey;
  work->hookLock = pass->hookLock;
  work->isolated = GrfIsHeaderCipherName(name);
  GrfBlockInfo& info = work->info;
  if (!GrfGetEntryInfo(source, name, &info))
    return Report(pass, "Failed to copy item '%s'.", name);
  work->pending = info.realSize != 0 && info.inFile;

  const bool best = pass->options->recompressionLevel != 0;
  const uint64_t cost = info.realSize == 0 ? 0 : EntryCost(info, best);
  bool outOfMemory = false;
  if (pass->feeder->Add(std::move(work), cost, &outOfMemory)) return true;
  return outOfMemory ? OutOfMemory(pass, kNoMemoryForBuffer) : false;
}

}  // namespace

uint32_t CountEntries(GrfArchive* archive) {
  uint32_t count = 0;
  // The total comes with the first entry; no need to visit the others.
  GrfForEachEntry(
      archive,
      [](uint32_t, uint32_t total, const EntryView*, void* user) {
        *static_cast<uint32_t*>(user) = total;
        return false;
      },
      &count);
  return count;
}

std::optional<PassCounts> ConsolidateEntries(GrfArchive* destination,
                                             GrfArchive* const* sources, uint32_t sourceCount,
                                             const PassOptions& options) {
  std::unique_ptr<ContentIndex> index = ContentIndex::Create();
  if (!index) {
    options.host->ShowError(kNoMemoryForHashMap);
    return std::nullopt;
  }
  // What running tasks use outlives the workers.
  const DigestKey digestKey = MakeRunDigestKey();
  std::mutex hookLock;
  uint32_t largest = 0;
  uint64_t entries = 0;
  for (uint32_t i = 0; i < sourceCount; ++i) {
    largest = std::max(largest, GrfGetMaxRealSize(sources[i]));
    entries += CountEntries(sources[i]);
  }
  const uint64_t budget = PipelineBudget(largest);
  RecentContents recent(std::min<uint64_t>(budget / 4, 32u << 20));
  StreamMemo memo(kMemoEntries);
  OrderedPipeline pipeline(PipelineWorkers(options.threads), budget, options.workerStart,
                           options.workerStartContext);
  EntryPass pass;
  EntryFeeder feeder(&pipeline, &pass);
  pass.destination = destination;
  pass.sources = sources;
  pass.sourceCount = sourceCount;
  pass.entries = static_cast<uint32_t>(std::min<uint64_t>(entries, UINT32_MAX));
  pass.options = &options;
  pass.index = index.get();
  pass.digestKey = &digestKey;
  pass.pipeline = &pipeline;
  pass.feeder = &feeder;
  pass.hookLock = &hookLock;
  pass.recent = &recent;
  pass.memo = &memo;

  bool walked = true;
  for (; pass.current < sourceCount; ++pass.current) {
    if (!(walked = GrfForEachEntry(sources[pass.current], &ProcessEntry, &pass))) break;
    pass.walked += CountEntries(sources[pass.current]);
  }
  if (walked && feeder.Finish()) return pass.counts;
  const GrfArchive* stopped = sources[std::min(pass.current, sourceCount - 1)];
  if (!pass.failed && !options.host->IsStopRequested() &&
      GrfGetLastStatus(stopped) != GRF_E_ABORTED)
    options.host->ShowError(kNoMemoryForIterator);
  return std::nullopt;
}

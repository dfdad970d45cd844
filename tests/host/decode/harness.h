/*
 * harness.h: what the decoder tests share with their doubles.
 *
 * The doubles stand in for the parts of the stub that the decoder talks
 * to but that need the platform: RefillInput serves a member's compressed
 * data from ArchiveData in chunks, FlushOutput records what the output
 * side would have written, ShowFatal and ShowHeaderCorrupt unwind.  calloc
 * and free are wrapped at link time so that the tests can count zlib's
 * blocks and make an allocation fail.
 */
#ifndef TVSE_DECODE_HARNESS_H
#define TVSE_DECODE_HARNESS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core.h"

using Bytes = std::vector<uint8_t>;

namespace dtest {

/* RefillInput: the member's data starts at ArchiveData[0]; chunks are at
 * most ChunkLimit bytes (2048, as for a file; smaller imitates a volume
 * that ends inside a chunk).  A refill with CompressedSize at 0 returns 0;
 * too many of those in one run mean the decoder keeps asking after the
 * end, and the double throws instead of letting the test hang. */
extern Bytes ArchiveData;
extern size_t ArchivePos;
extern uint32_t ChunkLimit;
extern int RefillCalls;
extern int EndRefills;

/* FlushOutput: OutputCount at each call, and in file mode the bytes it
 * took from OutputBuffer.  With ThrowOnFlush at n, the n-th call throws
 * UnwindException{UNWIND_FAILED} after taking its bytes, as a failed write
 * or a confirmed abort does. */
extern std::vector<int32_t> FlushCounts;
extern Bytes Flushed;
extern size_t ThrowOnFlush;

/* ShowFatal / ShowHeaderCorrupt. */
extern std::string FatalText;
extern int FatalCalls;

/* calloc/free while TrackAllocations is set: AllocCalls counts the
 * calloc calls, the call numbered FailAllocAt returns NULL, LiveBlocks
 * counts blocks obtained and not yet freed. */
extern int TrackAllocations;
extern int AllocCalls;
extern int FailAllocAt;
extern int LiveBlocks;

void ResetDoubles();

} // namespace dtest

#endif

/*
 * doubles.cpp: stand-ins for the platform side of the byte source, the
 * output side and the failure reporting, for the decoder tests.
 */
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "harness.h"

namespace dtest {

Bytes ArchiveData;
size_t ArchivePos;
uint32_t ChunkLimit = CHUNK_SIZE;
int RefillCalls;
int EndRefills;

std::vector<int32_t> FlushCounts;
Bytes Flushed;
size_t ThrowOnFlush;

std::string FatalText;
int FatalCalls;

int TrackAllocations;
int AllocCalls;
int FailAllocAt;
int LiveBlocks;

enum { MAX_TRACKED = 64 };
static void *Tracked[MAX_TRACKED];

void ResetDoubles()
{
    ArchiveData.clear();
    ArchivePos = 0;
    ChunkLimit = CHUNK_SIZE;
    RefillCalls = 0;
    EndRefills = 0;
    FlushCounts.clear();
    Flushed.clear();
    ThrowOnFlush = 0;
    FatalText.clear();
    FatalCalls = 0;
    TrackAllocations = 0;
    AllocCalls = 0;
    FailAllocAt = 0;
    LiveBlocks = 0;
    memset(Tracked, 0, sizeof Tracked);
}

} // namespace dtest

using namespace dtest;

/* As the stub's RefillInput for a member of a single-file archive. */
int32_t RefillInput()
{
    ++RefillCalls;
    if (LocalHeader.CompressedSize == 0) {
        InputAvail = 0;
        if (++EndRefills > 1000)
            throw std::runtime_error("the decoder keeps asking for input after its end");
        return 0;
    }
    uint32_t wanted = LocalHeader.CompressedSize < ChunkLimit ? LocalHeader.CompressedSize : ChunkLimit;
    if (ArchivePos + wanted > ArchiveData.size())
        throw std::logic_error("test archive is shorter than CompressedSize");
    memcpy(InputBuffer, ArchiveData.data() + ArchivePos, wanted);
    ArchivePos += wanted;
    InputAvail = (int32_t)wanted;
    LocalHeader.CompressedSize -= wanted;
    InputCursor = InputBuffer;
    return (int32_t)wanted;
}

void FlushOutput()
{
    FlushCounts.push_back(OutputCount);
    if (FlushCounts.size() > 100000)
        throw std::runtime_error("FlushOutput called without end");
    if (InflateToMemory) {
        OutputCount = 0;
    } else {
        Flushed.insert(Flushed.end(), OutputBuffer, OutputBuffer + OutputCount);
        OutputCursor = OutputBuffer;
        OutputCount = 0;
    }
    if (ThrowOnFlush && FlushCounts.size() == ThrowOnFlush)
        throw UnwindException{UNWIND_FAILED};
}

void ShowFatal(const char *text)
{
    FatalText = text;
    ++FatalCalls;
    throw UnwindException{UNWIND_FAILED};
}

void ShowHeaderCorrupt()
{
    FatalText = "header corrupt";
    ++FatalCalls;
    throw UnwindException{UNWIND_FAILED};
}

/* Linked with --wrap=calloc --wrap=free: every calloc and free of the
 * statically linked code (the decoder's zlib allocators among them) comes
 * here. */
extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void __real_free(void *block);

extern "C" void *__wrap_calloc(size_t count, size_t size)
{
    if (!TrackAllocations)
        return __real_calloc(count, size);
    if (++AllocCalls == FailAllocAt)
        return nullptr;
    void *block = __real_calloc(count, size);
    if (block) {
        for (int i = 0; i < MAX_TRACKED; i++) {
            if (!Tracked[i]) {
                Tracked[i] = block;
                ++LiveBlocks;
                break;
            }
        }
    }
    return block;
}

extern "C" void __wrap_free(void *block)
{
    if (block) {
        for (int i = 0; i < MAX_TRACKED; i++) {
            if (Tracked[i] == block) {
                Tracked[i] = nullptr;
                --LiveBlocks;
                break;
            }
        }
    }
    __real_free(block);
}

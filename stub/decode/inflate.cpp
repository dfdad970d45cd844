/*
 * inflate.cpp: raw deflate decoding (no zlib or gzip wrapper, no check
 * value) on top of zlib's inflate.
 *
 * zlib does all the bit-level work and keeps its own 32K history; this
 * file only connects it to the stub's byte source and output side.
 *
 * Input.  zlib is handed the span that the byte source already holds
 * (InputCursor, InputAvail) and after every call the two are set back from
 * next_in and avail_in, so the byte source always knows exactly how much
 * was used.  Only when that span is empty and zlib wants more is
 * ReadInputByte called, to make the source refill; the one byte it
 * delivers is put back in front of the new span (it is still in the
 * buffer just behind the cursor), so zlib sees the chunk whole.  zlib
 * never reads past avail_in, and on Z_STREAM_END it leaves next_in just
 * behind the last byte holding bits of the stream, so whatever follows
 * the stream in the same chunk or span stays in the byte source for the
 * next reader, and a stream ending in the last byte the source offers
 * finishes without asking for another.  When the source has nothing more
 * before the final block, the stream has failed; there is no waiting.
 *
 * Output.  InflateWindow (its first 32768 bytes) is zlib's output area.
 * Each time zlib has filled it, DrainWindow hands the whole window on and
 * zlib goes on at its start; after the final block the part filled so far
 * is handed on.  On bad data the stream stops at once and the window
 * filled since the last full drain is dropped.  (A window that zlib
 * completed in the same call that ran into the bad data is still handed
 * on: those bytes came before the fault, as with a decoder that drains the
 * moment the window fills.)
 *
 * DrainWindow cuts the window into pieces that top OutputBuffer up to
 * 2048 bytes, and calls FlushOutput at every 2048.  In memory mode
 * FlushOutput only resets OutputCount, so the pieces land one after the
 * other in the caller's buffer, whatever OutputCount was at the start;
 * there OutputLimit ends the destination: no byte is written at or past
 * it.  Output that would go past it is cut at the limit and the stream
 * fails at once (output exactly as long as the destination succeeds).  A
 * memory-mode caller that left OutputLimit unset gets no output at all.
 *
 * Memory.  zlib's state and history come from calloc through
 * InflateAlloc/InflateFree, are taken when a stream starts and given back
 * on every way out, also when FlushOutput or ShowFatal unwinds through
 * here.  zlib running out of memory is fatal ("not enough memory").
 */
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "../core.h"

/* Set by DrainWindow when a memory-mode destination is full and output
 * is left over; cleared when a stream starts. */
static int DrainOverrun;

static voidpf InflateAlloc(voidpf, uInt items, uInt size)
{
    return calloc(items, size);
}

static void InflateFree(voidpf, voidpf address)
{
    free(address);
}

void DrainWindow(uint32_t count)
{
    const uint8_t *from = InflateWindow;

    while (count > 0) {
        uint32_t piece = (uint32_t)(CHUNK_SIZE - OutputCount);
        if (piece > count)
            piece = count;
        if (InflateToMemory) {
            uintptr_t cursor = (uintptr_t)OutputCursor;
            uintptr_t limit = (uintptr_t)OutputLimit;
            uintptr_t room = limit > cursor ? limit - cursor : 0;
            if (piece > room) {
                piece = (uint32_t)room;
                DrainOverrun = 1;
            }
        }
        if (piece > 0) {
            memcpy(OutputCursor, from, piece);
            OutputCursor += piece;
            OutputCount += (int32_t)piece;
        }
        if (OutputCount == CHUNK_SIZE)
            FlushOutput();
        if (DrainOverrun)
            return;
        from += piece;
        count -= piece;
    }
}

/* Runs zlib over the input until the final block is done (0) or the
 * stream has failed (1). */
static int InflateBlocks(z_stream *stream)
{
    int wantInput = 1; /* zlib stopped for input, not for output room */

    for (;;) {
        if (wantInput && InputAvail == 0) {
            uint16_t byte;
            if (ReadInputByte(&byte) == 0)
                return 1; /* input ended before the final block */
            /* the source has a new chunk: give its first byte back so
             * that zlib takes the chunk whole */
            InputCursor--;
            InputAvail++;
        }

        stream->next_in = InputCursor;
        stream->avail_in = (uInt)InputAvail;
        int rc = inflate(stream, Z_NO_FLUSH);
        InputCursor = stream->next_in;
        InputAvail = (int32_t)stream->avail_in;

        if (rc == Z_MEM_ERROR)
            ShowFatal("not enough memory");

        /* With room left in the window zlib has used up its input. */
        wantInput = stream->avail_out != 0;
        if (!wantInput) {
            DrainWindow(WINDOW_SIZE);
            if (DrainOverrun)
                return 1;
            stream->next_out = InflateWindow;
            stream->avail_out = WINDOW_SIZE;
        }

        if (rc == Z_STREAM_END) {
            DrainWindow(WINDOW_SIZE - stream->avail_out);
            return DrainOverrun;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return 1; /* Z_DATA_ERROR and the like: drop the window */
    }
}

int InflateStream()
{
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    stream.zalloc = InflateAlloc;
    stream.zfree = InflateFree;
    if (inflateInit2(&stream, -15) != Z_OK) /* raw, 32K history */
        ShowFatal("not enough memory");

    stream.next_out = InflateWindow;
    stream.avail_out = WINDOW_SIZE;
    DrainOverrun = 0;

    int result;
    try {
        result = InflateBlocks(&stream);
    } catch (...) {
        inflateEnd(&stream);
        throw;
    }
    inflateEnd(&stream);
    return result;
}

/* Memory mode in one call, for the blobs that start-up and the dialogs
 * inflate: the span [input, input + length) into destination, never at or
 * past limit.  Returns where the output ended; the cursors are cleared
 * again afterwards. */
uint8_t *InflateBlob(const uint8_t *input, uint32_t length, uint8_t *destination, uint8_t *limit)
{
    InputCursor = const_cast<uint8_t *>(input);
    InputAvail = (int32_t)length;
    OutputCursor = destination;
    OutputLimit = limit;
    InflateToMemory = 1;
    InflateStream();
    InflateToMemory = 0;
    uint8_t *end = OutputCursor;
    InputCursor = nullptr;
    OutputCursor = nullptr;
    OutputLimit = nullptr;
    return end;
}

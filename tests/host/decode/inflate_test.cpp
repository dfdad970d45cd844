/*
 * inflate_test.cpp: InflateStream and DrainWindow on the host.
 *
 * File mode runs a member's data through the RefillInput double and
 * collects what FlushOutput took plus the tail left in OutputBuffer;
 * memory mode decodes a span into a destination with guard bytes on both
 * sides.  Every test ends with zlib's blocks all given back.
 */
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include "harness.h"

using namespace dtest;

namespace {

/* ---- test data ---- */

Bytes RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto &x : b)
        x = (uint8_t)rng();
    return b;
}

/* Words, blanks and line ends: dynamic blocks full of matches. */
Bytes TextBytes(size_t n, uint32_t seed)
{
    static const char *const words[] = {"setup", "disk", "archive", "member", "window", "folder",
                                        "the", "a", "of", "Tarvex", "extract", "install", "\r\n"};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char *w = words[rng() % (sizeof words / sizeof *words)];
        b.insert(b.end(), w, w + strlen(w));
        b.push_back(rng() % 7 ? ' ' : (uint8_t)('0' + rng() % 10));
    }
    b.resize(n);
    return b;
}

/* Stretches of random bytes, text and runs, as in a mixed archive. */
Bytes MixedBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        size_t len = 1 + rng() % 20000;
        switch (rng() % 3) {
        case 0: {
            Bytes r = RandomBytes(len, rng());
            b.insert(b.end(), r.begin(), r.end());
            break;
        }
        case 1: {
            Bytes t = TextBytes(len, rng());
            b.insert(b.end(), t.begin(), t.end());
            break;
        }
        default:
            b.insert(b.end(), len, (uint8_t)rng());
        }
    }
    b.resize(n);
    return b;
}

Bytes Deflate(const Bytes &data, int level = 6, int strategy = Z_DEFAULT_STRATEGY, int windowBits = -15)
{
    z_stream s{};
    if (deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, strategy) != Z_OK)
        throw std::runtime_error("deflateInit2");
    Bytes out(deflateBound(&s, data.size()) + 64);
    s.next_in = const_cast<Bytef *>(data.data());
    s.avail_in = (uInt)data.size();
    s.next_out = out.data();
    s.avail_out = (uInt)out.size();
    if (deflate(&s, Z_FINISH) != Z_STREAM_END)
        throw std::runtime_error("deflate");
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

/* zlib's own raw inflate over the whole stream at once. */
Bytes ReferenceInflate(const Bytes &stream, size_t expected)
{
    z_stream s{};
    inflateInit2(&s, -15);
    Bytes out(expected + 1);
    s.next_in = const_cast<Bytef *>(stream.data());
    s.avail_in = (uInt)stream.size();
    s.next_out = out.data();
    s.avail_out = (uInt)out.size();
    int rc = inflate(&s, Z_FINISH);
    out.resize(s.total_out);
    inflateEnd(&s);
    if (rc != Z_STREAM_END)
        throw std::runtime_error(std::string("reference inflate failed: ") + (s.msg ? s.msg : "?"));
    return out;
}

/* ---- hand-built streams ---- */

/* Writes deflate's bit stream (least significant bit first) and keeps
 * the output that the stream stands for, for comparison. */
struct StreamBuilder {
    Bytes out;
    Bytes expect;
    uint32_t acc = 0;
    int nbits = 0;

    void Bits(uint32_t value, int count)
    {
        for (int i = 0; i < count; i++) {
            acc |= ((value >> i) & 1u) << nbits;
            if (++nbits == 8) {
                out.push_back((uint8_t)acc);
                acc = 0;
                nbits = 0;
            }
        }
    }
    /* Huffman codes go most significant bit first. */
    void Code(uint32_t code, int length)
    {
        for (int i = length - 1; i >= 0; i--)
            Bits((code >> i) & 1u, 1);
    }
    void Align()
    {
        if (nbits)
            Bits(0, 8 - nbits);
    }
    void Header(bool final, int type)
    {
        Bits(final ? 1 : 0, 1);
        Bits((uint32_t)type, 2);
    }
    void Stored(bool final, const Bytes &data, uint16_t nlenFlip = 0)
    {
        Header(final, 0);
        Align();
        uint16_t len = (uint16_t)data.size();
        uint16_t nlen = (uint16_t)(~len ^ nlenFlip);
        out.push_back((uint8_t)len);
        out.push_back((uint8_t)(len >> 8));
        out.push_back((uint8_t)nlen);
        out.push_back((uint8_t)(nlen >> 8));
        out.insert(out.end(), data.begin(), data.end());
        expect.insert(expect.end(), data.begin(), data.end());
    }
    /* Fixed Huffman literal/length symbol. */
    void Symbol(int v)
    {
        if (v < 144)
            Code(0x30 + v, 8);
        else if (v < 256)
            Code(0x190 + (v - 144), 9);
        else if (v < 280)
            Code(v - 256, 7);
        else
            Code(0xC0 + (v - 280), 8);
    }
    void Literal(uint8_t b)
    {
        Symbol(b);
        expect.push_back(b);
    }
    void Literals(const Bytes &data)
    {
        for (uint8_t b : data)
            Literal(b);
    }
    /* A match of 3..258 bytes, 1..32768 back (fixed codes).  The expected
     * output is copied byte by byte, overlaps included; a distance that
     * reaches before the start is written all the same (for the streams
     * that must fail). */
    void Match(int length, int distance)
    {
        static const int lbase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const int dbase[] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const int dextra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        int lc = 28;
        while (lbase[lc] > length)
            lc--;
        if (length == 258)
            lc = 28;
        Symbol(257 + lc);
        Bits((uint32_t)(length - lbase[lc]), lextra[lc]);
        int dc = 29;
        while (dbase[dc] > distance)
            dc--;
        Code((uint32_t)dc, 5);
        Bits((uint32_t)(distance - dbase[dc]), dextra[dc]);
        for (int i = 0; i < length; i++) {
            size_t at = expect.size();
            expect.push_back(at >= (size_t)distance ? expect[at - (size_t)distance] : 0);
        }
    }
    void EndOfBlock() { Symbol(256); }
    Bytes Done()
    {
        Align();
        return out;
    }
};

/* A final stored block holding n bytes: exactly n + 5 bytes of stream. */
Bytes StoredStream(const Bytes &data)
{
    StreamBuilder b;
    b.Stored(true, data);
    return b.Done();
}

/* ---- the fixture ---- */

enum Mode { FILE_MODE, MEMORY_MODE };

const char *ModeName(Mode m)
{
    return m == FILE_MODE ? "file mode" : "memory mode";
}

/* Guard bytes in front of a memory destination and behind it; the ones
 * behind cover the longest output any case has, so that a decoder that
 * ignores OutputLimit is caught by the guard check rather than by a
 * damaged heap. */
enum { GUARD = 64, TAIL_GUARD = 140000, GUARD_BYTE = 0xA5 };

class DecodeTest : public ::testing::Test {
protected:
    Bytes window, input, output;
    Bytes span;        /* memory mode: the input the caller points at */
    Bytes destination; /* memory mode: GUARD + size + TAIL_GUARD bytes */
    size_t destSize = 0;

    void SetUp() override
    {
        ResetDoubles();
        window.assign(INFLATE_WINDOW_ALLOC, 0);
        input.assign(IO_BUFFER_ALLOC, 0);
        output.assign(IO_BUFFER_ALLOC, 0);
        InflateWindow = window.data();
        InputBuffer = input.data();
        OutputBuffer = output.data();
        InputCursor = nullptr;
        InputAvail = 0;
        OutputCursor = nullptr;
        OutputLimit = nullptr;
        OutputCount = 0;
        InflateToMemory = 0;
        LocalHeader = LocalFileHeader{};
    }

    void TearDown() override
    {
        TrackAllocations = 0;
        EXPECT_EQ(LiveBlocks, 0) << "zlib's memory was not given back";
        InflateWindow = InputBuffer = OutputBuffer = nullptr;
        InputCursor = OutputCursor = OutputLimit = nullptr;
    }

    /* A decoder that spins without asking for input or handing over
     * output would hang the run: after 20 s the process ends instead. */
    static void Stuck(int)
    {
        static const char text[] = "InflateStream did not return within 20 s\n";
        if (write(2, text, sizeof text - 1) < 0) {
        }
        _exit(3);
    }

    /* Runs InflateStream with allocation tracking and the watchdog on,
     * whatever way it leaves. */
    int Track()
    {
        struct On {
            On()
            {
                signal(SIGALRM, Stuck);
                alarm(20);
                TrackAllocations = 1;
            }
            ~On()
            {
                TrackAllocations = 0;
                alarm(0);
            }
        } on;
        return InflateStream();
    }

    /* A member whose data is archive[0..compressedSize), as ExtractMember
     * starts it. */
    int RunFile(const Bytes &archive, size_t compressedSize)
    {
        ArchiveData = archive;
        ArchivePos = 0;
        LocalHeader.CompressedSize = (uint32_t)compressedSize;
        InputAvail = 0;
        OutputCursor = OutputBuffer;
        OutputCount = 0;
        return Track();
    }
    int RunFile(const Bytes &stream) { return RunFile(stream, stream.size()); }

    /* Everything the output side received: flushed, then the tail. */
    Bytes FileOutput() const
    {
        Bytes all = Flushed;
        all.insert(all.end(), OutputBuffer, OutputBuffer + OutputCount);
        return all;
    }

    /* A memory-mode caller: span, destination of size bytes, OutputCount
     * as an earlier stream left it. */
    int RunMemory(const Bytes &data, size_t size, int32_t startCount = 0)
    {
        span = data;
        destSize = size;
        destination.assign(GUARD + size + TAIL_GUARD, GUARD_BYTE);
        InputCursor = span.data();
        InputAvail = (int32_t)span.size();
        OutputCursor = Dest();
        OutputLimit = Dest() + size;
        OutputCount = startCount;
        InflateToMemory = 1;
        int rc;
        try {
            rc = Track();
        } catch (...) {
            InflateToMemory = 0;
            throw;
        }
        InflateToMemory = 0;
        return rc;
    }
    uint8_t *Dest() { return destination.data() + GUARD; }
    size_t Written() { return (size_t)(OutputCursor - Dest()); }
    Bytes MemoryOutput() { return Bytes(Dest(), Dest() + Written()); }
    bool GuardsIntact()
    {
        auto isGuard = [](uint8_t b) { return b == GUARD_BYTE; };
        return std::all_of(destination.begin(), destination.begin() + GUARD, isGuard) &&
               std::all_of(destination.begin() + GUARD + (ptrdiff_t)destSize, destination.end(), isGuard);
    }

    /* Decodes in the given mode (into a destination with room to spare
     * unless told); the output is what the output side received. */
    int Run(Mode mode, const Bytes &stream, Bytes &out, size_t room = 0)
    {
        int rc;
        if (mode == FILE_MODE) {
            rc = RunFile(stream);
            out = FileOutput();
        } else {
            rc = RunMemory(stream, room ? room : 70000);
            out = MemoryOutput();
            EXPECT_TRUE(GuardsIntact());
        }
        return rc;
    }
};

/* ---- streams of few bytes, valid and not ---- */

struct HandCase {
    const char *name;
    std::function<void(StreamBuilder &)> build;
    bool valid;
};

TEST_F(DecodeTest, HandBuiltStreams)
{
    const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    const HandCase cases[] = {
        {"empty stored final block", [](StreamBuilder &b) { b.Stored(true, {}); }, true},
        {"empty fixed final block",
         [](StreamBuilder &b) {
             b.Header(true, 1);
             b.EndOfBlock();
         },
         true},
        {"stored, fixed and stored final blocks in a row",
         [&](StreamBuilder &b) {
             b.Stored(false, hello);
             b.Header(false, 1);
             b.Literals(hello);
             b.Match(10, 5);
             b.EndOfBlock();
             b.Stored(true, hello);
         },
         true},
        {"stored LEN that fails its complement", [&](StreamBuilder &b) { b.Stored(true, hello, 0x0001); }, false},
        {"stored LEN with the complement's top bit wrong", [&](StreamBuilder &b) { b.Stored(true, hello, 0x8000); },
         false},
        {"block type 3 as the first block", [](StreamBuilder &b) { b.Header(true, 3); }, false},
        {"block type 3 after a stored block",
         [&](StreamBuilder &b) {
             b.Stored(false, hello);
             b.Header(true, 3);
         },
         false},
        {"no final block", [&](StreamBuilder &b) { b.Stored(false, hello); }, false},
        {"fixed block without end of block",
         [&](StreamBuilder &b) {
             b.Header(true, 1);
             b.Literals(hello);
         },
         false},
        {"distance reaching before the start",
         [&](StreamBuilder &b) {
             b.Header(true, 1);
             b.Literals(hello);
             b.Match(3, 6);
             b.EndOfBlock();
         },
         false},
        {"stored block shorter than its LEN",
         [&](StreamBuilder &b) {
             b.Stored(true, hello);
             b.out.resize(b.out.size() - 2);
         },
         false},
        {"stored header cut after LEN",
         [&](StreamBuilder &b) {
             b.Stored(true, hello);
             b.out.resize(3);
         },
         false},
        {"no input at all", [](StreamBuilder &b) { b.out.clear(); }, false},
    };

    for (const HandCase &c : cases) {
        StreamBuilder b;
        c.build(b);
        Bytes stream = b.Done();
        for (Mode mode : {FILE_MODE, MEMORY_MODE}) {
            SCOPED_TRACE(std::string(c.name) + ", " + ModeName(mode));
            ResetDoubles();
            Bytes out;
            int rc = Run(mode, stream, out);
            if (c.valid) {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(out, b.expect);
            } else {
                EXPECT_NE(rc, 0);
                /* all of these fail before a window fills: nothing out */
                EXPECT_TRUE(out.empty()) << out.size() << " bytes reached the output";
            }
            EXPECT_TRUE(FlushCounts.empty());
            EXPECT_EQ(FatalCalls, 0);
        }
    }
}

/* ---- output pieces in file mode ---- */

TEST_F(DecodeTest, FileModeFlushesWholeChunksAndLeavesTheTail)
{
    struct Case {
        size_t size;
        Bytes (*make)(size_t, uint32_t);
    };
    const Case cases[] = {
        {1, TextBytes},         {2047, TextBytes},     {2048, TextBytes},       {2049, RandomBytes},
        {5000, TextBytes},      {2048 * 3, RandomBytes}, {32767, TextBytes},    {32768, TextBytes},
        {32768, RandomBytes},   {32769, TextBytes},    {65536, RandomBytes},    {65536 + 2047, TextBytes},
        {2048 * 37, MixedBytes}, {2048 * 37 + 1000, MixedBytes}, {300001, MixedBytes},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("output of " + std::to_string(c.size) + " bytes");
        Bytes data = c.make(c.size, (uint32_t)c.size);
        ResetDoubles();
        ASSERT_EQ(RunFile(Deflate(data)), 0);
        EXPECT_EQ(FileOutput(), data);
        EXPECT_EQ(FlushCounts.size(), c.size / CHUNK_SIZE);
        EXPECT_TRUE(std::all_of(FlushCounts.begin(), FlushCounts.end(), [](int32_t n) { return n == CHUNK_SIZE; }));
        EXPECT_EQ(OutputCount, (int32_t)(c.size % CHUNK_SIZE));
        EXPECT_EQ(OutputCursor, OutputBuffer + OutputCount);
    }
}

/* ---- matches across the window's end ---- */

TEST_F(DecodeTest, BackReferenceAcrossWindowEnd)
{
    struct Case {
        const char *name;
        size_t at; /* output position where the match starts */
        int length, distance;
        size_t after; /* literals behind the match */
    };
    const Case cases[] = {
        {"258 bytes from 100 back, over the end of the first window", 32700, 258, 100, 50},
        {"overlapping run over the end", 32766, 3, 1, 50},
        {"ending exactly at the end (control)", 32765, 3, 300, 50},
        {"first byte of the second window, 32768 back", 32768, 258, 32768, 50},
        {"over the end of the second window, 32768 back", 65500, 258, 32768, 50},
        {"from one byte before the end, back to the first byte", 32767, 258, 32767, 50},
        /* The match is the stream's last code before the end of block,
         * which lies in the byte that ends the match: zlib has the whole
         * stream in hand while it waits for the window to be drained, and
         * the rest of the match must come without asking for input. */
        {"over the end, then only the end of block", 32700, 258, 100, 0},
        {"overlapping run over the end, then the end of block", 32766, 3, 1, 0},
        {"long reach over the end, then the end of block", 32767, 258, 32767, 0},
        {"over the second window's end by 200, then the end of block", 32768 * 2 - 58, 258, 2000, 0},
    };
    for (const Case &c : cases) {
        StreamBuilder b;
        for (size_t shift = 0; shift < 8; shift++) {
            /* eight literals in front of the match, shift of them of 9
             * bits and the others of 8, move the match bit by bit */
            b = StreamBuilder();
            b.Header(true, 1);
            b.Literals(RandomBytes(c.at - 8, (uint32_t)c.at));
            b.Literals(Bytes(shift, 200));
            b.Literals(Bytes(8 - shift, 65));
            b.Match(c.length, c.distance);
            if (c.after > 0 || b.nbits == 1)
                break;
        }
        ASSERT_TRUE(c.after > 0 || b.nbits == 1);
        b.Literals(TextBytes(c.after, 1));
        b.EndOfBlock();
        Bytes stream = b.Done();
        ASSERT_EQ(ReferenceInflate(stream, b.expect.size()), b.expect) << c.name << ": stream builder is wrong";
        for (Mode mode : {FILE_MODE, MEMORY_MODE}) {
            SCOPED_TRACE(std::string(c.name) + ", " + ModeName(mode));
            ResetDoubles();
            Bytes out;
            ASSERT_EQ(Run(mode, stream, out, b.expect.size()), 0);
            EXPECT_EQ(out, b.expect);
            if (mode == FILE_MODE) {
                EXPECT_EQ(FlushCounts.size(), b.expect.size() / CHUNK_SIZE);
            }
        }
    }
}

/* ---- where the input ends, and what is left behind ---- */

TEST_F(DecodeTest, StreamEndLeavesFollowingBytesInTheByteSource)
{
    const Bytes text = TextBytes(9000, 7);
    struct Case {
        const char *name;
        Bytes stream, output;
        size_t trailer;
    };
    const Case cases[] = {
        {"stored stream of exactly one chunk, nothing after", StoredStream(RandomBytes(2043, 1)), RandomBytes(2043, 1), 0},
        {"stored stream of exactly one chunk, next record in the next chunk", StoredStream(RandomBytes(2043, 1)),
         RandomBytes(2043, 1), 50},
        {"stored stream of exactly two chunks", StoredStream(RandomBytes(4091, 2)), RandomBytes(4091, 2), 0},
        {"deflated stream, nothing after", Deflate(text), text, 0},
        {"deflated stream, next record behind it", Deflate(text), text, 100},
        {"fixed codes ending inside a byte, next record behind it", Deflate(text, 6, Z_FIXED), text, 7},
        {"small stream, next record filling its chunk", Deflate(TextBytes(40, 3)), TextBytes(40, 3), 1900},
    };
    for (const Case &c : cases) {
        Bytes archive = c.stream;
        Bytes next = RandomBytes(c.trailer, 99);
        archive.insert(archive.end(), next.begin(), next.end());
        for (Mode mode : {FILE_MODE, MEMORY_MODE}) {
            SCOPED_TRACE(std::string(c.name) + ", " + ModeName(mode));
            ResetDoubles();
            if (mode == FILE_MODE) {
                ASSERT_EQ(RunFile(archive, archive.size()), 0);
                EXPECT_EQ(FileOutput(), c.output);
                /* what was read minus what is still unread in the buffer */
                EXPECT_EQ(ArchivePos - (size_t)InputAvail, c.stream.size());
                EXPECT_EQ(LocalHeader.CompressedSize, archive.size() - ArchivePos);
                EXPECT_EQ(RefillCalls, (int)((c.stream.size() + CHUNK_SIZE - 1) / CHUNK_SIZE));
                if (InputAvail > 0) {
                    EXPECT_EQ(Bytes(InputCursor, InputCursor + InputAvail),
                              Bytes(next.begin(), next.begin() + InputAvail));
                }
            } else {
                ASSERT_EQ(RunMemory(archive, c.output.size()), 0);
                EXPECT_EQ(MemoryOutput(), c.output);
                EXPECT_EQ(InputCursor, span.data() + c.stream.size());
                EXPECT_EQ(InputAvail, (int32_t)c.trailer);
                EXPECT_EQ(RefillCalls, 0);
            }
        }
    }
}

/* Chunks shorter than 2048, as where a volume ends inside a member. */
TEST_F(DecodeTest, ShortChunks)
{
    const Bytes data = MixedBytes(120000, 5);
    const Bytes stream = Deflate(data);
    for (uint32_t limit : {1u, 2u, 7u, 1000u, 2047u}) {
        SCOPED_TRACE("chunks of " + std::to_string(limit));
        ResetDoubles();
        ChunkLimit = limit;
        ASSERT_EQ(RunFile(stream), 0);
        EXPECT_EQ(FileOutput(), data);
        EXPECT_EQ(ArchivePos, stream.size());
        EXPECT_EQ(InputAvail, 0);
    }
}

TEST_F(DecodeTest, InputEndingBeforeTheFinalBlockFails)
{
    const Bytes data = MixedBytes(200000, 11);
    const Bytes stream = Deflate(data);
    for (size_t keep : {(size_t)1, (size_t)2048, stream.size() / 3, stream.size() - 2048, stream.size() - 1}) {
        Bytes cut(stream.begin(), stream.begin() + keep);
        for (Mode mode : {FILE_MODE, MEMORY_MODE}) {
            SCOPED_TRACE(std::to_string(keep) + " of " + std::to_string(stream.size()) + " bytes, " + ModeName(mode));
            ResetDoubles();
            Bytes out;
            EXPECT_NE(Run(mode, cut, out, data.size()), 0);
            /* only whole windows, and only of the true output */
            EXPECT_EQ(out.size() % WINDOW_SIZE, 0u);
            EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
            EXPECT_LE(EndRefills, 1);
            if (mode == FILE_MODE) {
                EXPECT_EQ(OutputCount, 0);
            }
        }
    }
}

/* Bad data after whole windows: those windows are out, the rest is not. */
TEST_F(DecodeTest, InvalidDataDropsOnlyTheUnfinishedWindow)
{
    struct Case {
        const char *name;
        size_t before; /* bytes decoded before the bad block */
        size_t handedOver;
    };
    const Case cases[] = {
        {"bad block right after a full window", 32768, 32768},
        {"bad block 100 bytes into the second window", 32868, 32768},
        {"bad block one byte short of two windows", 65535, 32768},
        {"bad block after two full windows", 65536, 65536},
    };
    for (const Case &c : cases) {
        for (Mode mode : {FILE_MODE, MEMORY_MODE}) {
            SCOPED_TRACE(std::string(c.name) + ", " + ModeName(mode));
            Bytes data = RandomBytes(c.before, 3);
            StreamBuilder b;
            for (size_t at = 0; at < data.size(); at += 65535)
                b.Stored(false, Bytes(data.begin() + at, data.begin() + std::min(data.size(), at + 65535)));
            b.Header(true, 3);
            ResetDoubles();
            Bytes out;
            EXPECT_NE(Run(mode, b.Done(), out, 70000), 0);
            EXPECT_EQ(out, Bytes(data.begin(), data.begin() + c.handedOver));
            if (mode == FILE_MODE) {
                EXPECT_EQ(FlushCounts.size(), c.handedOver / CHUNK_SIZE);
                EXPECT_EQ(OutputCount, 0);
            }
        }
    }
}

/* ---- memory destinations ---- */

TEST_F(DecodeTest, MemoryDestination)
{
    struct Case {
        const char *name;
        size_t output, room;
        int32_t startCount;
    };
    const Case cases[] = {
        {"exact fit", 5000, 5000, 0},
        {"one byte too long", 5001, 5000, 0},
        {"catalog-sized destination, one byte too long", 5314, 5313, 0},
        {"far too long, over several windows", 100000, 600, 0},
        {"too long by one byte past a full window", 32769, 32768, 0},
        {"no room at all", 10, 0, 0},
        {"empty output into no room", 0, 0, 0},
        {"count left at 1234 by an earlier stream", 5000, 5000, 1234},
        {"count left at 2047", 1, 1, 2047},
        {"count left at 2047, over windows", 70000, 70000, 2047},
        {"count left at 1, a whole window", 32768, 40000, 1},
        {"count left at 1000, too long", 3000, 2000, 1000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes data = MixedBytes(c.output, (uint32_t)c.output + 1);
        ResetDoubles();
        int rc = RunMemory(Deflate(data), c.room, c.startCount);
        size_t landed = std::min(c.output, c.room);
        if (c.output > c.room) {
            EXPECT_NE(rc, 0);
        } else {
            EXPECT_EQ(rc, 0);
        }
        EXPECT_TRUE(GuardsIntact()) << "a byte was written outside the destination";
        EXPECT_EQ(MemoryOutput(), Bytes(data.begin(), data.begin() + landed));
        if (c.output <= c.room) {
            EXPECT_EQ(FlushCounts.size(), (c.startCount + c.output) / CHUNK_SIZE);
            EXPECT_EQ(OutputCount, (int32_t)((c.startCount + c.output) % CHUNK_SIZE));
            EXPECT_TRUE(std::all_of(FlushCounts.begin(), FlushCounts.end(), [](int32_t n) { return n == CHUNK_SIZE; }));
        }
    }
}

/* The catalog, then the configuration block: the second stream starts
 * with the OutputCount the first one left and still lands at the start of
 * its own destination. */
TEST_F(DecodeTest, ConsecutiveMemoryStreams)
{
    const Bytes first = TextBytes(5311, 1), second = TextBytes(1777, 2);
    ASSERT_EQ(RunMemory(Deflate(first), 5313), 0);
    EXPECT_EQ(MemoryOutput(), first);
    ASSERT_NE(OutputCount, 0);
    Bytes firstDest = destination;
    ASSERT_EQ(RunMemory(Deflate(second), 2112, OutputCount), 0);
    EXPECT_EQ(MemoryOutput(), second);
    EXPECT_TRUE(GuardsIntact());
    EXPECT_EQ(Bytes(firstDest.begin() + GUARD, firstDest.begin() + GUARD + first.size()), first);
}

/* A memory-mode caller that did not set OutputLimit gets nothing written. */
TEST_F(DecodeTest, MemoryModeWithoutLimitWritesNothing)
{
    destSize = 0;
    destination.assign(GUARD + TAIL_GUARD, GUARD_BYTE);
    span = Deflate(TextBytes(100, 1));
    InputCursor = span.data();
    InputAvail = (int32_t)span.size();
    OutputCursor = Dest();
    OutputLimit = nullptr;
    InflateToMemory = 1;
    EXPECT_NE(Track(), 0);
    InflateToMemory = 0;
    EXPECT_EQ(Written(), 0u);
    EXPECT_TRUE(GuardsIntact());
}

/* ---- large data against zlib ---- */

TEST_F(DecodeTest, LargeDataMatchesZlib)
{
    struct Case {
        const char *name;
        int level, strategy, windowBits;
    };
    const Case cases[] = {
        {"stored only", 0, Z_DEFAULT_STRATEGY, -15}, {"fastest", 1, Z_DEFAULT_STRATEGY, -15},
        {"default", 6, Z_DEFAULT_STRATEGY, -15},     {"best, filtered", 9, Z_FILTERED, -15},
        {"Huffman only", 9, Z_HUFFMAN_ONLY, -15},    {"run lengths", 6, Z_RLE, -15},
        {"fixed codes", 6, Z_FIXED, -15},            {"512-byte window", 9, Z_DEFAULT_STRATEGY, -9},
    };
    const Bytes data = MixedBytes(1500000, 2024);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = Deflate(data, c.level, c.strategy, c.windowBits);
        ASSERT_EQ(ReferenceInflate(stream, data.size()), data);
        ResetDoubles();
        ASSERT_EQ(RunFile(stream), 0);
        EXPECT_EQ(FileOutput(), data);
        EXPECT_EQ(FlushCounts.size(), data.size() / CHUNK_SIZE);
        EXPECT_EQ(InputAvail, 0);
        EXPECT_EQ(LocalHeader.CompressedSize, 0u);
    }
}

/* ---- unwinding and memory ---- */

TEST_F(DecodeTest, UnwindFromFlushOutputReleasesZlib)
{
    const Bytes data = MixedBytes(200000, 8);
    const Bytes stream = Deflate(data);
    for (size_t at : {1, 5, 16, 17, 40, 97}) {
        SCOPED_TRACE("unwind at FlushOutput call " + std::to_string(at));
        ResetDoubles();
        ThrowOnFlush = at;
        try {
            RunFile(stream);
            ADD_FAILURE() << "the unwind did not come through";
        } catch (const UnwindException &e) {
            EXPECT_EQ(e.code, UNWIND_FAILED);
        }
        EXPECT_EQ(FlushCounts.size(), at);
        EXPECT_GT(AllocCalls, 0);
        EXPECT_EQ(LiveBlocks, 0);
    }
}

TEST_F(DecodeTest, ZlibMemoryIsGivenBackOnEveryEnd)
{
    struct Case {
        const char *name;
        Bytes stream;
        bool valid;
    };
    const Bytes good = Deflate(TextBytes(100000, 4));
    const Case cases[] = {
        {"valid", good, true},
        {"invalid", [] {
             StreamBuilder b;
             b.Stored(false, TextBytes(40000, 1));
             b.Header(true, 3);
             return b.Done();
         }(), false},
        {"cut short", Bytes(good.begin(), good.begin() + 500), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ResetDoubles();
        EXPECT_EQ(RunFile(c.stream) == 0, c.valid);
        EXPECT_EQ(AllocCalls, 2) << "zlib's state and history";
        EXPECT_EQ(LiveBlocks, 0);
    }
}

TEST_F(DecodeTest, OutOfMemoryIsFatal)
{
    const Bytes data = TextBytes(50000, 9);
    const Bytes stream = Deflate(data);
    /* 1: zlib's state in inflateInit2; 2: its history, at the first output */
    for (int failAt : {1, 2}) {
        for (Mode mode : {FILE_MODE, MEMORY_MODE}) {
            SCOPED_TRACE("allocation " + std::to_string(failAt) + " fails, " + ModeName(mode));
            ResetDoubles();
            FailAllocAt = failAt;
            Bytes out;
            try {
                Run(mode, stream, out, data.size());
                ADD_FAILURE() << "InflateStream returned";
            } catch (const UnwindException &e) {
                EXPECT_EQ(e.code, UNWIND_FAILED);
            }
            EXPECT_EQ(FatalCalls, 1);
            EXPECT_EQ(FatalText, "not enough memory");
            EXPECT_EQ(AllocCalls, failAt);
            EXPECT_EQ(LiveBlocks, 0);
        }
    }
}

} // namespace

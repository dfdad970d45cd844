// The stub's portable logic: command line, switches, volume labels,
// configuration strings, paths and the CRC-32.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "core.h"

namespace {

// Loads the real message catalog into CatalogBuffer, as start-up does.
class Catalog : public ::testing::Environment {
public:
    void SetUp() override
    {
        buffer.assign(CATALOG_BUFFER_SIZE, 0);
        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
        z.next_in = const_cast<Bytef *>(MessageCatalog);
        z.avail_in = MessageCatalogSize;
        z.next_out = buffer.data();
        z.avail_out = (uInt)buffer.size();
        ASSERT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
        inflateEnd(&z);
        CatalogBuffer = buffer.data();
    }
    std::vector<uint8_t> buffer;
};
const auto *const catalogEnvironment = ::testing::AddGlobalTestEnvironment(new Catalog);

struct TailCase {
    const char *commandLine;
    const char *tail;
};

TEST(CommandTail, CutsTheProgramName)
{
    const TailCase cases[] = {
        {"\"C:\\Program Files\\setup.exe\" /auto", " /auto"},
        {"setup.exe /auto", "/auto"},
        {"setup.exe  two", " two"},
        {"setup.exe", ""},
        {"", ""},
        {"\"C:\\a b\\setup.exe\"", ""},
        {"\"C:\\a b\\setup.exe\"x -info", "x -info"},
        {"\"unterminated quote", ""},
        {"\"\" /wait", " /wait"},
        {" /wait", ""},  // a leading blank is the first character
    };
    for (const auto &c : cases) {
        std::string line = c.commandLine;
        EXPECT_STREQ(CommandTail(line.data()), c.tail) << "command line: " << c.commandLine;
    }
}

TEST(InfoSwitch, MatchesExactlyAnywhere)
{
    const struct {
        const char *tail;
        int present;
    } cases[] = {
        {"x-information", 1}, {" -info", 1}, {"-info", 1}, {"a/b-infox", 1}, {"-INFO", 0},
        {"-inf", 0},          {"-Info", 0},  {"", 0},      {"info", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(InfoSwitchPresent(c.tail), c.present) << "tail: " << c.tail;
}

TEST(Switches, FirstSwitchSelectsAMode)
{
    const struct {
        const char *tail;
        int autoBefore;
        int autoAfter;
        int waitAfter;
    } cases[] = {
        {" /auto", 0, 1, 0},
        {"/Wait", 0, 0, 1},
        {"/WAIT /NOAUTO", 1, 1, 1},  // only the first switch counts
        {"my-file /AUTO", 0, 0, 0},  // the hyphen in my-file is the first switch character
        {"-INFO", 1, 1, 0},
        {"/automatic", 0, 1, 0},
        {"/NOAUTOSTART", 1, 0, 0},
        {"-noauto", 1, 0, 0},
        {"/aut", 0, 0, 0},  // shorter than every keyword
        {"/wai", 0, 0, 0},
        {"", 1, 1, 0},
        {"no switch at all", 0, 0, 0},
        {"/autx", 0, 0, 0},
    };
    for (const auto &c : cases) {
        std::string tail = c.tail;
        AutoMode = c.autoBefore;
        WaitMode = 0;
        ParseSwitches(tail.data());
        EXPECT_EQ(AutoMode, c.autoAfter) << "tail: " << c.tail;
        EXPECT_EQ(WaitMode, c.waitAfter) << "tail: " << c.tail;
    }
}

TEST(Switches, SwitchWordIsCapitalisedInPlaceUpToTheBlank)
{
    std::string tail = " /auto rest";
    ParseSwitches(tail.data());
    EXPECT_EQ(tail, " /AUTO rest");
}

TEST(VolumeLabel, DiskNumber)
{
    const struct {
        const char *label;
        uint16_t disk;
    } cases[] = {
        {"PKBACK# 001", 1},   {"PKBACK# 012", 12},  {"PKBACK#.002", 2},    {"PKBACK# 1 A", 1},
        {"PKBACK# ", 0},      {"PKBACK# A", 0},     {"PKBACK#", 0xFFFF},   {"pkback# 001", 0xFFFF},
        {"", 0xFFFF},         {"DATA 001", 0xFFFF}, {"PKBACK# 65537", 1},  {"PKBACKUP 3", 0xFFFF},
        {"PKBACK#x 7z", 7},   {"PKBACK#002", 0xFFFF},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LabelDiskNumber(c.label), c.disk) << "label: \"" << c.label << "\"";
}

// Runs the string walk of the configuration block over raw bytes.
std::vector<std::string> TakeAll(const std::string &block, const std::vector<size_t> &sizes)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(block.data());
    const uint8_t *end = p + block.size();
    std::vector<std::string> out;
    for (size_t size : sizes) {
        std::vector<char> dest(size, 'X');
        TakeConfigString(&p, end, dest.data(), size);
        out.emplace_back(dest.data());
    }
    return out;
}

TEST(ConfigStrings, CutToDestinationAndBoundedByTheBlock)
{
    using V = std::vector<std::string>;
    // Strings that fit, one cut to its destination, a walk past the end.
    EXPECT_EQ(TakeAll(std::string("ab\0cd\0", 6), {8, 8, 8}), (V{"ab", "cd", ""}));
    EXPECT_EQ(TakeAll(std::string("abcdefgh\0z\0", 11), {4, 8}), (V{"abc", "z"}));
    // A last string without its NUL ends at the block's end.
    EXPECT_EQ(TakeAll(std::string("ab\0cde", 6), {8, 8, 8}), (V{"ab", "cde", ""}));
    // Eight empty strings.
    EXPECT_EQ(TakeAll(std::string(8, '\0'), {4, 4, 4, 4, 4, 4, 4, 4}), V(8, ""));
    // A destination of exactly the string's length plus its NUL.
    EXPECT_EQ(TakeAll(std::string("abc\0", 4), {4}), (V{"abc"}));
}

TEST(ConfigStrings, ReadingPastAStringNeedsNoDestination)
{
    std::string block("skip\0keep\0", 10);
    const uint8_t *p = reinterpret_cast<const uint8_t *>(block.data());
    const uint8_t *end = p + block.size();
    TakeConfigString(&p, end, nullptr, 0);
    char dest[8];
    TakeConfigString(&p, end, dest, sizeof dest);
    EXPECT_STREQ(dest, "keep");
    EXPECT_EQ(p, end);
}

TEST(Paths, LastComponent)
{
    const struct {
        const char *path;
        const char *last;
    } cases[] = {
        {"D:\\a\\b.txt", "b.txt"}, {"a/b.txt", "b.txt"}, {"D:\\a\\", ""}, {"b.txt", "b.txt"},
        {"\\b.txt", "\\b.txt"},    {"", ""},             {"a\\b/c", "c"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(LastComponent(c.path), c.last) << "path: " << c.path;
}

TEST(Crc32, StandardCheckValues)
{
    BuildCrcTable();
    const struct {
        std::string data;
        uint32_t crc;
    } cases[] = {{"", 0}, {"123456789", 0xCBF43926u}, {std::string("\0", 1), 0xD202EF8Du}};
    for (const auto &c : cases) {
        RunningCrc = 0xFFFFFFFFu;
        Crc32Update(reinterpret_cast<const uint8_t *>(c.data.data()), (uint32_t)c.data.size());
        EXPECT_EQ(~RunningCrc, c.crc) << c.data;
    }
}

TEST(ByteSource, MemorySpanEndsWithoutTouchingTheOutValue)
{
    uint8_t blob[] = {7, 8};
    InputCursor = blob;
    InputAvail = 2;
    uint16_t out = 0;
    EXPECT_EQ(ReadInputByte(&out), 8);
    EXPECT_EQ(out, 7);
    EXPECT_EQ(ReadInputByte(&out), 8);
    EXPECT_EQ(out, 8);
    out = 0x1234;
    EXPECT_EQ(ReadInputByte(&out), 0);
    EXPECT_EQ(out, 0x1234);
}

}  // namespace

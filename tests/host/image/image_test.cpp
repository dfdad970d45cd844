// The built stub images: PE32 GUI program for i386 (the product) and the
// x86_64 test build, importing system DLLs only, with the header signature
// exactly once and no ZIP record signature anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "sfxformat.h"

namespace {

std::vector<uint8_t> ReadFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U16(const std::vector<uint8_t> &b, size_t at)
{
    return b.at(at) | b.at(at + 1) << 8;
}

uint32_t U32(const std::vector<uint8_t> &b, size_t at)
{
    return U16(b, at) | U16(b, at + 2) << 16;
}

struct PeImage {
    uint32_t machine = 0;
    uint32_t magic = 0;
    uint32_t subsystem = 0;
    std::vector<std::string> imports;  // DLL names, upper case
};

// Enough of the PE format to read the machine, subsystem and imports.
PeImage ParsePe(const std::vector<uint8_t> &b)
{
    PeImage pe;
    size_t peAt = U32(b, 60);
    EXPECT_EQ(U32(b, peAt), 0x4550u) << "PE signature";
    pe.machine = U16(b, peAt + 4);
    uint32_t sections = U16(b, peAt + 6);
    uint32_t optionalSize = U16(b, peAt + 20);
    size_t opt = peAt + 24;
    pe.magic = U16(b, opt);
    pe.subsystem = U16(b, opt + 68);
    size_t dirs = opt + (pe.magic == 0x10b ? 96 : 112);
    uint32_t importRva = U32(b, dirs + 8);
    size_t table = opt + optionalSize;

    auto toOffset = [&](uint32_t rva) -> size_t {
        for (uint32_t s = 0; s < sections; s++) {
            size_t h = table + 40 * s;
            uint32_t va = U32(b, h + 12), size = std::max(U32(b, h + 8), U32(b, h + 16)), raw = U32(b, h + 20);
            if (rva >= va && rva < va + size)
                return raw + (rva - va);
        }
        ADD_FAILURE() << "RVA outside every section";
        return 0;
    };
    for (size_t d = toOffset(importRva); U32(b, d + 12) != 0; d += 20) {
        std::string name;
        for (size_t p = toOffset(U32(b, d + 12)); b.at(p) != 0; p++)
            name += (char)std::toupper(b[p]);
        pe.imports.push_back(name);
    }
    return pe;
}

size_t CountOccurrences(const std::vector<uint8_t> &image, const std::vector<uint8_t> &needle)
{
    size_t count = 0;
    for (auto it = image.begin(); (it = std::search(it, image.end(), needle.begin(), needle.end())) != image.end(); ++it)
        count++;
    return count;
}

struct ImageCase {
    const char *path;
    uint32_t machine;
    uint32_t magic;
};

class StubImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(StubImage, IsAGuiProgramForItsMachine)
{
    auto image = ReadFile(GetParam().path);
    ASSERT_GT(image.size(), 1024u) << GetParam().path;
    PeImage pe = ParsePe(image);
    EXPECT_EQ(pe.machine, GetParam().machine);
    EXPECT_EQ(pe.magic, GetParam().magic);
    EXPECT_EQ(pe.subsystem, 2u) << "IMAGE_SUBSYSTEM_WINDOWS_GUI";
}

TEST_P(StubImage, ImportsSystemDllsOnly)
{
    // SHELL32 is loaded at run time, so it is not imported either.
    const std::set<std::string> system = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "MSVCRT.DLL"};
    PeImage pe = ParsePe(ReadFile(GetParam().path));
    EXPECT_FALSE(pe.imports.empty());
    for (const auto &dll : pe.imports)
        EXPECT_TRUE(system.count(dll)) << "imports " << dll;
}

TEST_P(StubImage, HeaderSignatureOnceAndNoZipSignature)
{
    auto image = ReadFile(GetParam().path);
    EXPECT_EQ(CountOccurrences(image, {SFX_SIGNATURE_BYTES}), 1u);
    const std::vector<std::vector<uint8_t>> zip = {
        {0x50, 0x4B, 0x03, 0x04}, {0x50, 0x4B, 0x01, 0x02}, {0x50, 0x4B, 0x05, 0x06},
        {0x50, 0x4B, 0x07, 0x08}, {0x50, 0x4B, 0x30, 0x30}};
    for (const auto &sig : zip)
        EXPECT_EQ(CountOccurrences(image, sig), 0u) << "ZIP signature 50 4B " << std::hex << (int)sig[2] << " "
                                                    << (int)sig[3];
}

INSTANTIATE_TEST_SUITE_P(Builds, StubImage,
                         ::testing::Values(ImageCase{STUB_I686, 0x14c, 0x10b}, ImageCase{STUB_X86_64, 0x8664, 0x20b}),
                         [](const auto &info) { return info.param.machine == 0x14c ? "i686" : "x86_64"; });

}  // namespace

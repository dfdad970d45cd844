// tvsfx build: header fields, configuration block, self-check CRC and the
// refusals.
#include "fixture.h"

#include <functional>

namespace tvsfxtest {
namespace {

// Header fields read at their byte offsets.
struct Fields {
    std::size_t pos;
    std::uint32_t selfCrc, archiveOffset, configOffset, endRecordOffset, totalUnpacked, flags;
    std::string waitProgram;
    std::uint16_t completeMark;
    Bytes tail;  // HeaderSpare and the reserved bytes
};

Fields ReadFields(const Bytes& f) {
    std::vector<std::size_t> sigs = FindSig(f);
    EXPECT_FALSE(sigs.empty());
    std::size_t p = sigs.empty() ? 0 : sigs[0];
    Fields h;
    h.pos = p;
    h.selfCrc = Le32(f, p + 8);
    h.archiveOffset = Le32(f, p + 12);
    h.configOffset = Le32(f, p + 16);
    h.endRecordOffset = Le32(f, p + 20);
    h.totalUnpacked = Le32(f, p + 24);
    h.flags = Le32(f, p + 28);
    h.waitProgram.assign(f.begin() + static_cast<std::ptrdiff_t>(p + 32), f.begin() + static_cast<std::ptrdiff_t>(p + 42));
    h.completeMark = Le16(f, p + 42);
    h.tail.assign(f.begin() + static_cast<std::ptrdiff_t>(p + 44), f.begin() + static_cast<std::ptrdiff_t>(p + 56));
    return h;
}

// The self-check as the stub makes it.
bool SelfCheckPasses(const Bytes& f) {
    Fields h = ReadFields(f);
    std::size_t len = h.archiveOffset;
    if (len < 8 || len > f.size()) return false;
    Bytes block(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(len));
    std::vector<std::size_t> sigs = FindSig(block);
    if (sigs.empty()) return false;
    for (int i = 0; i < 4; ++i) block[sigs[0] + 8 + i] = 0;
    std::size_t start = 0;
    if (h.flags & 0x800) {
        if (len < 64) return false;
        start = Le32(block, 60) + 248;
        if (start > len) return false;
    }
    return RefCrc32(block.data() + start, len - start) == h.selfCrc;
}

Bytes Block(const Bytes& f) {
    Fields h = ReadFields(f);
    return Bytes(f.begin() + h.configOffset, f.begin() + h.archiveOffset);
}

std::string Strings(const std::vector<std::string>& s) {
    std::string out;
    for (const std::string& x : s) out += x + std::string(1, '\0');
    return out;
}

class BuildTest : public PackageTest {};

TEST_F(BuildTest, LaysOutStubBlockAndArchiveAndFillsEveryField) {
    std::string archive = DefaultArchive();
    Bytes zip = ReadBytes(archive);
    Bytes stubBytes = ReadBytes(stub);
    std::string out = dir / "out.exe";
    CliResult r = Build(archive, out,
                        {"--info", "About this", "--command", "setup.exe /s", "--string3", "three", "--string4", "four",
                         "--description", "Installs things", "--caption", "Cap", "--startup", "Go on?",
                         "--info-switch", "Switch text", "--wait-program", "notepad", "--wait-for-program"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    Bytes f = ReadBytes(out);
    Fields h = ReadFields(f);

    EXPECT_EQ(h.pos, 600u);
    // The stub is copied unchanged apart from the header fields behind the signature.
    for (std::size_t i = 0; i < stubBytes.size(); ++i)
        if (i < h.pos + 8 || i >= h.pos + 56) {
            ASSERT_EQ(f[i], stubBytes[i]) << "stub byte " << i;
        }
    EXPECT_EQ(h.configOffset, stubBytes.size());
    std::string plain = Strings({"About this", "setup.exe /s", "three", "four", "Installs things", "Cap", "Go on?",
                                 "Switch text"});
    EXPECT_EQ(Inflate(Block(f)), Bytes(plain.begin(), plain.end()));
    EXPECT_EQ(h.archiveOffset, f.size() - zip.size());
    EXPECT_EQ(h.endRecordOffset, f.size() - 22);
    EXPECT_EQ(Le32(f, h.endRecordOffset), 0x06054B50u);
    std::size_t total = 0;
    for (const auto& [name, data] : SampleFiles()) total += data.size();
    EXPECT_EQ(h.totalUnpacked, total);
    EXPECT_EQ(h.flags, 0x14u);  // SFX_WAIT_FOR_PROGRAM, SFX_HAS_CAPTION from the caption
    EXPECT_EQ(h.waitProgram, std::string("notepad\0\0\0", 10));
    EXPECT_EQ(h.completeMark, 1);
    EXPECT_EQ(h.tail, Bytes(12, 0));
    EXPECT_NE(h.selfCrc, 0u);
    EXPECT_TRUE(SelfCheckPasses(f));
}

// Names in the OEM code page have bytes above 127; they pass through
// untouched, in the local headers and the central directory alike.
TEST_F(BuildTest, KeepsNamesWithBytesAbove127) {
    const std::string name = "caf\x82/m\x81sli.txt";
    std::string archive = dir / "oem.zip";
    WriteBytes(archive, MakeZip({ZipEntry(name, Lines(2))}));
    std::string out = dir / "oem.exe";
    CliResult r = Build(archive, out, {});
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes f = ReadBytes(out);
    std::size_t local = ReadFields(f).archiveOffset;
    EXPECT_EQ(std::string(f.begin() + local + 30, f.begin() + local + 30 + name.size()), name);
}

// Each flag option sets its documented bit and nothing else.
struct FlagCase {
    std::vector<std::string> args;
    std::uint32_t flags;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    for (const std::string& a : c.args) *os << a << ' ';
}

class FlagOptionTest : public PackageTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(FlagOptionTest, SetsExactlyItsBits) {
    std::string archive = DefaultArchive();
    CliResult r = Build(archive, dir / "out.exe", GetParam().args);
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes f = ReadBytes(dir / "out.exe");
    EXPECT_EQ(ReadFields(f).flags, GetParam().flags);
    EXPECT_TRUE(SelfCheckPasses(f));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, FlagOptionTest,
    ::testing::Values(FlagCase{{}, 0}, FlagCase{{"--wait-for-program"}, 0x4}, FlagCase{{"--has-caption"}, 0x10},
                      FlagCase{{"--wait-default"}, 0x40}, FlagCase{{"--password"}, 0x100},
                      FlagCase{{"--auto"}, 0x200}, FlagCase{{"--check-after-headers"}, 0x800},
                      FlagCase{{"--spanned"}, 0x1000}, FlagCase{{"--info-button"}, 0x2000},
                      FlagCase{{"--volume-exe"}, 0x8000}, FlagCase{{"--shell-install"}, 0x10000},
                      FlagCase{{"--shell-execute"}, 0x20000}, FlagCase{{"--title-from-caption"}, 0x40000},
                      FlagCase{{"--startup-query"}, 0x80000}, FlagCase{{"--startup-okcancel"}, 0x100000},
                      FlagCase{{"--flags", "0x80000001"}, 0x80000001}, FlagCase{{"--flags=210"}, 0x210},
                      FlagCase{{"--flags", "10", "--auto", "--auto"}, 0x210},
                      FlagCase{{"--caption", "Mine"}, 0x10}, FlagCase{{"--caption", ""}, 0}));

// The switches that leave a field at 0.
struct SwitchCase {
    std::vector<std::string> args;
    std::function<void(const Fields&, std::size_t stubSize)> check;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.args[0]; }

class SwitchTest : public PackageTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, LeavesItsFieldAtZero) {
    std::string archive = DefaultArchive();
    CliResult r = Build(archive, dir / "out.exe", GetParam().args);
    ASSERT_EQ(r.status, 0) << r.err;
    GetParam().check(ReadFields(ReadBytes(dir / "out.exe")), FakeStub().size);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, SwitchTest,
    ::testing::Values(SwitchCase{{"--no-crc", "--command", "x"},
                                 [](const Fields& h, std::size_t) { EXPECT_EQ(h.selfCrc, 0u); }},
                      SwitchCase{{"--no-config"},
                                 [](const Fields& h, std::size_t stubSize) {
                                     EXPECT_EQ(h.configOffset, 0u);
                                     EXPECT_EQ(h.archiveOffset, stubSize);
                                     EXPECT_NE(h.selfCrc, 0u);
                                 }},
                      SwitchCase{{"--incomplete", "--command", "x"},
                                 [](const Fields& h, std::size_t) {
                                     EXPECT_EQ(h.completeMark, 0);
                                     EXPECT_NE(h.selfCrc, 0u);
                                 }}));

// The self-check region and its start, and which changes it notices.
enum class Change { None, At, LastBlockByte, FirstArchiveByte };

struct CrcCase {
    const char* name;
    std::vector<std::string> args;
    std::uint32_t peOffset;
    Change change;        // one byte changed after the build
    std::size_t offset;   // for Change::At
    bool passes;
};

void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }

class SelfCrcTest : public PackageTest, public ::testing::WithParamInterface<CrcCase> {};

TEST_P(SelfCrcTest, MatchesTheStubsComputation) {
    const CrcCase& c = GetParam();
    FakeStub fake;
    fake.peOffset = c.peOffset;
    WriteBytes(stub, fake.Make());
    std::string archive = DefaultArchive();
    CliResult r = Build(archive, dir / "out.exe", c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes f = ReadBytes(dir / "out.exe");
    Fields h = ReadFields(f);
    std::size_t start = (h.flags & 0x800) ? c.peOffset + 248 : 0;
    Bytes region(f.begin(), f.begin() + h.archiveOffset);
    for (int i = 0; i < 4; ++i) region[h.pos + 8 + i] = 0;
    EXPECT_EQ(h.selfCrc, RefCrc32(region.data() + start, region.size() - start));
    if (c.change == Change::At) f[c.offset] ^= 0x40;
    if (c.change == Change::LastBlockByte) f[h.archiveOffset - 1] ^= 0x40;
    if (c.change == Change::FirstArchiveByte) f[h.archiveOffset] ^= 0x40;
    EXPECT_EQ(SelfCheckPasses(f), c.passes);
}

INSTANTIATE_TEST_SUITE_P(
    SelfCrc, SelfCrcTest,
    ::testing::Values(
        CrcCase{"whole", {}, 64, Change::None, 0, true},
        CrcCase{"after_headers", {"--check-after-headers"}, 64, Change::None, 0, true},
        CrcCase{"after_headers_far_pe", {"--check-after-headers"}, 200, Change::None, 0, true},
        CrcCase{"pe_header_change_noticed", {}, 64, Change::At, 100, false},
        CrcCase{"pe_header_change_ignored_after_headers", {"--check-after-headers"}, 64, Change::At, 100, true},
        CrcCase{"section_table_change_noticed_after_headers", {"--check-after-headers"}, 64, Change::At, 312, false},
        CrcCase{"header_field_change_noticed", {}, 64, Change::At, 600 + 28, false},
        CrcCase{"block_change_noticed", {"--command", "x"}, 64, Change::LastBlockByte, 0, false},
        CrcCase{"archive_change_ignored", {}, 64, Change::FirstArchiveByte, 0, true}),
    [](const ::testing::TestParamInfo<CrcCase>& i) { return std::string(i.param.name); });

// Each string fits up to its destination's size, NUL included.
struct LimitCase {
    const char* option;
    std::size_t size;  // with the NUL
    std::size_t index; // string number - 1
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.option; }

class StringLimitTest : public PackageTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(StringLimitTest, AcceptsTheLargestAndRefusesOneMore) {
    const LimitCase& c = GetParam();
    std::string archive = DefaultArchive();
    std::string longest = Repeat('x', c.size - 1);
    CliResult ok = Build(archive, dir / "ok.exe", {std::string("--") + c.option, longest});
    ASSERT_EQ(ok.status, 0) << ok.err;
    Bytes plain = Inflate(Block(ReadBytes(dir / "ok.exe")));
    std::vector<std::string> strings(8);
    strings[c.index] = longest;
    EXPECT_EQ(std::string(plain.begin(), plain.end()), Strings(strings));

    CliResult bad = Build(archive, dir / "bad.exe", {std::string("--") + c.option, longest + "x"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("at most " + std::to_string(c.size - 1) + " fit"), std::string::npos) << bad.err;
    EXPECT_FALSE(Exists(dir / "bad.exe"));
}

INSTANTIATE_TEST_SUITE_P(Strings, StringLimitTest,
                         ::testing::Values(LimitCase{"info", 516, 0}, LimitCase{"command", 65, 1},
                                           LimitCase{"description", 257, 4}, LimitCase{"caption", 65, 5},
                                           LimitCase{"startup", 514, 6}, LimitCase{"info-switch", 512, 7}));

// Everything the builder refuses: a message on stderr, a failing exit
// status, and nothing written (an existing output stays as it was).
struct RefusalCase {
    const char* name;
    int status;
    const char* message;
    // Prepares inputs in the fixture and returns the extra arguments; may
    // replace the archive path (first element "ARCHIVE=path").
    std::function<std::vector<std::string>(PackageTest&, TempDir&)> setup;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class BuildRefusalTest : public PackageTest, public ::testing::WithParamInterface<RefusalCase> {};

std::vector<std::string> WithArchive(const std::string& path, std::vector<std::string> rest = {}) {
    rest.insert(rest.begin(), "ARCHIVE=" + path);
    return rest;
}

std::string Incompressible(std::size_t n) {
    Bytes noise = Noise(n, 7);
    std::string s;
    for (std::uint8_t b : noise) s += static_cast<char>(' ' + b % 94);
    return s;
}

TEST_P(BuildRefusalTest, RefusesAndWritesNothing) {
    const RefusalCase& c = GetParam();
    std::string out = dir / "out.exe";
    WriteText(out, "previous");
    std::vector<std::string> extra = c.setup(*this, dir);
    std::string archive;
    if (!extra.empty() && extra[0].rfind("ARCHIVE=", 0) == 0) {
        archive = extra[0].substr(8);
        extra.erase(extra.begin());
    } else {
        archive = DefaultArchive();
    }
    std::vector<std::string> before = dir.List();
    CliResult r = Build(archive, out, extra);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << "stderr: " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.List(), before);  // no temporary file, no set folder
    Bytes kept = ReadBytes(out);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, BuildRefusalTest,
    ::testing::Values(
        RefusalCase{"not_a_zip", 1, "is not a ZIP file",
                    [](PackageTest&, TempDir& d) {
                        WriteBytes(d / "junk.zip", Noise(5000));
                        return WithArchive(d / "junk.zip");
                    }},
        RefusalCase{"truncated_zip", 1, "is not a ZIP file",
                    [](PackageTest& t, TempDir& d) {
                        Bytes z = ReadBytes(t.DefaultArchive());
                        z.resize(z.size() - 10);
                        WriteBytes(d / "cut.zip", z);
                        return WithArchive(d / "cut.zip");
                    }},
        RefusalCase{"central_directory_offset_wrong", 1, "inconsistent central directory",
                    [](PackageTest&, TempDir& d) {
                        Bytes z = MakeZip({{"a", Lines(10)}, {"b", Lines(20)}});
                        SetLe32(z, z.size() - 6, Le32(z, z.size() - 6) + 1);
                        WriteBytes(d / "bad.zip", z);
                        return WithArchive(d / "bad.zip");
                    }},
        RefusalCase{"central_entry_count_wrong", 1, "inconsistent central directory",
                    [](PackageTest&, TempDir& d) {
                        Bytes z = MakeZip({{"a", Lines(10)}, {"b", Lines(20)}});
                        z[z.size() - 12] = 3;  // entries on this disk
                        z[z.size() - 14] = 3;
                        WriteBytes(d / "bad.zip", z);
                        return WithArchive(d / "bad.zip");
                    }},
        RefusalCase{"local_header_missing", 1, "no local header",
                    [](PackageTest&, TempDir& d) {
                        Bytes z = MakeZip({{"a", Lines(10)}});
                        z[0] = 'X';
                        WriteBytes(d / "bad.zip", z);
                        return WithArchive(d / "bad.zip");
                    }},
        RefusalCase{"zip64", 1, "ZIP64",
                    [](PackageTest& t, TempDir&) {
                        // zip writes ZIP64 records when it reads a member from a pipe.
                        return WithArchive(t.MakeArchive("z64.zip", {}, "printf 'hello\\n' | zip -q - - > {out}"));
                    }},
        RefusalCase{"split_input", 1, "split or spanned",
                    [](PackageTest& t, TempDir&) {
                        return WithArchive(
                            t.MakeArchive("split.zip", {{"n.bin", Noise(200000)}}, "zip -q -s 64k {out} n.bin"));
                    }},
        RefusalCase{"descriptor_without_signature", 1, "data descriptor",
                    [](PackageTest&, TempDir& d) {
                        ZipEntry e{"a.txt", Lines(50)};
                        e.descriptor = ZipEntry::WITHOUT_SIGNATURE;
                        WriteBytes(d / "dd.zip", MakeZip({e, {"b.txt", Lines(5)}}));
                        return WithArchive(d / "dd.zip");
                    }},
        RefusalCase{"bytes_between_records", 1, "unexpected bytes at offset",
                    [](PackageTest&, TempDir& d) {
                        ZipEntry e{"a.txt", Lines(50)};
                        e.gapAfter = Bytes(7, 0xAA);
                        WriteBytes(d / "gap.zip", MakeZip({e, {"b.txt", Lines(5)}}));
                        return WithArchive(d / "gap.zip");
                    }},
        RefusalCase{"block_too_long_packed", 1, "compresses to",
                    [](PackageTest&, TempDir&) {
                        return std::vector<std::string>{"--string3", Incompressible(2000)};
                    }},
        RefusalCase{"block_too_long_inflated", 1, "at most 2112 fit",
                    [](PackageTest&, TempDir&) {
                        return std::vector<std::string>{"--string3", Repeat('a', 2105)};
                    }},
        RefusalCase{"wait_program_too_long", 1, "at most 9 fit",
                    [](PackageTest&, TempDir&) {
                        return std::vector<std::string>{"--wait-program", "abcdefghij"};
                    }},
        RefusalCase{"stub_without_signature", 1, "no header signature",
                    [](PackageTest& t, TempDir&) {
                        FakeStub s;
                        s.sigPos = 5000;  // beyond the end: no signature
                        WriteBytes(t.stub, s.Make());
                        return std::vector<std::string>{};
                    }},
        RefusalCase{"stub_with_two_signatures", 1, "2 times (at offsets 300, 600)",
                    [](PackageTest& t, TempDir&) {
                        Bytes s = FakeStub().Make();
                        std::copy(kSignature.begin(), kSignature.end(), s.begin() + 300);
                        WriteBytes(t.stub, s);
                        return std::vector<std::string>{};
                    }},
        RefusalCase{"stub_header_cut_off", 1, "cut off by the end of the stub",
                    [](PackageTest& t, TempDir&) {
                        FakeStub s;
                        s.sigPos = s.size - 20;
                        WriteBytes(t.stub, s.Make());
                        return std::vector<std::string>{};
                    }},
        RefusalCase{"section_table_beyond_region", 1, "SFX_CHECK_AFTER_HEADERS",
                    [](PackageTest& t, TempDir&) {
                        FakeStub s;
                        s.peOffset = 5000;
                        WriteBytes(t.stub, s.Make());
                        return std::vector<std::string>{"--check-after-headers"};
                    }},
        RefusalCase{"two_test_blocks", 1, "only one of",
                    [](PackageTest&, TempDir& d) {
                        WriteText(d / "blk", "x");
                        return std::vector<std::string>{"--test-config-raw", d / "blk", "--test-config-inflated",
                                                        d / "blk"};
                    }},
        RefusalCase{"strings_with_no_config", 1, "--no-config",
                    [](PackageTest&, TempDir&) {
                        return std::vector<std::string>{"--no-config", "--command", "x"};
                    }},
        RefusalCase{"missing_stub_file", 1, "cannot open",
                    [](PackageTest& t, TempDir& d) {
                        t.stub = d / "absent.exe";
                        return std::vector<std::string>{};
                    }},
        RefusalCase{"unknown_option", 2, "unknown option --bogus",
                    [](PackageTest&, TempDir&) { return std::vector<std::string>{"--bogus"}; }},
        RefusalCase{"flag_value_not_hex", 2, "not a hexadecimal",
                    [](PackageTest&, TempDir&) { return std::vector<std::string>{"--flags", "12g"}; }},
        RefusalCase{"span_without_dir", 2, "--span needs --span-dir",
                    [](PackageTest&, TempDir&) { return std::vector<std::string>{"--span", "1000"}; }}),
    [](const ::testing::TestParamInfo<RefusalCase>& i) { return std::string(i.param.name); });

// The testing options write blocks that the limits would refuse.
struct TestBlockCase {
    const char* name;
    const char* option;
    Bytes content;
    const char* inspectFailure;
};

void PrintTo(const TestBlockCase& c, std::ostream* os) { *os << c.name; }

class TestBlockTest : public PackageTest, public ::testing::WithParamInterface<TestBlockCase> {};

TEST_P(TestBlockTest, WritesTheBlockAndInspectNamesTheFault) {
    const TestBlockCase& c = GetParam();
    WriteBytes(dir / "block", c.content);
    std::string archive = DefaultArchive();
    CliResult r = Build(archive, dir / "out.exe", {c.option, dir / "block"});
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes f = ReadBytes(dir / "out.exe");
    Bytes block = Block(f);
    if (std::string(c.option) == "--test-config-raw")
        EXPECT_EQ(block, c.content);
    else
        EXPECT_EQ(Inflate(block), c.content);
    EXPECT_TRUE(SelfCheckPasses(f));
    CliResult inspect = Cli({"inspect", dir / "out.exe"});
    EXPECT_EQ(inspect.status, 1);
    EXPECT_NE(inspect.out.find(std::string("FAILED: ") + c.inspectFailure), std::string::npos) << inspect.out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

INSTANTIATE_TEST_SUITE_P(
    TestBlocks, TestBlockTest,
    ::testing::Values(
        TestBlockCase{"raw_longer_than_1500", "--test-config-raw", Deflate(Noise(1600)), "the block has"},
        TestBlockCase{"raw_not_deflate", "--test-config-raw", Bytes{0xFF, 0xFF, 0xFF}, "the block does not inflate"},
        TestBlockCase{"inflated_past_2112", "--test-config-inflated", Text(std::string(2200, 'a') + std::string(8, '\0')),
                      "the block inflates to 2208 bytes"},
        TestBlockCase{"fewer_than_eight_strings", "--test-config-inflated", Text(std::string("a\0b\0c\0", 6)),
                      "the block holds 3 complete strings"},
        TestBlockCase{"caption_without_flag", "--test-config-inflated",
                      Text(std::string("\0\0\0\0\0cap\0\0\0", 11)), "the caption is not empty"},
        TestBlockCase{"command_too_long", "--test-config-inflated",
                      Text(std::string(1, '\0') + std::string(70, 'c') + std::string(7, '\0')),
                      "the setup command has 70 characters"}),
    [](const ::testing::TestParamInfo<TestBlockCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace tvsfxtest

namespace tvsfxtest {
namespace {

// Packages the stub will not extract as they stand are built, with a warning.
struct WarningCase {
    const char* name;
    std::function<Bytes()> archive;
    std::vector<std::string> args;
    const char* warning;  // empty: no warning at all
};

void PrintTo(const WarningCase& c, std::ostream* os) { *os << c.name; }

Bytes WithMethod(std::uint16_t method) {
    Bytes z = MakeZip({ZipEntry("a.bz2", Lines(30))});
    z[8] = static_cast<std::uint8_t>(method);  // local header
    std::size_t cd = Le32(z, FindEndRecord(z) + 16);
    z[cd + 10] = static_cast<std::uint8_t>(method);
    return z;
}

Bytes Encrypted() {
    ZipEntry e("secret.txt", Lines(30));
    Bytes z = MakeZip({e});
    z[6] |= 1;  // flag bit 0 in the local and the central header
    z[Le32(z, FindEndRecord(z) + 16) + 8] |= 1;
    return z;
}

class WarningTest : public PackageTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(WarningTest, BuildsAndWarns) {
    const WarningCase& c = GetParam();
    WriteBytes(dir / "in.zip", c.archive());
    CliResult r = Build(dir / "in.zip", dir / "out.exe", c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Exists(dir / "out.exe"));
    if (*c.warning) {
        EXPECT_EQ(r.err.rfind("tvsfx: warning: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
    } else {
        EXPECT_EQ(r.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Warnings, WarningTest,
    ::testing::Values(
        WarningCase{"plain", [] { return MakeZip({ZipEntry("a", Lines(3))}); }, {}, ""},
        WarningCase{"method_12", [] { return WithMethod(12); }, {}, "a.bz2 uses compression method 12"},
        WarningCase{"encrypted_without_password", Encrypted, {}, "the archive holds encrypted members but SFX_PASSWORD"},
        WarningCase{"encrypted_with_password", Encrypted, {"--password"}, ""},
        WarningCase{"password_without_encryption", [] { return MakeZip({ZipEntry("a", Lines(3))}); },
                    {"--password"}, "SFX_PASSWORD is set but no member is encrypted"},
        WarningCase{"wait_program_without_flag", [] { return MakeZip({ZipEntry("a", Lines(3))}); },
                    {"--wait-program", "x"}, "--wait-program without SFX_WAIT_FOR_PROGRAM"},
        WarningCase{"name_too_long", [] { return MakeZip({ZipEntry(std::string(300, 'n'), Lines(3))}); }, {},
                    "the name of nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"}),
    [](const ::testing::TestParamInfo<WarningCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace tvsfxtest

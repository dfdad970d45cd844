// Spanned sets: where volumes may end, the disk folders with their labels
// and volume files, and that the stub's walk and ordinary tools read the set.
#include "fixture.h"
#include "stubwalk.h"

#include "sfxformat.h"
#include "span.h"

#include <filesystem>

namespace tvsfxtest {
namespace {

namespace fs = std::filesystem;
using tvsfx::Region;
using tvsfx::RegionKind;

// A stream of: spanning signature with member 1's header, 5000 data bytes
// and a descriptor, member 2 (header, 100 data bytes), one central entry,
// the end record.
const std::vector<Region> kRegions = {
    {0, 40, RegionKind::Whole, "sig and head 1"},
    {40, 5040, RegionKind::Data, "data 1"},     {5040, 5056, RegionKind::Descriptor, "descriptor 1"},
    {5056, 5100, RegionKind::Whole, "head 2"},  {5100, 5200, RegionKind::Data, "data 2"},
    {5200, 5250, RegionKind::Whole, "central"}, {5250, 5272, RegionKind::Whole, "end"},
};

struct CutCase {
    std::size_t volumeStart, cut;
    bool allowed;
    const char* why;
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.volumeStart << "->" << c.cut << " " << c.why; }

class CutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutTest, VolumeMayEndOnlyWhereTheStubSwitches) {
    EXPECT_EQ(tvsfx::CutAllowed(kRegions, GetParam().volumeStart, GetParam().cut), GetParam().allowed)
        << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, CutTest,
    ::testing::Values(CutCase{0, 2, false, "inside the spanning signature"},
                      CutCase{0, 4, false, "between the spanning signature and the first header"},
                      CutCase{0, 20, false, "inside a local header"},
                      CutCase{0, 40, false, "at the first data byte: the first refill would get nothing"},
                      CutCase{0, 41, true, "one byte into the data"},
                      CutCase{0, 40 + 2048, false, "where the first chunk ends"},
                      CutCase{0, 40 + 4096, false, "where the second chunk ends"},
                      CutCase{0, 40 + 2047, true, "one byte before a chunk end"},
                      CutCase{0, 40 + 2049, true, "one byte after a chunk end"},
                      CutCase{1000, 1000 + 2048, false, "chunks count from the volume start on a later volume"},
                      CutCase{1000, 1000 + 2047, true, "inside a chunk on a later volume"},
                      CutCase{1000, 40 + 2048 * 2 + 1, true, "the member's own chunk grid no longer applies"},
                      CutCase{0, 5039, true, "last data byte goes to the next volume with the descriptor"},
                      CutCase{0, 5040, false, "between data and its descriptor"},
                      CutCase{0, 5048, false, "inside a descriptor"},
                      CutCase{0, 5056, true, "behind a descriptor"},
                      CutCase{0, 5100, false, "at the first data byte of member 2"},
                      CutCase{0, 5200, true, "between the last data byte and the central directory"},
                      CutCase{0, 5210, false, "inside a central directory entry"},
                      CutCase{0, 5250, true, "in front of the end record"}));

struct PlanCase {
    const char* name;
    std::vector<std::uint64_t> capacities;
    std::vector<std::size_t> ends;  // empty: refused
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class PlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanTest, EndsEachVolumeAsLateAsAllowed) {
    const PlanCase& c = GetParam();
    if (c.ends.empty()) {
        EXPECT_THROW(tvsfx::PlanVolumes(kRegions, 5272, c.capacities), tvsfx::Error);
    } else {
        EXPECT_EQ(tvsfx::PlanVolumes(kRegions, 5272, c.capacities), c.ends);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Plans, PlanTest,
    ::testing::Values(PlanCase{"fits_in_one", {6000}, {5272}}, PlanCase{"no_sizes_one_volume", {}, {5272}},
                      PlanCase{"rest_after_the_list", {3000}, {3000, 5272}},
                      PlanCase{"chunk_end_moved_back", {40 + 2048}, {40 + 2047, 5272}},
                      PlanCase{"second_volume_chunk_grid", {1000, 2048, 2048}, {1000, 1000 + 2047, 5056, 5272}},
                      PlanCase{"descriptor_pulls_back", {5045}, {5039, 5272}},
                      PlanCase{"header_moves_to_next", {5080}, {5056, 5272}},
                      PlanCase{"central_entry_moves_to_next", {5230}, {5200, 5272}},
                      PlanCase{"too_small_for_signature_and_header", {30}, {}},
                      PlanCase{"too_small_later", {5056, 20}, {}}));

// One spanned set to build and check.
struct SpanCase {
    const char* name;
    Files (*files)();
    const char* zipCommand;
    std::string span;
    bool volumeExe;
    const char* password;
    std::vector<std::size_t> sizes;  // exact volume file sizes expected; empty: only the limits
};

void PrintTo(const SpanCase& c, std::ostream* os) { *os << c.name; }

Files OneBig() { return {{"big.bin", Noise(10000)}}; }
Files TwoStored() { return {{"m1.bin", Noise(3000, 1)}, {"m2.bin", Noise(3000, 2)}}; }
Files OneMid() { return {{"big.bin", Noise(5000)}}; }
Files Mixed() {
    return {{"a.txt", Lines(3000)}, {"b.bin", Noise(20000)}, {"c/d.txt", Lines(100)}, {"e.bin", Noise(7000, 9)}};
}

std::vector<std::uint64_t> SizesOf(const std::string& span) {
    std::vector<std::uint64_t> out;
    std::size_t start = 0;
    while (start <= span.size()) {
        std::size_t comma = span.find(',', start);
        out.push_back(std::stoull(span.substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

class SpanSetTest : public PackageTest, public ::testing::WithParamInterface<SpanCase> {};

TEST_P(SpanSetTest, WritesASetThatTheStubAndTheToolsRead) {
    const SpanCase& c = GetParam();
    Files files = c.files();
    std::string archive = MakeArchive("in.zip", files, c.zipCommand);
    std::string set = dir / "set";
    std::vector<std::string> args = {"--span", c.span, "--span-dir", set, "--command", "setup.exe"};
    if (c.volumeExe) args.push_back("--volume-exe");
    if (*c.password) args.push_back("--password");
    CliResult r = Build(archive, "SETUP.EXE", args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // Disk folders, labels, file names.
    std::vector<std::string> disks;
    for (const auto& e : fs::directory_iterator(set)) disks.push_back(e.path().filename().string());
    std::sort(disks.begin(), disks.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    ASSERT_GE(disks.size(), 2u);
    std::vector<Bytes> volumes;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        std::string n = std::to_string(i + 1);
        ASSERT_EQ(disks[i], "disk" + n);
        std::string folder = set + "/" + disks[i];
        Bytes label = ReadBytes(folder + "/.windows-label");
        EXPECT_EQ(std::string(label.begin(), label.end()), "PKBACK# " + std::string(3 - n.size(), '0') + n);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected =
            i == 0 ? (c.volumeExe ? std::vector<std::string>{".windows-label", "SETUP.EXE"}
                                  : std::vector<std::string>{".windows-label", "SETUP.EXE", "SETUP.ZIP"})
                   : std::vector<std::string>{".windows-label", c.volumeExe ? "SETUP.EXE" : "SETUP.ZIP"};
        EXPECT_EQ(names, expected) << disks[i];
        volumes.push_back(ReadBytes(folder + "/" + (c.volumeExe ? "SETUP.EXE" : "SETUP.ZIP")));
    }
    Bytes exe = ReadBytes(set + "/disk1/SETUP.EXE");

    // Header: spanned, no end-record probe, self-check over [0, ArchiveOffset).
    std::size_t hdr = FindSig(exe).at(0);
    std::uint32_t archiveOffset = Le32(exe, hdr + 12), flags = Le32(exe, hdr + 28);
    EXPECT_EQ(flags & 0x1000u, 0x1000u);
    EXPECT_EQ((flags & 0x8000u) != 0, c.volumeExe);
    EXPECT_EQ(Le32(exe, hdr + 20), 0u);
    std::uint32_t configOffset = Le32(exe, hdr + 16);
    EXPECT_EQ(configOffset, FakeStub().size);
    if (!c.volumeExe) {
        EXPECT_EQ(archiveOffset, exe.size());
    }
    Bytes plain = Inflate(Bytes(exe.begin() + configOffset, exe.begin() + archiveOffset));
    EXPECT_EQ(std::string(plain.begin(), plain.end()), std::string("\0setup.exe\0\0\0\0\0\0\0", 17));
    Bytes region(exe.begin(), exe.begin() + archiveOffset);
    for (int i = 0; i < 4; ++i) region[hdr + 8 + i] = 0;
    EXPECT_EQ(Le32(exe, hdr + 8), RefCrc32(region.data(), region.size()));
    std::size_t total = 0;
    for (const auto& [name, data] : files) total += data.size();
    EXPECT_EQ(Le32(exe, hdr + 24), total);

    // Volume sizes and the spanning signature.
    std::vector<std::uint64_t> limits = SizesOf(c.span);
    for (std::size_t i = 0; i < volumes.size() && i < limits.size(); ++i)
        EXPECT_LE(volumes[i].size(), limits[i]) << "volume " << i + 1;
    if (!c.sizes.empty()) {
        std::vector<std::size_t> got;
        for (const Bytes& v : volumes) got.push_back(v.size());
        EXPECT_EQ(got, c.sizes);
    }
    std::size_t start = c.volumeExe ? archiveOffset : 0;
    EXPECT_EQ(Le32(volumes[0], start), 0x08074B50u);

    // The stub's walk across the volumes: every member whole, and at least
    // one whose data crosses a volume end.
    WalkResult w = StubWalk(volumes, start, true, c.password);
    ASSERT_EQ(w.error, "");
    Files got;
    bool crossed = false;
    for (const WalkedMember& m : w.members) {
        if (m.name.back() != '/') got[m.name] = m.data;
        crossed = crossed || m.lastDisk > m.disk;
    }
    EXPECT_TRUE(got == files);
    EXPECT_TRUE(crossed);

    // Central directory and end record on the last volume carry disk numbers
    // and offsets within each volume file.
    const Bytes& last = volumes.back();
    std::size_t end = FindEndRecord(last);
    EXPECT_EQ(Le16(last, end + 4), volumes.size() - 1);
    std::size_t cdDisk = Le16(last, end + 6);
    ASSERT_EQ(cdDisk, volumes.size() - 1) << "central directory expected on the last disk here";
    std::size_t p = Le32(last, end + 16);
    EXPECT_EQ(Le16(last, end + 8), Le16(last, end + 10));
    for (std::size_t n = 0; n < Le16(last, end + 10); ++n) {
        ASSERT_EQ(Le32(last, p), 0x02014B50u);
        std::string name(last.begin() + static_cast<std::ptrdiff_t>(p + 46),
                         last.begin() + static_cast<std::ptrdiff_t>(p + 46 + Le16(last, p + 28)));
        std::size_t disk = Le16(last, p + 34), offset = Le32(last, p + 42);
        ASSERT_LT(disk, volumes.size());
        EXPECT_EQ(Le32(volumes[disk], offset), 0x04034B50u) << name;
        for (const WalkedMember& m : w.members)
            if (m.name == name) {
                EXPECT_EQ(m.disk, disk + 1) << name;
            }
        p += 46 + Le16(last, p + 28) + Le16(last, p + 30) + Le16(last, p + 32);
    }

    // Ordinary split-archive readers: 7z, and zip's own join followed by unzip.
    std::string joined = dir / "joined";
    fs::create_directory(joined);
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        std::string number = std::to_string(i + 1);
        std::string name = i + 1 == volumes.size() ? "x.zip" : "x.z" + std::string(number.size() < 2 ? 1 : 0, '0') + number;
        WriteBytes(joined + "/" + name, volumes[i]);
    }
    std::string pw = c.password, log;
    EXPECT_EQ(Shell("7z t " + (pw.empty() ? "" : "-p" + pw) + " '" + joined + "/x.zip'", &log), 0) << log;
    EXPECT_EQ(Shell("cd '" + joined + "' && zip -q -s 0 x.zip --out one.zip && unzip -t " +
                        (pw.empty() ? "" : "-P " + pw) + " one.zip",
                    &log),
              0)
        << log;

    CliResult inspect = Cli({"inspect", set + "/disk1/SETUP.EXE"});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    EXPECT_NE(inspect.out.find("disk " + std::to_string(volumes.size()) + ": label"), std::string::npos) << inspect.out;
}

// Layout of the stored cases with -X (no extra fields): spanning signature
// 4 bytes, local header 30 + 6 or 7 bytes of name.
INSTANTIATE_TEST_SUITE_P(
    Sets, SpanSetTest,
    ::testing::Values(
        // Data starts at 4 + 37 = 41; 41 + 4096 would end a chunk exactly, on
        // disk 2 4096 would, so both volumes end one byte earlier.  The rest:
        // data to 10041, central entry 46 + 7, end record 22.
        SpanCase{"chunk_ends_avoided", OneBig, "zip -q -0 -X {out} big.bin", "4137,4096", false, "", {4136, 4095, 1885}},
        // m1 ends at 4 + 36 + 3000 = 3040; m2's header does not fit before 3060.
        // The rest: m2's data to 6076, two central entries of 52, end record 22.
        SpanCase{"header_kept_whole", TwoStored, "zip -q -0 -X {out} m1.bin m2.bin", "3060,2000", false, "", {3040, 2000, 1162}},
        // Data 41..5041, descriptor behind it: the volume may not end between
        // them.  The rest: 1 data byte, 16, central entry 53, end record 22.
        SpanCase{"descriptor_kept_with_data", OneMid, "zip -q -0 -X -fz- - big.bin | cat > {out}", "5049", false, "",
                 {5040, 92}},
        // Encrypted and stored, with descriptors: m1's record ends at 4 + 36 +
        // 3012 + 16 = 3068; m2's header and 12-byte encryption header reach to
        // 3116, so a volume of 3110 ends in front of them.  Volume 2 ends in
        // m2's data; the rest: data to 6116, 16, central entries 104, end 22.
        SpanCase{"encryption_header_kept_whole", TwoStored, "zip -q -0 -X -P pw {out} m1.bin m2.bin", "3110,2000",
                 false, "pw", {3068, 2000, 1190}},
        SpanCase{"deflated_many_volumes", Mixed, "zip -q -r {out} .", "3000,3000,3000,3000,3000,3000", false, "", {}},
        SpanCase{"encrypted", Mixed, "zip -q -r -P pw123 {out} .", "4000,9000", false, "pw123", {}},
        SpanCase{"encrypted_streamed", Mixed, "zip -q -r -fz- -P pw123 - . | cat > {out}", "4000,9000", false, "pw123", {}},
        SpanCase{"volume_exe", Mixed, "zip -q -r {out} .", "6000,7000,7000", true, "", {}},
        SpanCase{"volume_exe_encrypted", Mixed, "zip -q -r -P pw123 {out} .", "6000,7000", true, "pw123", {}}),
    [](const ::testing::TestParamInfo<SpanCase>& i) { return std::string(i.param.name); });

// Refusals leave neither the set folder nor a temporary folder behind.
struct SpanRefusal {
    const char* name;
    std::string output;
    std::vector<std::string> args;
    int status;
    const char* message;
    bool precreate;  // the set folder exists and holds a file
};

void PrintTo(const SpanRefusal& c, std::ostream* os) { *os << c.name; }

class SpanRefusalTest : public PackageTest, public ::testing::WithParamInterface<SpanRefusal> {};

TEST_P(SpanRefusalTest, RefusesAndWritesNothing) {
    const SpanRefusal& c = GetParam();
    std::string archive = DefaultArchive();
    std::string set = dir / "set";
    if (c.precreate) {
        fs::create_directory(set);
        WriteText(set + "/old", "x");
    }
    std::vector<std::string> before = dir.List();
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--span-dir", set});
    CliResult r = Build(archive, c.output, args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(dir.List(), before);
    if (c.precreate) {
        std::vector<std::string> inside;
        for (const auto& e : fs::directory_iterator(set)) inside.push_back(e.path().filename().string());
        EXPECT_EQ(inside, std::vector<std::string>{"old"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    SpanRefusals, SpanRefusalTest,
    ::testing::Values(SpanRefusal{"too_small", "SETUP.EXE", {"--span", "20"}, 1, "volume 1 (20 bytes) is too small", false},
                      SpanRefusal{"header_does_not_fit", "SETUP.EXE", {"--span", "45"}, 1,
                                  "volume 1 (45 bytes) is too small: the local header of", false},
                      SpanRefusal{"exe_volume_without_room", "SETUP.EXE", {"--span", "1024", "--volume-exe"}, 1,
                                  "leaves no room", false},
                      SpanRefusal{"set_folder_not_empty", "SETUP.EXE", {"--span", "3000"}, 1, "is not empty", true},
                      SpanRefusal{"output_with_folder", "sub/SETUP.EXE", {"--span", "3000"}, 2, "without a folder", false},
                      SpanRefusal{"name_without_extension", "SETUP", {"--span", "3000"}, 1, "has no \".\"", false},
                      SpanRefusal{"name_like_the_volumes", "setup.zip", {"--span", "3000"}, 1, "no separate name", false},
                      SpanRefusal{"zero_size", "SETUP.EXE", {"--span", "3000,0"}, 2, "must not be 0", false},
                      SpanRefusal{"not_a_size", "SETUP.EXE", {"--span", "3000,abc"}, 2, "is not a size", false}),
    [](const ::testing::TestParamInfo<SpanRefusal>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace tvsfxtest

// The appended archive: ordinary zip tools still read the package, only
// the offsets and the local headers' CRC and sizes change, and the stub's
// way of walking it extracts every member.
#include "fixture.h"
#include "stubwalk.h"

#include <tuple>

namespace tvsfxtest {
namespace {

struct ArchiveCase {
    const char* name;
    const char* command;      // makes {out} from the files in SampleFiles()
    const char* password;     // "" when not encrypted
    bool streamed;            // written to a pipe: zeros in the local headers
};

void PrintTo(const ArchiveCase& c, std::ostream* os) { *os << c.name; }

const ArchiveCase kArchives[] = {
    {"deflated", "zip -q -r {out} .", "", false},
    {"stored", "zip -q -0 -r {out} .", "", false},
    {"comment", "echo 'an archive comment' | zip -q -r -z {out} .", "", false},
    {"encrypted", "zip -q -r -P secret {out} .", "secret", false},
    {"pipe", "zip -q -r -fz- - . | cat > {out}", "", true},
    {"encrypted_pipe", "zip -q -r -fz- -P secret - . | cat > {out}", "secret", true},
    {"python_stream",
     "python3 -c \"import zipfile, sys; z = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED); "
     "[z.write(p) for p in ('a.txt', 'b.bin', 'docs/readme.txt')]; z.close()\" | cat > {out}",
     "", true},
};

struct Tool {
    const char* name;
    const char* command;  // {pkg} is the package, {pw} the password option text
};

void PrintTo(const Tool& t, std::ostream* os) { *os << t.name; }

const Tool kTools[] = {
    {"unzip", "unzip -t {pwu} {pkg}"},
    {"7z", "7z t {pw7} {pkg}"},
    {"bsdtar", "bsdtar tf {pkg}"},
    {"python", "python3 -c \"import zipfile, sys; z = zipfile.ZipFile(sys.argv[1]); z.setpassword(b'{pwraw}'); "
               "sys.exit(0 if z.testzip() is None else 1)\" {pkg}"},
};

std::string Fill(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t p; (p = text.find(key)) != std::string::npos;) text.replace(p, key.size(), value);
    return text;
}

class ArchiveTest : public PackageTest {
public:
    // Builds a package of the case's archive; returns its path.
    std::string Package(const ArchiveCase& c, const std::vector<std::string>& extra = {}) {
        archive = MakeArchive(std::string(c.name) + ".zip", SampleFiles(), c.command);
        std::string out = dir / (std::string(c.name) + ".exe");
        std::vector<std::string> args = extra;
        if (*c.password) args.push_back("--password");
        CliResult r = Build(archive, out, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return out;
    }
    std::string archive;
};

class ZipToolTest : public ArchiveTest, public ::testing::WithParamInterface<std::tuple<ArchiveCase, Tool>> {};

TEST_P(ZipToolTest, ReadsThePackage) {
    const auto& [c, tool] = GetParam();
    std::string pkg = Package(c);
    std::string pw = c.password;
    std::string cmd = Fill(tool.command, "{pkg}", "'" + pkg + "'");
    cmd = Fill(cmd, "{pwu}", pw.empty() ? "" : "-P " + pw);
    cmd = Fill(cmd, "{pw7}", pw.empty() ? "" : "-p" + pw);
    cmd = Fill(cmd, "{pwraw}", pw);
    std::string log;
    EXPECT_EQ(Shell(cmd, &log), 0) << cmd << "\n" << log;
    if (std::string(tool.name) == "unzip") {
        EXPECT_EQ(log.find("extra bytes"), std::string::npos) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, ZipToolTest, ::testing::Combine(::testing::ValuesIn(kArchives), ::testing::ValuesIn(kTools)),
                         [](const ::testing::TestParamInfo<std::tuple<ArchiveCase, Tool>>& i) {
                             return std::string(std::get<0>(i.param).name) + "_" + std::get<1>(i.param).name;
                         });

class ArchiveCopyTest : public ArchiveTest, public ::testing::WithParamInterface<ArchiveCase> {};

// Compared with the input, the appended archive differs only in the
// central directory's offsets (moved by ArchiveOffset) and in the local
// headers' CRC and sizes (taken from the central directory).
TEST_P(ArchiveCopyTest, ChangesOnlyOffsetsAndLocalHeaderSizes) {
    const ArchiveCase& c = GetParam();
    std::string pkgPath = Package(c);
    Bytes in = ReadBytes(archive);
    Bytes pkg = ReadBytes(pkgPath);
    std::size_t base = Le32(pkg, FindSig(pkg)[0] + 12);
    ASSERT_EQ(pkg.size() - base, in.size());
    Bytes moved(pkg.begin() + static_cast<std::ptrdiff_t>(base), pkg.end());

    std::size_t end = FindEndRecord(in);
    std::size_t cd = Le32(in, end + 16);
    EXPECT_EQ(Le32(moved, end + 16), cd + base);
    SetLe32(moved, end + 16, cd);
    bool sawZeros = false;
    for (std::size_t p = cd, n = 0; n < Le16(in, end + 10); ++n) {
        std::size_t local = Le32(in, p + 42);
        EXPECT_EQ(Le32(moved, p + 42), local + base);
        SetLe32(moved, p + 42, static_cast<std::uint32_t>(local));
        ASSERT_EQ(Le32(moved, local), 0x04034B50u);
        // CRC, compressed and uncompressed size in the local header now
        // equal the central directory's; the flags (bit 3) are kept.
        for (std::size_t k = 0; k < 12; ++k) {
            EXPECT_EQ(moved[local + 14 + k], in[p + 16 + k]) << "local header of entry " << n;
            if (in[local + 14 + k] != in[p + 16 + k]) sawZeros = true;
            moved[local + 14 + k] = in[local + 14 + k];
        }
        p += 46 + Le16(in, p + 28) + Le16(in, p + 30) + Le16(in, p + 32);
    }
    EXPECT_EQ(sawZeros, c.streamed);  // streamed archives needed the fix
    EXPECT_TRUE(moved == in) << "bytes other than offsets and local sizes changed";
}

// The stub walks the local records with the local headers' sizes and CRC
// only; every member comes out whole.
TEST_P(ArchiveCopyTest, StubWalkExtractsEveryMember) {
    const ArchiveCase& c = GetParam();
    Bytes pkg = ReadBytes(Package(c));
    std::size_t base = Le32(pkg, FindSig(pkg)[0] + 12);
    WalkResult w = StubWalk({pkg}, base, false, c.password);
    ASSERT_EQ(w.error, "");
    Files expected = SampleFiles();
    Files got;
    for (const WalkedMember& m : w.members)
        if (m.name.back() != '/') got[m.name] = m.data;
    EXPECT_TRUE(got == expected);
}

// Without the local-header fix the same walk fails on streamed archives,
// so the fixture really exercises it; the others are walkable as they come.
TEST_P(ArchiveCopyTest, OnlyStreamedInputIsUnreadableToTheStubAsItComes) {
    const ArchiveCase& c = GetParam();
    std::string path = MakeArchive(std::string(c.name) + ".zip", SampleFiles(), c.command);
    WalkResult w = StubWalk({ReadBytes(path)}, 0, false, c.password);
    EXPECT_EQ(w.error.empty(), !c.streamed) << w.error;
}

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveCopyTest, ::testing::ValuesIn(kArchives),
                         [](const ::testing::TestParamInfo<ArchiveCase>& i) { return std::string(i.param.name); });

// Hand-made archives that the tools above do not produce.
struct CraftedCase {
    const char* name;
    std::vector<ZipEntry> entries;
    std::string comment;
};

void PrintTo(const CraftedCase& c, std::ostream* os) { *os << c.name; }

ZipEntry Streamed(std::string name, Bytes data, bool deflated) {
    ZipEntry e(std::move(name), std::move(data), deflated);
    e.descriptor = ZipEntry::WITH_SIGNATURE;
    e.zeroLocalSizes = true;
    return e;
}

class CraftedArchiveTest : public PackageTest, public ::testing::WithParamInterface<CraftedCase> {};

TEST_P(CraftedArchiveTest, BuildsAndStaysReadable) {
    const CraftedCase& c = GetParam();
    WriteBytes(dir / "in.zip", MakeZip(c.entries, c.comment));
    CliResult r = Build(dir / "in.zip", dir / "out.exe");
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes pkg = ReadBytes(dir / "out.exe");
    std::size_t base = Le32(pkg, FindSig(pkg)[0] + 12);
    WalkResult w = StubWalk({pkg}, base, false);
    ASSERT_EQ(w.error, "");
    ASSERT_EQ(w.members.size(), c.entries.size());
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
        EXPECT_EQ(w.members[i].name, c.entries[i].name);
        EXPECT_TRUE(w.members[i].data == c.entries[i].data);
    }
    // 7z and unzip do not take an archive without members for one; python does.
    std::string log;
    EXPECT_EQ(Shell("python3 -c \"import zipfile, sys; z = zipfile.ZipFile(sys.argv[1]); "
                    "sys.exit(0 if z.testzip() is None and z.comment == sys.argv[2].encode() else 1)\" '" +
                        dir / "out.exe" + "' '" + c.comment + "'",
                    &log),
              0)
        << log;
    if (!c.entries.empty()) {
        EXPECT_EQ(Shell("unzip -t '" + dir / "out.exe" + "'", &log), 0) << log;
    }
    CliResult inspect = Cli({"inspect", dir / "out.exe"});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    std::uint32_t total = 0;
    for (const ZipEntry& e : c.entries) total += static_cast<std::uint32_t>(e.data.size());
    EXPECT_EQ(Le32(pkg, FindSig(pkg)[0] + 24), total);
}

INSTANTIATE_TEST_SUITE_P(
    Crafted, CraftedArchiveTest,
    ::testing::Values(CraftedCase{"empty", {}, ""}, CraftedCase{"empty_with_comment", {}, "nothing inside"},
                      CraftedCase{"empty_member", {ZipEntry("empty.txt", {})}, ""},
                      CraftedCase{"streamed_stored_and_deflated",
                                  {Streamed("s.bin", Noise(3000), false), Streamed("d.txt", Lines(300), true),
                                   Streamed("zero.txt", {}, false)},
                                  "comment"}),
    [](const ::testing::TestParamInfo<CraftedCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace tvsfxtest

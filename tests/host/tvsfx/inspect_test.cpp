// tvsfx inspect: what it prints and which faults it reports.
#include "fixture.h"

#include <functional>

namespace tvsfxtest {
namespace {

std::size_t Header(const Bytes& f) { return FindSig(f).at(0); }

// Recomputes SelfCrc after a header field was changed on purpose, so that
// only the check under test fails.
void Reseal(Bytes& f) {
    std::size_t h = Header(f);
    std::uint32_t len = Le32(f, h + 12);
    SetLe32(f, h + 8, 0);
    std::size_t start = (Le32(f, h + 28) & 0x800) ? Le32(f, 60) + 248 : 0;
    SetLe32(f, h + 8, RefCrc32(f.data() + start, len - start));
}

struct InspectCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(Bytes&)> change;
    int status;
    std::vector<std::string> expected;  // lines or parts of lines in the output
};

void PrintTo(const InspectCase& c, std::ostream* os) { *os << c.name; }

class InspectTest : public PackageTest, public ::testing::WithParamInterface<InspectCase> {};

TEST_P(InspectTest, ReportsWhatItFinds) {
    const InspectCase& c = GetParam();
    std::string archive = DefaultArchive();
    CliResult b = Build(archive, dir / "out.exe", c.args);
    ASSERT_EQ(b.status, 0) << b.err;
    if (c.change) {
        Bytes f = ReadBytes(dir / "out.exe");
        c.change(f);
        WriteBytes(dir / "out.exe", f);
    }
    CliResult r = Cli({"inspect", dir / "out.exe"});
    EXPECT_EQ(r.status, c.status) << r.out;
    for (const std::string& e : c.expected) EXPECT_NE(r.out.find(e), std::string::npos) << e << "\n" << r.out;
    EXPECT_EQ(r.status == 0, r.out.find("FAILED") == std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Inspect, InspectTest,
    ::testing::Values(
        InspectCase{"intact",
                    {"--command", "setup.exe", "--startup", "Line 1\r\nLine 2", "--wait-program", "prog"},
                    nullptr,
                    0,
                    {"header at offset 600:", "  ConfigOffset     1024\n", "  WaitProgram      \"prog\"\n",
                     "  2 setup command      \"setup.exe\"\n", "  7 start-up message   \"Line 1\\r\\nLine 2\"\n",
                     "ok: self-check CRC", "over bytes [0, ", "ok: end record at EndRecordOffset", "a.txt",
                     "docs/readme.txt", "members (central directory): 4, unpacked total 12643", "result: ok"}},
        InspectCase{"flags_by_name",
                    {"--auto", "--info-button", "--flags", "0x40000000"},
                    nullptr,
                    0,
                    {"  SfxFlags         0x40002200 SFX_AUTO_DEFAULT SFX_INFO_BUTTON unknown 0x40000000\n"}},
        InspectCase{"after_headers", {"--check-after-headers"}, nullptr, 0, {"over bytes [312, "}},
        InspectCase{"no_crc", {"--no-crc"}, nullptr, 0, {"note: no self-check (SelfCrc 0)"}},
        InspectCase{"no_config", {"--no-config"}, nullptr, 0, {"note: no configuration block (ConfigOffset 0)"}},
        InspectCase{"stub_byte_changed", {}, [](Bytes& f) { f[10] ^= 1; }, 1, {"FAILED: self-check: SelfCrc is"}},
        InspectCase{"block_byte_changed",
                    {"--command", "x"},
                    [](Bytes& f) { f[Le32(f, Header(f) + 12) - 1] ^= 1; },
                    1,
                    {"FAILED: self-check"}},
        InspectCase{"end_record_moved",
                    {},
                    [](Bytes& f) {
                        SetLe32(f, Header(f) + 20, Le32(f, Header(f) + 20) + 1);
                        Reseal(f);
                    },
                    1,
                    {"FAILED: no end-of-central-directory signature at EndRecordOffset"}},
        InspectCase{"no_probe",
                    {},
                    [](Bytes& f) {
                        SetLe32(f, Header(f) + 20, 0);
                        Reseal(f);
                    },
                    0,
                    {"note: no end-record probe (EndRecordOffset 0)"}},
        InspectCase{"incomplete", {"--incomplete"}, nullptr, 1, {"FAILED: CompleteMark is 0"}},
        InspectCase{"total_unpacked_wrong",
                    {},
                    [](Bytes& f) {
                        SetLe32(f, Header(f) + 24, 5);
                        Reseal(f);
                    },
                    1,
                    {"FAILED: TotalUnpacked is 5, the members unpack to 12643"}},
        InspectCase{"local_header_not_normalized",
                    {},
                    [](Bytes& f) { SetLe32(f, Le32(f, Header(f) + 12) + 14, 0); },
                    1,
                    {": local header has CRC 0x00000000, sizes "}},
        InspectCase{"archive_cut_off",
                    {},
                    [](Bytes& f) { f.resize(f.size() - 30); },
                    1,
                    {"FAILED: no end-of-central-directory signature", "FAILED: the archive is not a ZIP file"}}),
    [](const ::testing::TestParamInfo<InspectCase>& i) { return std::string(i.param.name); });

struct NotPackageCase {
    const char* name;
    Bytes content;
    const char* message;
};

void PrintTo(const NotPackageCase& c, std::ostream* os) { *os << c.name; }

class NotPackageTest : public PackageTest, public ::testing::WithParamInterface<NotPackageCase> {};

TEST_P(NotPackageTest, SaysSo) {
    WriteBytes(dir / "file", GetParam().content);
    CliResult r = Cli({"inspect", dir / "file"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
}

Bytes CutHeader() {
    Bytes b = Noise(100);
    std::copy(kSignature.begin(), kSignature.end(), b.begin() + 80);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    NotPackages, NotPackageTest,
    ::testing::Values(NotPackageCase{"random", Noise(4000), "is not a package: it holds no stub header signature"},
                      NotPackageCase{"empty", {}, "is not a package: it holds no stub header signature"},
                      NotPackageCase{"zip", MakeZip({ZipEntry("a", Lines(3))}), "is not a package"},
                      NotPackageCase{"header_cut_off", CutHeader(), "is cut off by the end of the file"}),
    [](const ::testing::TestParamInfo<NotPackageCase>& i) { return std::string(i.param.name); });

TEST_F(PackageTest, InspectOfAMissingFileFails) {
    CliResult r = Cli({"inspect", dir / "absent.exe"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tvsfxtest

// Extraction under Wine by the stub's own code (through the driver):
// archives that real zip tools wrote, every failure with its box and code,
// member names that must not leave the extraction folder, the overwrite
// question, and the choice of the extraction folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "extract.h"
#include "package.h"
#include "sfxformat.h"

namespace fs = std::filesystem;
using pkg::Box;
using pkg::Bytes;
using winebed::Press;

namespace {

struct Member {
    std::string name;
    std::string text;
    int method;  // 0 stored, 8 deflated
};

// Escapes text for a JSON string (member names and ASCII contents).
std::string Json(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c < 0x20 || c >= 0x7F) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

// An archive that Python's zipfile writes of the given members.
std::string PyZip(const std::string &folder, const std::vector<Member> &members)
{
    std::string spec = "[";
    for (const auto &m : members)
        spec += (spec.size() > 1 ? "," : "") + std::string("[") + Json(m.name) + "," + Json(m.text) + "," +
                std::to_string(m.method) + "]";
    spec += "]";
    const std::string specFile = folder + "/spec.json", zip = folder + "/members.zip";
    pkg::Write(specFile, Bytes(spec.begin(), spec.end()));
    std::string output;
    if (pkg::Shell("python3 " + pkg::Sh(TVSE_PYZIP) + " " + pkg::Sh(zip) + " " + pkg::Sh(specFile), &output) != 0)
        ADD_FAILURE() << output;
    return zip;
}

std::vector<std::string> List(const std::string &folder)
{
    std::vector<std::string> names;
    if (fs::is_directory(folder))
        for (const auto &e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Fatal(const std::string &text, int code = 2)
{
    return Box(1, "error", text, pkg::OkOnly, "OK") + "exit=" + std::to_string(code) + "\n";
}

uint32_t ArchiveOffset(const Bytes &b)
{
    return pkg::U32(b, pkg::HeaderAt(b) + HDR_ARCHIVE_OFFSET);
}

class Extract : public ::testing::Test {
protected:
    // A fresh folder for one case, with a TMP folder inside it.
    struct Place {
        std::string root;
        std::string tmp;
        std::string Package(const std::string &archive, const std::vector<std::string> &options = {}) const
        {
            return pkg::Build(root + "/pkg.exe", archive, options);
        }
        // The extraction folder that the first run chooses.
        std::string Folder() const { return winebed::WindowsPath(tmp) + "\\TVSE1.tmp"; }
    };
    static Place NewPlace(const std::string &name)
    {
        Place p;
        p.root = winebed::NewFolder(name);
        p.tmp = p.root + "/tmp";
        fs::create_directory(p.tmp);
        return p;
    }
};

TEST_F(Extract, ArchivesWrittenByRealZipTools)
{
    for (const char *archive : {"infozip-deflate", "infozip-store", "infozip-pipe", "7zip", "bsdtar", "python"}) {
        Place p = NewPlace(archive);
        auto x = extract::Run(p.Package(pkg::Fixture(std::string("zip/") + archive + ".zip")), {},
                              extract::TempEnv(p.tmp));
        EXPECT_EQ(x.run.transcript, "exit=0\n") << archive;
        EXPECT_EQ(x.code, 0) << archive;
        EXPECT_EQ(x.keep, 0) << archive;
        EXPECT_EQ(x.folder, p.Folder()) << archive;
        EXPECT_EQ(extract::CompareWithFixtureTree(x.hostFolder), "") << archive;
        // The probe file that proved the name free is gone again.
        EXPECT_EQ(List(p.tmp), std::vector<std::string>{"TVSE1.tmp"}) << archive;
    }
}

TEST_F(Extract, OemNamesLandUnderTheirAnsiNames)
{
    Place p = NewPlace("oem");
    auto x = extract::Run(p.Package(pkg::Fixture("zip/oem-names.zip")), {}, extract::TempEnv(p.tmp));
    ASSERT_EQ(x.code, 0) << x.run.transcript;
    EXPECT_EQ(List(x.hostFolder), (std::vector<std::string>{"caf\u00e9.txt", "m\u00fcsli"}));
    EXPECT_EQ(List(x.hostFolder + "/m\u00fcsli"), std::vector<std::string>{"m\u00fcsli.txt"});
}

TEST_F(Extract, PipeArchiveAppendedAsItIsEndsInInvalidHeader)
{
    // The stub reads sizes only from local headers; a streamed archive has
    // zeros there, so without the builder's normalization the walk takes
    // the first member's data for the next record.
    Place p = NewPlace("pipe-raw");
    const std::string raw = pkg::Fixture("zip/infozip-pipe.zip");
    Bytes package = pkg::Read(p.Package(raw));
    Bytes archive = pkg::Read(raw);
    package.resize(ArchiveOffset(package));
    package.insert(package.end(), archive.begin(), archive.end());
    pkg::Write(p.root + "/pkg.exe", package);
    auto x = extract::Run(p.root + "/pkg.exe", {Press("OK")}, extract::TempEnv(p.tmp));
    EXPECT_EQ(x.run.transcript, Fatal("Invalid ZIP header.  Possible cause: file transfer error."));
    EXPECT_EQ(x.code, 2);
}

struct FailureCase {
    const char *name;
    std::vector<Member> members;
    // Changes the package; offset is where the archive starts.
    std::function<void(Bytes &, uint32_t)> change;
    // The text of the box; %F stands for the extraction folder, %P for
    // the package's path.
    std::string text;
    int code;
};

std::string Fill(std::string text, const std::string &folder, const std::string &package)
{
    for (auto [mark, value] : {std::pair<std::string, std::string>{"%F", folder}, {"%P", package}})
        for (size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, 2, value);
    return text;
}

TEST_F(Extract, EveryFailureShowsItsBoxAndEndsTheRun)
{
    const std::string readme = "A small member.\r\n";
    auto none = [](Bytes &, uint32_t) {};
    const FailureCase cases[] = {
        {"bad_signature", {{"readme.txt", readme, 0}}, [](Bytes &b, uint32_t a) { b[a + 2] = 'X'; },
         "Invalid ZIP header.  Possible cause: file transfer error.", 2},
        {"short_read", {{"data.bin", std::string(10000, 'd'), 0}},
         [](Bytes &b, uint32_t a) {
             pkg::SetField(b, HDR_END_RECORD_OFFSET, 0);
             b.resize(a + 30 + 8 + 5000);
         },
         "Error reading %P.  Possible cause: bad disk or file transfer error.", 2},
        {"unsupported_method", {{"readme.txt", readme, 0}}, [](Bytes &b, uint32_t a) { b[a + 8] = 12; },
         "Unsupported compression method", 2},
        {"bad_crc", {{"readme.txt", readme, 8}}, [](Bytes &b, uint32_t a) { pkg::PutU32(b, a + 14, 0xABCD); },
         "ZIP damaged: file %F\\readme.txt: Bad CRC aeae6966 (should be 0000abcd).  Possible cause: file transfer error.",
         2},
        {"encrypted", {{"readme.txt", readme, 0}}, [](Bytes &b, uint32_t a) { b[a + 6] |= 1; },
         "No password specified", 2},
        {"cannot_create_file", {{"bad<name>.txt", readme, 0}}, none, "Can't create output file: %F\\bad<name>.txt", 2},
        {"cannot_create_folder", {{"bad|dir/file.txt", readme, 0}}, none,
         "Could not create \"%F\\bad|dir\" - unzip operation cancelled.", 2},
        {"name_too_long", {{std::string(300, 'n'), readme, 0}}, none,
         "The file name " + std::string(263, 'n') + " is too long - unzip operation cancelled.", 2},
        {"target_too_long", {{std::string(250, 't'), readme, 0}}, none,
         "The file name " + std::string(250, 't') + " is too long - unzip operation cancelled.", 2},
    };
    for (const auto &c : cases) {
        Place p = NewPlace(std::string("fail-") + c.name);
        std::string path = p.Package(PyZip(p.root, c.members));
        Bytes package = pkg::Read(path);
        c.change(package, ArchiveOffset(package));
        pkg::Write(path, package);
        auto x = extract::Run(path, {Press("OK")}, extract::TempEnv(p.tmp));
        EXPECT_EQ(x.run.transcript, Fatal(Fill(c.text, p.Folder(), winebed::WindowsPath(path)), c.code)) << c.name;
        EXPECT_EQ(x.code, c.code) << c.name;
    }
}

TEST_F(Extract, UnsupportedMethodLeavesAnEmptyFileBehind)
{
    Place p = NewPlace("method-file");
    std::string path = p.Package(PyZip(p.root, {{"readme.txt", "text", 0}}));
    Bytes package = pkg::Read(path);
    package[ArchiveOffset(package) + 8] = 99;
    pkg::Write(path, package);
    auto x = extract::Run(path, {Press("OK")}, extract::TempEnv(p.tmp));
    ASSERT_EQ(x.code, 2);
    EXPECT_EQ(fs::file_size(x.hostFolder + "/readme.txt"), 0u);
}

TEST_F(Extract, InvalidDriveStopsTheRun)
{
    Place p = NewPlace("drive");
    std::string path = p.Package(PyZip(p.root, {{"readme.txt", "text", 0}}));
    auto x = extract::Run(path, {Press("OK")}, extract::TempEnv(p.tmp), "Q:\\TARGET");
    EXPECT_EQ(x.run.transcript, Fatal("Drive Q is not a valid drive, unzip operation cancelled."));
    EXPECT_EQ(x.code, 2);
}

TEST_F(Extract, NamesThatWouldLeaveTheExtractionFolderAreRefused)
{
    const char *const names[] = {
        "../evil.txt",         "..\\evil.txt",        "docs/../../evil.txt", "a/b/../../../evil.txt",
        "C:evil.txt",          "C:\\evil.txt",        "Z:/tmp/evil.txt",     "\\\\srv\\share\\evil.txt",
        "//srv/share/evil.txt", ".. /evil.txt",       "... /evil.txt",       "docs/stream.txt:hidden",
        "CON",                 "aux.txt",             "docs/nul/evil.txt",   "COM1",
        "LPT9.log",            "../evil/",            "..\\",
    };
    for (const char *name : names) {
        Place p = NewPlace("unsafe");
        std::string path = p.Package(PyZip(p.root, {{"first.txt", "fine", 0}, {name, "evil", 0}}));
        auto x = extract::Run(path, {Press("OK")}, extract::TempEnv(p.tmp));
        EXPECT_EQ(x.run.transcript,
                  Fatal(std::string("The file name ") + name +
                        " would lie outside the extraction folder - unzip operation cancelled."))
            << name;
        EXPECT_EQ(x.code, 2) << name;
        // Nothing was written anywhere but the extraction folder.
        EXPECT_EQ(List(p.root), (std::vector<std::string>{"members.zip", "pkg.exe", "spec.json", "tmp"})) << name;
        EXPECT_EQ(List(p.tmp), std::vector<std::string>{"TVSE1.tmp"}) << name;
        EXPECT_EQ(List(x.hostFolder), std::vector<std::string>{"first.txt"}) << name;
    }
}

TEST_F(Extract, NamesThatStayInsideAreExtracted)
{
    Place p = NewPlace("safe-names");
    std::string path = p.Package(PyZip(p.root, {{"/setup/data.bin", "lead", 0},
                                                {"a..b.txt", "dots", 0},
                                                {"docs\\win.txt", "backslash", 8},
                                                {"./here.txt", "dot", 0},
                                                {".hidden", "h", 0},
                                                {"CONSOLE.txt", "c", 0}}));
    auto x = extract::Run(path, {}, extract::TempEnv(p.tmp));
    ASSERT_EQ(x.code, 0) << x.run.transcript;
    EXPECT_EQ(List(x.hostFolder),
              (std::vector<std::string>{".hidden", "CONSOLE.txt", "a..b.txt", "docs", "here.txt", "setup"}));
    EXPECT_EQ(List(x.hostFolder + "/setup"), std::vector<std::string>{"data.bin"});
    EXPECT_EQ(List(x.hostFolder + "/docs"), std::vector<std::string>{"win.txt"});
}

TEST_F(Extract, OverwriteQuestion)
{
    const struct {
        const char *press;
        const char *afterwards;  // the existing file's text after the run
        bool secondExtracted;
        int code;
    } cases[] = {{"Yes", "new", true, 0}, {"No", "old", true, 0}, {"Cancel", "old", false, 1}};
    for (const auto &c : cases) {
        Place p = NewPlace(std::string("overwrite-") + c.press);
        std::string path = p.Package(PyZip(p.root, {{"readme.txt", "new", 8}, {"second.txt", "2", 0}}));
        const std::string target = p.root + "/target";
        fs::create_directory(target);
        pkg::Write(target + "/readme.txt", Bytes{'o', 'l', 'd'});
        const std::string folder = winebed::WindowsPath(target);
        auto x = extract::Run(path, {Press(c.press)}, extract::TempEnv(p.tmp), folder);
        EXPECT_EQ(x.run.transcript, Box(1, "none", "File " + folder + "\\readme.txt already exists.  Overwrite file?",
                                        pkg::YesNoCancel, c.press) +
                                        "exit=" + std::to_string(c.code) + "\n")
            << c.press;
        EXPECT_EQ(x.code, c.code) << c.press;
        Bytes text = pkg::Read(target + "/readme.txt");
        EXPECT_EQ(std::string(text.begin(), text.end()), c.afterwards) << c.press;
        EXPECT_EQ(fs::exists(target + "/second.txt"), c.secondExtracted) << c.press;
    }
}

TEST_F(Extract, ExtractionFolderChoice)
{
    Place p = NewPlace("choice");
    const std::string package = p.Package(PyZip(p.root, {{"readme.txt", "text", 0}}));
    const std::string tmp = winebed::WindowsPath(p.tmp);
    const std::string other = winebed::NewFolder("choice-temp");

    // TMP first, with a trailing "\" dropped.
    auto x = extract::Run(package, {}, {{"TMP", tmp + "\\"}, {"TEMP", std::nullopt}});
    EXPECT_EQ(x.folder, tmp + "\\TVSE1.tmp");
    EXPECT_EQ(x.keep, 0);

    // Taken names are probed in hexadecimal: with TVSE1.tmp to TVSE9.tmp
    // present the next is TVSEa.tmp.
    for (int n = 2; n <= 9; n++)
        pkg::Write(p.tmp + "/TVSE" + std::to_string(n) + ".tmp", Bytes{'x'});
    x = extract::Run(package, {}, extract::TempEnv(p.tmp));
    EXPECT_EQ(x.folder, tmp + "\\TVSEa.tmp");
    // A file that was in the way is never emptied by the probe.
    EXPECT_EQ(pkg::Read(p.tmp + "/TVSE9.tmp"), Bytes{'x'});

    // TMP unset, or too long to hold: TEMP.
    x = extract::Run(package, {}, {{"TMP", std::nullopt}, {"TEMP", winebed::WindowsPath(other)}});
    EXPECT_EQ(x.folder, winebed::WindowsPath(other) + "\\TVSE1.tmp");
    x = extract::Run(package, {}, {{"TMP", "C:\\" + std::string(300, 'x')}, {"TEMP", winebed::WindowsPath(other)}});
    EXPECT_EQ(x.folder, winebed::WindowsPath(other) + "\\TVSE2.tmp");

    // Neither: the Windows folder's TEMP, and the files are not kept.
    x = extract::Run(package, {}, {{"TMP", std::nullopt}, {"TEMP", std::nullopt}});
    EXPECT_EQ(x.folder.rfind("C:\\windows\\TEMP\\TVSE", 0), 0u) << x.folder;
    EXPECT_EQ(x.keep, 0);
    EXPECT_EQ(x.code, 0);

    // A base folder that does not exist: every probe fails, so the files
    // go to a numbered folder under the Windows folder and are kept.
    x = extract::Run(package, {}, {{"TMP", tmp + "\\missing"}, {"TEMP", std::nullopt}});
    EXPECT_EQ(x.folder.rfind("C:\\windows\\TVT000", 0), 0u) << x.folder;
    EXPECT_EQ(x.keep, 1);
    EXPECT_EQ(x.code, 0);
    auto y = extract::Run(package, {}, {{"TMP", tmp + "\\missing"}, {"TEMP", std::nullopt}});
    EXPECT_NE(y.folder, x.folder) << "the next run takes the next number";
    EXPECT_EQ(y.folder.rfind("C:\\windows\\TVT000", 0), 0u) << y.folder;

    // A base folder so long that no probe name fits into a path: the same
    // fall-back, without a name ever being cut.
    std::string deep = p.tmp;
    while (winebed::WindowsPath(deep).size() < 251)
        deep += "/" + std::string(std::min<size_t>(60, 251 - winebed::WindowsPath(deep).size()), 'd');
    if (winebed::WindowsPath(deep).size() == 251)
        deep += "d";
    fs::create_directories(deep);
    ASSERT_EQ(winebed::WindowsPath(deep).size(), 252u);
    x = extract::Run(package, {}, {{"TMP", winebed::WindowsPath(deep)}, {"TEMP", std::nullopt}});
    EXPECT_EQ(x.folder.rfind("C:\\windows\\TVT000", 0), 0u) << x.folder;
    EXPECT_EQ(x.keep, 1);
    EXPECT_EQ(List(deep), std::vector<std::string>{});
}

// A tmpfs of 64 KiB as the extraction base: the first member that does
// not fit ends the run with "disk full".  Needs the right to mount.
TEST_F(Extract, FullDiskEndsTheRun)
{
    Place p = NewPlace("full");
    const std::string small = p.root + "/small-disk";
    fs::create_directory(small);
    if (pkg::Shell("mount -t tmpfs -o size=64k tvse-full " + pkg::Sh(small)) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    std::string big;
    for (int i = 0; big.size() < 200000; i++)
        big += std::to_string(i * 7919 % 100003) + ",";
    struct Unmount {
        std::string folder;
        ~Unmount() { pkg::Shell("umount " + pkg::Sh(folder)); }
    } unmount{small};
    std::string path = p.Package(PyZip(p.root, {{"big.txt", big, 8}}));
    auto x = extract::Run(path, {Press("OK")}, extract::TempEnv(small));
    const std::string folder = winebed::WindowsPath(small) + "\\TVSE1.tmp";
    EXPECT_EQ(x.run.transcript, Fatal("Error writing to " + folder + "\\big.txt.  Possible cause: disk full."));
    EXPECT_EQ(x.code, 2);
}

// Wine's relay trace of the driver's _lwrite calls: every member's output
// goes to its file in writes of exactly 2,048 bytes and one shorter tail.
TEST_F(Extract, OutputIsWrittenInChunksOf2048BytesAndOneTail)
{
    Place p = NewPlace("writes");
    const std::string archive = pkg::Fixture("zip/infozip-deflate.zip");
    std::string sizes;
    ASSERT_EQ(pkg::Shell("python3 -c " + pkg::Sh("import sys, zipfile\n"
                                                 "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                                 "    i.is_dir() or print(i.file_size)") +
                             " " + pkg::Sh(archive),
                         &sizes),
              0);
    std::vector<unsigned long> expected;
    for (size_t at = 0, end; (end = sizes.find('\n', at)) != std::string::npos; at = end + 1) {
        unsigned long size = std::stoul(sizes.substr(at, end - at));
        expected.insert(expected.end(), size / 2048, 2048);
        if (size % 2048 != 0)
            expected.push_back(size % 2048);
    }

    const std::string key = "HKCU\\Software\\Wine\\Debug";
    winebed::SetRegistry(key, "RelayInclude", "REG_SZ", "kernel32._lwrite");
    extract::Env env = extract::TempEnv(p.tmp);
    env.push_back({"WINEDEBUG", "+relay"});
    auto x = extract::Run(p.Package(archive), {}, env);
    winebed::DeleteRegistry(key, "RelayInclude");
    ASSERT_EQ(x.code, 0) << x.run.transcript;

    std::vector<unsigned long> writes;
    const std::string call = "Call KERNEL32._lwrite(";
    for (size_t at = 0; (at = x.run.log.find(call, at)) != std::string::npos; at += call.size()) {
        size_t count = x.run.log.find(',', x.run.log.find(',', at) + 1) + 1;
        writes.push_back(std::stoul(x.run.log.substr(count, 8), nullptr, 16));
    }
    ASSERT_FALSE(writes.empty()) << x.run.log;
    writes.pop_back();  // the driver's own result file
    EXPECT_EQ(writes, expected);
}

}  // namespace

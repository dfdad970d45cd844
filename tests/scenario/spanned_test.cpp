// Spanned packages on a removable drive A: under Wine: the disk prompts at
// start-up, and extraction of a set whose members cross disk ends while
// the test "inserts" the next disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "extract.h"
#include "package.h"

namespace fs = std::filesystem;
using pkg::Box;
using winebed::Press;

namespace {

const char *const Ready = "Ready.";

std::string WrongLabel(int disk)
{
    return "The disk in the drive appears to be\nmissing or has an incorrect label.\nInsert disk number " +
           std::to_string(disk) + ".";
}

std::string InsertDisk(int disk)
{
    return "Please insert disk " + std::to_string(disk) + " in drive A:.";
}

// A spanned set written by tvsfx into a fresh folder: disk1, disk2, ...
std::vector<std::string> BuildSet(const std::string &name, const std::string &archive,
                                  const std::vector<std::string> &options)
{
    const std::string dir = winebed::NewFolder(name) + "/set";
    std::string command = pkg::Sh(pkg::Tvsfx()) + " build --stub " + pkg::Sh(pkg::Stub()) + " --archive " +
                          pkg::Sh(archive) + " -o SETUP.EXE --span-dir " + pkg::Sh(dir);
    for (const auto &o : options)
        command += " " + pkg::Sh(o);
    std::string output;
    if (pkg::Shell(command, &output) != 0) {
        ADD_FAILURE() << command << "\n" << output;
        return {};
    }
    std::vector<std::string> disks;
    for (int d = 1; fs::exists(dir + "/disk" + std::to_string(d)); d++)
        disks.push_back(dir + "/disk" + std::to_string(d));
    return disks;
}

class Spanned : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The drive exists for the whole suite; each test inserts its disk.
        winebed::MapRemovableDrive('a', winebed::NewFolder("empty-drive"));
    }
    static void TearDownTestSuite()
    {
        winebed::UnmapDrive('a');
    }
};

TEST_F(Spanned, StartupAsksForDiskOneByItsLabel)
{
    const std::string zip = pkg::SmallZip(winebed::NewFolder("span-small"));
    const auto disks = BuildSet("span-startup", zip, {"--span", "100000", "--startup", Ready});
    ASSERT_EQ(disks.size(), 1u);
    const std::string disk1 = disks[0];
    auto label = [&](const std::string &text) {
        return [=](const winebed::SyncPoint &) { winebed::SetVolumeLabel(disk1, text); };
    };
    const std::string passed = Box(1, "none", Ready, pkg::OkOnly, "OK");

    const struct {
        const char *name;
        const char *label;
        std::vector<winebed::Answer> answers;
        std::string transcript;
    } cases[] = {
        {"right_label", "PKBACK# 001", {Press("OK")}, passed + "exit=0\n"},
        {"no_label_abort", "", {Press("Abort")}, Box(1, "question", WrongLabel(1), pkg::AbortRetryIgnore, "Abort") + "exit=0\n"},
        {"foreign_label_retry", "DATA", {Press("Retry").Sync(label("PKBACK# 001")), Press("OK")},
         Box(1, "question", WrongLabel(1), pkg::AbortRetryIgnore, "Retry", pkg::Caption, true) +
             Box(2, "none", Ready, pkg::OkOnly, "OK") + "exit=0\n"},
        {"retry_asks_again", "pkback# 001", {Press("Retry"), Press("Abort")},
         Box(1, "question", WrongLabel(1), pkg::AbortRetryIgnore, "Retry") +
             Box(2, "question", WrongLabel(1), pkg::AbortRetryIgnore, "Abort") + "exit=0\n"},
        {"ignore_accepts_the_disk", "DATA", {Press("Ignore"), Press("OK")},
         Box(1, "question", WrongLabel(1), pkg::AbortRetryIgnore, "Ignore") + Box(2, "none", Ready, pkg::OkOnly, "OK") +
             "exit=0\n"},
        {"other_disk_cancel", "PKBACK# 003", {Press("Cancel")}, Box(1, "none", InsertDisk(1), pkg::OkCancel, "Cancel") + "exit=0\n"},
        {"other_disk_ok", "PKBACK# 002", {Press("OK").Sync(label("PKBACK# 001")), Press("OK")},
         Box(1, "none", InsertDisk(1), pkg::OkCancel, "OK", pkg::Caption, true) + Box(2, "none", Ready, pkg::OkOnly, "OK") +
             "exit=0\n"},
    };
    for (const auto &c : cases) {
        winebed::SetVolumeLabel(disk1, c.label);
        winebed::InsertDisk('a', disk1);
        auto r = pkg::Run("A:\\SETUP.EXE", "", c.answers);
        EXPECT_EQ(r.transcript, c.transcript) << c.name;
        EXPECT_TRUE(r.asScripted) << c.name << "\n" << r.log;
    }
}

// Extracts a set with the driver, inserting each next disk when asked.
// The last volume is cut short ten bytes into its first central directory
// header: a walk that went on past that header would fail there.
void ExtractSet(const std::vector<std::string> &disks, const std::string &volume)
{
    ASSERT_GE(disks.size(), 3u);
    const std::string last = disks.back() + "/" + volume;
    pkg::Bytes bytes = pkg::Read(last);
    const uint8_t central[] = {0x50, 0x4B, 0x01, 0x02};
    auto at = std::search(bytes.begin(), bytes.end(), central, central + 4);
    ASSERT_NE(at, bytes.end()) << "the central directory is on the last disk";
    bytes.erase(at + 10, bytes.end());
    pkg::Write(last, bytes);

    winebed::InsertDisk('a', disks[0]);
    std::vector<winebed::Answer> answers;
    std::string expected;
    for (size_t d = 1; d < disks.size(); d++) {
        const std::string next = disks[d];
        answers.push_back(Press("OK").Sync([next](const winebed::SyncPoint &) { winebed::InsertDisk('a', next); }));
        expected += Box((int)d, "none", InsertDisk((int)d + 1), pkg::OkCancel, "OK", pkg::Caption, true);
    }
    auto x = extract::Run("A:\\SETUP.EXE", answers, extract::TempEnv(winebed::NewFolder("span-tmp")));
    EXPECT_EQ(x.run.transcript, expected + "exit=0\n");
    EXPECT_EQ(x.code, 0);
    EXPECT_EQ(extract::CompareWithFixtureTree(x.hostFolder), "");
}

TEST_F(Spanned, MembersCrossingDiskEndsAreExtractedWhole)
{
    ExtractSet(BuildSet("span-zip", pkg::Fixture("zip/infozip-deflate.zip"), {"--span", "30000,30000"}), "SETUP.ZIP");
}

TEST_F(Spanned, ExeVolumesStartAtTheArchiveOffset)
{
    ExtractSet(BuildSet("span-exe", pkg::Fixture("zip/infozip-store.zip"), {"--volume-exe", "--span", "200000,150000"}),
               "SETUP.EXE");
}

}  // namespace

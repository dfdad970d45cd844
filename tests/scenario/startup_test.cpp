// Start-up of real packages under Wine: the self-check, the completion and
// system rules, the end-record probe, the configuration block, "-info" and
// the start-up message.  Every box is compared word for word.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "package.h"
#include "sfxformat.h"

using pkg::Box;
using pkg::Bytes;
using winebed::Press;

namespace {

const char *const Ready = "Ready.";
const char *const Incomplete =
    "This is an incomplete self-extractor;\nplease re-create the file and try again.";
const char *const NeedsWindows95 = "This 32-bit self-extracting Zip file requires Windows 95, 98 or NT";
const char *const Damaged =
    "Zip file is damaged, truncated, or has been changed since it was created.   "
    "If you downloaded this file, try downloading again.";

// The box a package shows once start-up has passed every check: its
// start-up message "Ready.".
std::string Passed()
{
    return Box(1, "none", Ready, pkg::OkOnly, "OK") + "exit=0\n";
}

std::string Fatal(const std::string &text)
{
    return Box(1, "error", text, pkg::OkOnly, "OK") + "exit=0\n";
}

class Startup : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = winebed::NewFolder("startup");
        zip = pkg::SmallZip(folder);
    }

    // A package that says "Ready." once start-up has passed.
    static std::string Package(const std::string &name, std::vector<std::string> options = {})
    {
        options.insert(options.begin(), {"--startup", Ready});
        return pkg::Build(folder + "/" + name + ".exe", zip, options);
    }

    static std::string Alter(const std::string &path, const std::function<void(Bytes &)> &change)
    {
        Bytes bytes = pkg::Read(path);
        change(bytes);
        pkg::Write(path, bytes);
        return path;
    }

    static std::string folder;
    static std::string zip;
};
std::string Startup::folder;
std::string Startup::zip;

size_t PeChecksum(const Bytes &b)
{
    return pkg::U32(b, PE_POINTER_OFFSET) + 24 + 64;
}

uint32_t Field(const Bytes &b, size_t field)
{
    return pkg::U32(b, pkg::HeaderAt(b) + field);
}

struct AlterCase {
    const char *name;
    std::vector<std::string> options;
    std::function<void(Bytes &)> change;
    bool corrupt;
};

TEST_F(Startup, SelfCheckCoversStubImageAndConfigurationBlockOnly)
{
    const AlterCase cases[] = {
        {"unchanged", {}, [](Bytes &) {}, false},
        // A byte of the DOS stub's message: the image still loads.
        {"stub_byte", {}, [](Bytes &b) { b[0x50] ^= 0x20; }, true},
        {"config_byte", {}, [](Bytes &b) { b[Field(b, HDR_CONFIG_OFFSET) + 2] ^= 0x55; }, true},
        {"archive_byte", {}, [](Bytes &b) { b[Field(b, HDR_ARCHIVE_OFFSET) + 31] ^= 0x01; }, false},
        {"header_spare", {}, [](Bytes &b) { pkg::SetField(b, HDR_SPARE, 7, false); }, true},
        {"self_crc_off_by_one", {}, [](Bytes &b) { pkg::SetField(b, HDR_SELF_CRC, Field(b, HDR_SELF_CRC) ^ 1, false); }, true},
        {"pe_checksum_checked", {}, [](Bytes &b) { b[PeChecksum(b)] ^= 0x11; }, true},
        {"pe_checksum_after_headers", {"--check-after-headers"}, [](Bytes &b) { b[PeChecksum(b)] ^= 0x11; }, false},
        {"stub_byte_after_headers", {"--check-after-headers"}, [](Bytes &b) { b[Field(b, HDR_CONFIG_OFFSET) - 1] ^= 1; }, true},
        {"no_crc", {"--no-crc"}, [](Bytes &b) { b[0x50] ^= 0x20; }, false},
        {"archive_offset_7", {}, [](Bytes &b) { pkg::SetField(b, HDR_ARCHIVE_OFFSET, 7, false); }, true},
        {"archive_offset_0", {}, [](Bytes &b) { pkg::SetField(b, HDR_ARCHIVE_OFFSET, 0, false); }, true},
        {"archive_offset_past_end", {}, [](Bytes &b) { pkg::SetField(b, HDR_ARCHIVE_OFFSET, (uint32_t)b.size() + 9, false); }, true},
    };
    for (const auto &c : cases) {
        std::string package = Alter(Package(std::string("selfcheck_") + c.name, c.options), c.change);
        auto r = pkg::Run(package, "", {Press("OK")});
        EXPECT_EQ(r.transcript, c.corrupt ? Fatal(pkg::HeaderCorrupt) : Passed()) << c.name;
        EXPECT_TRUE(r.asScripted) << c.name << "\n" << r.log;
    }
}

TEST_F(Startup, CompletionRuleAndInfoSwitch)
{
    const struct {
        const char *name;
        std::vector<std::string> options;
        const char *tail;
        std::string transcript;
    } cases[] = {
        {"incomplete", {"--incomplete"}, "", Fatal(Incomplete)},
        // "-info" is looked for before the completion mark.
        {"incomplete_info", {"--incomplete", "--info-switch", "About this package"}, " -info",
         Box(1, "none", "About this package", pkg::OkOnly, "OK") + "exit=0\n"},
        {"info_inside_word", {"--info-switch", "Line one\nLine two"}, " x-information",
         Box(1, "none", "Line one\nLine two", pkg::OkOnly, "OK") + "exit=0\n"},
        {"info_capitals", {"--info-switch", "unseen"}, " -INFO", Passed()},
        {"info_empty_text", {}, "-info", Box(1, "none", "", pkg::OkOnly, "OK") + "exit=0\n"},
        // A header whose fields are all 0 but the signature: no self-check,
        // no block, no probe, then the completion rule.
        {"blank_header", {"--incomplete", "--no-crc", "--no-config"}, "", Fatal(Incomplete)},
    };
    for (const auto &c : cases) {
        const bool blank = std::string(c.name) == "blank_header";
        std::string package = blank ? pkg::Build(folder + "/complete_blank_header.exe", zip, c.options)
                                    : Package(std::string("complete_") + c.name, c.options);
        if (blank)
            Alter(package, [](Bytes &b) {
                for (size_t f = HDR_SELF_CRC; f < HDR_SIZE; f += 4)
                    pkg::SetField(b, f, 0, false);
            });
        auto r = pkg::Run(package, c.tail, {Press("OK")});
        EXPECT_EQ(r.transcript, c.transcript) << c.name;
        EXPECT_TRUE(r.asScripted) << c.name << "\n" << r.log;
    }
}

TEST_F(Startup, SystemRuleRefusesOnlyOldNonNtSystems)
{
    const struct {
        const char *version;
        bool refused;
    } cases[] = {{"win31", true}, {"win95", false}, {"win98", false}, {"nt40", false}, {"win7", false}};
    for (const auto &c : cases) {
        const std::string name = std::string("version_") + c.version;
        std::string package = Package(name);
        winebed::SetWindowsVersion(name + ".exe", c.version);
        auto r = pkg::Run(package, "", {Press("OK")});
        winebed::SetWindowsVersion(name + ".exe", "");
        EXPECT_EQ(r.transcript, c.refused ? Box(1, "none", NeedsWindows95, pkg::OkOnly, "OK") + "exit=0\n" : Passed())
            << c.version;
    }
}

TEST_F(Startup, EndRecordProbe)
{
    const AlterCase cases[] = {
        {"one_byte_off", {}, [](Bytes &b) { pkg::SetField(b, HDR_END_RECORD_OFFSET, Field(b, HDR_END_RECORD_OFFSET) + 1); }, true},
        {"past_the_end", {}, [](Bytes &b) { pkg::SetField(b, HDR_END_RECORD_OFFSET, (uint32_t)b.size() + 100); }, true},
        {"no_probe", {}, [](Bytes &b) { pkg::SetField(b, HDR_END_RECORD_OFFSET, 0); b.resize(b.size() - 22); }, false},
        {"record_damaged", {}, [](Bytes &b) { b[Field(b, HDR_END_RECORD_OFFSET) + 3] = 0; }, true},
    };
    for (const auto &c : cases) {
        std::string package = Alter(Package(std::string("endrecord_") + c.name, c.options), c.change);
        auto r = pkg::Run(package, "", {Press("OK")});
        EXPECT_EQ(r.transcript, c.corrupt ? Fatal(Damaged) : Passed()) << c.name;
    }
}

// Writes text to a file in the suite's folder and returns its path.
std::string TextFile(const std::string &folder, const std::string &name, const std::string &text)
{
    std::string path = folder + "/" + name;
    pkg::Write(path, Bytes(text.begin(), text.end()));
    return path;
}

TEST_F(Startup, ConfigurationBlockThatCannotBeReadInFull)
{
    const AlterCase cases[] = {
        {"short_file", {"--no-crc"}, [](Bytes &b) {
             pkg::SetField(b, HDR_CONFIG_OFFSET, (uint32_t)b.size() - 10, false);
             pkg::SetField(b, HDR_ARCHIVE_OFFSET, (uint32_t)b.size() + 100, false);
             pkg::SetField(b, HDR_END_RECORD_OFFSET, 0, false);
         }, true},
        {"config_after_archive_offset", {"--no-crc"}, [](Bytes &b) {
             pkg::SetField(b, HDR_CONFIG_OFFSET, Field(b, HDR_ARCHIVE_OFFSET) + 1, false);
         }, true},
    };
    for (const auto &c : cases) {
        std::string package = Alter(Package(std::string("config_") + c.name, c.options), c.change);
        auto r = pkg::Run(package, "", {Press("OK")});
        EXPECT_EQ(r.transcript, Fatal(pkg::HeaderCorrupt)) << c.name;
    }
    // A block longer than its 1500-byte work area.
    std::string raw(1600, 'x');
    std::string package =
        pkg::Build(folder + "/config_too_long.exe", zip, {"--test-config-raw", TextFile(folder, "long.raw", raw)});
    EXPECT_EQ(pkg::Run(package, "", {Press("OK")}).transcript, Fatal(pkg::HeaderCorrupt));
}

TEST_F(Startup, ConfigurationStringsAreBounded)
{
    const std::string nul(1, '\0');
    const struct {
        const char *name;
        std::string inflated;
        const char *tail;
        std::string transcript;
    } cases[] = {
        // String 8 longer than its 512 bytes is cut to 511 characters.
        {"info_switch_cut", nul + nul + nul + nul + nul + nul + nul + std::string(600, 'i') + nul, "-info",
         Box(1, "none", std::string(511, 'i'), pkg::OkOnly, "OK") + "exit=0\n"},
        // String 7 of 600 characters is cut to 513.
        {"startup_cut", nul + nul + nul + nul + nul + nul + std::string(600, 's') + nul + nul, "",
         Box(1, "none", std::string(513, 's'), pkg::OkOnly, "OK") + "exit=0\n"},
        // More than 2112 bytes inflated: what lies beyond is not there.
        {"inflated_too_long", std::string(2500, 'a') + nul + "cmd" + nul + nul + nul + nul + nul + "Hi" + nul + "Info" + nul,
         "-info", Box(1, "none", "", pkg::OkOnly, "OK") + "exit=0\n"},
        // Fewer than eight strings: the missing ones are empty.
        {"two_strings", "info" + nul + "cmd" + nul, "-info", Box(1, "none", "", pkg::OkOnly, "OK") + "exit=0\n"},
        // A last string without its NUL still arrives.
        {"no_final_nul", nul + nul + nul + nul + nul + nul + "Go" + nul + "Last", "-info",
         Box(1, "none", "Last", pkg::OkOnly, "OK") + "exit=0\n"},
        // A start-up message of one character is shown.
        {"one_char_startup", nul + nul + nul + nul + nul + nul + "!" + nul + nul, "",
         Box(1, "none", "!", pkg::OkOnly, "OK") + "exit=0\n"},
        // Eight empty strings: no start-up message at all.
        {"all_empty", std::string(8, '\0'), "", "exit=0\n"},
    };
    for (const auto &c : cases) {
        std::string file = TextFile(folder, std::string(c.name) + ".inflated", c.inflated);
        std::string package = pkg::Build(folder + "/strings_" + c.name + ".exe", zip, {"--test-config-inflated", file});
        std::vector<winebed::Answer> answers;
        if (c.transcript != "exit=0\n")
            answers.push_back(Press("OK"));
        auto r = pkg::Run(package, c.tail, answers);
        EXPECT_EQ(r.transcript, c.transcript) << c.name;
    }
}

TEST_F(Startup, StartupMessage)
{
    const struct {
        const char *name;
        std::vector<std::string> options;
        const char *buttons;
        const char *press;
        const char *caption;
    } cases[] = {
        {"inform", {}, pkg::OkOnly, "OK", pkg::Caption},
        {"okcancel_without_query", {"--startup-okcancel"}, pkg::OkOnly, "OK", pkg::Caption},
        {"yes", {"--startup-query"}, pkg::YesNo, "Yes", pkg::Caption},
        {"no", {"--startup-query"}, pkg::YesNo, "No", pkg::Caption},
        {"ok", {"--startup-query", "--startup-okcancel"}, pkg::OkCancel, "OK", pkg::Caption},
        {"cancel", {"--startup-query", "--startup-okcancel"}, pkg::OkCancel, "Cancel", pkg::Caption},
        {"custom_caption", {"--caption", "Example Setup"}, pkg::OkOnly, "OK", "Example Setup"},
        {"empty_custom_caption", {"--has-caption"}, pkg::OkOnly, "OK", pkg::Caption},
    };
    for (const auto &c : cases) {
        std::vector<std::string> options = c.options;
        options.insert(options.begin(), {"--startup", "Install the example?"});
        std::string package = pkg::Build(folder + "/message_" + c.name + ".exe", zip, options);
        // Wine's loader trace shows whether start-up went on to its release
        // steps, which unload "Shell32.dll", or ended at once.
        auto r = pkg::Run(package, "", {Press(c.press)}, {{"WINEDEBUG", "+loaddll"}});
        EXPECT_EQ(r.transcript, Box(1, "none", "Install the example?", c.buttons, c.press, c.caption) + "exit=0\n")
            << c.name;
        EXPECT_TRUE(r.asScripted) << c.name << "\n" << r.log;
        const bool goesOn = std::string(c.press) == "OK" || std::string(c.press) == "Yes";
        EXPECT_EQ(r.log.find("Unloaded module L\"C:\\\\windows\\\\system32\\\\Shell32.dll\"") != std::string::npos, goesOn)
            << c.name << "\n" << r.log;
    }
}

TEST_F(Startup, ShellExecuteLookup)
{
    const struct {
        const char *name;
        bool shellExecute;
        bool shellMissing;
        std::string transcript;
    } cases[] = {
        {"found", true, false, Passed()},
        // The system's own text for the error, as an information box.
        {"missing", true, true,
         Box(1, "information", "Module not found.\r\n", pkg::OkOnly, "OK") + Box(2, "none", Ready, pkg::OkOnly, "OK") +
             "exit=0\n"},
        {"not_asked", false, true, Passed()},
    };
    for (const auto &c : cases) {
        const std::string name = std::string("shell_") + c.name;
        std::string package = Package(name, c.shellExecute ? std::vector<std::string>{"--shell-execute"}
                                                           : std::vector<std::string>{});
        const std::string key = "HKCU\\Software\\Wine\\AppDefaults\\" + name + ".exe\\DllOverrides";
        if (c.shellMissing)
            winebed::SetRegistry(key, "shell32", "REG_SZ", "");  // disabled for this program
        std::vector<winebed::Answer> answers{Press("OK")};
        if (c.shellExecute && c.shellMissing)
            answers.push_back(Press("OK"));
        auto r = pkg::Run(package, "", answers);
        if (c.shellMissing)
            winebed::DeleteRegistry(key, "shell32");
        EXPECT_EQ(r.transcript, c.transcript) << c.name;
    }
}

// A failure inside a dialog procedure, with no extraction run under way,
// reaches the start-up recovery point without travelling through the
// system's frames: the box shows and the program ends at once with 0.
TEST(StartupRecovery, UnwindInsideADialogEndsTheProgramAtOnce)
{
    auto r = pkg::Run(pkg::Driver(), "-unwind-in-dialog", {Press("OK")});
    EXPECT_EQ(r.transcript, Fatal(pkg::HeaderCorrupt));
}

}  // namespace

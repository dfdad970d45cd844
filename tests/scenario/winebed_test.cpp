/*
 * The Wine test bed proved with tvsedemo.exe: what the player reads back
 * from message boxes and dialogs, how it answers them, synchronisation with
 * the host, exit codes, runs that go wrong (no answer left, a button that
 * is not there, a program or a player that hangs) and the machine set-up
 * helpers (removable drive and its label, Windows version, registry).
 */
#include "winebed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bedtext.h"

#ifndef TVSE_DEMO_EXE
#error "TVSE_DEMO_EXE must name the x86_64 build of tvsedemo.exe"
#endif

namespace {

using winebed::Answer;
using winebed::Leave;
using winebed::Press;
using winebed::RunResult;
using winebed::RunSpec;

/* One demo command: the word and its KEY=VALUE words, escaped as the demo
 * reads them. */
std::string Cmd(const std::string &command, std::initializer_list<std::pair<const char *, std::string>> options = {})
{
    std::string out = command;
    for (const auto &kv : options) {
        out += std::string(" ") + kv.first + "=";
        for (char c : kv.second) {
            if (c == ' ') out += "\\s";
            else if (c == '\n') out += "\\n";
            else if (c == '\\') out += "\\\\";
            else out += c;
        }
    }
    return out;
}

std::string Cmds(std::initializer_list<std::string> commands)
{
    std::string out;
    for (const auto &c : commands) out += (out.empty() ? "" : " ") + c;
    return out;
}

RunSpec Demo(const std::string &tail, std::vector<Answer> answers = {})
{
    RunSpec spec;
    spec.program = TVSE_DEMO_EXE;
    spec.tail = tail;
    spec.answers = std::move(answers);
    return spec;
}

/* The texts of the message boxes in a transcript, in order. */
std::vector<std::string> BoxTexts(const std::string &transcript)
{
    std::vector<std::string> texts, words;
    std::istringstream lines(transcript);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("  text=", 0) == 0 && bedtext::Split(line.substr(7), words) && words.size() == 1)
            texts.push_back(words[0]);
    return texts;
}

/* The controls of the demo's dialog as the player records them. */
std::string DemoControls(const std::string &edit, const std::string &state)
{
    return "  control 100 Static \"Name:\" visible enabled\n"
           "  control 101 Edit \"" + edit + "\" visible enabled\n"
           "  control 102 Button \"&Option\" visible disabled\n"
           "  control 103 Static \"hidden\" hidden enabled\n"
           "  control 104 Static \"" + state + "\" visible enabled\n"
           "  control 1 Button \"OK\" visible enabled default\n"
           "  control 2 Button \"Cancel\" visible enabled\n";
}

const char *const Caption = "Tarvex Self-Extractor";

TEST(WineBedBoxes, EveryFieldIsReadBackWordForWord)
{
    RunResult r = winebed::RunUnderWine(Demo(
        Cmds({Cmd("box", {{"caption", Caption},
                          {"text", "The disk in the drive appears to be\nmissing or has an incorrect label.\n"
                                   "Insert disk number 2."},
                          {"type", "abortretryignore"},
                          {"icon", "question"}}),
              Cmd("box", {{"caption", Caption}, {"text", "File a.txt already exists.  Overwrite file?"},
                          {"type", "yesnocancel"}}),
              Cmd("box", {{"caption", "Error"}, {"text", "C:\\temp\\x \"quoted\""}, {"icon", "error"}}),
              Cmd("box", {{"caption", ""}, {"text", ""}, {"type", "okcancel"}, {"icon", "warning"}, {"default", "2"}}),
              Cmd("box", {{"text", "Sure?"}, {"type", "yesno"}, {"icon", "information"}, {"default", "2"}}),
              Cmd("box", {{"text", "Again?"}, {"type", "retrycancel"}})}),
        {Press("Retry"), Press("Yes"), Press("OK"), Press("Cancel"), Press("No"), Press("Retry")}));
    EXPECT_EQ(r.transcript, R"(box 1 caption="Tarvex Self-Extractor" icon=question owner=none
  text="The disk in the drive appears to be\nmissing or has an incorrect label.\nInsert disk number 2."
  buttons=Abort:"&Abort" Retry:"&Retry" Ignore:"&Ignore" default=Abort
  press=Retry
box 2 caption="Tarvex Self-Extractor" icon=none owner=none
  text="File a.txt already exists.  Overwrite file?"
  buttons=Yes:"&Yes" No:"&No" Cancel:"Cancel" default=Yes
  press=Yes
box 3 caption="Error" icon=error owner=none
  text="C:\\temp\\x \"quoted\""
  buttons=OK:"OK" default=OK
  press=OK
box 4 caption="" icon=warning owner=none
  text=""
  buttons=OK:"OK" Cancel:"Cancel" default=Cancel
  press=Cancel
box 5 caption="Demo" icon=information owner=none
  text="Sure?"
  buttons=Yes:"&Yes" No:"&No" default=No
  press=No
box 6 caption="Demo" icon=none owner=none
  text="Again?"
  buttons=Retry:"&Retry" Cancel:"Cancel" default=Retry
  press=Retry
exit=461274
)");
    EXPECT_TRUE(r.asScripted) << r.log;
    EXPECT_EQ(r.exitCode, 461274);
}

TEST(WineBedBoxes, OwnerIsNamedByTitleOrNone)
{
    RunResult r = winebed::RunUnderWine(
        Demo(Cmds({Cmd("modeless", {{"title", "Tarvex Self-Extractor - pkg.exe"}}),
                   Cmd("box", {{"text", "owned"}, {"owner", "dialog"}}), Cmd("box", {{"text", "free"}})}),
             {Leave(), Press("OK"), Press("OK")}));
    EXPECT_EQ(r.transcript, "dialog 1 title=\"Tarvex Self-Extractor - pkg.exe\" owner=none\n" +
                                DemoControls("", "waiting") + R"(  press=none
box 2 caption="Demo" icon=none owner="Tarvex Self-Extractor - pkg.exe"
  text="owned"
  buttons=OK:"OK" default=OK
  press=OK
box 3 caption="Demo" icon=none owner=none
  text="free"
  buttons=OK:"OK" default=OK
  press=OK
exit=11
)");
    EXPECT_TRUE(r.asScripted) << r.log;
}

TEST(WineBedBoxes, AnswersAreUsedInOrder)
{
    const std::string tail =
        Cmds({Cmd("box", {{"type", "okcancel"}}), Cmd("box", {{"type", "abortretryignore"}})});
    const struct {
        const char *first, *second;
        int64_t code;
    } cases[] = {{"OK", "Abort", 13}, {"OK", "Retry", 14}, {"Cancel", "Ignore", 25}};
    for (const auto &c : cases) {
        RunResult r = winebed::RunUnderWine(Demo(tail, {Press(c.first), Press(c.second)}));
        EXPECT_EQ(r.exitCode, c.code) << c.first << " " << c.second << "\n" << r.transcript;
        EXPECT_TRUE(r.asScripted) << r.transcript << r.log;
    }
}

TEST(WineBedDialogs, ControlsConditionsAndTyping)
{
    RunResult r = winebed::RunUnderWine(
        Demo(Cmds({Cmd("dialog", {{"title", "Password"}, {"edit", "old"}, {"delay", "500"}}),
                   Cmd("box", {{"text", "$edit"}})}),
             {Press("OK").When(104, "ready").Type(101, "new  secret"), Press("OK")}));
    EXPECT_EQ(r.transcript, "dialog 1 title=\"Password\" owner=none\n" + DemoControls("old", "waiting") +
                                "dialog 1 again title=\"Password\" owner=none\n" + DemoControls("old", "ready") +
                                R"(  set 101 "new  secret"
  press=1
box 2 caption="Demo" icon=none owner=none
  text="new  secret"
  buttons=OK:"OK" default=OK
  press=OK
exit=11
)");
    EXPECT_TRUE(r.asScripted) << r.log;
}

TEST(WineBedDialogs, BriefRecordsTheTitleOnly)
{
    RunResult r = winebed::RunUnderWine(Demo(Cmd("dialog", {{"title", "Busy"}}), {Press("2").Brief()}));
    EXPECT_EQ(r.transcript, "dialog 1 title=\"Busy\" owner=none\n  press=2\nexit=2\n");
}

TEST(WineBedSync, CallbackRunsWhileTheBoxWaits)
{
    const std::string folder = winebed::NewFolder("sync");
    const std::string file = folder + "/message.txt";
    std::vector<winebed::SyncPoint> seen;
    RunResult r = winebed::RunUnderWine(
        Demo(Cmds({Cmd("box", {{"text", "first"}}), Cmd("box", {{"text", "$file:" + winebed::WindowsPath(file)}})}),
             {Press("OK").Sync([&](const winebed::SyncPoint &p) {
                  seen.push_back(p);
                  std::ofstream(file) << "written between the boxes";
              }),
              Press("OK")}));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].answer, 0u);
    EXPECT_EQ(seen[0].window, 1);
    EXPECT_EQ(seen[0].transcript, R"(box 1 caption="Demo" icon=none owner=none
  text="first"
  buttons=OK:"OK" default=OK
  sync
)");
    EXPECT_EQ(BoxTexts(r.transcript), (std::vector<std::string>{"first", "written between the boxes"}));
    EXPECT_TRUE(r.asScripted) << r.transcript << r.log;
}

TEST(WineBedRuns, ExitCodeOfAProgramWithoutWindows)
{
    RunResult r = winebed::RunUnderWine(Demo(Cmd("exit", {{"code", "42"}})));
    EXPECT_EQ(r.transcript, "exit=42\n");
    EXPECT_EQ(r.exitCode, 42);
    EXPECT_TRUE(r.asScripted);
    EXPECT_FALSE(r.timedOut);
}

TEST(WineBedRuns, EnvironmentWorkingFolderAndTail)
{
    const std::string work = winebed::NewFolder("work");
    RunSpec spec = Demo(Cmds({Cmd("box", {{"text", "$env:TMP"}}), Cmd("box", {{"text", "$env:TEMP"}}),
                              Cmd("box", {{"text", "$cwd"}}), Cmd("box", {{"text", "$tail"}}),
                              Cmd("exit", {{"code", "3"}}), "x  \"y z\"\t"}),
                        {Press("OK"), Press("OK"), Press("OK"), Press("OK")});
    spec.workDir = work;
    spec.env = {{"TMP", std::string("Z:\\tmp\\my tmp")}, {"TEMP", std::nullopt}};
    RunResult r = winebed::RunUnderWine(spec);
    EXPECT_EQ(BoxTexts(r.transcript),
              (std::vector<std::string>{"Z:\\tmp\\my tmp", "(unset)", winebed::WindowsPath(work), spec.tail}));
    EXPECT_EQ(r.exitCode, 3);

    /* The whole command line, program name unquoted. */
    spec = Demo("", {Press("OK")});
    spec.commandLine = "tvsedemo.exe  box text=$tail";
    r = winebed::RunUnderWine(spec);
    EXPECT_EQ(BoxTexts(r.transcript), (std::vector<std::string>{" box text=$tail"}));
}

/* Runs that do not go as scripted end without hanging and say why. */
TEST(WineBedRuns, MismatchesAreRecordedAndFail)
{
    const struct {
        const char *what;
        std::string tail;
        std::vector<Answer> answers;
        std::string transcript;
    } cases[] = {
        {"no answer left", Cmds({Cmd("box", {{"text", "one"}}), Cmd("box", {{"text", "two"}, {"type", "yesno"}})}),
         {Press("OK")},
         "box 1 caption=\"Demo\" icon=none owner=none\n  text=\"one\"\n  buttons=OK:\"OK\" default=OK\n"
         "  press=OK\n"
         "box 2 caption=\"Demo\" icon=none owner=none\n  text=\"two\"\n"
         "  buttons=Yes:\"&Yes\" No:\"&No\" default=Yes\n  unexpected\n  closed=No\nexit=17\n"},
        {"button not in the box", Cmd("box", {{"text", "one"}, {"type", "okcancel"}}),
         {Press("Retry")},
         "box 1 caption=\"Demo\" icon=none owner=none\n  text=\"one\"\n"
         "  buttons=OK:\"OK\" Cancel:\"Cancel\" default=OK\n  cannot press Retry: missing\n  closed=Cancel\n"
         "exit=2\n"},
        {"disabled control", Cmd("dialog", {{"title", "D"}}), {Press("102").Brief()},
         "dialog 1 title=\"D\" owner=none\n  cannot press 102: disabled\n  closed=2\nexit=2\n"},
        {"answers left over", Cmd("exit", {{"code", "0"}}), {Press("OK"), Press("Yes")},
         "unused steps=2\nexit=0\n"},
    };
    for (const auto &c : cases) {
        RunResult r = winebed::RunUnderWine(Demo(c.tail, c.answers));
        EXPECT_EQ(r.transcript, c.transcript) << c.what;
        EXPECT_FALSE(r.asScripted) << c.what;
        EXPECT_EQ(r.playerStatus, 1) << c.what << "\n" << r.log;
        EXPECT_FALSE(r.timedOut) << c.what;
    }
}

TEST(WineBedRuns, TimeoutKillsTheProgram)
{
    RunSpec spec = Demo(Cmd("sleep", {{"ms", "60000"}}));
    spec.timeoutMs = 1500;
    RunResult r = winebed::RunUnderWine(spec);
    EXPECT_EQ(r.transcript, "timeout\nexit=killed\n");
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.playerKilled);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.playerStatus, 2);

    /* A box left open is the same: the program is killed while it waits. */
    spec = Demo(Cmd("box", {{"text", "wait"}}), {Leave()});
    spec.timeoutMs = 1500;
    r = winebed::RunUnderWine(spec);
    EXPECT_EQ(r.transcript, "box 1 caption=\"Demo\" icon=none owner=none\n  text=\"wait\"\n"
                            "  buttons=OK:\"OK\" default=OK\n  press=none\ntimeout\nexit=killed\n");
    EXPECT_TRUE(r.timedOut);
}

TEST(WineBedRuns, HungPlayerIsKilledAndTheBedRecovers)
{
    RunSpec spec = Demo(Cmd("sleep", {{"ms", "60000"}}));
    spec.timeoutMs = 60000;
    spec.hostTimeoutMs = 2000;
    RunResult r = winebed::RunUnderWine(spec);
    EXPECT_TRUE(r.playerKilled);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, -1);

    r = winebed::RunUnderWine(Demo(Cmd("exit", {{"code", "7"}})));
    EXPECT_EQ(r.transcript, "exit=7\n") << r.log;
}

TEST(WineBedMachine, RemovableDriveLabelAndDiskSwap)
{
    const std::string disk1 = winebed::NewFolder("disk"), disk2 = winebed::NewFolder("disk");
    std::ofstream(disk2 + "/id.txt") << "second disk";
    winebed::SetVolumeLabel(disk2, "DISK TWO");
    winebed::MapRemovableDrive('a', disk1);
    winebed::SetVolumeLabel(disk1, "PKBACK# 001");
    const std::string label = Cmd("box", {{"text", "$label:A:\\"}});
    RunResult r = winebed::RunUnderWine(
        Demo(Cmds({Cmd("box", {{"text", "$type:A:\\"}}), label, label, label, Cmd("box", {{"text", "$file:A:\\id.txt"}})}),
             {Press("OK"),
              Press("OK").Sync([&](const winebed::SyncPoint &) { winebed::SetVolumeLabel(disk1, "PKBACK# 002"); }),
              Press("OK").Sync([&](const winebed::SyncPoint &) { winebed::InsertDisk('a', disk2); }),
              Press("OK"), Press("OK")}));
    /* 2 is DRIVE_REMOVABLE. */
    EXPECT_EQ(BoxTexts(r.transcript),
              (std::vector<std::string>{"2", "PKBACK# 001", "PKBACK# 002", "DISK TWO", "second disk"}));
    EXPECT_TRUE(r.asScripted) << r.transcript << r.log;
    EXPECT_EQ(winebed::HostPath("A:\\x.zip"), disk2 + "/x.zip");

    winebed::UnmapDrive('a');
    r = winebed::RunUnderWine(Demo(Cmd("box", {{"text", "$type:A:\\"}}), {Press("OK")}));
    EXPECT_EQ(BoxTexts(r.transcript), (std::vector<std::string>{"1"})); /* DRIVE_NO_ROOT_DIR */
}

TEST(WineBedMachine, WindowsVersionPerProgram)
{
    const auto version = [] {
        RunResult r = winebed::RunUnderWine(Demo(Cmd("box", {{"text", "$version"}}), {Press("OK")}));
        std::vector<std::string> texts = BoxTexts(r.transcript);
        return texts.size() == 1 ? std::strtoul(texts[0].c_str(), nullptr, 16) : 0ul;
    };
    winebed::SetWindowsVersion("tvsedemo.exe", "win95");
    auto value = winebed::QueryRegistry("HKCU\\Software\\Wine\\AppDefaults\\tvsedemo.exe", "Version");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, "REG_SZ");
    EXPECT_EQ(value->data, "win95");
    unsigned long v = version();
    EXPECT_TRUE(v & 0x80000000ul) << std::hex << v; /* outside the NT family */
    EXPECT_EQ(v & 0xFF, 4u) << std::hex << v;

    winebed::SetWindowsVersion("tvsedemo.exe", "");
    EXPECT_FALSE(winebed::QueryRegistry("HKCU\\Software\\Wine\\AppDefaults\\tvsedemo.exe", "Version"));
    v = version();
    EXPECT_FALSE(v & 0x80000000ul) << std::hex << v;
}

TEST(WineBedMachine, PrefixSettingsAndPaths)
{
    auto managed = winebed::QueryRegistry("HKCU\\Software\\Wine\\X11 Driver", "Managed");
    ASSERT_TRUE(managed);
    EXPECT_EQ(managed->data, "N");
    auto crash = winebed::QueryRegistry("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog");
    ASSERT_TRUE(crash);
    EXPECT_EQ(crash->type, "REG_DWORD");
    EXPECT_EQ(crash->data, "0x0");

    EXPECT_EQ(winebed::WindowsPath("/tmp/a b/c"), "Z:\\tmp\\a b\\c");
    EXPECT_EQ(winebed::WindowsPath("/"), "Z:\\");
    EXPECT_EQ(winebed::HostPath("Z:\\tmp\\a b\\c"), "/tmp/a b/c");
    EXPECT_EQ(winebed::HostPath("c:\\windows"), winebed::WindowsFolder());
    EXPECT_TRUE(std::filesystem::is_directory(winebed::WindowsFolder() + "/system32"));
}

}  // namespace

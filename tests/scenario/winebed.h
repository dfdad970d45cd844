/*
 * winebed.h: the Wine test bed that the scenario tests run Win32 programs in.
 *
 * One bed serves a whole test process: an Xvfb display, a fresh 64-bit Wine
 * prefix (set up so that windows close without delay and crashes end the
 * process instead of showing a dialog) and a wineserver kept running between
 * programs.  A GoogleTest environment that this library registers starts it
 * before the first test and stops it after the last one; RunUnderWine also
 * starts it on first use.  Everything it starts is stopped again, also when
 * the test process is killed (a watchdog process then stops the server with
 * every Wine process, the display, and removes the folder; a folder left
 * over all the same is removed by the next bed).  The bed lives in $TMPDIR
 * (or /tmp) as tvse-winebed-XXXXXX.
 *
 * RunUnderWine runs a program under tvseplayer.exe, which plays the user:
 * it records every message box and dialog that the program shows, answers
 * them from a list of answers and returns a transcript that tests compare
 * as a whole string.  The transcript format is described in
 * tests/wine/player.cpp; in short:
 *
 *   box 1 caption="Tarvex Self-Extractor" icon=error owner=none
 *     text="First line\nsecond line"
 *     buttons=OK:"OK" default=OK
 *     press=OK
 *   exit=0
 *
 * Every wait is bounded: the player kills the program when its time is up,
 * and the host kills every Wine process of the bed when the player itself
 * does not end in time.
 *
 * Environment: TVSE_WINEBED_KEEP=1 keeps the bed's folder (prefix, run
 * scripts, transcripts) for inspection; TVSE_WINEDEBUG replaces
 * WINEDEBUG=-all.
 */
#ifndef TVSE_WINEBED_H
#define TVSE_WINEBED_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace winebed {

/* ---- The bed ---- */

/* Starts the bed unless it runs; throws std::runtime_error when it cannot. */
void Start();
/* Stops the wineserver and the display and removes the bed's folder. */
void Stop();

/* Host paths of the bed's folder, the Wine prefix and C:\windows (each
 * starts the bed if needed). */
std::string Folder();
std::string Prefix();
std::string WindowsFolder();
/* A new empty folder under the bed's folder, named after name. */
std::string NewFolder(const std::string &name);

/* "/tmp/a/b" -> "Z:\tmp\a\b" (relative paths are made absolute first). */
std::string WindowsPath(const std::string &hostPath);
/* "Z:\tmp\a" -> "/tmp/a", "C:\windows" -> <prefix>/drive_c/windows; other
 * drive letters through their dosdevices links. */
std::string HostPath(const std::string &windowsPath);

/* ---- Runs ---- */

/* Where a run stands when an answer marked with Sync is reached: the
 * window is shown and recorded, and stays open until the callback returns. */
struct SyncPoint {
    size_t answer;          /* index into RunSpec::answers */
    int window;             /* the window's number in the transcript */
    std::string transcript; /* everything recorded so far */
};
using SyncFn = std::function<void(const SyncPoint &)>;

/* The answer to the next message box or dialog that appears. */
struct Answer {
    std::string press;  /* button name (OK Cancel Abort Retry Ignore Yes No ...),
                           a control id, or "none" to leave the window alone */
    SyncFn sync;        /* run on the host before the press, if set */
    std::optional<std::pair<int, std::string>> when;  /* see When */
    std::vector<std::pair<int, std::string>> texts;   /* see Type */
    bool brief = false;

    /* Runs fn on the host while the window waits, then presses. */
    Answer &Sync(SyncFn fn);
    /* Instead of waiting for a new window: waits until control id of an open
     * dialog shows text, records the dialog again and acts on it. */
    Answer &When(int id, std::string text);
    /* Puts text into control id (an edit field) before pressing. */
    Answer &Type(int id, std::string text);
    /* Records the dialog by its title line only (for changing dialogs). */
    Answer &Brief();
};
Answer Press(std::string button);
Answer Leave(); /* Press("none") */

struct RunSpec {
    std::string program;  /* host path of the .exe, or a Windows path such as
                             "A:\\SETUP.EXE" on a mapped drive */
    std::string tail;     /* command-line tail, passed as it is */
    /* The whole command line instead of "\"<program>\" <tail>". */
    std::optional<std::string> commandLine;
    std::string workDir;  /* host path; empty: the program's folder */
    /* Environment changes for the program: a value sets, nullopt unsets. */
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    std::vector<Answer> answers;
    int timeoutMs = 20000;  /* the program's time; time at sync points not counted */
    int hostTimeoutMs = 0;  /* the player's time; 0: timeoutMs + 30000 */
};

struct RunResult {
    std::string transcript;
    int64_t exitCode = -1;     /* the program's exit code; -1 when it was killed or never ran */
    bool timedOut = false;     /* the program ran out of time and was killed */
    bool playerKilled = false; /* the player itself hung; the bed killed every Wine process */
    bool asScripted = false;   /* every window answered, every answer used, nothing left running */
    int playerStatus = -1;     /* 0 as scripted, 1 not, 2 timeout, 3 start or script failure */
    std::string log;           /* the player's error output and the bed's notes */
};

RunResult RunUnderWine(const RunSpec &spec);

/* ---- Machine set-up ---- */

/* Makes letter (e.g. 'a') a removable drive whose root is hostFolder.
 * Restarts the wineserver, so call it between runs. */
void MapRemovableDrive(char letter, const std::string &hostFolder);
/* Removes the drive letter again (restarts the wineserver). */
void UnmapDrive(char letter);
/* Points a mapped drive at another folder: inserts another disk.  Works
 * while a program runs (from a sync callback). */
void InsertDisk(char letter, const std::string &hostFolder);
/* Sets the volume label of the disk in hostFolder (its file .windows-label;
 * an empty label removes it).  Wine reads a drive's label when the drive
 * is defined, so every mapped drive whose root is hostFolder is defined
 * anew: the next GetVolumeInformationA sees the label, also inside a
 * running program. */
void SetVolumeLabel(const std::string &hostFolder, const std::string &label);

/* The Windows version that Wine reports to programs named exeName
 * ("win31", "win95", "win98", "nt40", "win7", ...); empty: the default. */
void SetWindowsVersion(const std::string &exeName, const std::string &version);

/* Registry access through Wine's reg.exe.  key like "HKCU\\Software\\Wine". */
struct RegValue {
    std::string type; /* "REG_SZ", "REG_DWORD", "REG_MULTI_SZ", ... */
    std::string data; /* as reg query prints it ("\0" between strings of a multi-string) */
};
std::optional<RegValue> QueryRegistry(const std::string &key, const std::string &name);
void SetRegistry(const std::string &key, const std::string &name, const std::string &type, const std::string &data);
void DeleteRegistry(const std::string &key, const std::string &name);

}  // namespace winebed

#endif

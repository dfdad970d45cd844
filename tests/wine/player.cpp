/*
 * tvseplayer: plays the user of a Win32 program under Wine.
 *
 *   tvseplayer.exe SCRIPT [TRANSCRIPT]
 *   tvseplayer.exe /drive LETTER UNIX-FOLDER
 *
 * The second form makes LETTER a removable drive whose root is UNIX-FOLDER
 * through Wine's mount manager, which reads the folder's volume label
 * (.windows-label) afresh: that is how the host changes the label or
 * swaps the disk while a program runs (the mount manager keeps the label
 * it read when the drive was defined).
 *
 * It starts the program that SCRIPT names (inside a job object, so that the
 * program's own children are watched and killed with it), watches every
 * visible top-level window of the job's processes, writes each one into the
 * transcript when it appears, answers message boxes and dialogs from the
 * script's steps, and ends with the program's exit code.  The transcript goes
 * to TRANSCRIPT, or to standard output when none is given.
 *
 * Script: one directive a line, words as bedtext::Split reads them.
 *   program "Z:\dir\prog.exe"    the program (required)
 *   cmdline "..."                the whole command line (default: the quoted
 *                                program, a blank and the tail)
 *   tail "..."                   the command-line tail, passed as it is
 *   cwd "Z:\dir"                 working folder (default: the player's)
 *   set "NAME" "value"           environment variable for the program
 *   unset "NAME"                 environment variable removed for it
 *   timeout MS                   run time limit, sync waits not counted
 *   syncwait MS                  longest wait for the host at a sync point
 *   syncdir "Z:\dir"             folder for the sync request/ack files
 *   step press "NAME" [sync] [brief] [when ID "text"] [set ID "text"]...
 *
 * Each step answers the next message box or dialog that appears.  NAME is a
 * button name (OK Cancel Abort Retry Ignore Yes No Close Help TryAgain
 * Continue), a control id, or "none" to leave the window alone.  A step with
 * "when" does not wait for a new window: it waits until a control of an
 * open dialog shows the given text, records that dialog again and acts on
 * it.  "set" puts a text into a control (an edit field) before the press.
 * "sync" stops at the window until the host acknowledges: the player writes
 * the transcript so far, creates SYNCDIR\sync.req holding "STEP WINDOW" and
 * waits for SYNCDIR\sync.ack, which it deletes.  "brief" records a dialog by
 * its title line only, for dialogs whose controls change by themselves.
 *
 * Transcript: one record a line, texts quoted as bedtext::Quote writes them,
 * windows numbered in order of appearance, so that two runs that showed the
 * user the same things give equal transcripts:
 *   box 1 caption="Tarvex Self-Extractor" icon=error owner=none
 *     text="The file is damaged."
 *     buttons=OK:"OK" default=OK
 *     press=OK
 *   dialog 2 title="Setup" owner=none
 *     control 101 Static "Description" visible enabled
 *     control 1 Button "&Setup" visible enabled default
 *     press=1
 *   window 3 class="Foo" title="Bar"
 *   exit=0
 * "box" is a message box: caption, icon (error, question, warning,
 * information, none, or unknown when it cannot be told), owner (none, or
 * the owner window's title), the text, and the buttons left to right as
 * NAME:"label" with the default one.  "dialog" is any other dialog with its
 * child controls in Z order: id, class, text, visible/hidden,
 * enabled/disabled and "default" for a default push button.  "window" is
 * any other top-level window; it needs no step.  A "when" step records its
 * dialog again as "dialog N again ...".  What the player did follows each
 * record: "sync" (the host ran), "set ID text", "press=NAME" (a box's button
 * by name, a dialog's control by id, or none).  A window that no step
 * answers gets "unexpected" and "closed=NAME" (a box by its most cautious
 * button, a dialog by Cancel); a button that is missing, hidden or disabled
 * gives "cannot press NAME: why" and the same closing.  At the end: "unused
 * steps=N" for steps that found no window, "left running=N" for processes
 * of the job still alive (they are killed), and "exit=CODE" (decimal, or
 * 0x%08x from 0x80000000 up).  A run over its time gives "timeout" and
 * "exit=killed"; a failed start "start failed error=N".
 *
 * Exit code: 0 the run went as scripted, 1 it did not (unexpected window,
 * unused steps, a button that could not be pressed, a sync wait that ran
 * out), 2 timeout (program killed), 3 the script or the start failed.
 */
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bedtext.h"

#ifndef IDTRYAGAIN
#define IDTRYAGAIN 10
#endif
#ifndef IDCONTINUE
#define IDCONTINUE 11
#endif

namespace {

using bedtext::Quote;

enum { EXIT_SCRIPTED = 0, EXIT_MISMATCH = 1, EXIT_TIMEOUT = 2, EXIT_ERROR = 3 };
enum { POLL_MS = 10, ICON_WAIT_MS = 2000, MESSAGE_WAIT_MS = 2000, TEXT_MAX = 8192 };

struct Step {
    std::string press;
    bool sync = false;
    bool brief = false;
    bool hasWhen = false;
    int whenId = 0;
    std::string whenText;
    std::vector<std::pair<int, std::string>> texts;
};

struct Script {
    std::string program, commandLine, tail, cwd, syncDir;
    bool hasCommandLine = false;
    std::vector<std::pair<std::string, std::string>> set;
    std::vector<std::string> unset;
    ULONGLONG timeoutMs = 20000;
    ULONGLONG syncWaitMs = 120000;
    std::vector<Step> steps;
};

enum Kind { KIND_BOX, KIND_DIALOG, KIND_OTHER };

struct Seen {
    HWND hwnd;
    int index;
    Kind kind;
};

Script Plan;
std::string Transcript;
std::string OutPath;
bool Failed = false;
HANDLE Job = NULL;
HANDLE Process = NULL;
DWORD ProcessId = 0;
ULONGLONG Deadline = 0;
std::vector<Seen> SeenWindows;
size_t NextStep = 0;
int WindowCount = 0;

const struct {
    int id;
    const char *name;
} ButtonNames[] = {
    {IDOK, "OK"},         {IDCANCEL, "Cancel"},      {IDABORT, "Abort"}, {IDRETRY, "Retry"},
    {IDIGNORE, "Ignore"}, {IDYES, "Yes"},            {IDNO, "No"},       {IDCLOSE, "Close"},
    {IDHELP, "Help"},     {IDTRYAGAIN, "TryAgain"}, {IDCONTINUE, "Continue"},
};

std::string ButtonName(int id)
{
    for (const auto &b : ButtonNames)
        if (b.id == id) return b.name;
    return std::to_string(id);
}

/* A button name or a decimal control id; -1 when it is neither. */
int ButtonId(const std::string &name)
{
    for (const auto &b : ButtonNames)
        if (name == b.name) return b.id;
    if (name.empty() || name.size() > 5) return -1;
    for (char c : name)
        if (c < '0' || c > '9') return -1;
    return std::atoi(name.c_str());
}

void Line(const std::string &text)
{
    Transcript += text;
    Transcript += '\n';
}

bool WriteWholeFile(const std::string &path, const std::string &data)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = data.empty() || WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &done, NULL);
    CloseHandle(f);
    return ok && done == data.size();
}

void WriteTranscript()
{
    if (OutPath.empty()) return;
    if (!WriteWholeFile(OutPath, Transcript))
        std::fprintf(stderr, "tvseplayer: cannot write %s (error %lu)\n", OutPath.c_str(), GetLastError());
}

/* ---- Script ---- */

bool ParseStep(const std::vector<std::string> &w, Step &step, std::string &why)
{
    if (w.size() < 3 || w[1] != "press") {
        why = "step needs: press NAME";
        return false;
    }
    step.press = w[2];
    if (step.press != "none" && ButtonId(step.press) < 0) {
        why = "unknown button " + step.press;
        return false;
    }
    for (size_t i = 3; i < w.size(); ++i) {
        if (w[i] == "sync") {
            step.sync = true;
        } else if (w[i] == "brief") {
            step.brief = true;
        } else if ((w[i] == "when" || w[i] == "set") && i + 2 < w.size()) {
            int id = ButtonId(w[i + 1]);
            if (id < 0) {
                why = "bad control id " + w[i + 1];
                return false;
            }
            if (w[i] == "when") {
                step.hasWhen = true;
                step.whenId = id;
                step.whenText = w[i + 2];
            } else {
                step.texts.emplace_back(id, w[i + 2]);
            }
            i += 2;
        } else {
            why = "bad step word " + w[i];
            return false;
        }
    }
    return true;
}

bool ReadScript(const char *path, std::string &why)
{
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) {
        why = "cannot open script " + std::string(path);
        return false;
    }
    std::string data;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, NULL) && got > 0) data.append(chunk, got);
    CloseHandle(f);

    size_t start = 0;
    int lineNo = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        std::vector<std::string> w;
        if (!bedtext::Split(line, w)) {
            why = "bad quoting in script line " + std::to_string(lineNo);
            return false;
        }
        if (w.empty()) continue;
        const std::string &key = w[0];
        bool ok = true;
        if (key == "program" && w.size() == 2) Plan.program = w[1];
        else if (key == "cmdline" && w.size() == 2) Plan.commandLine = w[1], Plan.hasCommandLine = true;
        else if (key == "tail" && w.size() == 2) Plan.tail = w[1];
        else if (key == "cwd" && w.size() == 2) Plan.cwd = w[1];
        else if (key == "syncdir" && w.size() == 2) Plan.syncDir = w[1];
        else if (key == "set" && w.size() == 3) Plan.set.emplace_back(w[1], w[2]);
        else if (key == "unset" && w.size() == 2) Plan.unset.push_back(w[1]);
        else if (key == "timeout" && w.size() == 2) Plan.timeoutMs = std::strtoull(w[1].c_str(), NULL, 10);
        else if (key == "syncwait" && w.size() == 2) Plan.syncWaitMs = std::strtoull(w[1].c_str(), NULL, 10);
        else if (key == "step") {
            Step step;
            ok = ParseStep(w, step, why);
            if (ok) Plan.steps.push_back(step);
        } else {
            why = "unknown directive";
            ok = false;
        }
        if (!ok) {
            why = "script line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
    }
    if (Plan.program.empty()) {
        why = "script names no program";
        return false;
    }
    return true;
}

/* ---- Environment of the program ---- */

bool SameName(const std::string &entry, const std::string &name)
{
    if (entry.size() <= name.size() || entry[name.size()] != '=') return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.c_str(), static_cast<int>(name.size()),
                          name.c_str(), static_cast<int>(name.size())) == CSTR_EQUAL;
}

/* The player's own environment with the script's changes, as a block for
 * CreateProcessA. */
std::string EnvironmentBlock()
{
    std::vector<std::string> entries;
    char *block = GetEnvironmentStringsA();
    for (const char *p = block; p && *p; p += std::strlen(p) + 1) entries.emplace_back(p);
    if (block) FreeEnvironmentStringsA(block);

    auto drop = [&entries](const std::string &name) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&name](const std::string &e) { return SameName(e, name); }),
                      entries.end());
    };
    for (const auto &name : Plan.unset) drop(name);
    for (const auto &nv : Plan.set) {
        drop(nv.first);
        entries.push_back(nv.first + "=" + nv.second);
    }
    std::string out;
    for (const auto &e : entries) {
        out += e;
        out += '\0';
    }
    out += '\0';
    return out;
}

/* ---- Reading windows ---- */

std::string ClassOf(HWND h)
{
    char name[256] = "";
    GetClassNameA(h, name, sizeof name);
    return name;
}

/*
 * The text of a window of another process.  GetWindowTextA reads the text
 * that the window manager keeps, which static controls and buttons update;
 * an edit field keeps its text to itself, so it is asked with WM_GETTEXT
 * (bounded, in case its program is busy).
 */
std::string TextOf(HWND h)
{
    std::vector<char> buf(TEXT_MAX, '\0');
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ClassOf(h).c_str(), -1, "Edit", -1) == CSTR_EQUAL) {
        DWORD_PTR got = 0;
        if (SendMessageTimeoutA(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                                SMTO_ABORTIFHUNG, MESSAGE_WAIT_MS, &got))
            return std::string(buf.data(), std::min<size_t>(got, buf.size() - 1));
    }
    int n = GetWindowTextA(h, buf.data(), static_cast<int>(buf.size()));
    return std::string(buf.data(), n > 0 ? n : 0);
}

LONG StyleOf(HWND h) { return GetWindowLongA(h, GWL_STYLE); }

std::vector<HWND> ChildrenOf(HWND h)
{
    std::vector<HWND> out;
    for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
}

bool IsDefaultButton(HWND h)
{
    return ClassOf(h) == "Button" && (StyleOf(h) & 0x0F) == BS_DEFPUSHBUTTON;
}

/* A message box: a "#32770" dialog whose children are its text (a static
 * with id 0xFFFF), at most one icon static and push buttons. */
bool IsMessageBox(HWND h)
{
    if (ClassOf(h) != "#32770") return false;
    bool text = false;
    int icons = 0;
    for (HWND c : ChildrenOf(h)) {
        std::string cls = ClassOf(c);
        int id = GetDlgCtrlID(c) & 0xFFFF;
        if (cls == "Static" && id == 0xFFFF && !text) text = true;
        else if (cls == "Static" && (StyleOf(c) & SS_TYPEMASK) == SS_ICON) ++icons;
        else if (cls != "Button") return false;
    }
    return text && icons <= 1;
}

std::string OwnerOf(HWND h)
{
    HWND owner = GetWindow(h, GW_OWNER);
    return owner ? Quote(TextOf(owner)) : std::string("none");
}

/* ---- Telling the message box icons apart ----
 *
 * Icon handles belong to the process that loaded them, so neither the
 * handle that STM_GETICON returns nor its bitmaps can be compared from here.
 * What can be compared is the picture: the icon control's pixels on the
 * screen against this process's own drawing of each system icon on the same
 * background.  The match is exact once the box has been painted. */

const int IconMargin = 2;

struct Pixels {
    int w = 0, h = 0;
    std::vector<DWORD> px;
};

HBITMAP NewDib(HDC dc, int w, int h, void **bits)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(dc, &bi, DIB_RGB_COLORS, bits, NULL, 0);
}

/* Grabs the screen rectangle (x, y, w, h), or draws icon on bg when icon is
 * given. */
Pixels Render(int x, int y, int w, int h, HICON icon, DWORD bg)
{
    Pixels out;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    void *bits = NULL;
    HBITMAP dib = NewDib(mem, w, h, &bits);
    if (dib && bits) {
        HGDIOBJ old = SelectObject(mem, dib);
        if (icon) {
            std::fill_n(static_cast<DWORD *>(bits), w * h, bg);
            DrawIconEx(mem, IconMargin, IconMargin, icon, 0, 0, 0, NULL, DI_NORMAL);
        } else {
            BitBlt(mem, 0, 0, w, h, screen, x, y, SRCCOPY);
        }
        GdiFlush();
        out.w = w;
        out.h = h;
        out.px.assign(static_cast<DWORD *>(bits), static_cast<DWORD *>(bits) + w * h);
        for (DWORD &p : out.px) p &= 0xFFFFFF;
        SelectObject(mem, old);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return out;
}

std::string IconOf(HWND box)
{
    HWND ctl = NULL;
    for (HWND c : ChildrenOf(box))
        if (ClassOf(c) == "Static" && (StyleOf(c) & SS_TYPEMASK) == SS_ICON) ctl = c;
    if (!ctl) return "none";
    DWORD_PTR handle = 0;
    if (!SendMessageTimeoutA(ctl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, MESSAGE_WAIT_MS, &handle))
        return "unknown";
    if (!handle) return "none";

    static const struct {
        LPCSTR id;
        const char *name;
    } kinds[] = {{IDI_HAND, "error"},
                 {IDI_QUESTION, "question"},
                 {IDI_EXCLAMATION, "warning"},
                 {IDI_ASTERISK, "information"}};
    ULONGLONG until = GetTickCount64() + ICON_WAIT_MS;
    do {
        RECT r;
        if (!IsWindow(ctl) || !GetWindowRect(ctl, &r)) return "unknown";
        int w = r.right - r.left + 2 * IconMargin, h = r.bottom - r.top + 2 * IconMargin;
        Pixels shot = Render(r.left - IconMargin, r.top - IconMargin, w, h, NULL, 0);
        if (!shot.px.empty()) {
            for (const auto &k : kinds) {
                Pixels ref = Render(0, 0, w, h, LoadIconA(NULL, k.id), shot.px[0]);
                if (ref.px == shot.px) return k.name;
            }
        }
        Sleep(POLL_MS);
    } while (GetTickCount64() < until);
    return "unknown";
}

/* ---- Records ---- */

void RecordBox(HWND h, int index)
{
    Line("box " + std::to_string(index) + " caption=" + Quote(TextOf(h)) + " icon=" + IconOf(h) +
         " owner=" + OwnerOf(h));
    std::string text;
    std::vector<std::pair<LONG, HWND>> buttons;
    for (HWND c : ChildrenOf(h)) {
        if ((GetDlgCtrlID(c) & 0xFFFF) == 0xFFFF && ClassOf(c) == "Static") text = TextOf(c);
        if (ClassOf(c) == "Button" && (StyleOf(c) & WS_VISIBLE)) {
            RECT r;
            GetWindowRect(c, &r);
            buttons.emplace_back(r.left, c);
        }
    }
    Line("  text=" + Quote(text));
    std::stable_sort(buttons.begin(), buttons.end(),
                     [](const std::pair<LONG, HWND> &a, const std::pair<LONG, HWND> &b) { return a.first < b.first; });
    std::string line = "  buttons=";
    std::string def = "none";
    for (size_t i = 0; i < buttons.size(); ++i) {
        HWND b = buttons[i].second;
        std::string name = ButtonName(GetDlgCtrlID(b));
        if (i) line += ' ';
        line += name + ":" + Quote(TextOf(b));
        if (IsDefaultButton(b)) def = name;
    }
    Line(line + " default=" + def);
}

void RecordDialog(HWND h, int index, bool again, bool brief)
{
    Line("dialog " + std::to_string(index) + (again ? " again" : "") + " title=" + Quote(TextOf(h)) +
         " owner=" + OwnerOf(h));
    if (brief) return;
    for (HWND c : ChildrenOf(h)) {
        LONG style = StyleOf(c);
        std::string line = "  control " + std::to_string(GetDlgCtrlID(c)) + " " + ClassOf(c) + " " +
                           Quote(TextOf(c)) + ((style & WS_VISIBLE) ? " visible" : " hidden") +
                           (IsWindowEnabled(c) ? " enabled" : " disabled");
        if (IsDefaultButton(c)) line += " default";
        Line(line);
    }
}

/* ---- Acting ---- */

/* Closes a window that no step answers, so that its program does not wait
 * for ever: a box by its most cautious button, a dialog by Cancel. */
void CloseUnanswered(HWND h, Kind kind)
{
    int id = IDCANCEL;
    if (kind == KIND_BOX) {
        static const int order[] = {IDCANCEL, IDABORT, IDNO, IDOK, IDCLOSE, IDIGNORE, IDYES, IDRETRY,
                                    IDTRYAGAIN, IDCONTINUE};
        id = 0;
        for (int candidate : order)
            if (!id && GetDlgItem(h, candidate)) id = candidate;
        if (!id) {
            std::vector<HWND> kids = ChildrenOf(h);
            for (HWND c : kids)
                if (!id && ClassOf(c) == "Button") id = GetDlgCtrlID(c);
        }
    }
    Line("  closed=" + (kind == KIND_BOX ? ButtonName(id) : std::to_string(id)));
    PostMessageA(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, id)));
    Failed = true;
}

bool FileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

/* Lets the host act while the window waits: see the header comment. */
void SyncWithHost(size_t step, int window)
{
    Line("  sync");
    WriteTranscript();
    if (Plan.syncDir.empty()) {
        Line("  sync failed: no syncdir");
        Failed = true;
        return;
    }
    const std::string request = Plan.syncDir + "\\sync.req";
    const std::string ack = Plan.syncDir + "\\sync.ack";
    const std::string temp = request + ".tmp";
    ULONGLONG began = GetTickCount64();
    if (!WriteWholeFile(temp, std::to_string(step) + " " + std::to_string(window) + "\n") ||
        !MoveFileExA(temp.c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Line("  sync failed: cannot signal the host");
        Failed = true;
        return;
    }
    bool acknowledged = false;
    while (GetTickCount64() - began < Plan.syncWaitMs) {
        if (FileExists(ack)) {
            DeleteFileA(ack.c_str());
            acknowledged = true;
            break;
        }
        Sleep(5);
    }
    if (!acknowledged) {
        DeleteFileA(request.c_str());
        Line("  sync timed out");
        Failed = true;
    }
    Deadline += GetTickCount64() - began;
}

void Act(HWND h, Kind kind, const Step &step, size_t stepIndex, int window)
{
    if (step.sync) SyncWithHost(stepIndex, window);
    for (const auto &t : step.texts) {
        Line("  set " + std::to_string(t.first) + " " + Quote(t.second));
        HWND ctl = GetDlgItem(h, t.first);
        DWORD_PTR ignored = 0;
        if (!ctl || !SendMessageTimeoutA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.second.c_str()),
                                         SMTO_ABORTIFHUNG, MESSAGE_WAIT_MS, &ignored)) {
            Line("  cannot set " + std::to_string(t.first));
            Failed = true;
        }
    }
    if (step.press == "none") {
        Line("  press=none");
        return;
    }
    int id = ButtonId(step.press);
    HWND ctl = GetDlgItem(h, id);
    const char *problem = !ctl ? "missing" : !(StyleOf(ctl) & WS_VISIBLE) ? "hidden" : !IsWindowEnabled(ctl) ? "disabled" : NULL;
    std::string name = kind == KIND_BOX ? ButtonName(id) : std::to_string(id);
    if (problem) {
        Line("  cannot press " + name + ": " + problem);
        CloseUnanswered(h, kind);
        return;
    }
    Line("  press=" + name);
    PostMessageA(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(ctl));
}

/* ---- Watching ---- */

std::vector<DWORD> JobProcesses()
{
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[255];
    } ids;
    std::vector<DWORD> out;
    if (QueryInformationJobObject(Job, JobObjectBasicProcessIdList, &ids, sizeof ids, NULL)) {
        for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i)
            out.push_back(static_cast<DWORD>(ids.list.ProcessIdList[i]));
    }
    return out;
}

struct EnumState {
    std::vector<DWORD> pids;
    std::vector<HWND> fresh;
};

bool AlreadySeen(HWND h)
{
    for (const Seen &s : SeenWindows)
        if (s.hwnd == h) return true;
    return false;
}

BOOL CALLBACK CollectWindow(HWND h, LPARAM param)
{
    EnumState *state = reinterpret_cast<EnumState *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (IsWindowVisible(h) && std::find(state->pids.begin(), state->pids.end(), pid) != state->pids.end() &&
        !AlreadySeen(h))
        state->fresh.push_back(h);
    return TRUE;
}

void HandleNewWindow(HWND h)
{
    Kind kind = IsMessageBox(h) ? KIND_BOX : ClassOf(h) == "#32770" ? KIND_DIALOG : KIND_OTHER;
    int index = ++WindowCount;
    SeenWindows.push_back({h, index, kind});
    if (kind == KIND_OTHER) {
        Line("window " + std::to_string(index) + " class=" + Quote(ClassOf(h)) + " title=" + Quote(TextOf(h)));
        return;
    }
    const Step *step = NextStep < Plan.steps.size() ? &Plan.steps[NextStep] : NULL;
    if (kind == KIND_DIALOG && step && step->hasWhen) {
        /* Waits for the step's condition, which this dialog may meet later. */
        RecordDialog(h, index, false, step->brief);
        return;
    }
    if (kind == KIND_BOX) RecordBox(h, index);
    else RecordDialog(h, index, false, step && step->brief);
    if (!step || step->hasWhen) {
        Line("  unexpected");
        CloseUnanswered(h, kind);
        return;
    }
    Act(h, kind, *step, NextStep++, index);
}

/* A pending "when" step: the first open dialog whose control shows the
 * awaited text is recorded again and answered. */
void CheckCondition()
{
    if (NextStep >= Plan.steps.size() || !Plan.steps[NextStep].hasWhen) return;
    const Step &step = Plan.steps[NextStep];
    for (const Seen &s : SeenWindows) {
        if (s.kind != KIND_DIALOG || !IsWindow(s.hwnd) || !IsWindowVisible(s.hwnd)) continue;
        HWND ctl = GetDlgItem(s.hwnd, step.whenId);
        if (!ctl || TextOf(ctl) != step.whenText) continue;
        RecordDialog(s.hwnd, s.index, true, step.brief);
        Act(s.hwnd, s.kind, step, NextStep++, s.index);
        return;
    }
}

void Poll()
{
    SeenWindows.erase(std::remove_if(SeenWindows.begin(), SeenWindows.end(),
                                     [](const Seen &s) { return !IsWindow(s.hwnd); }),
                      SeenWindows.end());
    EnumState state;
    state.pids = JobProcesses();
    if (state.pids.empty()) state.pids.push_back(ProcessId);
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    /* EnumWindows lists the top of the Z order first; the newest window of
     * several new ones is usually on top, so take them bottom up. */
    std::reverse(state.fresh.begin(), state.fresh.end());
    for (HWND h : state.fresh)
        if (IsWindow(h) && IsWindowVisible(h)) HandleNewWindow(h);
    CheckCondition();
}

std::string ExitText(DWORD code)
{
    if (code < 0x80000000u) return std::to_string(code);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(code));
    return buf;
}

int Finish(int status)
{
    WriteTranscript();
    if (OutPath.empty()) std::fputs(Transcript.c_str(), stdout);
    return status;
}

int Play()
{
    /* Wine starts its desktop process on first use; doing that here keeps
     * it out of the program's job. */
    GetDesktopWindow();

    Job = CreateJobObjectA(NULL, NULL);
    std::string commandLine = Plan.hasCommandLine ? Plan.commandLine
                              : "\"" + Plan.program + "\"" + (Plan.tail.empty() ? "" : " " + Plan.tail);
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    std::string env = EnvironmentBlock();
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!Job || !CreateProcessA(Plan.program.c_str(), cmd.data(), NULL, NULL, FALSE, CREATE_SUSPENDED,
                                &env[0], Plan.cwd.empty() ? NULL : Plan.cwd.c_str(), &si, &pi)) {
        Line("start failed error=" + std::to_string(GetLastError()));
        return Finish(EXIT_ERROR);
    }
    Process = pi.hProcess;
    ProcessId = pi.dwProcessId;
    if (!AssignProcessToJobObject(Job, Process)) {
        TerminateProcess(Process, 1);
        Line("start failed: no job error=" + std::to_string(GetLastError()));
        return Finish(EXIT_ERROR);
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);

    Deadline = GetTickCount64() + Plan.timeoutMs;
    for (;;) {
        Poll();
        if (WaitForSingleObject(Process, POLL_MS) == WAIT_OBJECT_0) break;
        if (GetTickCount64() > Deadline) {
            Line("timeout");
            TerminateJobObject(Job, 1);
            WaitForSingleObject(Process, 5000);
            Line("exit=killed");
            return Finish(EXIT_TIMEOUT);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(Process, &code);
    if (NextStep < Plan.steps.size()) {
        Line("unused steps=" + std::to_string(Plan.steps.size() - NextStep));
        Failed = true;
    }
    std::vector<DWORD> left = JobProcesses();
    left.erase(std::remove(left.begin(), left.end(), ProcessId), left.end());
    if (!left.empty()) {
        Line("left running=" + std::to_string(left.size()));
        TerminateJobObject(Job, 1);
        Failed = true;
    }
    Line("exit=" + ExitText(code));
    return Finish(Failed ? EXIT_MISMATCH : EXIT_SCRIPTED);
}

/* ---- Removable drives ---- */

/* Wine's mount manager request that defines a drive (Wine 8 layout). */
struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDev;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};
const DWORD IOCTL_DEFINE_UNIX_DRIVE = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

int DefineDrive(char letter, const char *unixFolder)
{
    std::vector<char> buf(sizeof(UnixDrive) + std::strlen(unixFolder) + 1, '\0');
    UnixDrive *d = reinterpret_cast<UnixDrive *>(buf.data());
    d->size = static_cast<ULONG>(buf.size());
    d->type = DRIVE_REMOVABLE;
    d->letter = static_cast<WCHAR>(letter);
    d->mountPointOffset = sizeof(UnixDrive);
    std::memcpy(buf.data() + sizeof(UnixDrive), unixFolder, std::strlen(unixFolder) + 1);
    HANDLE mgr = CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    DWORD done = 0;
    BOOL ok = mgr != INVALID_HANDLE_VALUE &&
              DeviceIoControl(mgr, IOCTL_DEFINE_UNIX_DRIVE, buf.data(), static_cast<DWORD>(buf.size()), NULL, 0,
                              &done, NULL);
    if (!ok) std::fprintf(stderr, "tvseplayer: cannot define drive %c: (error %lu)\n", letter, GetLastError());
    if (mgr != INVALID_HANDLE_VALUE) CloseHandle(mgr);
    return ok ? 0 : EXIT_ERROR;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "/drive") == 0) return DefineDrive(argv[2][0], argv[3]);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tvseplayer SCRIPT [TRANSCRIPT] | /drive LETTER UNIX-FOLDER\n");
        return EXIT_ERROR;
    }
    if (argc == 3) OutPath = argv[2];
    std::string why;
    if (!ReadScript(argv[1], why)) {
        std::fprintf(stderr, "tvseplayer: %s\n", why.c_str());
        Line("script error: " + why);
        return Finish(EXIT_ERROR);
    }
    return Play();
}

/*
 * tvsedemo: a small Win32 GUI program that the Wine test bed's own tests
 * run under the player.  Its command-line tail is a list of commands, run
 * in order; each is a word followed by KEY=VALUE words.  Inside a word
 * "\s" stands for a blank, "\n" for a line feed, "\t" for a tab and "\\"
 * for a backslash; any other backslash stays as it is.
 *
 *   box      caption= text= type=ok|okcancel|abortretryignore|yesno|
 *            yesnocancel|retrycancel icon=none|error|question|warning|
 *            information default=1|2|3 owner=none|dialog
 *   dialog   title= edit= delay=MS owner=none|dialog
 *            (modal dialog from an in-memory template: static 100, edit
 *            101, disabled check box 102, hidden static 103, static 104
 *            "waiting" that turns "ready" DELAY ms after opening, OK and
 *            Cancel; the edit text is kept for $edit)
 *   modeless title=      (a dialog like the above that stays open and owns
 *                         later windows with owner=dialog)
 *   sleep    ms=         (waits, keeping its windows alive)
 *   exit     code=       (ends at once with that code)
 *
 * A value that starts with "$" is replaced: $edit (the text last left in a
 * dialog's edit field), $env:NAME (the variable, or "(unset)"), $cwd,
 * $tail (the command-line tail as received), $file:PATH (the file's
 * contents), $label:ROOT (the volume label that GetVolumeInformationA
 * reports for ROOT, or "error N"), $type:ROOT (GetDriveTypeA's number),
 * $version (GetVersion in hex).
 *
 * Unless "exit" ends it, the exit code is built from the answers: for each
 * box or dialog, code = code * 10 + the id that ended it (IDOK 1, IDCANCEL 2,
 * IDABORT 3, IDRETRY 4, IDIGNORE 5, IDYES 6, IDNO 7).
 */
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum { ID_NAME_LABEL = 100, ID_EDIT = 101, ID_OPTION = 102, ID_HIDDEN = 103, ID_STATE = 104 };

std::string EditText;
HWND Modeless = NULL;
UINT StateDelay = 0;

std::string Tail()
{
    const char *p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    if (*p == ' ') ++p;
    return p;
}

std::vector<std::string> Words(const std::string &tail)
{
    std::vector<std::string> out;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c == ' ' || c == '\t') {
            if (inWord) out.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\\' && i + 1 < tail.size()) {
            char e = tail[i + 1];
            const char *map = e == 's' ? " " : e == 'n' ? "\n" : e == 't' ? "\t" : e == '\\' ? "\\" : NULL;
            if (map) {
                word += map;
                ++i;
                continue;
            }
        }
        word += c;
    }
    if (inWord) out.push_back(word);
    return out;
}

std::string Expand(const std::string &value)
{
    if (value.empty() || value[0] != '$') return value;
    char buf[1024] = "";
    if (value == "$edit") return EditText;
    if (value == "$tail") return Tail();
    if (value == "$cwd") {
        GetCurrentDirectoryA(sizeof buf, buf);
        return buf;
    }
    if (value == "$version") {
        std::snprintf(buf, sizeof buf, "%08lx", static_cast<unsigned long>(GetVersion()));
        return buf;
    }
    if (value.compare(0, 5, "$env:") == 0) {
        DWORD n = GetEnvironmentVariableA(value.c_str() + 5, buf, sizeof buf);
        return n > 0 && n < sizeof buf ? std::string(buf) : std::string("(unset)");
    }
    if (value.compare(0, 6, "$type:") == 0) return std::to_string(GetDriveTypeA(value.c_str() + 6));
    if (value.compare(0, 6, "$file:") == 0) {
        HANDLE f = CreateFileA(value.c_str() + 6, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (f == INVALID_HANDLE_VALUE) return "(missing)";
        DWORD got = 0;
        ReadFile(f, buf, sizeof buf - 1, &got, NULL);
        CloseHandle(f);
        return std::string(buf, got);
    }
    if (value.compare(0, 7, "$label:") == 0) {
        char label[MAX_PATH + 1] = "";
        if (!GetVolumeInformationA(value.c_str() + 7, label, sizeof label, NULL, NULL, NULL, NULL, 0)) {
            std::snprintf(buf, sizeof buf, "error %lu", GetLastError());
            return buf;
        }
        return label;
    }
    return value;
}

/* ---- In-memory dialog template ---- */

struct Template {
    std::vector<WORD> words;

    void Word(WORD w) { words.push_back(w); }
    void Dword(DWORD d)
    {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const std::string &s)
    {
        for (unsigned char c : s) Word(c);
        Word(0);
    }
    void Align() { if (words.size() % 2) Word(0); }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const char *text)
    {
        Align();
        Dword(style | WS_CHILD);
        Dword(0);
        Word(x);
        Word(y);
        Word(cx);
        Word(cy);
        Word(id);
        Word(0xFFFF);
        Word(atom);
        Text(text);
        Word(0);
    }
};

enum { ATOM_BUTTON = 0x80, ATOM_EDIT = 0x81, ATOM_STATIC = 0x82 };

Template DemoTemplate(const std::string &title, bool visible)
{
    Template t;
    t.Dword(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | (visible ? WS_VISIBLE : 0));
    t.Dword(0);
    t.Word(7);
    t.Word(20);
    t.Word(20);
    t.Word(200);
    t.Word(100);
    t.Word(0);
    t.Word(0);
    t.Text(title);
    t.Word(8);
    t.Text("MS Shell Dlg");
    t.Item(WS_VISIBLE | SS_LEFT, 7, 7, 40, 10, ID_NAME_LABEL, ATOM_STATIC, "Name:");
    t.Item(WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 50, 6, 140, 12, ID_EDIT, ATOM_EDIT, "");
    t.Item(WS_VISIBLE | WS_DISABLED | BS_AUTOCHECKBOX, 7, 24, 80, 10, ID_OPTION, ATOM_BUTTON, "&Option");
    t.Item(SS_LEFT, 100, 24, 50, 10, ID_HIDDEN, ATOM_STATIC, "hidden");
    t.Item(WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 7, 40, 100, 10, ID_STATE, ATOM_STATIC, "waiting");
    t.Item(WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 40, 78, 50, 14, IDOK, ATOM_BUTTON, "OK");
    t.Item(WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 110, 78, 50, 14, IDCANCEL, ATOM_BUTTON, "Cancel");
    return t;
}

INT_PTR CALLBACK DemoDialogProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        if (lParam) SetDlgItemTextA(h, ID_EDIT, reinterpret_cast<const char *>(lParam));
        if (StateDelay) SetTimer(h, 1, StateDelay, NULL);
        return TRUE;
    case WM_TIMER:
        KillTimer(h, 1);
        SetDlgItemTextA(h, ID_STATE, "ready");
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            char buf[1024] = "";
            GetDlgItemTextA(h, ID_EDIT, buf, sizeof buf);
            EditText = buf;
            if (h != Modeless) EndDialog(h, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

/* ---- Commands ---- */

struct Options {
    std::vector<std::pair<std::string, std::string>> kv;
    std::string Get(const char *key, const char *fallback = "") const
    {
        for (const auto &p : kv)
            if (p.first == key) return Expand(p.second);
        return fallback;
    }
};

UINT BoxType(const Options &o)
{
    static const struct {
        const char *name;
        UINT flag;
    } types[] = {{"ok", MB_OK},
                 {"okcancel", MB_OKCANCEL},
                 {"abortretryignore", MB_ABORTRETRYIGNORE},
                 {"yesno", MB_YESNO},
                 {"yesnocancel", MB_YESNOCANCEL},
                 {"retrycancel", MB_RETRYCANCEL}},
      icons[] = {{"none", 0},
                 {"error", MB_ICONERROR},
                 {"question", MB_ICONQUESTION},
                 {"warning", MB_ICONWARNING},
                 {"information", MB_ICONINFORMATION}},
      defaults[] = {{"1", MB_DEFBUTTON1}, {"2", MB_DEFBUTTON2}, {"3", MB_DEFBUTTON3}};
    UINT flags = 0;
    std::string type = o.Get("type", "ok"), icon = o.Get("icon", "none"), def = o.Get("default", "1");
    for (const auto &t : types)
        if (type == t.name) flags |= t.flag;
    for (const auto &t : icons)
        if (icon == t.name) flags |= t.flag;
    for (const auto &t : defaults)
        if (def == t.name) flags |= t.flag;
    return flags;
}

HWND OwnerFor(const Options &o) { return o.Get("owner", "none") == "dialog" ? Modeless : NULL; }

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= ms) return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, ms - spent, QS_ALLINPUT);
        MSG m;
        while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {
            if (Modeless && IsDialogMessageA(Modeless, &m)) continue;
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    std::vector<std::string> words = Words(Tail());
    unsigned long code = 0;
    for (size_t i = 0; i < words.size();) {
        std::string command = words[i++];
        Options o;
        while (i < words.size() && words[i].find('=') != std::string::npos) {
            size_t eq = words[i].find('=');
            o.kv.emplace_back(words[i].substr(0, eq), words[i].substr(eq + 1));
            ++i;
        }
        if (command == "box") {
            int r = MessageBoxA(OwnerFor(o), o.Get("text").c_str(), o.Get("caption", "Demo").c_str(), BoxType(o));
            code = code * 10 + r;
        } else if (command == "dialog") {
            StateDelay = static_cast<UINT>(std::strtoul(o.Get("delay", "0").c_str(), NULL, 10));
            Template t = DemoTemplate(o.Get("title", "Demo dialog"), false);
            std::string edit = o.Get("edit");
            INT_PTR r = DialogBoxIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(t.words.data()),
                                                OwnerFor(o), DemoDialogProc, reinterpret_cast<LPARAM>(edit.c_str()));
            code = code * 10 + static_cast<unsigned long>(r);
        } else if (command == "modeless") {
            StateDelay = 0;
            Template t = DemoTemplate(o.Get("title", "Demo owner"), true);
            Modeless = CreateDialogIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(t.words.data()),
                                                  NULL, DemoDialogProc, 0);
        } else if (command == "sleep") {
            PumpFor(static_cast<DWORD>(std::strtoul(o.Get("ms", "0").c_str(), NULL, 10)));
        } else if (command == "exit") {
            return static_cast<int>(std::strtoul(o.Get("code", "0").c_str(), NULL, 10));
        } else {
            MessageBoxA(NULL, command.c_str(), "tvsedemo: unknown command", MB_OK);
            return 99;
        }
    }
    return static_cast<int>(code);
}

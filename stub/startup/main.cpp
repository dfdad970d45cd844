/*
 * main.cpp: the life of the process, from start-up to the exit.
 *
 * StubMain prepares the process-wide state, runs the checks that can end
 * the program before any window is shown, asks the optional start-up
 * question, reads the switches, runs the main dialog and releases what it
 * prepared.  The exit code is 0 on every path.
 */
#include <string.h>

#include "../stub.h"

HINSTANCE AppInstance;
HCURSOR WaitCursor;
HCURSOR ArrowCursor;
HMODULE ShellModule;
FARPROC ShellExecuteExProc;
HFILE ArchiveFile;
HFILE OutputFile;
HWND MainWindow;
HICON PackageIcon;
DWORD SystemVersion;

/* Replace the last component of path, in place, by the file's long name.
 * Folder names stay as the system gave them; a path that is not found, or
 * whose long name would not fit, stays as it was. */
void ExpandModuleName(char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FindClose(search);
    size_t folder = (size_t)(LastComponent(path) - path);
    size_t name = strlen(found.cFileName);
    if (folder + name < PATH_SIZE)
        memcpy(path + folder, found.cFileName, name + 1);
}

void OpenOwnFile()
{
    HFILE file = _lopen(ModulePath, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        ShowHeaderCorrupt();
    ArchiveFile = file;
}

void ReleaseWorkBuffers()
{
    if (InflateWindow != nullptr)
        LocalFree(InflateWindow);
    if (InputBuffer != nullptr)
        LocalFree(InputBuffer);
    if (OutputBuffer != nullptr)
        LocalFree(OutputBuffer);
    InflateWindow = InputBuffer = OutputBuffer = nullptr;
    if (ArchiveFile != 0) {
        _lclose(ArchiveFile);
        ArchiveFile = 0;
    }
    if (OutputFile != 0) {
        _lclose(OutputFile);
        OutputFile = 0;
    }
}

void InitStub()
{
    AssembleSignatures();
    BuildCrcTable();
    OpenOwnFile();
    if (StubHeader.SelfCrc != 0)
        VerifySelf(StubHeader.ArchiveOffset, StubHeader.SelfCrc, StubHeader.Signature);
    Spanned = (StubHeader.SfxFlags & SFX_SPANNED) != 0;
    VolumeExe = (StubHeader.SfxFlags & SFX_VOLUME_EXE) != 0;

    InflateWindow = (uint8_t *)LocalAlloc(LPTR, INFLATE_WINDOW_ALLOC);
    InputBuffer = (uint8_t *)LocalAlloc(LPTR, IO_BUFFER_ALLOC);
    OutputBuffer = (uint8_t *)LocalAlloc(LPTR, IO_BUFFER_ALLOC);
    if (InflateWindow == nullptr || InputBuffer == nullptr || OutputBuffer == nullptr)
        ShowHeaderCorrupt();

    LoadCatalog();
    if (Spanned)
        SwitchVolume(1, 1);
    ReadConfigBlock();
    if (!Spanned && StubHeader.EndRecordOffset != 0)
        ProbeEndRecord();
}

/* The system's text for the last error, shown when ShellExecuteEx cannot
 * be found; the program goes on without it. */
static void ReportMissingShellExecute()
{
    DWORD error = GetLastError();
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0x400,
                   (char *)&text, 0, nullptr);
    if (text != nullptr) {
        MessageBoxA(nullptr, text, ProductCaption, MB_ICONINFORMATION | MB_OK);
        LocalFree(text);
    } else {
        char fallback[80];
        wsprintfA(fallback, "ShellExecuteEx is not available (error %lu).", (unsigned long)error);
        MessageBoxA(nullptr, fallback, ProductCaption, MB_ICONINFORMATION | MB_OK);
    }
}

/* The six text buffers, zero-filled, in a fixed order. */
int ObtainTextBuffers()
{
    DescriptionText = (char *)LocalAlloc(LPTR, DESCRIPTION_TEXT_SIZE);
    CustomCaption = (char *)LocalAlloc(LPTR, CUSTOM_CAPTION_SIZE);
    CommandText = (char *)LocalAlloc(LPTR, COMMAND_TEXT_SIZE);
    InfoSwitchText = (char *)LocalAlloc(LPTR, INFO_SWITCH_TEXT_SIZE);
    InfoText = (char *)LocalAlloc(LPTR, INFO_TEXT_SIZE);
    MessageBuffer = (char *)LocalAlloc(LPTR, MESSAGE_BUFFER_SIZE);
    return DescriptionText != nullptr && CustomCaption != nullptr && CommandText != nullptr &&
           InfoSwitchText != nullptr && InfoText != nullptr && MessageBuffer != nullptr;
}

/* The optional start-up message; false when the user declined. */
static int ConfirmStartup()
{
    UINT type = MB_OK;
    if (StubHeader.SfxFlags & SFX_STARTUP_QUERY)
        type = (StubHeader.SfxFlags & SFX_STARTUP_OKCANCEL) ? MB_OKCANCEL : MB_YESNO;
    const char *caption =
        (StubHeader.SfxFlags & SFX_HAS_CAPTION) && CustomCaption[0] != '\0' ? CustomCaption : ProductCaption;
    int answer = MessageBoxA(nullptr, StartupText, caption, type);
    if (answer == IDNO || answer == IDCANCEL)
        return 0;
    LocalFree(StartupText);
    StartupText = nullptr;
    return 1;
}

int StubMain(HINSTANCE instance, char *tail)
{
    WaitCursor = LoadCursorA(nullptr, IDC_WAIT);
    ArrowCursor = LoadCursorA(nullptr, IDC_ARROW);
    AppInstance = instance;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SystemVersion = GetVersion();

    ShellModule = LoadLibraryA("Shell32.dll");
    if (StubHeader.SfxFlags & SFX_SHELL_EXECUTE) {
        if (ShellModule != nullptr)
            ShellExecuteExProc = GetProcAddress(ShellModule, "ShellExecuteEx");
        if (ShellExecuteExProc == nullptr)
            ReportMissingShellExecute();
    }

    if (!ObtainTextBuffers()) {
        /* Nothing can be shown from the catalog yet; say it plainly. */
        MessageBoxA(nullptr, "not enough memory", ProductCaption, MB_OK | MB_ICONERROR);
        return 0;
    }

    GetModuleFileNameA(nullptr, ModulePath, PATH_SIZE);
    ModulePath[PATH_SIZE - 1] = '\0';
    ExpandModuleName(ModulePath);

    /* The start-up recovery point: an unwind that reaches it ends the
     * program at once, without the release steps below. */
    try {
        InitStub();

        if (InfoSwitchPresent(tail)) {
            MessageBoxA(nullptr, InfoSwitchText, ProductCaption, MB_OK);
            return 0;
        }
        /* Systems outside the NT family need version 4 (Windows 95) or later. */
        if ((SystemVersion & 0x80000000u) && LOBYTE(LOWORD(SystemVersion)) < 4) {
            MessageBoxA(nullptr, CatalogEntry(14), ProductCaption, MB_OK);
            return 0;
        }
        if (StubHeader.CompleteMark == 0) {
            MessageBoxA(nullptr, CatalogEntry(0), ProductCaption, MB_ICONERROR);
            return 0;
        }
        WaitMode = (StubHeader.SfxFlags & SFX_WAIT_DEFAULT) != 0;
        MemberEncrypted = (StubHeader.SfxFlags & SFX_PASSWORD) != 0;

        if (StartupText != nullptr && !ConfirmStartup())
            return 0;
        if (StubHeader.SfxFlags & SFX_AUTO_DEFAULT)
            AutoMode = 1;
        ParseSwitches(tail);

        /* The main dialog runs here, modally, once it exists; until then
         * start-up ends at this point. */
    } catch (const UnwindException &) {
        return 0;
    }

    ReleaseWorkBuffers();
    LocalFree(DescriptionText);
    LocalFree(CommandText);
    LocalFree(CustomCaption);
    LocalFree(InfoSwitchText);
    LocalFree(InfoText);
    LocalFree(MessageBuffer);
    if (CatalogBuffer != nullptr)
        LocalFree(CatalogBuffer);
    if (ShellModule != nullptr)
        FreeLibrary(ShellModule);
    return 0;
}

// tvsedriver PACKAGE RESULT [FOLDER]
// tvsedriver -unwind-in-dialog
//
// Runs the stub's start-up (InitStub) and one extraction run (ExtractAll)
// on PACKAGE, with the stub header read from PACKAGE itself.  Without
// FOLDER the extraction folder is chosen and created as the main dialog
// does it; with FOLDER, that folder is used as it is.  Every box appears
// without an owner.  RESULT receives lines "code=N", "folder=PATH" and
// "keep=K"; the exit code is the run's code (0, 1 or 2), 3 when start-up
// ended, 4 when no extraction folder could be created.
//
// -unwind-in-dialog opens the password dialog template and fails inside
// its dialog procedure, as a failure inside a dialog does when no
// extraction run is under way: the box shows and the program must end at
// once with exit code 0.  Exit code 7 means the unwind did not end it.
#include <stdlib.h>
#include <string.h>

#include "stub.h"

static void WriteResult(const char *path, int code)
{
    char text[PATH_SIZE + 64];
    wsprintfA(text, "code=%d\r\nfolder=%s\r\nkeep=%d\r\n", code, ExtractFolder, KeepFiles);
    HFILE file = _lcreat(path, 0);
    if (file != HFILE_ERROR) {
        _lwrite(file, text, (UINT)lstrlenA(text));
        _lclose(file);
    }
}

// Copy the header block that the builder filled in from the package.
static int LoadHeader(const char *package)
{
    HFILE file = _lopen(package, OF_READ | OF_SHARE_DENY_NONE);
    if (file == HFILE_ERROR)
        return 0;
    static uint8_t image[1 << 20];
    UINT length = _lread(file, image, sizeof image);
    _lclose(file);
    const uint8_t signature[SFX_SIGNATURE_SIZE] = {SFX_SIGNATURE_BYTES};
    for (UINT at = 0; length >= HDR_SIZE && at + HDR_SIZE <= length; at++) {
        if (memcmp(image + at, signature, SFX_SIGNATURE_SIZE) == 0) {
            memcpy(&StubHeader, image + at, HDR_SIZE);
            return 1;
        }
    }
    return 0;
}

static INT_PTR CALLBACK FailingDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    try {
        ShowHeaderCorrupt();
    } catch (const UnwindException &unwind) {
        SettleUnwind(unwind.code);
    }
    return TRUE;
}

static int UnwindInDialog(HINSTANCE instance)
{
    static uint8_t dialog[PASSWORD_TEMPLATE_BUFFER];
    InflateWindow = (uint8_t *)LocalAlloc(LPTR, INFLATE_WINDOW_ALLOC);
    InflateBlob(PasswordTemplate, PasswordTemplateSize, dialog, dialog + sizeof dialog);
    DialogBoxIndirectParamA(instance, (LPCDLGTEMPLATEA)dialog, nullptr, FailingDialogProc, 0);
    return 7;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (__argc == 2 && strcmp(__argv[1], "-unwind-in-dialog") == 0)
        return UnwindInDialog(instance);
    if (__argc < 3)
        return 5;
    const char *result = __argv[2];
    AppInstance = instance;
    WaitCursor = LoadCursorA(nullptr, IDC_WAIT);
    ArrowCursor = LoadCursorA(nullptr, IDC_ARROW);
    if (!ObtainTextBuffers())
        return 5;
    GetFullPathNameA(__argv[1], PATH_SIZE, ModulePath, nullptr);
    if (!LoadHeader(ModulePath))
        return 5;

    try {
        InitStub();
    } catch (const UnwindException &) {
        WriteResult(result, 3);
        return 3;
    }

    if (__argc > 3) {
        lstrcpynA(ExtractFolder, __argv[3], PATH_SIZE);
    } else {
        ChooseExtractFolder(ExtractFolder);
        if (!CreateExtractFolder()) {
            WriteResult(result, 4);
            return 4;
        }
    }
    BytesWritten = 0;
    LastMeterMark = 0;
    int code = ExtractAll();
    WriteResult(result, code);
    ReleaseWorkBuffers();
    return code;
}

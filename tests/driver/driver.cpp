// tvsedriver PACKAGE RESULT [FOLDER]
//
// Runs the stub's start-up (InitStub) and one extraction run (ExtractAll)
// on PACKAGE, with the stub header read from PACKAGE itself.  Without
// FOLDER the extraction folder is chosen and created as the main dialog
// does it; with FOLDER, that folder is used as it is.  Every box appears
// without an owner.  RESULT receives lines "code=N", "folder=PATH" and
// "keep=K"; the exit code is the run's code (0, 1 or 2), 3 when start-up
// ended, 4 when no extraction folder could be created.
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
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

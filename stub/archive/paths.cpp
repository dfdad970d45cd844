/*
 * paths.cpp: target folders, the drive check, the overwrite question and
 * the small file-system operations that other parts share.
 */
#include <string.h>

#include "../stub.h"

int PathMissing(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    FindClose(search);
    return 0;
}

int CreateFolder(const char *path)
{
    return CreateDirectoryA(path, nullptr) != 0;
}

int DriveIsValid(const char *path)
{
    char root[4] = {path[0], ':', '\\', '\0'};
    UINT type = GetDriveTypeA(root);
    return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
}

/* Make a folder current; a trailing "\" is left out for the call unless
 * the path is a drive root such as D:\. */
int EnterFolder(char *path)
{
    size_t length = strlen(path);
    int trimmed = length > 3 && path[length - 1] == '\\';
    if (trimmed)
        path[length - 1] = '\0';
    int entered = SetCurrentDirectoryA(path) != 0;
    if (trimmed)
        path[length - 1] = '\\';
    return entered;
}

/* Create every missing folder on the way to the member: for a file entry
 * the folders above its target, for a folder entry the folder itself too.
 * A UNC path's server and share are passed over, never created. */
int MakeFolders()
{
    char work[NAME_SIZE];
    size_t length = strlen(MemberName);
    if (length != 0 && IsSeparator(MemberName[length - 1])) {
        if (!JoinExtractFolder(work, MemberName))
            ShowFatal(FormatText(CatalogEntry(CATALOG_NAME_TOO_LONG), MemberName));
    } else {
        memcpy(work, MemberName, length + 1);
    }

    if (work[0] != '\0' && work[1] == ':' && !DriveIsValid(work)) {
        work[1] = '\0';
        ShowFatal(FormatText(CatalogEntry(56), work));
    }

    size_t at = 0;
    if (work[0] == '\\' && work[1] == '\\') {
        at = 2;
        for (int part = 0; part < 2; part++) {
            while (work[at] != '\0' && !IsSeparator(work[at]))
                at++;
            if (part == 0 && work[at] != '\0')
                at++;
        }
    }
    if (IsSeparator(work[at]))
        at++;

    size_t last = (size_t)(LastComponent(work) - work);
    while (at < last) {
        while (!IsSeparator(work[at]))
            at++;
        work[at] = '\0';
        int bareDrive = at == 2 && work[1] == ':';
        if (!bareDrive && PathMissing(work) && !CreateFolder(work))
            ShowFatal(FormatText(CatalogEntry(42), work));
        work[at++] = '\\';
    }
    return 1;
}

/* True to extract the member, false to skip it; Cancel ends the run. */
int AskOverwrite()
{
    if (PathMissing(MemberName))
        return 1;
    if (MeterShown)
        UpdateMeter();
    lstrcpynA(OutputName, MemberName, NAME_SIZE);
    int answer = MessageBoxA(MainWindow, FormatText(CatalogEntry(25), OutputName), ProductCaption, MB_YESNOCANCEL);
    if (answer == IDCANCEL)
        Unwind(UNWIND_CANCELLED);
    return answer == IDYES;
}

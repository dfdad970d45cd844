/*
 * folder.cpp: choosing and creating the run's extraction folder.
 *
 * When the dialog opens, a name under the user's temporary folder is
 * proved free by creating a probe file of that name and deleting it again.
 * "&Setup" then creates the folder under that name, or the first numbered
 * folder under the Windows folder that can be created.  Whenever the
 * choice falls back to a folder that other software may share, KeepFiles
 * is set so that nothing is removed afterwards.
 */
#include <string.h>

#include "../stub.h"

int KeepFiles;

int ForceDelete(const char *name)
{
    SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(name) != 0;
}

/* The Windows folder into buffer (size bytes); empty when it cannot be
 * read or does not fit. */
static void WindowsFolder(char *buffer, UINT size)
{
    UINT length = GetWindowsDirectoryA(buffer, size);
    if (length == 0 || length >= size)
        buffer[0] = '\0';
}

void UseWindowsTemp(char *path)
{
    WindowsFolder(path, 250);
    lstrcatA(path, CatalogEntry(27));
    CreateFolder(path);
}

/* An environment variable into path; a value that does not fit leaves
 * path empty, so the next source is tried. */
static void ReadVariable(const char *name, char *path)
{
    DWORD length = GetEnvironmentVariableA(name, path, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE)
        path[0] = '\0';
}

void GetTempBase(char *path)
{
    path[0] = '\0';
    ReadVariable("TMP", path);
    if (path[0] == '\0')
        ReadVariable("TEMP", path);
    if (path[0] == '\0')
        UseWindowsTemp(path);
    /* A trailing "\" goes, unless it follows a drive's colon or another
     * "\"; a base of "\" alone becomes empty, so the probe names start at
     * the root of the current drive instead of forming a UNC path. */
    size_t length = strlen(path);
    if (length == 1 && path[0] == '\\')
        path[0] = '\0';
    else if (length >= 2 && path[length - 1] == '\\' && path[length - 2] != '\\' && path[length - 2] != ':')
        path[length - 1] = '\0';
}

/* True when name was free: a new, empty file now stands on it.  Anything
 * that exists under the name makes it taken, also a file that could not
 * be opened (read-only, or in use by other software), so the creation
 * below never empties an existing file. */
int ProbeNewFile(const char *name)
{
    if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES)
        return 0;
    HFILE file = _lcreat(name, 0);
    if (file == HFILE_ERROR)
        return 0;
    _lclose(file);
    return 1;
}

int ReserveTempName(char *path)
{
    /* The longest probe name adds "\TVSE3e7.tmp" to the base. */
    if (strlen(path) + 12 >= PATH_SIZE)
        return 0;
    char candidate[PATH_SIZE];
    for (unsigned n = 1; n <= 999; n++) {
        wsprintfA(candidate, "%s\\TVSE%x.tmp", path, n);
        if (ProbeNewFile(candidate)) {
            lstrcpyA(path, candidate);
            return 1;
        }
    }
    return 0;
}

void ChooseExtractFolder(char *path)
{
    GetTempBase(path);
    if (ReserveTempName(path) && ForceDelete(path))
        return;
    KeepFiles = 1;
    UseWindowsTemp(path);
}

int CreateExtractFolder()
{
    if (CreateFolder(ExtractFolder))
        return 1;
    char folder[PATH_SIZE];
    WindowsFolder(folder, PATH_SIZE);
    size_t length = strlen(folder);
    /* The fallback names add "\TVT00099" to the Windows folder. */
    if (length == 0 || length + 9 >= PATH_SIZE)
        return 0;
    for (unsigned n = 0; n <= 99; n++) {
        wsprintfA(ExtractFolder, "%s\\TVT%05u", folder, n);
        if (CreateFolder(ExtractFolder))
            return 1;
    }
    return 0;
}

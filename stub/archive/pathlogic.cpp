/*
 * pathlogic.cpp: taking paths apart.  Both "\" and "/" separate.
 */
#include <string.h>

#include "../core.h"

int IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

/* The text behind the last separator; the whole path when there is none.
 * A separator in the first position does not count. */
const char *LastComponent(const char *path)
{
    size_t length = strlen(path);
    for (size_t k = length; k > 1; k--)
        if (IsSeparator(path[k - 1]))
            return path + k;
    return path;
}

/* Names that Windows takes for devices in every folder, with or without
 * an extension: a member of that name would be written to the device. */
static int IsDeviceName(const char *component, size_t length)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};
    size_t stem = 0;
    while (stem < length && component[stem] != '.')
        stem++;
    while (stem > 0 && component[stem - 1] == ' ')
        stem--;
    char upper[8];
    if (stem == 0 || stem >= sizeof upper)
        return 0;
    for (size_t k = 0; k < stem; k++)
        upper[k] = (char)(component[k] >= 'a' && component[k] <= 'z' ? component[k] - 32 : component[k]);
    upper[stem] = '\0';
    for (const char *device : devices)
        if (strcmp(upper, device) == 0)
            return 1;
    if (stem == 4 && (strncmp(upper, "COM", 3) == 0 || strncmp(upper, "LPT", 3) == 0) && upper[3] >= '1' &&
        upper[3] <= '9')
        return 1;
    return 0;
}

/* True when a member name, joined to the extraction folder, could lead
 * anywhere but below it: a drive or stream (any ":"), a UNC or device
 * path (two leading separators), a component of dots only that holds
 * "..", which Windows also reads as the parent folder when blanks or more
 * dots follow, or a device name. */
int MemberNameUnsafe(const char *name)
{
    if (strchr(name, ':') != nullptr)
        return 1;
    if (IsSeparator(name[0]) && IsSeparator(name[1]))
        return 1;
    const char *p = name;
    while (*p != '\0') {
        const char *start = p;
        int dots = 0, other = 0;
        while (*p != '\0' && !IsSeparator(*p)) {
            if (*p == '.')
                dots++;
            else if (*p != ' ')
                other = 1;
            p++;
        }
        if (!other && dots >= 2)
            return 1;
        if (IsDeviceName(start, (size_t)(p - start)))
            return 1;
        if (*p != '\0')
            p++;
    }
    return 0;
}

/* work (NAME_SIZE bytes) := the extraction folder, "\\" unless it ends in a
 * separator already, and name.  False, with work undefined, when that
 * would not fit a path text. */
int JoinExtractFolder(char *work, const char *name)
{
    size_t folder = strlen(ExtractFolder), length = strlen(name);
    int addSeparator = folder == 0 || !IsSeparator(ExtractFolder[folder - 1]);
    if (folder + addSeparator + length >= NAME_SIZE)
        return 0;
    memcpy(work, ExtractFolder, folder);
    if (addSeparator)
        work[folder++] = '\\';
    memcpy(work + folder, name, length + 1);
    return 1;
}

/* The full target path of a file member: the extraction folder, one "\",
 * and the name without one leading separator, with every "/" turned into
 * "\".  False, with MemberName unchanged, when the result would not fit
 * a path text. */
int BuildTargetPath()
{
    char work[NAME_SIZE];
    if (!JoinExtractFolder(work, IsSeparator(MemberName[0]) ? MemberName + 1 : MemberName))
        return 0;
    for (char *c = work; *c != '\0'; c++)
        if (*c == '/')
            *c = '\\';
    memcpy(MemberName, work, strlen(work) + 1);
    return 1;
}

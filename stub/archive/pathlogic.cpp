/*
 * pathlogic.cpp: taking paths apart.  Both "\" and "/" separate.
 */
#include <string.h>

#include "../core.h"

static int IsSeparator(char c)
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

/*
 * configstrings.cpp: taking the configuration block's strings apart.
 *
 * The inflated block is eight NUL-terminated strings back to back.  The
 * walk is bounded by what the decoder really produced: a string that runs
 * to the end of that output ends there, a missing string is empty, and a
 * string longer than its destination is cut to fit.
 */
#include "../core.h"

void TakeConfigString(const uint8_t **cursor, const uint8_t *end, char *dest, size_t size)
{
    const uint8_t *p = *cursor;
    size_t kept = 0;
    while (p < end && *p != '\0') {
        if (dest != nullptr && kept + 1 < size)
            dest[kept++] = (char)*p;
        p++;
    }
    if (dest != nullptr && size != 0)
        dest[kept] = '\0';
    if (p < end)
        p++; /* the NUL */
    *cursor = p;
}

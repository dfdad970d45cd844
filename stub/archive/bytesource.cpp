/*
 * bytesource.cpp: the byte source that the decoder and the stored copy
 * read from, and the disk number carried by a volume label.
 *
 * Bytes are handed out one at a time from the current chunk (InputCursor,
 * InputAvail).  When the chunk is used up, RefillInput reads the next one
 * from the member's data; a memory blob set up by its caller simply ends,
 * because no member data is pending then.
 */
#include <string.h>

#include "../core.h"

int ReadInputByte(uint16_t *out)
{
    if (InputAvail == 0 && RefillInput() == 0)
        return 0;
    *out = *InputCursor++;
    InputAvail--;
    return 8;
}

/* The disk number in a label of the set, "PKBACK#" then a "." or blank and
 * the number: "PKBACK# 001" is disk 1.  0xFFFF when the label is not of the
 * set; 0 when no digit follows.  The number is taken as 16 bits. */
uint16_t LabelDiskNumber(const char *label)
{
    if (strncmp(label, SPAN_LABEL_PREFIX, 7) != 0)
        return 0xFFFF;
    const char *p = strpbrk(label, ". ");
    if (p == nullptr)
        return 0xFFFF;
    while (*p != '\0' && (*p < '0' || *p > '9'))
        p++;
    uint16_t number = 0;
    while (*p >= '0' && *p <= '9')
        number = (uint16_t)(number * 10 + (*p++ - '0'));
    return number;
}

/*
 * catalog.cpp: loading the message catalog.
 *
 * The catalog lives raw-deflated in the stub's data (MessageCatalog, made
 * from catalog.txt when the stub is built).  Start-up inflates it once into
 * a work block whose last two bytes are guards: the decoder never writes
 * past the block, so an inflated catalog that is too long shows up as a
 * changed guard byte.  The texts are then converted from the OEM to the
 * ANSI code page and the whole block is kept in CatalogBuffer for the rest
 * of the run; CatalogEntry (core.h) finds each slot through OffsetTable.
 * Both blocks come from LocalAlloc; the final release frees CatalogBuffer
 * with LocalFree.
 */
#include <string.h>

#include "../stub.h"

/* The guard bytes: the last two of the 5313-byte block. */
enum {
    GUARD_FIRST_AT = CATALOG_BUFFER_SIZE - 2,
    GUARD_SECOND_AT = CATALOG_BUFFER_SIZE - 1,
    GUARD_FIRST = 0xDE,
    GUARD_SECOND = 0xAD
};

void LoadCatalog()
{
    uint8_t *work = (uint8_t *)LocalAlloc(LPTR, CATALOG_BUFFER_SIZE);
    if (work == nullptr)
        ShowHeaderCorrupt();
    work[GUARD_FIRST_AT] = GUARD_FIRST;
    work[GUARD_SECOND_AT] = GUARD_SECOND;

    /* The decoder writes straight into the work block and never past its
     * end.  Its result is not needed: the guards are the test of what
     * arrived. */
    InflateBlob(MessageCatalog, MessageCatalogSize, work, work + CATALOG_BUFFER_SIZE);

    if (work[GUARD_FIRST_AT] != GUARD_FIRST || work[GUARD_SECOND_AT] != GUARD_SECOND) {
        LocalFree(work);
        ShowHeaderCorrupt();
    }

    /* Only the texts; the dialog template behind them is binary. */
    OemToCharBuffA((LPCSTR)work, (LPSTR)work, OffsetTable[CATALOG_TEMPLATE_ENTRY]);

    /* Without CatalogBuffer no text can be shown, and the start-up cannot
     * go on; the header-corrupt text is the one message available. */
    CatalogBuffer = (uint8_t *)LocalAlloc(LPTR, CATALOG_BUFFER_SIZE);
    if (CatalogBuffer == nullptr) {
        LocalFree(work);
        ShowHeaderCorrupt();
    }
    memcpy(CatalogBuffer, work, CATALOG_BUFFER_SIZE);
    LocalFree(work);
}

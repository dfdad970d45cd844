/*
 * header.cpp: the stub header block and the checks made against it.
 *
 * The builder finds StubHeader in the stub's file by its signature and
 * fills in the fields; the stub reads them from its running image.  Only
 * the signature is known when the stub is compiled.  A stub that no
 * builder has filled in has CompleteMark 0 and stops after initialising.
 */
#include "../stub.h"

StubHeaderBlock StubHeader = {{SFX_SIGNATURE_BYTES}, 0, 0, 0, 0, 0, 0, {0}, 0, 0, {0}};

/* Where the PE section table starts: the PE header's offset (at 60) plus
 * the fixed size of the headers before the table.  Computed in 64 bits so
 * that a damaged offset cannot wrap round to a small value. */
uint64_t SectionTableOffset(const uint8_t *image)
{
    return (uint64_t)ReadDword(image + PE_POINTER_OFFSET) + PE_HEADERS_SIZE;
}

/* The covered region, bytes 0 to length - 1 of the file, must have the
 * expected CRC-32 with the SelfCrc field of its header taken as 0.  The
 * header in the file is the first occurrence of the signature. */
void VerifySelf(uint32_t length, uint32_t expected, const uint8_t *signature)
{
    uint8_t *block = length != 0 ? (uint8_t *)LocalAlloc(LPTR, length) : nullptr;
    if (block == nullptr)
        ShowHeaderCorrupt();

    int good = _llseek(ArchiveFile, 0, FILE_BEGIN) == 0 && _lread(ArchiveFile, block, length) == length;

    /* Find the header: the first position whose 8 bytes are the signature. */
    uint32_t at = 0;
    int found = 0;
    for (; good && length >= SFX_SIGNATURE_SIZE && at <= length - SFX_SIGNATURE_SIZE; at++) {
        if (block[at] != signature[0])
            continue;
        uint32_t k = 1;
        while (k < SFX_SIGNATURE_SIZE && block[at + k] == signature[k])
            k++;
        if (k == SFX_SIGNATURE_SIZE) {
            found = 1;
            break;
        }
    }
    /* The SelfCrc field must lie inside the region to be taken as 0. */
    good = good && found && (uint64_t)at + HDR_SELF_CRC + 4 <= length;
    if (good) {
        for (int k = 0; k < 4; k++)
            block[at + HDR_SELF_CRC + k] = 0;
    }

    uint64_t start = 0;
    if (good && (StubHeader.SfxFlags & SFX_CHECK_AFTER_HEADERS)) {
        if (length < PE_POINTER_OFFSET + 4)
            good = 0;
        else
            start = SectionTableOffset(block);
        good = good && start <= length;
    }
    if (good) {
        RunningCrc = 0xFFFFFFFFu;
        Crc32Update(block + start, (uint32_t)(length - start));
        good = ~RunningCrc == expected;
    }
    LocalFree(block);
    if (!good)
        ShowHeaderCorrupt();
}

/* The archive's end-of-central-directory record must start at
 * EndRecordOffset.  Leaves the file positioned behind its signature. */
void ProbeEndRecord()
{
    uint32_t offset = StubHeader.EndRecordOffset;
    uint8_t bytes[4];
    if ((uint32_t)_llseek(ArchiveFile, (LONG)offset, FILE_BEGIN) != offset || _lread(ArchiveFile, bytes, 4) != 4 ||
        bytes[0] != EndSignature[0] || bytes[1] != EndSignature[1] || bytes[2] != EndSignature[2] ||
        bytes[3] != EndSignature[3])
        ShowFatal(CatalogEntry(49));
}

/*
 * walk.cpp: walking the archive's records from the front.
 *
 * Local file headers alone drive the extraction; the central directory is
 * only stepped over (and a spanned set's walk ends at its first central
 * header, since the directory lies on the last disk).  The sizes and CRC
 * of a member are those of its local header.
 */
#include <string.h>

#include "../stub.h"

/* Move forward by count bytes from the current position, without reading.
 * The platform's seek takes a signed 32-bit distance, so a large count is
 * moved in two steps: a skip never moves backwards.  A skip past the end
 * is noticed by the next read. */
static void SkipBytes(uint32_t count)
{
    if (count > 0x7FFFFFFFu) {
        _llseek(ArchiveFile, 0x7FFFFFFF, FILE_CURRENT);
        count -= 0x7FFFFFFFu;
    }
    if (count != 0)
        _llseek(ArchiveFile, (LONG)count, FILE_CURRENT);
}

/* Read count bytes of a record.  A spanned set may end a volume before the
 * record: the bytes of the short read are dropped and the record is read
 * again from the start of the next volume. */
static void ReadRecordPart(uint8_t *buffer, uint32_t count)
{
    if (_lread(ArchiveFile, buffer, count) == count)
        return;
    if (!Spanned)
        ShowReadError();
    SwitchVolume((uint16_t)(CurrentDisk + 1), VolumeExe);
    if (_lread(ArchiveFile, buffer, count) != count)
        ShowReadError();
}

static int SameSignature(const uint8_t *a, const uint8_t *b)
{
    return memcmp(a, b, 4) == 0;
}

/* A member the walk cannot place safely ends the run with a box that
 * names it. */
[[noreturn]] static void RefuseMember(int entry)
{
    ShowFatal(FormatText(CatalogEntry(entry), MemberName));
}

void ReadLocalHeader()
{
    uint8_t raw[LOCAL_HEADER_SIZE];
    ReadRecordPart(raw, LOCAL_HEADER_SIZE);
    DecodeLocalHeader(raw);
    MemberEncrypted = (LocalHeader.Flags & 1) != 0;
    MemberHasDescriptor = (LocalHeader.Flags & 8) != 0;

    /* A name longer than MemberName holds is refused; the box shows as
     * much of it as fits. */
    if (LocalHeader.NameLength >= NAME_SIZE) {
        ReadExact(NAME_SIZE - 1, MemberName);
        RefuseMember(CATALOG_NAME_TOO_LONG);
    }
    ReadExact(LocalHeader.NameLength, MemberName);
    SkipBytes(LocalHeader.ExtraLength);

    size_t length = LocalHeader.NameLength;
    if (length != 0 && IsSeparator(MemberName[length - 1])) {
        /* A folder entry: created under the extraction folder by its raw
         * name; data that it should not have is skipped. */
        if (MemberNameUnsafe(MemberName))
            RefuseMember(CATALOG_UNSAFE_NAME);
        MakeFolders();
        if (LocalHeader.UncompressedSize == 0 && LocalHeader.CompressedSize != 0)
            SkipBytes(LocalHeader.CompressedSize);
    } else {
        OemToCharA(MemberName, OutputName);
        lstrcpynA(MemberName, OutputName, NAME_SIZE);
        if (MemberNameUnsafe(MemberName))
            RefuseMember(CATALOG_UNSAFE_NAME);
        if (!BuildTargetPath())
            RefuseMember(CATALOG_NAME_TOO_LONG);
        MakeFolders();
        if (!AskOverwrite()) {
            SkipBytes(LocalHeader.CompressedSize);
        } else {
            if (MemberEncrypted && !CheckEncryptionHeader())
                ShowFatal(CatalogEntry(StoredPassword != nullptr ? 6 : 5));
            ExtractMember();
        }
    }
    if (LocalHeader.Flags & 8)
        SkipBytes(16);
}

void SkipCentralRecord()
{
    uint8_t raw[42 + 1];
    if (_lread(ArchiveFile, raw, 42) != 42)
        ShowReadError();
    uint32_t nameLength = ReadWord(raw + 24);
    uint32_t extraLength = ReadWord(raw + 26);
    uint32_t commentLength = ReadWord(raw + 28);
    /* The name is not used again; one too long for MemberName is read in
     * part and the rest stepped over. */
    uint32_t kept = nameLength < NAME_SIZE ? nameLength : NAME_SIZE - 1;
    ReadExact(kept, MemberName);
    SkipBytes(nameLength - kept + extraLength + commentLength);
}

void SkipEndRecord()
{
    uint8_t raw[18 + 1];
    if (_lread(ArchiveFile, raw, 18) != 18)
        ShowReadError();
    SkipBytes(ReadWord(raw + 16));
}

void WalkRecords()
{
    for (;;) {
        uint8_t signature[4];
        ReadRecordPart(signature, 4);
        if (SameSignature(signature, LocalSignature)) {
            ReadLocalHeader();
        } else if (SameSignature(signature, DescriptorSignature)) {
            if (!Spanned)
                ShowFatal(CatalogEntry(41));
        } else if (SameSignature(signature, CentralSignature)) {
            if (Spanned)
                return;
            SkipCentralRecord();
        } else if (SameSignature(signature, EndSignature)) {
            SkipEndRecord();
            return;
        } else if (!SameSignature(signature, MarkerSignature)) {
            ShowFatal(CatalogEntry(41));
        }
    }
}

/*
 * input.cpp: reading the archive, and the disks of a spanned set.
 *
 * The archive is appended to the executable, or spread over volume files
 * on removable disks whose labels ("PKBACK# 001", ...) say which disk of
 * the set they are.  Compressed data is read in chunks of at most 2,048
 * bytes into InputBuffer and handed out byte by byte (bytesource.cpp).
 */
#include <string.h>

#include "../stub.h"

uint16_t VolumeDiskNumber(const char *drive)
{
    char root[4] = {drive[0], ':', '\\', '\0'};
    char label[32];
    if (!GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0))
        return 0xFFFF;
    label[sizeof label - 1] = '\0';
    return LabelDiskNumber(label);
}

/* Make sure the wanted disk is in the drive, asking the user as needed,
 * and open its volume file: the executable's path with its extension
 * replaced by ".EXE" or ".ZIP". */
void SwitchVolume(uint16_t wanted, int exeNaming)
{
    if (ArchiveFile != 0) {
        _lclose(ArchiveFile);
        ArchiveFile = 0;
    }
    char drive[3] = {ModulePath[0], ':', '\0'};
    for (;;) {
        uint16_t number = VolumeDiskNumber(drive);
        if (number == 0xFFFF) {
            int answer = MessageBoxA(MainWindow, FormatText(CatalogEntry(4), wanted), ProductCaption,
                                     MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
            if (answer == IDRETRY)
                continue;
            if (answer != IDIGNORE)
                Unwind(UNWIND_FAILED);
            number = wanted;
        }
        CurrentDisk = number;
        if (number == wanted)
            break;
        if (!AskOkCancel(FormatText(CatalogEntry(1), wanted, drive)))
            Unwind(UNWIND_FAILED);
    }

    /* The extension is replaced from the last "." of the file name; a name
     * without one gets the extension added.  A name that would not fit
     * cannot be opened. */
    char volume[PATH_SIZE];
    size_t length = strlen(ModulePath);
    const char *dot = strrchr(LastComponent(ModulePath), '.');
    size_t stem = dot != nullptr ? (size_t)(dot - ModulePath) : length;
    if (stem + 4 >= PATH_SIZE)
        ShowHeaderCorrupt();
    memcpy(volume, ModulePath, stem);
    memcpy(volume + stem, exeNaming ? ".EXE" : ".ZIP", 5);

    HFILE file = _lopen(volume, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        ShowHeaderCorrupt();
    ArchiveFile = file;
}

int32_t RefillInput()
{
    if (LocalHeader.CompressedSize == 0) {
        InputAvail = 0;
        return 0;
    }
    uint32_t wanted = LocalHeader.CompressedSize < (uint32_t)CHUNK_SIZE ? LocalHeader.CompressedSize : (uint32_t)CHUNK_SIZE;
    InputAvail = (int32_t)_lread(ArchiveFile, InputBuffer, wanted);
    if (Spanned && InputAvail >= 1 && (uint32_t)InputAvail < wanted) {
        /* The volume ended inside the member's data: keep what was read as
         * this chunk; the rest comes from the start of the next volume. */
        wanted = (uint32_t)InputAvail;
        SwitchVolume((uint16_t)(CurrentDisk + 1), VolumeExe);
    }
    if (InputAvail < 0 || (uint32_t)InputAvail != wanted)
        ShowReadError();
    LocalHeader.CompressedSize -= wanted;
    InputCursor = InputBuffer;
    /* The traditional decryption of an encrypted member's chunk belongs
     * here, applied in place to exactly the bytes read, in order. */
    return (int32_t)wanted;
}

void ReadExact(uint32_t count, void *buffer)
{
    if (_lread(ArchiveFile, buffer, count) != count)
        ShowReadError();
    ((uint8_t *)buffer)[count] = 0;
}

void ShowReadError()
{
    ShowFatal(FormatText(CatalogEntry(46), ModulePath));
}

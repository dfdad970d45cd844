/*
 * extract.cpp: one extraction run, and the writing of each member.
 *
 * ExtractAll holds the extraction recovery point: every failure on the way
 * (a box has been shown) or the user's decision to stop unwinds to it, and
 * the run's code goes back to the main dialog.  Output passes through the
 * 2,048-byte OutputBuffer; every flush updates the member's CRC-32, the
 * progress meter and the file, then lets the user abort.
 */
#include "../stub.h"

enum { METER_CONTROL = 201, METER_MARK = 0x10000 };

uint32_t MeterPercent(uint32_t done, uint32_t total)
{
    /* A header that claims nothing was packed gives no progress to show. */
    if (total == 0)
        return 0;
    return (uint32_t)((uint64_t)done * 100 / total);
}

/* Bring the meter up to the bytes written so far and repaint at once. */
void UpdateMeter()
{
    HWND meter = GetDlgItem(MainWindow, METER_CONTROL);
    if (MeterShown)
        SendMessageA(meter, MTR_SETPOS, MeterPercent(BytesWritten, StubHeader.TotalUnpacked), 0);
    InvalidateRect(meter, nullptr, FALSE);
    UpdateWindow(MainWindow);
}

void CheckWrite(UINT written)
{
    if (written == (UINT)HFILE_ERROR || written != (UINT)OutputCount)
        ShowFatal(FormatText(CatalogEntry(45), OutputName));
    if (AskAbort())
        Unwind(UNWIND_FAILED);
}

void FlushOutput()
{
    if (InflateToMemory) {
        OutputCount = 0;
        return;
    }
    BytesWritten += (uint32_t)OutputCount;
    if (BytesWritten >= LastMeterMark + METER_MARK) {
        LastMeterMark = BytesWritten;
        UpdateMeter();
    }
    Crc32Update(OutputBuffer, (uint32_t)OutputCount);
    CheckWrite(_lwrite(OutputFile, (LPCCH)OutputBuffer, (UINT)OutputCount));
    OutputCursor = OutputBuffer;
    OutputCount = 0;
}

void CreateOutputFile()
{
    lstrcpynA(OutputName, MemberName, NAME_SIZE);
    HFILE file = _lcreat(OutputName, 0);
    if (file == HFILE_ERROR)
        ShowFatal(FormatText(CatalogEntry(38), OutputName));
    OutputFile = file;
}

/* The archive's DOS date and time are local time; the file gets the same
 * moment, in UTC, as all three of its times. */
void SetMemberFileTime()
{
    FILETIME local, utc;
    DosDateTimeToFileTime(LocalHeader.ModDate, LocalHeader.ModTime, &local);
    LocalFileTimeToFileTime(&local, &utc);
    SetFileTime(LongToHandle(OutputFile), &utc, &utc, &utc);
}

void ExtractMember()
{
    InputAvail = 0;
    OutputCount = 0;
    OutputCursor = OutputBuffer;
    RunningCrc = 0xFFFFFFFFu;
    CreateOutputFile();

    if (LocalHeader.CompressedSize != 0) {
        if (LocalHeader.Method == 0) {
            ShowUnzipStatus();
            uint16_t byte;
            while (ReadInputByte(&byte)) {
                *OutputCursor++ = (uint8_t)byte;
                if (++OutputCount == CHUNK_SIZE)
                    FlushOutput();
            }
        } else if (LocalHeader.Method == 8) {
            ShowUnzipStatus();
            /* Damaged data shows in the CRC comparison below. */
            InflateStream();
        } else {
            ShowFatal(CatalogEntry(39));
        }
    }
    if (OutputCount > 0) {
        Crc32Update(OutputBuffer, (uint32_t)OutputCount);
        CheckWrite(_lwrite(OutputFile, (LPCCH)OutputBuffer, (UINT)OutputCount));
    }
    SetMemberFileTime();
    _lclose(OutputFile);
    OutputFile = 0;

    uint32_t crc = ~RunningCrc;
    if (crc != LocalHeader.Crc32)
        ShowFatal(FormatText(CatalogEntry(40), OutputName, (unsigned long)crc, (unsigned long)LocalHeader.Crc32));
}

int ExtractAll()
{
    int code = 0;
    Extracting = 1;
    ExtractionArmed++;
    SetCurrentCursor(WaitCursor);
    try {
        if (Spanned)
            SwitchVolume(1, VolumeExe);
        if (!Spanned || VolumeExe) {
            uint32_t start = StubHeader.ArchiveOffset;
            if ((uint32_t)_llseek(ArchiveFile, (LONG)start, FILE_BEGIN) != start)
                ShowFatal(CatalogEntry(47));
        }
        WalkRecords();
    } catch (const UnwindException &unwind) {
        if (OutputFile != 0) {
            _lclose(OutputFile);
            OutputFile = 0;
        }
        code = unwind.code;
    }
    ExtractionArmed--;
    /* No member data is pending once the run is over, so a later memory
     * decode cannot mistake the rest of a member for its own input. */
    LocalHeader.CompressedSize = 0;
    InputAvail = 0;
    SetCurrentCursor(ArrowCursor);
    Extracting = 0;
    return code;
}

/*
 * config.cpp: reading the configuration block.
 *
 * The block lies between the stub image and the archive, raw deflate of
 * eight strings: information text, command, two unused texts, description,
 * custom caption, start-up message and the "-info" text.  It is read and
 * inflated once at start-up into a fixed work area.
 */
#include "../stub.h"

enum { CONFIG_WORK_SIZE = CONFIG_MAX_PACKED + CONFIG_MAX_INFLATED };

void ReadConfigBlock()
{
    uint32_t offset = StubHeader.ConfigOffset;
    if (offset == 0)
        return;
    /* A block that lies outside the region before the archive, or that is
     * longer than its work area, cannot be read in full. */
    if (StubHeader.ArchiveOffset < offset || StubHeader.ArchiveOffset - offset > CONFIG_MAX_PACKED)
        ShowHeaderCorrupt();
    uint32_t length = StubHeader.ArchiveOffset - offset;

    uint8_t work[CONFIG_WORK_SIZE];
    if ((uint32_t)_llseek(ArchiveFile, (LONG)offset, FILE_BEGIN) != offset || _lread(ArchiveFile, work, length) != length)
        ShowHeaderCorrupt();

    /* Inflate into the rest of the work area.  The decoder stops at the
     * area's end; its result is not needed, because the self-check has
     * covered these bytes and whatever arrived is used. */
    uint8_t *strings = work + CONFIG_MAX_PACKED;
    const uint8_t *end = InflateBlob(work, length, strings, work + CONFIG_WORK_SIZE);

    const uint8_t *p = strings;
    TakeConfigString(&p, end, InfoText, INFO_TEXT_SIZE);
    TakeConfigString(&p, end, CommandText, COMMAND_TEXT_SIZE);
    TakeConfigString(&p, end, nullptr, 0);
    TakeConfigString(&p, end, nullptr, 0);
    TakeConfigString(&p, end, DescriptionText, DESCRIPTION_TEXT_SIZE);
    if (StubHeader.SfxFlags & SFX_HAS_CAPTION)
        TakeConfigString(&p, end, CustomCaption, CUSTOM_CAPTION_SIZE);
    else if (p < end)
        p++; /* string 6 is empty without a custom caption */
    if (p < end && *p != '\0') {
        StartupText = (char *)LocalAlloc(LPTR, STARTUP_TEXT_SIZE);
        /* Going on without the start-up message would skip a question the
         * package asks before it installs; stop instead. */
        if (StartupText == nullptr)
            ShowFatal("not enough memory");
        TakeConfigString(&p, end, StartupText, STARTUP_TEXT_SIZE);
    } else {
        TakeConfigString(&p, end, nullptr, 0);
    }
    TakeConfigString(&p, end, InfoSwitchText, INFO_SWITCH_TEXT_SIZE);

    PackageIcon = LoadIconA(AppInstance, MAKEINTRESOURCEA(1));
}

/*
 * sfxformat.h: the byte formats that the package builder and the stub
 * share.  Plain constants only, so that the same file serves the Win32
 * stub and the host tools.
 *
 * A package is: stub image (holding the 56-byte stub header in its
 * initialised data), then the raw-deflate configuration block, then the
 * ZIP archive.  Every number is little-endian and unsigned.
 */
#ifndef TVSE_SFXFORMAT_H
#define TVSE_SFXFORMAT_H

/* The header's signature: "KDR", 0x01, "sfx", 0x02.  It occurs exactly
 * once in a stub image, in the header itself. */
#define SFX_SIGNATURE_BYTES 0x4B, 0x44, 0x52, 0x01, 0x73, 0x66, 0x78, 0x02
enum { SFX_SIGNATURE_SIZE = 8 };

/* Field offsets inside the 56-byte stub header. */
enum {
    HDR_SIGNATURE = 0,
    HDR_SELF_CRC = 8,
    HDR_ARCHIVE_OFFSET = 12,
    HDR_CONFIG_OFFSET = 16,
    HDR_END_RECORD_OFFSET = 20,
    HDR_TOTAL_UNPACKED = 24,
    HDR_SFX_FLAGS = 28,
    HDR_WAIT_PROGRAM = 32,   /* 10 bytes, NUL-terminated inside */
    HDR_COMPLETE_MARK = 42,  /* 16 bits */
    HDR_SPARE = 44,
    HDR_RESERVED = 48,       /* 8 bytes */
    HDR_SIZE = 56,
    WAIT_PROGRAM_SIZE = 10
};

/* SfxFlags bits.  Bits not listed are ignored by the stub. */
enum {
    SFX_WAIT_FOR_PROGRAM = 0x4,
    SFX_HAS_CAPTION = 0x10,
    SFX_WAIT_DEFAULT = 0x40,
    SFX_PASSWORD = 0x100,
    SFX_AUTO_DEFAULT = 0x200,
    SFX_CHECK_AFTER_HEADERS = 0x800,
    SFX_SPANNED = 0x1000,
    SFX_INFO_BUTTON = 0x2000,
    SFX_VOLUME_EXE = 0x8000,
    SFX_SHELL_INSTALL = 0x10000,
    SFX_SHELL_EXECUTE = 0x20000,
    SFX_TITLE_FROM_CAPTION = 0x40000,
    SFX_STARTUP_QUERY = 0x80000,
    SFX_STARTUP_OKCANCEL = 0x100000
};

/* The self-check's start when SFX_CHECK_AFTER_HEADERS is set: the value at
 * offset 60 (the PE header's offset) plus the PE signature, the file header
 * and the 32-bit optional header with 16 data directories. */
enum { PE_POINTER_OFFSET = 60, PE_HEADERS_SIZE = 248 };

/* The configuration block: raw deflate of eight NUL-terminated strings. */
enum {
    CONFIG_MAX_PACKED = 1500,
    CONFIG_MAX_INFLATED = 2112,
    CONFIG_STRING_COUNT = 8
};

/* Destination sizes of the configuration strings, NUL included.  Strings 3
 * and 4 are read past and have no destination. */
enum {
    INFO_TEXT_SIZE = 516,        /* string 1 */
    COMMAND_TEXT_SIZE = 65,      /* string 2 */
    DESCRIPTION_TEXT_SIZE = 257, /* string 5 */
    CUSTOM_CAPTION_SIZE = 65,    /* string 6 */
    STARTUP_TEXT_SIZE = 514,     /* string 7 */
    INFO_SWITCH_TEXT_SIZE = 512  /* string 8 */
};

/* Volume labels of a spanned set begin with this text. */
#define SPAN_LABEL_PREFIX "PKBACK#"

#endif

/*
 * core.h: the stub's process-wide state and operations that need no
 * platform types.  Everything declared here can be compiled for the host
 * as well, which is how the portable logic (command line, CRC-32, the
 * deflate decoder, volume labels, target paths, configuration strings) is
 * tested outside Windows.  stub.h adds the Win32 side.
 *
 * The program runs on one thread; all state is plain process-wide data.
 */
#ifndef TVSE_CORE_H
#define TVSE_CORE_H

#include <stddef.h>
#include <stdint.h>

#include "../common/sfxformat.h"

/* ---- Fixed buffer sizes (each counts the terminating NUL) ---- */
enum {
    PATH_SIZE = 261,          /* ModulePath, ExtractFolder */
    NAME_SIZE = 264,          /* MemberName, OutputName and path work texts */
    MESSAGE_BUFFER_SIZE = 500,
    WINDOW_SIZE = 32768,      /* the part of InflateWindow that is used */
    INFLATE_WINDOW_ALLOC = 32776,
    IO_BUFFER_ALLOC = 2068,   /* InputBuffer and OutputBuffer */
    CHUNK_SIZE = 2048,        /* largest input chunk and output write */
    CATALOG_BUFFER_SIZE = 5313,
    CATALOG_ENTRIES = 61,
    CATALOG_TEMPLATE_ENTRY = 60,
    TEMPLATE_COPY_SIZE = 1024,
    PASSWORD_TEMPLATE_BUFFER = 600
};

/* ---- Stub header (56 bytes in the initialised data) ---- */
#pragma pack(push, 1)
struct StubHeaderBlock {
    uint8_t Signature[8];
    uint32_t SelfCrc;
    uint32_t ArchiveOffset;
    uint32_t ConfigOffset;
    uint32_t EndRecordOffset;
    uint32_t TotalUnpacked;
    uint32_t SfxFlags;
    char WaitProgram[WAIT_PROGRAM_SIZE];
    uint16_t CompleteMark;
    uint32_t HeaderSpare;
    uint8_t Reserved[8];
};
#pragma pack(pop)
static_assert(sizeof(StubHeaderBlock) == HDR_SIZE, "stub header is 56 bytes");

/* The builder fills this block in the file after compilation, so the code
 * reads it at run time and never treats a field as a known constant. */
extern StubHeaderBlock StubHeader;

/* ---- Failures and unwinding ---- */
enum { UNWIND_CANCELLED = 1, UNWIND_FAILED = 2 };

/* Carries the unwind code to the innermost recovery point; any message has
 * been shown before it is raised. */
struct UnwindException {
    int code;
};

[[noreturn]] void Unwind(int code);
[[noreturn]] void ShowFatal(const char *text);
[[noreturn]] void ShowHeaderCorrupt();

extern const char ProductCaption[24];
extern const char HeaderCorruptText[];

/* ---- CRC-32 ---- */
extern uint32_t CrcTable[256];
extern uint32_t RunningCrc;
void BuildCrcTable();
void Crc32Update(const uint8_t *buffer, uint32_t count);

/* ---- Process-wide texts (obtained zero-filled at start-up) ---- */
extern char *DescriptionText;  /* DESCRIPTION_TEXT_SIZE */
extern char *CustomCaption;    /* CUSTOM_CAPTION_SIZE */
extern char *CommandText;      /* COMMAND_TEXT_SIZE */
extern char *InfoSwitchText;   /* INFO_SWITCH_TEXT_SIZE */
extern char *InfoText;         /* INFO_TEXT_SIZE */
extern char *MessageBuffer;    /* MESSAGE_BUFFER_SIZE */
extern char *StartupText;      /* STARTUP_TEXT_SIZE, or none */
extern char ModulePath[PATH_SIZE];

/* ---- Modes ---- */
extern int AutoMode;
extern int WaitMode;

/* ---- Command line ---- */
char *CommandTail(char *commandLine);
int InfoSwitchPresent(const char *tail);
void ParseSwitches(char *tail);

/* ---- Message catalog ---- */
extern uint8_t *CatalogBuffer;
extern const uint8_t MessageCatalog[];
extern const uint32_t MessageCatalogSize;
extern const uint32_t OffsetTable[CATALOG_ENTRIES];
extern const uint8_t PasswordTemplate[];
extern const uint32_t PasswordTemplateSize;
/* Entry n of the loaded catalog; callers pass constants only. */
inline const char *CatalogEntry(int n)
{
    return (const char *)CatalogBuffer + OffsetTable[n];
}

/* Catalog entries of texts that the walk adds for members it refuses. */
enum { CATALOG_UNSAFE_NAME = 2, CATALOG_NAME_TOO_LONG = 3 };

/* ---- Archive input (byte source) ---- */
extern uint8_t *InputBuffer;
extern uint8_t *InputCursor;
extern int32_t InputAvail;
extern int MemberEncrypted;
extern int MemberHasDescriptor;
extern int Spanned;
extern int VolumeExe;
extern uint16_t CurrentDisk;
int ReadInputByte(uint16_t *out);
int32_t RefillInput();
uint16_t LabelDiskNumber(const char *label);

/* ---- Local file header of the current member ---- */
struct LocalFileHeader {
    uint16_t VersionNeeded;
    uint16_t Flags;
    uint16_t Method;
    uint16_t ModTime;
    uint16_t ModDate;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint16_t NameLength;
    uint16_t ExtraLength;
};
enum { LOCAL_HEADER_SIZE = 26 };
extern LocalFileHeader LocalHeader;
extern char MemberName[NAME_SIZE];
extern char OutputName[NAME_SIZE];
void DecodeLocalHeader(const uint8_t *raw);
/* Little-endian numbers of the ZIP and PE formats. */
uint16_t ReadWord(const uint8_t *p);
uint32_t ReadDword(const uint8_t *p);

/* ZIP record signatures, assembled at start-up so that the image holds
 * none of them whole. */
extern uint8_t LocalSignature[4];
extern uint8_t DescriptorSignature[4]; /* also the spanning signature */
extern uint8_t CentralSignature[4];
extern uint8_t EndSignature[4];
extern uint8_t MarkerSignature[4];
void AssembleSignatures();

/* ---- Output side ---- */
extern uint8_t *OutputBuffer;
extern uint8_t *OutputCursor;
extern uint8_t *OutputLimit; /* end of a memory-mode destination */
extern int32_t OutputCount;
extern uint32_t BytesWritten;
extern uint32_t LastMeterMark;
extern int MeterShown;
extern int Extracting;
void FlushOutput();
uint32_t MeterPercent(uint32_t done, uint32_t total);

/* ---- Deflate decoder ---- */
extern uint8_t *InflateWindow;
extern int InflateToMemory;
int InflateStream();
uint8_t *InflateBlob(const uint8_t *input, uint32_t length, uint8_t *destination, uint8_t *limit);
void DrainWindow(uint32_t count);

/* ---- Configuration block ---- */
/* Copy the string at *cursor (ending at its NUL or at end) into dest, cut
 * to size bytes with the NUL, and move *cursor past it; dest may be none
 * to read past a string. */
void TakeConfigString(const uint8_t **cursor, const uint8_t *end, char *dest, size_t size);

/* ---- Target paths ---- */
extern char ExtractFolder[PATH_SIZE];
const char *LastComponent(const char *path);
int IsSeparator(char c);
int MemberNameUnsafe(const char *name);
int JoinExtractFolder(char *work, const char *name);
int BuildTargetPath();

#endif

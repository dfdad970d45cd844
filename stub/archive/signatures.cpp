/*
 * signatures.cpp: the ZIP record signatures and the local file header.
 *
 * The stub's own image must hold none of the four-byte signatures whole,
 * or a zip tool reading the package would take a piece of the stub for an
 * archive record.  Each signature is therefore put together at start-up
 * from the byte 0x50 and a three-byte remainder kept apart; the remainders
 * are read through volatile so that the compiler cannot fold the pieces
 * into one four-byte constant.
 */
#include "../core.h"

static const volatile uint8_t LocalRest[3] = {0x4B, 0x03, 0x04};
static const volatile uint8_t DescriptorRest[3] = {0x4B, 0x07, 0x08};
static const volatile uint8_t CentralRest[3] = {0x4B, 0x01, 0x02};
static const volatile uint8_t EndRest[3] = {0x4B, 0x05, 0x06};
static const volatile uint8_t MarkerRest[3] = {0x4B, 0x30, 0x30};

static void Assemble(uint8_t *signature, const volatile uint8_t *rest)
{
    signature[0] = 0x50;
    for (int k = 0; k < 3; k++)
        signature[k + 1] = rest[k];
}

void AssembleSignatures()
{
    Assemble(LocalSignature, LocalRest);
    Assemble(DescriptorSignature, DescriptorRest);
    Assemble(CentralSignature, CentralRest);
    Assemble(EndSignature, EndRest);
    Assemble(MarkerSignature, MarkerRest);
}

uint16_t ReadWord(const uint8_t *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

uint32_t ReadDword(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* The 26 bytes that follow a local header's signature, little-endian. */
void DecodeLocalHeader(const uint8_t *raw)
{
    LocalHeader.VersionNeeded = ReadWord(raw + 0);
    LocalHeader.Flags = ReadWord(raw + 2);
    LocalHeader.Method = ReadWord(raw + 4);
    LocalHeader.ModTime = ReadWord(raw + 6);
    LocalHeader.ModDate = ReadWord(raw + 8);
    LocalHeader.Crc32 = ReadDword(raw + 10);
    LocalHeader.CompressedSize = ReadDword(raw + 14);
    LocalHeader.UncompressedSize = ReadDword(raw + 18);
    LocalHeader.NameLength = ReadWord(raw + 22);
    LocalHeader.ExtraLength = ReadWord(raw + 24);
}

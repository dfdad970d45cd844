/*
 * crc32.cpp: the ZIP CRC-32 (reflected polynomial 0xEDB88320, register
 * started at all ones, final complement done by the caller).  One table,
 * built once at start-up, serves the self-check, the member check and the
 * key update of the decryption.
 */
#include "../core.h"

uint32_t CrcTable[256];
uint32_t RunningCrc;

void BuildCrcTable()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        CrcTable[n] = c;
    }
}

void Crc32Update(const uint8_t *buffer, uint32_t count)
{
    uint32_t r = RunningCrc;
    while (count--)
        r = (r >> 8) ^ CrcTable[(r ^ *buffer++) & 0xFF];
    RunningCrc = r;
}

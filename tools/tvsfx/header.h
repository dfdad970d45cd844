// The 56-byte stub header: locating it, reading and writing its fields,
// the flag names, and the self-check CRC.
#ifndef TVSFX_HEADER_H
#define TVSFX_HEADER_H

#include "bytes.h"

#include <array>
#include <string>
#include <vector>

namespace tvsfx {

struct StubHeader {
    std::uint32_t selfCrc = 0;
    std::uint32_t archiveOffset = 0;
    std::uint32_t configOffset = 0;
    std::uint32_t endRecordOffset = 0;
    std::uint32_t totalUnpacked = 0;
    std::uint32_t sfxFlags = 0;
    std::array<std::uint8_t, 10> waitProgram{};
    std::uint16_t completeMark = 0;
    std::uint32_t headerSpare = 0;
    std::array<std::uint8_t, 8> reserved{};

    // WaitProgram up to its first NUL (all ten bytes when there is none).
    std::string WaitProgramText() const;
};

const Bytes& SignatureBytes();

// Every position in [0, size) where the eight signature bytes start.
std::vector<std::size_t> FindSignatures(const std::uint8_t* data, std::size_t size);

StubHeader ReadHeader(const Bytes& file, std::size_t pos);
void WriteHeader(Bytes& file, std::size_t pos, const StubHeader& h);

struct FlagInfo {
    std::uint32_t bit;
    const char* name;    // SFX_...
    const char* option;  // command-line option without "--"
    const char* help;
};

extern const std::vector<FlagInfo> kFlags;

// "SFX_A SFX_B" for the named bits, plus "unknown 0x..." for the rest.
std::string FlagNames(std::uint32_t flags);

// Where the self-check starts: 0, or with SFX_CHECK_AFTER_HEADERS the PE
// section table.  Throws Error when the region [0, covered) cannot give a
// valid start (too short to hold the PE pointer, or a start beyond it).
std::size_t SelfCheckStart(const Bytes& file, std::size_t covered, std::uint32_t flags);

// The self-check CRC as the stub computes it: over [start, covered) of the
// file, with the four bytes behind the first signature occurrence in that
// region taken as 0.  Throws Error when the stub would reject the region.
std::uint32_t ComputeSelfCrc(const Bytes& file, std::size_t covered, std::uint32_t flags);

}  // namespace tvsfx

#endif

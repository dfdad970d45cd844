// Reading a ZIP archive for packaging: the end record, the central
// directory, and a walk over the local records exactly as the stub makes
// it (record after record from the front), so that an archive the stub
// cannot walk is refused when the package is built.
#ifndef TVSFX_ZIPARCHIVE_H
#define TVSFX_ZIPARCHIVE_H

#include "bytes.h"

#include <string>
#include <vector>

namespace tvsfx {

enum {
    ZIP_LOCAL_SIZE = 30,
    ZIP_CENTRAL_SIZE = 46,
    ZIP_END_SIZE = 22,
    ZIP_DESCRIPTOR_SIZE = 16,
    ZIP_ENCRYPTION_HEADER = 12,
    ZIP_FLAG_ENCRYPTED = 0x1,
    ZIP_FLAG_DESCRIPTOR = 0x8
};

struct ZipMember {
    std::string name;
    std::uint16_t method = 0;
    std::uint16_t centralFlags = 0;
    std::uint16_t localFlags = 0;  // what the stub acts on
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t disk = 0;         // disk of the local header (0-based)
    std::size_t centralPos = 0;     // central header in the buffer
    std::size_t centralLen = 0;     // its length with name, extra and comment
    std::size_t localPos = 0;       // local header in the buffer
    std::size_t localLen = 0;       // 30 + name + extra
    std::size_t dataEnd = 0;        // end of the compressed data
    std::size_t recordEnd = 0;      // end of the record, data descriptor included

    bool HasDescriptor() const { return (localFlags & ZIP_FLAG_DESCRIPTOR) != 0; }
    bool Encrypted() const { return (localFlags & ZIP_FLAG_ENCRYPTED) != 0; }
    bool IsFolder() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
};

struct ZipArchive {
    std::size_t archiveStart = 0;   // first byte of the archive in the buffer
    std::size_t firstLocal = 0;     // where the local records begin (behind any marker)
    std::size_t centralPos = 0;     // central directory in the buffer
    std::size_t centralSize = 0;
    std::size_t endPos = 0;         // end-of-central-directory record in the buffer
    std::size_t endLen = 0;         // 22 + comment
    std::uint16_t endDisk = 0;      // number of the disk holding the end record
    std::uint16_t centralDisk = 0;  // disk where the central directory starts
    std::vector<ZipMember> members; // in central-directory order
    std::vector<std::size_t> fileOrder; // member indices in the order of their local records

    std::uint32_t TotalUnpacked() const;  // saturates at 0xFFFFFFFF
    std::uint64_t TotalUnpacked64() const;
};

struct ZipParseOptions {
    std::size_t archiveStart = 0;    // where the first record stands
    // Start of each disk's volume file in the buffer (one entry: one file).
    // A disk's offsets in the central directory count from there.
    std::vector<std::size_t> diskBase = {0};
    bool spanned = false;            // the archive begins with the spanning signature
    std::string label = "the archive";  // names the input in messages
};

// Parses and checks the archive; throws Error for anything that is not a
// plain (non-ZIP64) archive whose local records follow one another from
// archiveStart to the central directory.
ZipArchive ParseZip(const Bytes& data, const ZipParseOptions& opts = ZipParseOptions());

// Puts each member's CRC-32 and sizes from the central directory into its
// local header; the flags (bit 3 included) and any data descriptor stay.
void NormalizeLocalHeaders(Bytes& data, const ZipArchive& zip);

// Members whose local header disagrees with the central directory in CRC
// or sizes, described one per line.
std::vector<std::string> LocalHeaderMismatches(const Bytes& data, const ZipArchive& zip);

}  // namespace tvsfx

#endif

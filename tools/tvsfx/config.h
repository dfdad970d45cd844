// The configuration block: eight NUL-terminated strings, raw-deflated.
#ifndef TVSFX_CONFIG_H
#define TVSFX_CONFIG_H

#include "bytes.h"

#include <array>
#include <string>
#include <vector>

namespace tvsfx {

enum ConfigIndex {
    CFG_INFO = 0,
    CFG_COMMAND,
    CFG_STRING3,
    CFG_STRING4,
    CFG_DESCRIPTION,
    CFG_CAPTION,
    CFG_STARTUP,
    CFG_INFO_SWITCH,
    CFG_COUNT
};

struct ConfigStringInfo {
    const char* option;  // command-line option without the leading "--"
    const char* what;    // what the string is, for messages and listings
    std::size_t limit;   // destination size with the NUL; 0 means no limit of its own
};

extern const std::array<ConfigStringInfo, CFG_COUNT> kConfigStrings;

using ConfigTexts = std::array<std::string, CFG_COUNT>;

// The eight strings, each followed by its NUL.
Bytes JoinConfigStrings(const ConfigTexts& texts);

// Raw deflate (no wrapper), best compression.
Bytes DeflateRaw(const Bytes& data);

struct InflateResult {
    Bytes data;
    bool complete = false;        // the stream reached its final block
    std::size_t unusedInput = 0;  // bytes after the end of the stream
    std::string error;            // zlib's complaint, if any
};

// Raw inflate of at most `limit` output bytes (more marks the result incomplete).
InflateResult InflateRaw(const std::uint8_t* data, std::size_t size, std::size_t limit);

// Checks every string against its destination and the caption rule, joins
// and compresses them, and checks both size limits.  Throws Error.
Bytes MakeConfigBlock(const ConfigTexts& texts, bool hasCaption);

// A block read back from a package.
struct ConfigReadBack {
    Bytes inflated;
    ConfigTexts texts;
    std::size_t stringCount = 0;       // complete (NUL-terminated) strings found
    std::size_t trailingBytes = 0;     // inflated bytes after the eighth string
    std::vector<std::string> problems; // reasons the stub would misread the block
};

ConfigReadBack ReadConfigBlock(const std::uint8_t* data, std::size_t size, bool hasCaption);

}  // namespace tvsfx

#endif

// Byte buffers, little-endian access and file helpers shared by the
// package builder's parts.
#ifndef TVSFX_BYTES_H
#define TVSFX_BYTES_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tvsfx {

using Bytes = std::vector<std::uint8_t>;

// A refusal or failure with a message meant for the user.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t Get16(const Bytes& b, std::size_t pos) { return Get16(b.data() + pos); }
inline std::uint32_t Get32(const Bytes& b, std::size_t pos) { return Get32(b.data() + pos); }

inline void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put16(Bytes& b, std::size_t pos, std::uint16_t v) { Put16(b.data() + pos, v); }
inline void Put32(Bytes& b, std::size_t pos, std::uint32_t v) { Put32(b.data() + pos, v); }

inline void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// True when the four bytes at pos exist and equal the given signature.
inline bool HasSig(const Bytes& b, std::size_t pos, std::uint32_t sig) {
    return pos <= b.size() && b.size() - pos >= 4 && Get32(b, pos) == sig;
}

// ZIP record signatures as little-endian numbers.
enum : std::uint32_t {
    ZIP_LOCAL_SIG = 0x04034B50,     // 50 4B 03 04
    ZIP_SPAN_SIG = 0x08074B50,      // 50 4B 07 08 (also the data descriptor)
    ZIP_CENTRAL_SIG = 0x02014B50,   // 50 4B 01 02
    ZIP_END_SIG = 0x06054B50,       // 50 4B 05 06
    ZIP_MARKER_SIG = 0x30304B50,    // 50 4B 30 30, "PK00"
    ZIP64_END_SIG = 0x06064B50,     // 50 4B 06 06
    ZIP64_LOCATOR_SIG = 0x07064B50  // 50 4B 06 07
};

// Standard ZIP CRC-32 (initial all ones, final complement).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

// Whole-file read; throws Error naming the file.
Bytes ReadFile(const std::string& path);

// Writes data to path through a temporary file in the same folder that is
// renamed over path at the end, so a failure leaves no partial file.
void WriteFileAtomic(const std::string& path, const Bytes& data);

// Text of a byte string with C-style escapes for anything unprintable.
std::string Escape(const std::string& text);

std::string Hex32(std::uint32_t v);

}  // namespace tvsfx

#endif

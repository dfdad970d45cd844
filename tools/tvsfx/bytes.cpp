#include "bytes.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvsfx {

namespace fs = std::filesystem;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt chunk = size > std::numeric_limits<uInt>::max() ? std::numeric_limits<uInt>::max()
                                                            : static_cast<uInt>(size);
        crc = crc32(crc, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return static_cast<std::uint32_t>(crc);
}

Bytes ReadFile(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw Error("cannot read " + path + ": is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot open " + path + ": " + std::strerror(errno));
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Error("cannot read " + path);
    return data;
}

namespace {

mode_t CreationMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void WriteAll(int fd, const Bytes& data, const std::string& name) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error("cannot write " + name + ": " + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

void WriteFileAtomic(const std::string& path, const Bytes& data) {
    fs::path target(path);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::string tmpl = (dir / ("." + target.filename().string() + ".tmpXXXXXX")).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) throw Error("cannot create a file in " + dir.string() + ": " + std::strerror(errno));
    std::string tmp(name.data());
    try {
        WriteAll(fd, data, path);
        if (fchmod(fd, CreationMode()) != 0)
            throw Error("cannot set the mode of " + path + ": " + std::strerror(errno));
        if (close(fd) != 0) {
            fd = -1;
            throw Error("cannot write " + path + ": " + std::strerror(errno));
        }
        fd = -1;
        if (std::rename(tmp.c_str(), path.c_str()) != 0)
            throw Error("cannot create " + path + ": " + std::strerror(errno));
    } catch (...) {
        if (fd >= 0) close(fd);
        unlink(tmp.c_str());
        throw;
    }
}

std::string Escape(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += digits[c >> 4];
                out += digits[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string Hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", v);
    return buf;
}

}  // namespace tvsfx

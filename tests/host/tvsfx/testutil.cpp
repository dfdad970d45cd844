#include "testutil.h"

#include "cli.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

namespace tvsfxtest {

namespace fs = std::filesystem;

TempDir::TempDir() {
    char name[] = "/tmp/tvsfx-test-XXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
    path_ = name;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::List() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) { WriteBytes(path, Bytes(text.begin(), text.end())); }

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::uint16_t Le16(const Bytes& b, std::size_t pos) {
    return static_cast<std::uint16_t>(b.at(pos) | (b.at(pos + 1) << 8));
}

std::uint32_t Le32(const Bytes& b, std::size_t pos) {
    return static_cast<std::uint32_t>(Le16(b, pos)) | (static_cast<std::uint32_t>(Le16(b, pos + 2)) << 16);
}

void SetLe32(Bytes& b, std::size_t pos, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(pos + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

std::size_t FindEndRecord(const Bytes& zip) {
    for (std::size_t p = zip.size() >= 22 ? zip.size() - 22 : 0;; --p) {
        if (zip.size() >= 22 && Le32(zip, p) == 0x06054B50u && p + 22 + Le16(zip, p + 20) == zip.size()) return p;
        if (p == 0) throw std::runtime_error("no end record");
    }
}

std::uint32_t RefCrc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t r = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        r ^= data[i];
        for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    }
    return ~r;
}

const Bytes kSignature = {0x4B, 0x44, 0x52, 0x01, 0x73, 0x66, 0x78, 0x02};

std::vector<std::size_t> FindSig(const Bytes& data) {
    std::vector<std::size_t> found;
    for (auto it = data.begin();;) {
        it = std::search(it, data.end(), kSignature.begin(), kSignature.end());
        if (it == data.end()) break;
        found.push_back(static_cast<std::size_t>(it - data.begin()));
        ++it;
    }
    return found;
}

Bytes FakeStub::Make() const {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7);
    b[0] = 'M';
    b[1] = 'Z';
    SetLe32(b, 60, peOffset);
    if (peOffset + 4 <= size) std::memcpy(&b[peOffset], "PE\0\0", 4);
    if (sigPos + kSignature.size() <= size) {
        std::copy(kSignature.begin(), kSignature.end(), b.begin() + static_cast<std::ptrdiff_t>(sigPos));
        for (std::size_t i = sigPos + 8; i < sigPos + 56 && i < size; ++i) b[i] = 0xEE;
    }
    return b;
}

Bytes Deflate(const Bytes& data) {
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

Bytes Inflate(const Bytes& data) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    Bytes out;
    std::uint8_t buf[8192];
    int rc;
    do {
        zs.next_out = buf;
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
    } while (rc == Z_OK);
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("damaged deflate stream");
    return out;
}

namespace {

void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, static_cast<std::uint16_t>(v));
    Put16(b, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

Bytes MakeZip(const std::vector<ZipEntry>& entries, const std::string& comment) {
    Bytes out, central;
    for (const ZipEntry& e : entries) {
        Bytes packed = e.deflate ? Deflate(e.data) : e.data;
        std::uint32_t crc = RefCrc32(e.data.data(), e.data.size());
        std::uint16_t flags = e.descriptor != ZipEntry::NONE ? 0x8 : 0;
        std::uint16_t method = e.deflate ? 8 : 0;
        std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        bool zero = e.zeroLocalSizes;
        Put32(out, 0x04034B50);
        Put16(out, 20);
        Put16(out, flags);
        Put16(out, method);
        Put16(out, 0x6000);  // 12:00:00
        Put16(out, 0x5A21);  // 2025-01-01
        Put32(out, zero ? 0 : crc);
        Put32(out, zero ? 0 : static_cast<std::uint32_t>(packed.size()));
        Put32(out, zero ? 0 : static_cast<std::uint32_t>(e.data.size()));
        Put16(out, static_cast<std::uint16_t>(e.name.size()));
        Put16(out, 0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), packed.begin(), packed.end());
        if (e.descriptor == ZipEntry::WITH_SIGNATURE) Put32(out, 0x08074B50);
        if (e.descriptor != ZipEntry::NONE) {
            Put32(out, crc);
            Put32(out, static_cast<std::uint32_t>(packed.size()));
            Put32(out, static_cast<std::uint32_t>(e.data.size()));
        }
        out.insert(out.end(), e.gapAfter.begin(), e.gapAfter.end());

        Put32(central, 0x02014B50);
        Put16(central, 20);
        Put16(central, 20);
        Put16(central, flags);
        Put16(central, method);
        Put16(central, 0x6000);
        Put16(central, 0x5A21);
        Put32(central, crc);
        Put32(central, static_cast<std::uint32_t>(packed.size()));
        Put32(central, static_cast<std::uint32_t>(e.data.size()));
        Put16(central, static_cast<std::uint16_t>(e.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offset);
        central.insert(central.end(), e.name.begin(), e.name.end());
    }
    std::uint32_t cdOffset = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint16_t>(entries.size()));
    Put16(out, static_cast<std::uint16_t>(entries.size()));
    Put32(out, static_cast<std::uint32_t>(central.size()));
    Put32(out, cdOffset);
    Put16(out, static_cast<std::uint16_t>(comment.size()));
    out.insert(out.end(), comment.begin(), comment.end());
    return out;
}

int Shell(const std::string& command, std::string* output, int timeoutSeconds) {
    char name[] = "/tmp/tvsfx-shell-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    std::string quoted;
    for (char c : command) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    std::string full = "timeout -k 5 " + std::to_string(timeoutSeconds) + " sh -c '" + quoted + "' >" + name +
                       " 2>&1 </dev/null";
    int rc = std::system(full.c_str());
    if (output) {
        Bytes b = ReadBytes(name);
        output->assign(b.begin(), b.end());
    }
    unlink(name);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

CliResult Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = tvsfx::RunTvsfx(args, out, err);
    return {status, out.str(), err.str()};
}

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

}  // namespace tvsfxtest

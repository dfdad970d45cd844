// Fixtures for the package builder's tests: a temporary folder, a fake
// stub, hand-made ZIP archives, an independent CRC-32, and bounded runs of
// the command line and of external tools.
#ifndef TVSFX_TESTUTIL_H
#define TVSFX_TESTUTIL_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tvsfxtest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Names in the folder (not recursive), sorted, dot files included.
    std::vector<std::string> List() const;

private:
    std::string path_;
};

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& data);
void WriteText(const std::string& path, const std::string& text);
bool Exists(const std::string& path);

std::uint16_t Le16(const Bytes& b, std::size_t pos);
std::uint32_t Le32(const Bytes& b, std::size_t pos);
void SetLe32(Bytes& b, std::size_t pos, std::uint32_t v);

// Offset of the end-of-central-directory record: the last signature whose
// comment reaches exactly to the end of the data.
std::size_t FindEndRecord(const Bytes& zip);

// The stub's CRC-32, computed bit by bit, independent of zlib.
std::uint32_t RefCrc32(const std::uint8_t* data, std::size_t size);

extern const Bytes kSignature;

// Positions of the header signature in data.
std::vector<std::size_t> FindSig(const Bytes& data);

// A fake stub: "MZ", the PE pointer at offset 60, "PE\0\0", a byte
// pattern, and the header signature at sigPos followed by 48 bytes of 0xEE
// (so that every header field has to be written).
struct FakeStub {
    std::size_t size = 1024;
    std::size_t sigPos = 600;
    std::uint32_t peOffset = 64;
    Bytes Make() const;
};

// Raw deflate, best compression (the builder's configuration format).
Bytes Deflate(const Bytes& data);
// Raw inflate; throws std::runtime_error on a damaged stream.
Bytes Inflate(const Bytes& data);

// A small ZIP writer for archives that ordinary tools do not make.
struct ZipEntry {
    ZipEntry(std::string n, Bytes d, bool deflated = false) : name(std::move(n)), data(std::move(d)), deflate(deflated) {}
    std::string name;
    Bytes data;
    bool deflate = false;
    enum Descriptor { NONE, WITH_SIGNATURE, WITHOUT_SIGNATURE } descriptor = NONE;
    bool zeroLocalSizes = false;  // as a writer to a pipe leaves them
    Bytes gapAfter;               // stray bytes behind the record
};
Bytes MakeZip(const std::vector<ZipEntry>& entries, const std::string& comment = "");

// Runs a shell command with a time limit; returns its exit status and
// puts its combined output into *output when given.
int Shell(const std::string& command, std::string* output = nullptr, int timeoutSeconds = 60);

// Runs the tvsfx command line in-process.
struct CliResult {
    int status;
    std::string out;
    std::string err;
};
CliResult Cli(const std::vector<std::string>& args);

std::string Repeat(char c, std::size_t n);

}  // namespace tvsfxtest

#endif

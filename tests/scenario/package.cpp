#include "package.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "bedtext.h"
#include "sfxformat.h"

namespace pkg {

std::string Stub()
{
    return TVSE_WIN64_DIR "/stub/tvsestub.exe";
}

std::string Driver()
{
    return TVSE_WIN64_DIR "/tests/driver/tvsedriver.exe";
}

std::string Tvsfx()
{
    return TVSE_TVSFX;
}

std::string Fixture(const std::string &relative)
{
    return std::string(TVSE_FIXTURES) + "/" + relative;
}

std::string Sh(const std::string &word)
{
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int Shell(const std::string &command, std::string *output)
{
    std::string full = command + " 2>&1";
    FILE *pipe = popen(full.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    std::string text;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        text.append(chunk.data(), n);
    int status = pclose(pipe);
    if (output != nullptr)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Build(const std::string &out, const std::string &archive, const std::vector<std::string> &options)
{
    std::string command = Sh(Tvsfx()) + " build --stub " + Sh(Stub()) + " --archive " + Sh(archive) + " -o " + Sh(out);
    for (const auto &o : options)
        command += " " + Sh(o);
    std::string output;
    if (Shell(command, &output) != 0) {
        ADD_FAILURE() << "tvsfx refused: " << command << "\n" << output;
        throw std::runtime_error("tvsfx build failed");
    }
    return out;
}

std::string SmallZip(const std::string &folder)
{
    const std::string zip = folder + "/small.zip";
    std::string output;
    if (Shell("cd " + Sh(Fixture("tree")) + " && zip -q -X " + Sh(zip) + " readme.txt", &output) != 0)
        throw std::runtime_error("zip failed: " + output);
    return zip;
}

Bytes Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
}

size_t HeaderAt(const Bytes &package)
{
    const uint8_t signature[] = {SFX_SIGNATURE_BYTES};
    for (size_t at = 0; at + HDR_SIZE <= package.size(); at++)
        if (std::equal(signature, signature + SFX_SIGNATURE_SIZE, package.begin() + (long)at))
            return at;
    throw std::runtime_error("no stub header");
}

uint32_t U32(const Bytes &b, size_t at)
{
    return (uint32_t)b.at(at) | (uint32_t)b.at(at + 1) << 8 | (uint32_t)b.at(at + 2) << 16 |
           (uint32_t)b.at(at + 3) << 24;
}

void PutU32(Bytes &b, size_t at, uint32_t value)
{
    for (int k = 0; k < 4; k++)
        b.at(at + k) = (uint8_t)(value >> (8 * k));
}

void Reseal(Bytes &package)
{
    size_t header = HeaderAt(package);
    PutU32(package, header + HDR_SELF_CRC, 0);
    uint32_t length = U32(package, header + HDR_ARCHIVE_OFFSET);
    uint32_t start = 0;
    if (U32(package, header + HDR_SFX_FLAGS) & SFX_CHECK_AFTER_HEADERS)
        start = U32(package, PE_POINTER_OFFSET) + PE_HEADERS_SIZE;
    uLong crc = crc32(0, package.data() + start, length - start);
    PutU32(package, header + HDR_SELF_CRC, (uint32_t)crc);
}

void SetField(Bytes &package, size_t field, uint32_t value, bool reseal)
{
    PutU32(package, HeaderAt(package) + field, value);
    if (reseal)
        Reseal(package);
}

const char *const Caption = "Tarvex Self-Extractor";
const char *const HeaderCorrupt =
    "Tarvex Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error";
const char *const OkOnly = "OK:\"OK\" default=OK";
const char *const YesNo = "Yes:\"&Yes\" No:\"&No\" default=Yes";
const char *const OkCancel = "OK:\"OK\" Cancel:\"Cancel\" default=OK";
const char *const AbortRetryIgnore = "Abort:\"&Abort\" Retry:\"&Retry\" Ignore:\"&Ignore\" default=Abort";
const char *const YesNoCancel = "Yes:\"&Yes\" No:\"&No\" Cancel:\"Cancel\" default=Yes";

std::string Box(int number, const std::string &icon, const std::string &text, const std::string &buttons,
                const std::string &press, const std::string &caption, bool sync)
{
    return "box " + std::to_string(number) + " caption=" + bedtext::Quote(caption) + " icon=" + icon +
           " owner=none\n  text=" + bedtext::Quote(text) + "\n  buttons=" + buttons + "\n" + (sync ? "  sync\n" : "") +
           "  press=" + press + "\n";
}

winebed::RunResult Run(const std::string &program, const std::string &tail,
                       const std::vector<winebed::Answer> &answers,
                       const std::vector<std::pair<std::string, std::optional<std::string>>> &env)
{
    winebed::RunSpec spec;
    spec.program = program;
    spec.tail = tail;
    spec.answers = answers;
    spec.env = env;
    return winebed::RunUnderWine(spec);
}

}  // namespace pkg

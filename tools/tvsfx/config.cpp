#include "config.h"

#include "sfxformat.h"

#include <zlib.h>

#include <cstring>

namespace tvsfx {

const std::array<ConfigStringInfo, CFG_COUNT> kConfigStrings = {{
    {"info", "information text", INFO_TEXT_SIZE},
    {"command", "setup command", COMMAND_TEXT_SIZE},
    {"string3", "string 3", 0},
    {"string4", "string 4", 0},
    {"description", "description", DESCRIPTION_TEXT_SIZE},
    {"caption", "caption", CUSTOM_CAPTION_SIZE},
    {"startup", "start-up message", STARTUP_TEXT_SIZE},
    {"info-switch", "-info text", INFO_SWITCH_TEXT_SIZE},
}};

Bytes JoinConfigStrings(const ConfigTexts& texts) {
    Bytes out;
    for (const std::string& s : texts) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    return out;
}

Bytes DeflateRaw(const Bytes& data) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Error("zlib: deflateInit2 failed");
    Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    std::size_t produced = zs.total_out;
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw Error("zlib: deflate did not finish");
    out.resize(produced);
    return out;
}

InflateResult InflateRaw(const std::uint8_t* data, std::size_t size, std::size_t limit) {
    InflateResult r;
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit2(&zs, -15) != Z_OK) {
        r.error = "inflateInit2 failed";
        return r;
    }
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(size);
    std::uint8_t buf[4096];
    int rc = Z_OK;
    while (true) {
        zs.next_out = buf;
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        std::size_t got = sizeof buf - zs.avail_out;
        r.data.insert(r.data.end(), buf, buf + got);
        if (r.data.size() > limit) {
            r.data.resize(limit);
            r.error = "inflates to more than " + std::to_string(limit) + " bytes";
            break;
        }
        if (rc == Z_STREAM_END) {
            r.complete = true;
            r.unusedInput = zs.avail_in;
            break;
        }
        if (rc == Z_BUF_ERROR || (rc == Z_OK && zs.avail_in == 0 && got == 0)) {
            r.error = "the deflate stream ends early";
            break;
        }
        if (rc != Z_OK) {
            r.error = zs.msg ? zs.msg : "damaged deflate stream";
            break;
        }
    }
    inflateEnd(&zs);
    return r;
}

Bytes MakeConfigBlock(const ConfigTexts& texts, bool hasCaption) {
    for (std::size_t i = 0; i < CFG_COUNT; ++i) {
        const ConfigStringInfo& info = kConfigStrings[i];
        if (texts[i].find('\0') != std::string::npos)
            throw Error("the " + std::string(info.what) + " contains a NUL byte");
        if (info.limit != 0 && texts[i].size() + 1 > info.limit)
            throw Error("the " + std::string(info.what) + " (--" + info.option + ") has " +
                        std::to_string(texts[i].size()) + " characters; at most " +
                        std::to_string(info.limit - 1) + " fit");
    }
    if (!hasCaption && !texts[CFG_CAPTION].empty())
        throw Error("a caption needs SFX_HAS_CAPTION (--has-caption)");
    Bytes plain = JoinConfigStrings(texts);
    if (plain.size() > CONFIG_MAX_INFLATED)
        throw Error("the configuration strings take " + std::to_string(plain.size()) +
                    " bytes with their NULs; at most " + std::to_string(CONFIG_MAX_INFLATED) +
                    " fit");
    Bytes packed = DeflateRaw(plain);
    if (packed.size() > CONFIG_MAX_PACKED)
        throw Error("the configuration block compresses to " + std::to_string(packed.size()) +
                    " bytes; at most " + std::to_string(CONFIG_MAX_PACKED) + " fit");
    return packed;
}

ConfigReadBack ReadConfigBlock(const std::uint8_t* data, std::size_t size, bool hasCaption) {
    ConfigReadBack r;
    if (size > CONFIG_MAX_PACKED)
        r.problems.push_back("the block has " + std::to_string(size) + " bytes; at most " +
                             std::to_string(CONFIG_MAX_PACKED) + " are read");
    InflateResult inf = InflateRaw(data, size, 1 << 20);
    r.inflated = inf.data;
    if (!inf.error.empty()) r.problems.push_back("the block does not inflate: " + inf.error);
    if (r.inflated.size() > CONFIG_MAX_INFLATED)
        r.problems.push_back("the block inflates to " + std::to_string(r.inflated.size()) +
                             " bytes; at most " + std::to_string(CONFIG_MAX_INFLATED) + " fit");
    std::size_t pos = 0;
    while (r.stringCount < CFG_COUNT && pos < r.inflated.size()) {
        const std::uint8_t* start = r.inflated.data() + pos;
        const void* nul = std::memchr(start, 0, r.inflated.size() - pos);
        if (!nul) break;
        std::size_t len = static_cast<const std::uint8_t*>(nul) - start;
        r.texts[r.stringCount].assign(reinterpret_cast<const char*>(start), len);
        pos += len + 1;
        ++r.stringCount;
    }
    if (r.stringCount < CFG_COUNT)
        r.problems.push_back("the block holds " + std::to_string(r.stringCount) +
                             " complete strings instead of " + std::to_string(CFG_COUNT));
    else
        r.trailingBytes = r.inflated.size() - pos;
    for (std::size_t i = 0; i < r.stringCount; ++i) {
        const ConfigStringInfo& info = kConfigStrings[i];
        if (info.limit != 0 && r.texts[i].size() + 1 > info.limit)
            r.problems.push_back("the " + std::string(info.what) + " has " +
                                 std::to_string(r.texts[i].size()) + " characters; at most " +
                                 std::to_string(info.limit - 1) + " fit");
    }
    if (!hasCaption && r.stringCount > CFG_CAPTION && !r.texts[CFG_CAPTION].empty())
        r.problems.push_back("the caption is not empty but SFX_HAS_CAPTION is clear");
    return r;
}

}  // namespace tvsfx

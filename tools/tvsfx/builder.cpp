#include "builder.h"

#include "sfxformat.h"
#include "span.h"
#include "ziparchive.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace tvsfx {

namespace fs = std::filesystem;

namespace {

enum : std::uint64_t { MAX_FILE = 0xFFFFFFFFu };
enum { MAX_NAME = 263, MAX_DISKS = 999 };

std::string Num(std::uint64_t v) { return std::to_string(v); }

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

std::size_t FindStubHeader(const Bytes& stub) {
    std::vector<std::size_t> sigs = FindSignatures(stub.data(), stub.size());
    if (sigs.empty()) throw Error("the stub has no header signature (4B 44 52 01 73 66 78 02)");
    if (sigs.size() > 1) {
        std::string where;
        for (std::size_t s : sigs) where += (where.empty() ? "" : ", ") + Num(s);
        throw Error("the stub holds the header signature " + Num(sigs.size()) + " times (at offsets " + where +
                    "); it must occur exactly once");
    }
    if (stub.size() - sigs[0] < HDR_SIZE)
        throw Error("the stub header at offset " + Num(sigs[0]) + " is cut off by the end of the stub");
    return sigs[0];
}

Bytes MakeBlock(const BuildOptions& o, std::uint32_t flags) {
    bool anyText = std::any_of(o.texts.begin(), o.texts.end(), [](const std::string& s) { return !s.empty(); });
    if (o.testConfigRaw && o.testConfigInflated)
        throw Error("give only one of --test-config-raw and --test-config-inflated");
    bool testBlock = o.testConfigRaw || o.testConfigInflated;
    if (o.noConfig && (anyText || testBlock))
        throw Error("--no-config leaves no configuration block for strings or a test block");
    if (testBlock && anyText)
        throw Error("a test configuration block replaces the configuration strings; give one or the other");
    if (o.noConfig) return Bytes();
    if (o.testConfigRaw) return *o.testConfigRaw;
    if (o.testConfigInflated) return DeflateRaw(*o.testConfigInflated);
    return MakeConfigBlock(o.texts, (flags & SFX_HAS_CAPTION) != 0);
}

void CollectWarnings(const ZipArchive& zip, const BuildOptions& o, std::uint32_t flags,
                     std::vector<std::string>& out) {
    bool anyEncrypted = false;
    for (const ZipMember& m : zip.members) {
        if (m.Encrypted()) anyEncrypted = true;
        if (m.method != 0 && m.method != 8 && m.compressedSize != 0 && !m.IsFolder())
            out.push_back(m.name + " uses compression method " + Num(m.method) +
                          "; the extractor unpacks only stored (0) and deflated (8) members");
        if (m.localFlags & 0x40) out.push_back(m.name + " uses strong encryption, which the extractor cannot decrypt");
        if (m.name.size() > MAX_NAME)
            out.push_back("the name of " + m.name.substr(0, 40) + "... has " + Num(m.name.size()) +
                          " bytes; the extractor takes at most " + Num(MAX_NAME));
    }
    if (anyEncrypted && !(flags & SFX_PASSWORD))
        out.push_back("the archive holds encrypted members but SFX_PASSWORD (--password) is clear: "
                      "no password will be asked for");
    if (!anyEncrypted && (flags & SFX_PASSWORD))
        out.push_back("SFX_PASSWORD is set but no member is encrypted");
    if (!o.waitProgram.empty() && !(flags & SFX_WAIT_FOR_PROGRAM))
        out.push_back("--wait-program without SFX_WAIT_FOR_PROGRAM (--wait-for-program): the stub will not wait for it");
    if (zip.TotalUnpacked64() > 0xFFFFFFFFu)
        out.push_back("the members unpack to " + Num(zip.TotalUnpacked64()) +
                      " bytes; TotalUnpacked holds 4294967295");
}

void FinishHeader(BuildResult& r, std::size_t hdr, StubHeader h, const BuildOptions& o) {
    h.selfCrc = 0;
    WriteHeader(r.exe, hdr, h);
    if (!o.noCrc) {
        h.selfCrc = ComputeSelfCrc(r.exe, h.archiveOffset, h.sfxFlags);
        WriteHeader(r.exe, hdr, h);
    }
    r.headerPos = hdr;
    r.header = ReadHeader(r.exe, hdr);
}

// The archive as one stream for a spanned set: the spanning signature, the
// local records, the central directory and the end record.  `shift` maps
// an offset in the input archive to the stream.
struct SpanStream {
    Bytes bytes;
    std::ptrdiff_t shift = 0;
    std::vector<Region> regions;
};

SpanStream MakeSpanStream(const Bytes& zip, const ZipArchive& za) {
    SpanStream s;
    s.bytes.assign(4 + (zip.size() - za.firstLocal), 0);
    Put32(s.bytes, 0, ZIP_SPAN_SIG);
    std::copy(zip.begin() + static_cast<std::ptrdiff_t>(za.firstLocal), zip.end(), s.bytes.begin() + 4);
    s.shift = 4 - static_cast<std::ptrdiff_t>(za.firstLocal);
    auto at = [&](std::size_t zipPos) { return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(zipPos) + s.shift); };

    std::size_t pos = 0;
    auto add = [&](std::size_t end, RegionKind kind, const std::string& what) {
        if (end > pos) s.regions.push_back({pos, end, kind, what});
        pos = std::max(pos, end);
    };
    add(4, RegionKind::Whole, "the spanning signature");
    for (std::size_t idx : za.fileOrder) {
        const ZipMember& m = za.members[idx];
        std::size_t local = at(m.localPos);
        add(local, RegionKind::Whole, "a spanning marker");
        std::size_t head = local + m.localLen;
        std::size_t dataEnd = at(m.dataEnd);
        if (m.IsFolder() && m.uncompressedSize == 0)
            head = dataEnd;  // skipped as a whole, never read in chunks
        else if (m.Encrypted())
            head += ZIP_ENCRYPTION_HEADER;
        add(head, RegionKind::Whole, "the local header of " + m.name);
        add(dataEnd, RegionKind::Data, "the data of " + m.name);
        add(at(m.recordEnd), RegionKind::Descriptor, "the data descriptor of " + m.name);
    }
    add(at(za.centralPos), RegionKind::Whole, "a spanning marker");
    for (const ZipMember& m : za.members)
        add(at(m.centralPos + m.centralLen), RegionKind::Whole, "the central directory entry of " + m.name);
    add(s.bytes.size(), RegionKind::Whole, "the end record");
    // A first volume with nothing but the spanning signature would be of
    // no use: the signature goes with the record behind it.
    if (s.regions.size() > 1) {
        s.regions[1].begin = 0;
        s.regions.erase(s.regions.begin());
    }
    return s;
}

void BuildSpanned(BuildResult& r, const Bytes& zip, const ZipArchive& za, std::size_t archiveOffset,
                  const BuildOptions& o, std::uint32_t flags) {
    const bool volumeExe = (flags & SFX_VOLUME_EXE) != 0;
    const std::string zipName = VolumeFileName(o.exeName, false);
    const std::string volName = VolumeFileName(o.exeName, volumeExe);
    if (!volumeExe && SameNameIgnoringCase(zipName, o.exeName))
        throw Error("the executable name " + o.exeName + " leaves no separate name for the volume files");

    SpanStream s = MakeSpanStream(zip, za);
    std::vector<std::uint64_t> caps = o.spanSizes;
    for (std::size_t i = 0; i < caps.size(); ++i)
        if (caps[i] == 0) throw Error("volume " + Num(i + 1) + " has size 0");
    if (volumeExe) {
        if (caps[0] <= archiveOffset)
            throw Error("volume 1 (" + Num(caps[0]) + " bytes) leaves no room for the archive behind the stub and "
                        "the configuration block (" + Num(archiveOffset) + " bytes)");
        caps[0] -= archiveOffset;
    }
    std::vector<std::size_t> ends = PlanVolumes(s.regions, s.bytes.size(), caps);
    if (ends.size() > MAX_DISKS)
        throw Error("the set would need " + Num(ends.size()) + " disks; labels number at most " + Num(MAX_DISKS));

    auto volumeOf = [&](std::size_t pos) {
        return static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), pos) - ends.begin());
    };
    auto volumeStart = [&](std::size_t v) { return v == 0 ? std::size_t(0) : ends[v - 1]; };
    auto fileOffset = [&](std::size_t pos) -> std::uint32_t {
        std::size_t v = volumeOf(pos);
        std::uint64_t off = pos - volumeStart(v) + (v == 0 && volumeExe ? archiveOffset : 0);
        return static_cast<std::uint32_t>(off);
    };
    auto at = [&](std::size_t zipPos) { return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(zipPos) + s.shift); };

    for (const ZipMember& m : za.members) {
        std::size_t cd = at(m.centralPos), local = at(m.localPos);
        Put16(s.bytes, cd + 34, static_cast<std::uint16_t>(volumeOf(local)));
        Put32(s.bytes, cd + 42, fileOffset(local));
    }
    std::size_t end = at(za.endPos), cdStart = at(za.centralPos);
    std::size_t endVolume = volumeOf(end);
    std::uint16_t entriesHere = 0;
    for (const ZipMember& m : za.members)
        if (volumeOf(at(m.centralPos)) == endVolume) ++entriesHere;
    Put16(s.bytes, end + 4, static_cast<std::uint16_t>(endVolume));
    Put16(s.bytes, end + 6, static_cast<std::uint16_t>(volumeOf(cdStart)));
    Put16(s.bytes, end + 8, entriesHere);
    Put32(s.bytes, end + 16, fileOffset(cdStart));

    for (std::size_t v = 0; v < ends.size(); ++v) {
        Bytes part(s.bytes.begin() + static_cast<std::ptrdiff_t>(volumeStart(v)),
                   s.bytes.begin() + static_cast<std::ptrdiff_t>(ends[v]));
        Disk disk;
        disk.label = VolumeLabel(static_cast<unsigned>(v + 1));
        if (v == 0) {
            if (volumeExe) {
                Append(r.exe, part);
                if (r.exe.size() > MAX_FILE) throw Error("the executable would exceed 4 GiB");
                disk.files.push_back({o.exeName, Bytes()});  // filled in once the header is final
            } else {
                disk.files.push_back({o.exeName, Bytes()});
                disk.files.push_back({zipName, std::move(part)});
            }
        } else {
            disk.files.push_back({volName, std::move(part)});
        }
        r.disks.push_back(std::move(disk));
    }
}

}  // namespace

std::string VolumeLabel(unsigned disk) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s %03u", SPAN_LABEL_PREFIX, disk);
    return buf;
}

std::string VolumeFileName(const std::string& exeName, bool exeNaming) {
    std::size_t dot = exeName.rfind('.');
    if (dot == std::string::npos)
        throw Error("the executable name " + exeName + " has no \".\"; the volume names replace its extension");
    return exeName.substr(0, dot) + (exeNaming ? ".EXE" : ".ZIP");
}

BuildResult BuildPackage(const Bytes& stub, const Bytes& zipIn, const BuildOptions& o) {
    BuildResult r;
    const std::size_t hdr = FindStubHeader(stub);

    if (o.waitProgram.find('\0') != std::string::npos) throw Error("the wait program name contains a NUL byte");
    if (o.waitProgram.size() > WAIT_PROGRAM_SIZE - 1)
        throw Error("the wait program name \"" + o.waitProgram + "\" has " + Num(o.waitProgram.size()) +
                    " characters; at most " + Num(WAIT_PROGRAM_SIZE - 1) + " fit");

    std::uint32_t flags = o.flags;
    if (!o.texts[CFG_CAPTION].empty()) flags |= SFX_HAS_CAPTION;
    const bool spanned = !o.spanSizes.empty();
    if (spanned) flags |= SFX_SPANNED;

    Bytes block = MakeBlock(o, flags);

    Bytes zip = zipIn;
    ZipParseOptions po;
    po.label = "the archive";
    ZipArchive za = ParseZip(zip, po);
    NormalizeLocalHeaders(zip, za);
    CollectWarnings(za, o, flags, r.warnings);

    r.exe = stub;
    Append(r.exe, block);
    const std::size_t archiveOffset = r.exe.size();

    StubHeader h;
    h.archiveOffset = static_cast<std::uint32_t>(archiveOffset);
    h.configOffset = o.noConfig ? 0 : static_cast<std::uint32_t>(stub.size());
    h.totalUnpacked = za.TotalUnpacked();
    h.sfxFlags = flags;
    std::copy(o.waitProgram.begin(), o.waitProgram.end(), h.waitProgram.begin());
    h.completeMark = o.incomplete ? 0 : 1;

    if (!spanned) {
        if (archiveOffset + zip.size() > MAX_FILE) throw Error("the package would exceed 4 GiB");
        for (const ZipMember& m : za.members)
            Put32(zip, m.centralPos + 42, static_cast<std::uint32_t>(Get32(zip, m.centralPos + 42) + archiveOffset));
        Put32(zip, za.endPos + 16, static_cast<std::uint32_t>(Get32(zip, za.endPos + 16) + archiveOffset));
        Append(r.exe, zip);
        h.endRecordOffset = static_cast<std::uint32_t>(archiveOffset + za.endPos);
        FinishHeader(r, hdr, h, o);
        return r;
    }

    if (archiveOffset > MAX_FILE) throw Error("the executable would exceed 4 GiB");
    BuildSpanned(r, zip, za, archiveOffset, o, flags);
    h.endRecordOffset = 0;  // never probed for a spanned package
    FinishHeader(r, hdr, h, o);
    r.disks[0].files[0].data = r.exe;
    return r;
}

namespace {

void WriteFilePlain(const fs::path& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) throw Error("cannot write " + path.string() + ": " + std::strerror(errno));
}

}  // namespace

void WriteSpannedSet(const std::string& dir, const std::vector<Disk>& disks) {
    fs::path target(dir);
    while (!target.empty() && !target.has_filename()) target = target.parent_path();  // "out/" -> "out"
    std::error_code ec;
    if (fs::exists(target, ec)) {
        if (!fs::is_directory(target, ec)) throw Error(dir + " exists and is not a folder");
        if (!fs::is_empty(target, ec)) throw Error(dir + " exists and is not empty");
    }
    fs::path parent = target.parent_path();
    if (parent.empty()) parent = ".";
    if (!fs::is_directory(parent, ec)) throw Error("the folder " + parent.string() + " does not exist");

    std::string tmpl = (parent / ("." + target.filename().string() + ".tmpXXXXXX")).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) throw Error("cannot create a folder in " + parent.string() + ": " + std::strerror(errno));
    fs::path tmp(name.data());
    try {
        mode_t mask = umask(0);
        umask(mask);
        if (chmod(tmp.c_str(), 0777 & ~mask) != 0) throw Error("cannot set the mode of " + tmp.string());
        for (std::size_t i = 0; i < disks.size(); ++i) {
            fs::path sub = tmp / ("disk" + Num(i + 1));
            if (!fs::create_directory(sub, ec)) throw Error("cannot create " + sub.string() + ": " + ec.message());
            for (const OutputFile& f : disks[i].files) WriteFilePlain(sub / f.name, f.data);
            const std::string& label = disks[i].label;
            WriteFilePlain(sub / ".windows-label", Bytes(label.begin(), label.end()));
        }
        if (std::rename(tmp.c_str(), target.c_str()) != 0)
            throw Error("cannot create " + dir + ": " + std::strerror(errno));
    } catch (...) {
        fs::remove_all(tmp, ec);
        throw;
    }
}

}  // namespace tvsfx

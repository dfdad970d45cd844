#include "ziparchive.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

namespace tvsfx {

namespace {

std::string Num(std::size_t v) { return std::to_string(v); }

// True when an extra field carries a ZIP64 record (header id 1).
bool HasZip64Extra(const Bytes& d, std::size_t pos, std::size_t len) {
    std::size_t p = pos, end = pos + len;
    while (end - p >= 4) {
        std::uint16_t id = Get16(d, p);
        std::uint16_t size = Get16(d, p + 2);
        if (id == 0x0001) return true;
        if (end - p - 4 < size) break;
        p += 4 + size;
    }
    return false;
}

[[noreturn]] void Zip64(const std::string& label) {
    throw Error(label + " is a ZIP64 archive; a package needs a plain ZIP archive");
}

[[noreturn]] void Inconsistent(const std::string& label, const std::string& why) {
    throw Error(label + ": inconsistent central directory: " + why);
}

[[noreturn]] void Unwalkable(const std::string& label, const std::string& why) {
    throw Error(label + ": the extractor cannot walk this archive: " + why);
}

std::size_t FindEndRecord(const Bytes& d, std::size_t from, const std::string& label) {
    std::size_t n = d.size();
    if (n < from || n - from < ZIP_END_SIZE)
        throw Error(label + " is not a ZIP file: no end-of-central-directory record");
    std::size_t last = n - ZIP_END_SIZE;
    std::size_t lowest = last - std::min<std::size_t>(last - from, 0xFFFF);
    for (std::size_t pos = last;; --pos) {
        if (Get32(d, pos) == ZIP_END_SIG && pos + ZIP_END_SIZE + Get16(d, pos + 20) == n) return pos;
        if (pos == lowest) break;
    }
    throw Error(label + " is not a ZIP file: no end-of-central-directory record");
}

}  // namespace

std::uint64_t ZipArchive::TotalUnpacked64() const {
    std::uint64_t sum = 0;
    for (const ZipMember& m : members) sum += m.uncompressedSize;
    return sum;
}

std::uint32_t ZipArchive::TotalUnpacked() const {
    std::uint64_t sum = TotalUnpacked64();
    return sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(sum);
}

ZipArchive ParseZip(const Bytes& d, const ZipParseOptions& o) {
    const std::string& label = o.label;
    ZipArchive z;
    z.archiveStart = o.archiveStart;
    const std::size_t disks = o.diskBase.size();

    // End record.
    std::size_t end = FindEndRecord(d, o.archiveStart, label);
    if (end >= 20 && Get32(d, end - 20) == ZIP64_LOCATOR_SIG) Zip64(label);
    z.endPos = end;
    z.endLen = ZIP_END_SIZE + Get16(d, end + 20);
    z.endDisk = Get16(d, end + 4);
    z.centralDisk = Get16(d, end + 6);
    std::uint16_t entriesHere = Get16(d, end + 8);
    std::uint16_t entries = Get16(d, end + 10);
    std::uint32_t cdSize = Get32(d, end + 12);
    std::uint32_t cdOffset = Get32(d, end + 16);
    if (cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) Zip64(label);
    if (disks == 1) {
        if (z.endDisk != 0 || z.centralDisk != 0 || entriesHere != entries)
            throw Error(label + " is one volume of a split or spanned archive; give a single-file archive");
    } else {
        if (z.endDisk != disks - 1)
            Inconsistent(label, "the end record names disk " + Num(z.endDisk + 1u) + " as its own, but it lies on disk " + Num(disks));
        if (z.centralDisk >= disks)
            Inconsistent(label, "the central directory starts on disk " + Num(z.centralDisk + 1u) + " of " + Num(disks));
    }
    std::size_t cdPos = (disks == 1 ? 0 : o.diskBase[z.centralDisk]) + cdOffset;
    if (cdPos < o.archiveStart || cdPos > end || end - cdPos != cdSize)
        Inconsistent(label, "the central directory (offset " + Num(cdOffset) + ", " + Num(cdSize) +
                                " bytes) does not end where the end record begins");
    z.centralPos = cdPos;
    z.centralSize = cdSize;

    // Central directory.
    std::size_t p = cdPos;
    for (std::size_t i = 0; i < entries; ++i) {
        if (end - p < ZIP_CENTRAL_SIZE || Get32(d, p) != ZIP_CENTRAL_SIG)
            Inconsistent(label, "entry " + Num(i + 1) + " of " + Num(entries) + " is missing at offset " + Num(p));
        ZipMember m;
        m.centralPos = p;
        m.centralFlags = Get16(d, p + 8);
        m.method = Get16(d, p + 10);
        m.crc = Get32(d, p + 16);
        m.compressedSize = Get32(d, p + 20);
        m.uncompressedSize = Get32(d, p + 24);
        std::size_t nameLen = Get16(d, p + 28), extraLen = Get16(d, p + 30), commentLen = Get16(d, p + 32);
        m.disk = Get16(d, p + 34);
        std::uint32_t localOffset = Get32(d, p + 42);
        m.centralLen = ZIP_CENTRAL_SIZE + nameLen + extraLen + commentLen;
        if (end - p < m.centralLen)
            Inconsistent(label, "entry " + Num(i + 1) + " runs past the end of the central directory");
        m.name.assign(reinterpret_cast<const char*>(d.data() + p + ZIP_CENTRAL_SIZE), nameLen);
        if (m.compressedSize == 0xFFFFFFFFu || m.uncompressedSize == 0xFFFFFFFFu ||
            localOffset == 0xFFFFFFFFu || m.disk == 0xFFFF ||
            HasZip64Extra(d, p + ZIP_CENTRAL_SIZE + nameLen, extraLen))
            Zip64(label);
        if (m.disk >= disks) {
            if (disks == 1)
                throw Error(label + " is one volume of a split or spanned archive; give a single-file archive");
            Inconsistent(label, "member " + m.name + " starts on disk " + Num(m.disk + 1u) + " of " + Num(disks));
        }
        m.localPos = o.diskBase[m.disk] + localOffset;
        z.members.push_back(m);
        p += m.centralLen;
    }
    if (p != end)
        Inconsistent(label, "the central directory holds more than the " + Num(entries) +
                                " entries that the end record counts");

    // Local records, one after another, as the extractor walks them.
    z.fileOrder.resize(z.members.size());
    std::iota(z.fileOrder.begin(), z.fileOrder.end(), 0);
    std::stable_sort(z.fileOrder.begin(), z.fileOrder.end(),
                     [&](std::size_t a, std::size_t b) { return z.members[a].localPos < z.members[b].localPos; });
    p = o.archiveStart;
    if (o.spanned) {
        if (!HasSig(d, p, ZIP_SPAN_SIG)) Unwalkable(label, "it does not begin with the spanning signature");
        p += 4;
    } else if (HasSig(d, p, ZIP_SPAN_SIG)) {
        throw Error(label + " begins with the spanning signature: it is the first volume of a spanned archive; give a single-file archive");
    }
    auto skipMarkers = [&] {
        while (p + 4 <= cdPos && Get32(d, p) == ZIP_MARKER_SIG) p += 4;
    };
    skipMarkers();
    z.firstLocal = p;
    for (std::size_t idx : z.fileOrder) {
        ZipMember& m = z.members[idx];
        skipMarkers();
        if (m.localPos < p)
            Unwalkable(label, "the local header of " + m.name + " (offset " + Num(m.localPos) +
                                  ") lies inside the record before it");
        if (m.localPos > p)
            Unwalkable(label, "unexpected bytes at offset " + Num(p) + ", before the local header of " +
                                  m.name + " at offset " + Num(m.localPos));
        if (cdPos - p < ZIP_LOCAL_SIZE || Get32(d, p) != ZIP_LOCAL_SIG)
            Inconsistent(label, "no local header for " + m.name + " at offset " + Num(p));
        m.localFlags = Get16(d, p + 6);
        std::size_t nameLen = Get16(d, p + 26), extraLen = Get16(d, p + 28);
        m.localLen = ZIP_LOCAL_SIZE + nameLen + extraLen;
        if (cdPos - p < m.localLen)
            Inconsistent(label, "the local header of " + m.name + " runs into the central directory");
        if (nameLen != m.name.size() ||
            std::memcmp(m.name.data(), d.data() + p + ZIP_LOCAL_SIZE, nameLen) != 0)
            Inconsistent(label, "the local header at offset " + Num(p) + " does not name " + m.name);
        if (HasZip64Extra(d, p + ZIP_LOCAL_SIZE + nameLen, extraLen)) Zip64(label);
        std::size_t dataStart = p + m.localLen;
        if (cdPos - dataStart < m.compressedSize)
            Inconsistent(label, "the data of " + m.name + " runs into the central directory");
        if (m.Encrypted() && m.compressedSize < ZIP_ENCRYPTION_HEADER)
            Inconsistent(label, m.name + " is encrypted but has fewer than 12 bytes of data");
        m.dataEnd = dataStart + m.compressedSize;
        m.recordEnd = m.dataEnd;
        if (m.HasDescriptor()) {
            if (cdPos - m.dataEnd < ZIP_DESCRIPTOR_SIZE || Get32(d, m.dataEnd) != ZIP_SPAN_SIG)
                Unwalkable(label, "the data descriptor of " + m.name +
                                      " is not a 16-byte descriptor with its signature");
            m.recordEnd += ZIP_DESCRIPTOR_SIZE;
        }
        p = m.recordEnd;
    }
    skipMarkers();
    if (p != cdPos)
        Unwalkable(label, "unexpected bytes at offset " + Num(p) + ", before the central directory at offset " +
                              Num(cdPos));
    return z;
}

void NormalizeLocalHeaders(Bytes& d, const ZipArchive& z) {
    for (const ZipMember& m : z.members) {
        Put32(d, m.localPos + 14, m.crc);
        Put32(d, m.localPos + 18, m.compressedSize);
        Put32(d, m.localPos + 22, m.uncompressedSize);
    }
}

std::vector<std::string> LocalHeaderMismatches(const Bytes& d, const ZipArchive& z) {
    std::vector<std::string> out;
    for (const ZipMember& m : z.members) {
        std::uint32_t crc = Get32(d, m.localPos + 14), cs = Get32(d, m.localPos + 18), us = Get32(d, m.localPos + 22);
        if (crc != m.crc || cs != m.compressedSize || us != m.uncompressedSize)
            out.push_back(m.name + ": local header has CRC " + Hex32(crc) + ", sizes " + Num(cs) + "/" + Num(us) +
                          "; central directory has " + Hex32(m.crc) + ", " + Num(m.compressedSize) + "/" +
                          Num(m.uncompressedSize));
    }
    return out;
}

}  // namespace tvsfx

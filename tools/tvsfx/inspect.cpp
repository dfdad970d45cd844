#include "inspect.h"

#include "builder.h"
#include "config.h"
#include "header.h"
#include "sfxformat.h"
#include "ziparchive.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace tvsfx {

namespace fs = std::filesystem;

namespace {

std::string Num(std::uint64_t v) { return std::to_string(v); }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class Checker {
public:
    explicit Checker(std::ostream& out) : out_(out) {}
    void Ok(const std::string& what) { out_ << "  ok: " << what << "\n"; }
    void Note(const std::string& what) { out_ << "  note: " << what << "\n"; }
    void Fail(const std::string& what) {
        out_ << "  FAILED: " << what << "\n";
        ++failures_;
    }
    int failures() const { return failures_; }

private:
    std::ostream& out_;
    int failures_ = 0;
};

void PrintHeader(std::ostream& out, const StubHeader& h, std::size_t pos) {
    char line[160];
    out << "header at offset " << pos << ":\n";
    std::snprintf(line, sizeof line, "  %-16s %s\n", "SelfCrc", Hex32(h.selfCrc).c_str());
    out << line;
    const std::pair<const char*, std::uint32_t> fields[] = {
        {"ArchiveOffset", h.archiveOffset},
        {"ConfigOffset", h.configOffset},
        {"EndRecordOffset", h.endRecordOffset},
        {"TotalUnpacked", h.totalUnpacked},
    };
    for (const auto& f : fields) {
        std::snprintf(line, sizeof line, "  %-16s %u\n", f.first, f.second);
        out << line;
    }
    std::snprintf(line, sizeof line, "  %-16s %s ", "SfxFlags", Hex32(h.sfxFlags).c_str());
    out << line << FlagNames(h.sfxFlags) << "\n";
    std::snprintf(line, sizeof line, "  %-16s \"", "WaitProgram");
    out << line << Escape(h.WaitProgramText()) << "\"\n";
    std::snprintf(line, sizeof line, "  %-16s %u\n", "CompleteMark", h.completeMark);
    out << line;
    std::snprintf(line, sizeof line, "  %-16s %s\n", "HeaderSpare", Hex32(h.headerSpare).c_str());
    out << line;
}

void PrintConfig(std::ostream& out, Checker& check, const Bytes& f, const StubHeader& h) {
    out << "configuration:\n";
    if (h.configOffset == 0) {
        check.Note("no configuration block (ConfigOffset 0)");
        return;
    }
    if (h.configOffset > h.archiveOffset || h.archiveOffset > f.size()) {
        check.Fail("the block (ConfigOffset " + Num(h.configOffset) + " to ArchiveOffset " + Num(h.archiveOffset) +
                   ") does not lie within the file");
        return;
    }
    std::size_t len = h.archiveOffset - h.configOffset;
    ConfigReadBack rb = ReadConfigBlock(f.data() + h.configOffset, len, (h.sfxFlags & SFX_HAS_CAPTION) != 0);
    out << "  block of " << len << " bytes at offset " << h.configOffset << ", inflates to " << rb.inflated.size()
        << " bytes\n";
    for (std::size_t i = 0; i < rb.stringCount; ++i) {
        char label[64];
        std::snprintf(label, sizeof label, "  %zu %-18s ", i + 1, kConfigStrings[i].what);
        out << label << "\"" << Escape(rb.texts[i]) << "\"\n";
    }
    for (const std::string& p : rb.problems) check.Fail(p);
    if (rb.trailingBytes) check.Note(Num(rb.trailingBytes) + " inflated bytes follow the eighth string");
}

void PrintMembers(std::ostream& out, const ZipArchive& za, bool disks) {
    out << "members (central directory): " << za.members.size() << ", unpacked total " << za.TotalUnpacked64()
        << "\n";
    if (za.members.empty()) return;
    out << (disks ? "  disk" : "") << "  method  compressed  uncompressed  crc32       flags  name\n";
    for (const ZipMember& m : za.members) {
        char line[128];
        if (disks) {
            std::snprintf(line, sizeof line, "  %4u", m.disk + 1u);
            out << line;
        }
        std::snprintf(line, sizeof line, "  %6u  %10u  %12u  %s  0x%04x ", m.method, m.compressedSize,
                      m.uncompressedSize, Hex32(m.crc).c_str(), m.localFlags);
        out << line << Escape(m.name) << "\n";
    }
}

void CheckArchive(Checker& check, const Bytes& data, const ZipArchive& za, const StubHeader& h) {
    for (const std::string& m : LocalHeaderMismatches(data, za)) check.Fail(m);
    if (h.totalUnpacked != za.TotalUnpacked())
        check.Fail("TotalUnpacked is " + Num(h.totalUnpacked) + ", the members unpack to " + Num(za.TotalUnpacked()));
}

void InspectSingle(std::ostream& out, Checker& check, const Bytes& f, const StubHeader& h) {
    out << "archive:\n";
    if (h.sfxFlags & SFX_SPANNED) {
        check.Note("no end-record probe (SFX_SPANNED)");
    } else if (h.endRecordOffset == 0) {
        check.Note("no end-record probe (EndRecordOffset 0)");
    } else if (HasSig(f, h.endRecordOffset, ZIP_END_SIG)) {
        check.Ok("end record at EndRecordOffset " + Num(h.endRecordOffset));
    } else {
        check.Fail("no end-of-central-directory signature at EndRecordOffset " + Num(h.endRecordOffset));
    }
    if (h.archiveOffset > f.size()) {
        check.Fail("ArchiveOffset " + Num(h.archiveOffset) + " lies beyond the end of the file");
        return;
    }
    try {
        ZipParseOptions po;
        po.archiveStart = h.archiveOffset;
        ZipArchive za = ParseZip(f, po);
        if (h.endRecordOffset != 0 && h.endRecordOffset != za.endPos)
            check.Fail("the archive's end record is at offset " + Num(za.endPos) + ", EndRecordOffset says " +
                       Num(h.endRecordOffset));
        PrintMembers(out, za, false);
        CheckArchive(check, f, za, h);
    } catch (const Error& e) {
        check.Fail(e.what());
    }
}

// A file in folder named `name`, or failing that one whose name differs
// only in case.
fs::path FindFile(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    if (fs::exists(folder / name, ec)) return folder / name;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (Lower(e.path().filename().string()) == Lower(name)) return e.path();
    return fs::path();
}

void InspectSpanned(std::ostream& out, Checker& check, const std::string& path, const Bytes& f,
                    const StubHeader& h) {
    fs::path pkg(path);
    fs::path folder = pkg.parent_path();
    fs::path root = folder.parent_path();
    const bool volumeExe = (h.sfxFlags & SFX_VOLUME_EXE) != 0;
    const std::string exeName = pkg.filename().string();
    std::string volName;
    try {
        volName = VolumeFileName(exeName, volumeExe);
    } catch (const Error& e) {
        check.Fail(e.what());
        return;
    }
    Bytes joined;
    std::vector<std::size_t> diskBase;
    std::error_code ec;
    for (unsigned n = 1;; ++n) {
        fs::path disk = root / ("disk" + Num(n));
        if (!fs::is_directory(disk, ec)) break;
        std::string label;
        try {
            Bytes raw = ReadFile((disk / ".windows-label").string());
            label.assign(raw.begin(), raw.end());
            while (!label.empty() && (label.back() == '\n' || label.back() == '\r')) label.pop_back();
        } catch (const Error&) {
            label = "(none)";
        }
        if (label != VolumeLabel(n)) check.Fail("disk " + Num(n) + " has the label \"" + label + "\", not \"" + VolumeLabel(n) + "\"");
        fs::path file = (n == 1 && volumeExe) ? pkg : FindFile(disk, n == 1 ? VolumeFileName(exeName, false) : volName);
        if (file.empty()) {
            check.Fail("disk " + Num(n) + " has no volume file " + (n == 1 ? VolumeFileName(exeName, false) : volName));
            return;
        }
        Bytes part = n == 1 && volumeExe ? f : ReadFile(file.string());
        out << "  disk " << n << ": label \"" << Escape(label) << "\", " << file.filename().string() << ", "
            << part.size() << " bytes\n";
        diskBase.push_back(joined.size());
        Append(joined, part);
    }
    if (diskBase.empty()) {
        check.Fail("no disk folders beside the executable");
        return;
    }
    try {
        ZipParseOptions po;
        po.archiveStart = volumeExe ? h.archiveOffset : 0;
        po.diskBase = diskBase;
        po.spanned = true;
        ZipArchive za = ParseZip(joined, po);
        check.Ok("the set is a spanned archive of " + Num(diskBase.size()) + " volume(s)");
        PrintMembers(out, za, true);
        CheckArchive(check, joined, za, h);
    } catch (const Error& e) {
        check.Fail(e.what());
    }
}

}  // namespace

int InspectPackage(const std::string& path, std::ostream& out, std::ostream& err) {
    Bytes f;
    try {
        f = ReadFile(path);
    } catch (const Error& e) {
        err << "tvsfx: error: " << e.what() << "\n";
        return 1;
    }
    std::vector<std::size_t> sigs = FindSignatures(f.data(), f.size());
    if (sigs.empty()) {
        err << "tvsfx: error: " << path << " is not a package: it holds no stub header signature\n";
        return 1;
    }
    if (f.size() - sigs[0] < HDR_SIZE) {
        err << "tvsfx: error: " << path << " is not a package: the stub header at offset " << sigs[0]
            << " is cut off by the end of the file\n";
        return 1;
    }
    StubHeader h = ReadHeader(f, sigs[0]);
    out << "package " << path << " (" << f.size() << " bytes)\n";
    PrintHeader(out, h, sigs[0]);

    Checker check(out);
    PrintConfig(out, check, f, h);

    out << "checks:\n";
    if (h.selfCrc == 0) {
        check.Note("no self-check (SelfCrc 0)");
    } else {
        try {
            std::uint32_t crc = ComputeSelfCrc(f, h.archiveOffset, h.sfxFlags);
            std::size_t start = SelfCheckStart(f, h.archiveOffset, h.sfxFlags);
            std::string range = "bytes [" + Num(start) + ", " + Num(h.archiveOffset) + ")";
            if (crc == h.selfCrc)
                check.Ok("self-check CRC " + Hex32(crc) + " over " + range);
            else
                check.Fail("self-check: SelfCrc is " + Hex32(h.selfCrc) + ", the CRC over " + range + " is " + Hex32(crc));
        } catch (const Error& e) {
            check.Fail(std::string("self-check: ") + e.what());
        }
    }
    if (h.completeMark == 0) check.Fail("CompleteMark is 0: the stub refuses to run the package");
    if (sigs.size() > 1) check.Note("the signature occurs " + Num(sigs.size()) + " times; the first one is the header");

    bool inSet = Lower(fs::path(path).parent_path().filename().string()) == "disk1";
    if ((h.sfxFlags & SFX_SPANNED) && inSet) {
        out << "archive (spanned set):\n";
        InspectSpanned(out, check, path, f, h);
    } else if ((h.sfxFlags & SFX_SPANNED) && h.archiveOffset >= f.size()) {
        out << "archive (spanned set):\n";
        check.Note("the volumes are not listed: this executable does not lie in a folder named disk1");
    } else {
        InspectSingle(out, check, f, h);
    }

    if (check.failures() == 0)
        out << "result: ok\n";
    else
        out << "result: " << check.failures() << " check(s) failed\n";
    return check.failures() == 0 ? 0 : 1;
}

}  // namespace tvsfx

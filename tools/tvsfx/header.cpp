#include "header.h"

#include "sfxformat.h"

#include <algorithm>
#include <cstdio>

namespace tvsfx {

std::string StubHeader::WaitProgramText() const {
    auto end = std::find(waitProgram.begin(), waitProgram.end(), 0);
    return std::string(waitProgram.begin(), end);
}

const Bytes& SignatureBytes() {
    static const Bytes sig = {SFX_SIGNATURE_BYTES};
    return sig;
}

std::vector<std::size_t> FindSignatures(const std::uint8_t* data, std::size_t size) {
    const Bytes& sig = SignatureBytes();
    std::vector<std::size_t> found;
    const std::uint8_t* end = data + size;
    for (const std::uint8_t* p = data;;) {
        p = std::search(p, end, sig.begin(), sig.end());
        if (p == end) break;
        found.push_back(static_cast<std::size_t>(p - data));
        ++p;
    }
    return found;
}

StubHeader ReadHeader(const Bytes& file, std::size_t pos) {
    if (pos > file.size() || file.size() - pos < HDR_SIZE)
        throw Error("the stub header at offset " + std::to_string(pos) + " is cut off by the end of the file");
    const std::uint8_t* p = file.data() + pos;
    StubHeader h;
    h.selfCrc = Get32(p + HDR_SELF_CRC);
    h.archiveOffset = Get32(p + HDR_ARCHIVE_OFFSET);
    h.configOffset = Get32(p + HDR_CONFIG_OFFSET);
    h.endRecordOffset = Get32(p + HDR_END_RECORD_OFFSET);
    h.totalUnpacked = Get32(p + HDR_TOTAL_UNPACKED);
    h.sfxFlags = Get32(p + HDR_SFX_FLAGS);
    std::copy(p + HDR_WAIT_PROGRAM, p + HDR_WAIT_PROGRAM + WAIT_PROGRAM_SIZE, h.waitProgram.begin());
    h.completeMark = Get16(p + HDR_COMPLETE_MARK);
    h.headerSpare = Get32(p + HDR_SPARE);
    std::copy(p + HDR_RESERVED, p + HDR_SIZE, h.reserved.begin());
    return h;
}

void WriteHeader(Bytes& file, std::size_t pos, const StubHeader& h) {
    if (pos > file.size() || file.size() - pos < HDR_SIZE)
        throw Error("the stub header at offset " + std::to_string(pos) + " is cut off by the end of the file");
    std::uint8_t* p = file.data() + pos;
    Put32(p + HDR_SELF_CRC, h.selfCrc);
    Put32(p + HDR_ARCHIVE_OFFSET, h.archiveOffset);
    Put32(p + HDR_CONFIG_OFFSET, h.configOffset);
    Put32(p + HDR_END_RECORD_OFFSET, h.endRecordOffset);
    Put32(p + HDR_TOTAL_UNPACKED, h.totalUnpacked);
    Put32(p + HDR_SFX_FLAGS, h.sfxFlags);
    std::copy(h.waitProgram.begin(), h.waitProgram.end(), p + HDR_WAIT_PROGRAM);
    Put16(p + HDR_COMPLETE_MARK, h.completeMark);
    Put32(p + HDR_SPARE, h.headerSpare);
    std::copy(h.reserved.begin(), h.reserved.end(), p + HDR_RESERVED);
}

const std::vector<FlagInfo> kFlags = {
    {SFX_WAIT_FOR_PROGRAM, "SFX_WAIT_FOR_PROGRAM", "wait-for-program", "then wait for the --wait-program program"},
    {SFX_HAS_CAPTION, "SFX_HAS_CAPTION", "has-caption", "the block has a caption (--caption sets it)"},
    {SFX_WAIT_DEFAULT, "SFX_WAIT_DEFAULT", "wait-default", "wait mode starts on"},
    {SFX_PASSWORD, "SFX_PASSWORD", "password", "ask for the password (archive is encrypted)"},
    {SFX_AUTO_DEFAULT, "SFX_AUTO_DEFAULT", "auto", "auto mode starts on"},
    {SFX_CHECK_AFTER_HEADERS, "SFX_CHECK_AFTER_HEADERS", "check-after-headers",
     "self-check starts at the PE section table"},
    {SFX_SPANNED, "SFX_SPANNED", "spanned", "the archive spans disks (--span sets it)"},
    {SFX_INFO_BUTTON, "SFX_INFO_BUTTON", "info-button", "the About button reads \"&Info...\""},
    {SFX_VOLUME_EXE, "SFX_VOLUME_EXE", "volume-exe", "volume files are .EXE (see --span)"},
    {SFX_SHELL_INSTALL, "SFX_SHELL_INSTALL", "shell-install", "with --shell-execute: the verb \"Install\""},
    {SFX_SHELL_EXECUTE, "SFX_SHELL_EXECUTE", "shell-execute", "look up ShellExecuteEx at start-up"},
    {SFX_TITLE_FROM_CAPTION, "SFX_TITLE_FROM_CAPTION", "title-from-caption", "the dialog title is the caption"},
    {SFX_STARTUP_QUERY, "SFX_STARTUP_QUERY", "startup-query", "the start-up message asks a question"},
    {SFX_STARTUP_OKCANCEL, "SFX_STARTUP_OKCANCEL", "startup-okcancel",
     "with --startup-query: OK/Cancel, not Yes/No"},
};

std::string FlagNames(std::uint32_t flags) {
    std::string out;
    std::uint32_t known = 0;
    for (const FlagInfo& f : kFlags) {
        known |= f.bit;
        if (flags & f.bit) {
            if (!out.empty()) out += ' ';
            out += f.name;
        }
    }
    if (flags & ~known) {
        if (!out.empty()) out += ' ';
        out += "unknown " + Hex32(flags & ~known);
    }
    return out.empty() ? "(none)" : out;
}

std::size_t SelfCheckStart(const Bytes& file, std::size_t covered, std::uint32_t flags) {
    if (!(flags & SFX_CHECK_AFTER_HEADERS)) return 0;
    if (covered > file.size()) covered = file.size();
    if (covered < PE_POINTER_OFFSET + 4)
        throw Error("SFX_CHECK_AFTER_HEADERS: the covered region (" + std::to_string(covered) +
                    " bytes) is too short to hold the PE header pointer at offset 60");
    std::uint64_t start = std::uint64_t(Get32(file, PE_POINTER_OFFSET)) + PE_HEADERS_SIZE;
    if (start > covered)
        throw Error("SFX_CHECK_AFTER_HEADERS: the section table would start at " +
                    std::to_string(start) + ", beyond the covered region (" +
                    std::to_string(covered) + " bytes)");
    return static_cast<std::size_t>(start);
}

std::uint32_t ComputeSelfCrc(const Bytes& file, std::size_t covered, std::uint32_t flags) {
    if (covered > file.size())
        throw Error("the covered region (" + std::to_string(covered) +
                    " bytes) is longer than the file (" + std::to_string(file.size()) + " bytes)");
    std::vector<std::size_t> sigs = FindSignatures(file.data(), covered);
    if (sigs.empty()) throw Error("no header signature within the covered region");
    Bytes region(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(covered));
    for (std::size_t i = sigs[0] + SFX_SIGNATURE_SIZE; i < sigs[0] + SFX_SIGNATURE_SIZE + 4 && i < covered; ++i)
        region[i] = 0;
    std::size_t start = SelfCheckStart(region, covered, flags);
    return Crc32(region.data() + start, covered - start);
}

}  // namespace tvsfx

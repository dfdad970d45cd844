// Building a package (or a spanned set) in memory, and writing it out.
#ifndef TVSFX_BUILDER_H
#define TVSFX_BUILDER_H

#include "bytes.h"
#include "config.h"
#include "header.h"

#include <optional>
#include <string>
#include <vector>

namespace tvsfx {

struct BuildOptions {
    std::uint32_t flags = 0;          // SfxFlags bits asked for
    std::string waitProgram;          // at most 9 characters
    ConfigTexts texts;                // the eight configuration strings
    bool noCrc = false;               // SelfCrc 0
    bool noConfig = false;            // ConfigOffset 0, no block
    bool incomplete = false;          // CompleteMark 0
    // Testing aids: a block written verbatim, or bytes compressed into the
    // block as they are.  Neither is checked against any limit.
    std::optional<Bytes> testConfigRaw;
    std::optional<Bytes> testConfigInflated;
    // Spanned set: the largest size of each disk's volume file; volumes
    // beyond the list take the rest.  Empty: a single-file package.
    std::vector<std::uint64_t> spanSizes;
    std::string exeName = "SETUP.EXE";  // file name of the executable in a set
};

struct OutputFile {
    std::string name;
    Bytes data;
};

struct Disk {
    std::string label;               // volume label, "PKBACK# 001" ...
    std::vector<OutputFile> files;
};

struct BuildResult {
    Bytes exe;                       // the package (the executable on disk 1 for a set)
    std::vector<Disk> disks;         // empty for a single-file package
    std::size_t headerPos = 0;       // where StubHeader lies in exe
    StubHeader header;               // as written
    std::vector<std::string> warnings;
};

// Throws Error for every refusal.
BuildResult BuildPackage(const Bytes& stub, const Bytes& zip, const BuildOptions& opts);

// The label of disk n (1-based).
std::string VolumeLabel(unsigned disk);

// The volume file name for an executable name: everything from its last
// "." replaced by ".ZIP" or ".EXE".  Throws Error when the name has no ".".
std::string VolumeFileName(const std::string& exeName, bool exeNaming);

// Writes DIR/disk1/, DIR/disk2/, ... each with its files and a
// .windows-label file.  The set is made in a temporary folder next to DIR
// and renamed to DIR at the end; DIR must not exist or be empty.
void WriteSpannedSet(const std::string& dir, const std::vector<Disk>& disks);

}  // namespace tvsfx

#endif

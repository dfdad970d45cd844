#include "cli.h"

#include "builder.h"
#include "inspect.h"
#include "sfxformat.h"

#include <cctype>
#include <cstdio>
#include <optional>

namespace tvsfx {

namespace {

struct UsageError {
    std::string message;
};

const char kHelpIntro[] =
    "usage: tvsfx build --stub STUB.exe --archive IN.zip -o OUT.exe [options]\n"
    "       tvsfx build --stub STUB.exe --archive IN.zip -o NAME.EXE\n"
    "                   --span S1,S2,... --span-dir DIR [options]\n"
    "       tvsfx inspect PACKAGE\n"
    "       tvsfx --help\n"
    "\n"
    "build: copies the stub, fills in its header, and appends the configuration\n"
    "block and the archive.  The archive is any plain (non-ZIP64) ZIP file; its\n"
    "offsets are moved so the package stays a valid ZIP file, and every local\n"
    "header gets its member's CRC-32 and sizes from the central directory (a data\n"
    "descriptor stays where it is, and so does flag bit 3).  Nothing is written\n"
    "when the build is refused.\n"
    "\n"
    "  --stub FILE            the stub executable (holds the header signature once)\n"
    "  --archive FILE         the ZIP archive to append\n"
    "  -o, --output FILE      the package to write (replaced atomically)\n"
    "\n"
    "header flags (SfxFlags), one option per bit:\n";

const char kHelpRest[] =
    "  --flags HEX            further raw SfxFlags bits, ORed in (e.g. 0x210)\n"
    "  --wait-program NAME    WaitProgram: base name of a program to wait for, at\n"
    "                         most 9 characters (needs --wait-for-program to act)\n"
    "  --no-crc               SelfCrc 0: no self-check\n"
    "  --no-config            ConfigOffset 0: no configuration block\n"
    "  --incomplete           CompleteMark 0: the stub refuses to run the package\n"
    "\n"
    "configuration strings (ANSI bytes, limits count the NUL):\n"
    "  --info TEXT            1: information box text (516)\n"
    "  --command TEXT         2: setup command (65)\n"
    "  --string3 TEXT         3: read past by the stub\n"
    "  --string4 TEXT         4: read past by the stub\n"
    "  --description TEXT     5: description in the main dialog (257)\n"
    "  --caption TEXT         6: custom caption (65); a non-empty caption sets\n"
    "                         SFX_HAS_CAPTION, without that flag string 6 is empty\n"
    "  --startup TEXT         7: start-up message (514), empty for none\n"
    "  --info-switch TEXT     8: text for the -info switch (512)\n"
    "  The block may take at most 1500 bytes compressed and 2112 inflated.\n"
    "\n"
    "spanned set:\n"
    "  --span S1,S2,...       write a spanned set (sets SFX_SPANNED).  Si is the\n"
    "                         largest size of the volume file on disk i, in bytes\n"
    "                         (suffix k = 1024, m = 1048576); a disk after the last\n"
    "                         size takes the rest.  A volume ends early where the\n"
    "                         stub could not follow the cut: only member data is\n"
    "                         split, never at a 2048-byte chunk end.\n"
    "  --span-dir DIR         where the set goes: DIR/disk1, DIR/disk2, ... each with\n"
    "                         .windows-label (\"PKBACK# 001\", ...).  DIR must not\n"
    "                         exist or be empty.  -o then gives only the file name\n"
    "                         of the executable (it needs an extension).\n"
    "                         Without --volume-exe, disk 1 holds NAME.EXE (stub and\n"
    "                         block) and NAME.ZIP (first volume), disk N NAME.ZIP.\n"
    "                         With --volume-exe, disk 1 holds only the executable\n"
    "                         with the first volume behind the block, disk N\n"
    "                         NAME.EXE.  EndRecordOffset is 0 (never probed).\n"
    "\n"
    "testing only (no limit checks; for packages the stub must cope with):\n"
    "  --test-config-raw FILE       the block is FILE's bytes, verbatim\n"
    "  --test-config-inflated FILE  the block is FILE's bytes, raw-deflated\n"
    "\n"
    "inspect: prints the header, the configuration strings and the members, and\n"
    "checks the self-check CRC, the end record at EndRecordOffset, the block's\n"
    "limits, CompleteMark, TotalUnpacked and the local headers.  For a spanned\n"
    "package in DIR/disk1 it reads the volumes of the sibling disk folders.\n"
    "\n"
    "exit status: 0 success, 1 refused or a check failed, 2 usage error\n";

std::optional<std::uint32_t> ParseHex(const std::string& text) {
    std::string s = text;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                           : std::tolower(c) - 'a' + 10);
    }
    return v;
}

std::optional<std::uint64_t> ParseSize(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t v = 0;
    std::size_t i = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        v = v * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (i == 0) return std::nullopt;
    if (i + 1 == text.size()) {
        char unit = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        if (unit == 'k') v *= 1024;
        else if (unit == 'm') v *= 1024 * 1024;
        else return std::nullopt;
    } else if (i != text.size()) {
        return std::nullopt;
    }
    if (v > 0xFFFFFFFFull) return std::nullopt;
    return v;
}

std::vector<std::uint64_t> ParseSpan(const std::string& text) {
    std::vector<std::uint64_t> sizes;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::optional<std::uint64_t> v = ParseSize(item);
        if (!v) throw UsageError{"--span: \"" + item + "\" is not a size"};
        if (*v == 0) throw UsageError{"--span: a volume size must not be 0"};
        sizes.push_back(*v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return sizes;
}

struct BuildArgs {
    std::string stub, archive, output, spanDir, testRaw, testInflated;
    bool span = false;
    BuildOptions opts;
};

BuildArgs ParseBuildArgs(const std::vector<std::string>& args) {
    BuildArgs b;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
            return args[++i];
        };
        auto noValue = [&] {
            if (inlineValue) throw UsageError{arg + " takes no value"};
        };

        bool matched = false;
        for (const FlagInfo& f : kFlags) {
            if (arg == std::string("--") + f.option) {
                noValue();
                b.opts.flags |= f.bit;
                matched = true;
                break;
            }
        }
        if (matched) continue;
        for (std::size_t k = 0; k < CFG_COUNT; ++k) {
            if (arg == std::string("--") + kConfigStrings[k].option) {
                b.opts.texts[k] = value();
                matched = true;
                break;
            }
        }
        if (matched) continue;

        if (arg == "--stub") b.stub = value();
        else if (arg == "--archive") b.archive = value();
        else if (arg == "-o" || arg == "--output") b.output = value();
        else if (arg == "--flags") {
            std::string v = value();
            std::optional<std::uint32_t> bits = ParseHex(v);
            if (!bits) throw UsageError{"--flags: \"" + v + "\" is not a hexadecimal 32-bit value"};
            b.opts.flags |= *bits;
        } else if (arg == "--wait-program") b.opts.waitProgram = value();
        else if (arg == "--no-crc") { noValue(); b.opts.noCrc = true; }
        else if (arg == "--no-config") { noValue(); b.opts.noConfig = true; }
        else if (arg == "--incomplete") { noValue(); b.opts.incomplete = true; }
        else if (arg == "--span") { b.opts.spanSizes = ParseSpan(value()); b.span = true; }
        else if (arg == "--span-dir") b.spanDir = value();
        else if (arg == "--test-config-raw") b.testRaw = value();
        else if (arg == "--test-config-inflated") b.testInflated = value();
        else throw UsageError{"unknown option " + arg};
    }
    if (b.stub.empty()) throw UsageError{"build needs --stub"};
    if (b.archive.empty()) throw UsageError{"build needs --archive"};
    if (b.output.empty()) throw UsageError{"build needs -o"};
    if (b.span && b.spanDir.empty()) throw UsageError{"--span needs --span-dir"};
    if (!b.span && !b.spanDir.empty()) throw UsageError{"--span-dir needs --span"};
    if (b.span && b.output.find('/') != std::string::npos)
        throw UsageError{"with --span, -o gives the executable's file name, without a folder"};
    return b;
}

int RunBuild(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    BuildArgs b = ParseBuildArgs(args);
    try {
        Bytes stub = ReadFile(b.stub);
        Bytes zip = ReadFile(b.archive);
        if (!b.testRaw.empty()) b.opts.testConfigRaw = ReadFile(b.testRaw);
        if (!b.testInflated.empty()) b.opts.testConfigInflated = ReadFile(b.testInflated);
        if (b.span) b.opts.exeName = b.output;
        BuildResult r = BuildPackage(stub, zip, b.opts);
        for (const std::string& w : r.warnings) err << "tvsfx: warning: " << w << "\n";
        if (b.span) {
            WriteSpannedSet(b.spanDir, r.disks);
            out << "wrote " << b.spanDir << ": " << r.disks.size() << " disk(s)";
            for (std::size_t i = 0; i < r.disks.size(); ++i)
                for (const OutputFile& f : r.disks[i].files)
                    out << (&f == &r.disks[i].files.front() ? "; disk " + std::to_string(i + 1) + ": " : ", ")
                        << f.name << " " << f.data.size();
            out << "\n";
        } else {
            WriteFileAtomic(b.output, r.exe);
            out << "wrote " << b.output << ": " << r.exe.size() << " bytes, archive at " << r.header.archiveOffset
                << ", end record at " << r.header.endRecordOffset << "\n";
        }
    } catch (const Error& e) {
        err << "tvsfx: error: " << e.what() << "\n";
        return EXIT_REFUSED;
    }
    return EXIT_OK;
}

}  // namespace

std::string HelpText() {
    std::string text = kHelpIntro;
    for (const FlagInfo& f : kFlags) {
        char line[200];
        std::snprintf(line, sizeof line, "  --%-20s 0x%06x %s\n", f.option, f.bit, f.help);
        text += line;
    }
    text += kHelpRest;
    return text;
}

int RunTvsfx(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty()) throw UsageError{"no command given"};
        const std::string& cmd = args[0];
        if (cmd == "--help" || cmd == "-h" || cmd == "help") {
            out << HelpText();
            return EXIT_OK;
        }
        if (cmd == "build") {
            for (const std::string& a : args)
                if (a == "--help" || a == "-h") {
                    out << HelpText();
                    return EXIT_OK;
                }
            return RunBuild(args, out, err);
        }
        if (cmd == "inspect") {
            if (args.size() != 2) throw UsageError{"inspect takes one package file"};
            return InspectPackage(args[1], out, err);
        }
        throw UsageError{"unknown command " + cmd};
    } catch (const UsageError& e) {
        err << "tvsfx: " << e.message << "\ntry 'tvsfx --help'\n";
        return EXIT_USAGE;
    }
}

}  // namespace tvsfx

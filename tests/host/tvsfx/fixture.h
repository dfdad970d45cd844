// The common test fixture: a temporary folder with a fake stub, archives
// made by the real zip tools, and builds through the command line.
#ifndef TVSFX_FIXTURE_H
#define TVSFX_FIXTURE_H

#include "testutil.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tvsfxtest {

using Files = std::map<std::string, Bytes>;

// Bytes that do not compress (a fixed pseudo-random sequence).
inline Bytes Noise(std::size_t n, std::uint32_t seed = 1) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 12345;
    for (auto& c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<std::uint8_t>(x);
    }
    return b;
}

// Text that compresses well.
inline Bytes Lines(std::size_t count) {
    std::string s;
    for (std::size_t i = 1; i <= count; ++i) s += "line " + std::to_string(i) + "\n";
    return Bytes(s.begin(), s.end());
}

inline Files SampleFiles() {
    return {{"a.txt", Lines(400)}, {"b.bin", Noise(9000)}, {"docs/readme.txt", Lines(20)}};
}

class PackageTest : public ::testing::Test {
public:
    TempDir dir;
    std::string stub;

    void SetUp() override {
        stub = dir / "stub.exe";
        WriteBytes(stub, FakeStub().Make());
    }

    // Writes the files under a fresh source folder and runs `command` there;
    // "{out}" in it stands for the archive's path.  Returns that path.
    std::string MakeArchive(const std::string& name, const Files& files, const std::string& command) {
        std::string src = dir / ("src-" + name);
        Shell("mkdir -p '" + src + "'");
        for (const auto& [rel, data] : files) {
            std::string path = src + "/" + rel;
            Shell("mkdir -p \"$(dirname '" + path + "')\"");
            WriteBytes(path, data);
        }
        std::string out = dir / name;
        std::string cmd = command;
        for (std::size_t p; (p = cmd.find("{out}")) != std::string::npos;) cmd.replace(p, 5, "'" + out + "'");
        std::string log;
        int rc = Shell("cd '" + src + "' && " + cmd, &log);
        if (rc != 0 || !Exists(out)) ADD_FAILURE() << "making " << name << " failed: " << log;
        return out;
    }

    std::string DefaultArchive() { return MakeArchive("in.zip", SampleFiles(), "zip -q -r {out} ."); }

    // tvsfx build --stub STUB --archive ARCHIVE -o OUT extra...
    CliResult Build(const std::string& archive, const std::string& out, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"build", "--stub", stub, "--archive", archive, "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return Cli(args);
    }
};

}  // namespace tvsfxtest

#endif

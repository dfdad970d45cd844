// The main job: builds a sample package with tvsfx and runs it under Wine,
// with the player answering its boxes, then extracts it with the stub's
// own extraction code and lists what arrived.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "extract.h"
#include "package.h"

namespace fs = std::filesystem;

int main()
{
    setenv("TZ", "UTC", 1);
    winebed::Start();
    const std::string root = winebed::NewFolder("demo");
    const std::string package = pkg::Build(
        root + "/example.exe", pkg::Fixture("zip/infozip-deflate.zip"),
        {"--description", "Installs the Tarvex example files.", "--command", "setup.bat", "--info",
         "Tarvex example package", "--info-switch", "Tarvex example package: a readme, documents and data.",
         "--startup", "Install the Tarvex example files?", "--startup-query"});
    std::string inspect;
    pkg::Shell(pkg::Sh(pkg::Tvsfx()) + " inspect " + pkg::Sh(package), &inspect);
    std::printf("== tvsfx inspect %s\n%s\n", package.c_str(), inspect.c_str());

    auto info = pkg::Run(package, "-info", {winebed::Press("OK")});
    std::printf("== example.exe -info, under Wine\n%s\n", info.transcript.c_str());
    auto run = pkg::Run(package, "", {winebed::Press("Yes")});
    std::printf("== example.exe, under Wine, answering Yes\n%s\n", run.transcript.c_str());

    const std::string tmp = root + "/tmp";
    fs::create_directory(tmp);
    auto x = extract::Run(package, {}, extract::TempEnv(tmp));
    std::printf("== extraction of example.exe by the stub's code: code %d, folder %s\n", x.code, x.folder.c_str());
    if (!x.hostFolder.empty())
        for (const auto &e : fs::recursive_directory_iterator(x.hostFolder))
            std::printf("   %s%s\n", fs::relative(e.path(), x.hostFolder).string().c_str(),
                        e.is_directory() ? "\\" : ("  " + std::to_string(fs::file_size(e.path())) + " bytes").c_str());
    const std::string diff = extract::CompareWithFixtureTree(x.hostFolder);
    std::printf("== extracted tree equals the source tree: %s\n%s", diff.empty() ? "yes" : "no", diff.c_str());
    winebed::Stop();
    return run.exitCode == 0 && x.code == 0 && diff.empty() ? 0 : 1;
}

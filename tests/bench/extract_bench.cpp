// Extraction throughput: the stub's own extraction code (through the
// driver, under Wine) next to Info-ZIP unzip on the same archive, in the
// same run.  Prints figures; passes or fails nothing.
//
//   extract_bench [MEGABYTES]   (default 64)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "extract.h"
#include "package.h"

namespace fs = std::filesystem;

namespace {

double Seconds(const std::function<void()> &work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Half text that compresses well, half bytes that do not, in files of
// 1 MiB, with a few small files among them.
void MakeTree(const std::string &root, int megabytes)
{
    std::mt19937 random(12345);
    const char *words[] = {"setup ", "install ", "archive ", "member ", "folder ", "extract ", "window "};
    for (int m = 0; m < megabytes; m++) {
        std::string data;
        data.reserve(1 << 20);
        if (m % 2 == 0)
            while (data.size() < (1u << 20))
                data += words[random() % 7];
        else
            while (data.size() < (1u << 20))
                data += (char)(random() & 0xFF);
        data.resize(1 << 20);
        pkg::Write(root + "/file" + std::to_string(m) + ".bin", pkg::Bytes(data.begin(), data.end()));
        pkg::Write(root + "/note" + std::to_string(m) + ".txt", pkg::Bytes(100 + m, 'n'));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 64;
    setenv("TZ", "UTC", 1);
    winebed::Start();
    const std::string root = winebed::NewFolder("bench");
    const std::string tree = root + "/tree", zip = root + "/bench.zip";
    fs::create_directory(tree);
    MakeTree(tree, megabytes);
    // Even seconds, so that the DOS times in the archive hold them exactly.
    pkg::Shell("find " + pkg::Sh(tree) + " -exec touch -t 202106151020.30 {} +");
    pkg::Shell("cd " + pkg::Sh(tree) + " && zip -q -r " + pkg::Sh(zip) + " .");
    const std::string package = pkg::Build(root + "/bench.exe", zip, {});
    const double total = (double)megabytes;  // MiB unpacked; the small files add little

    // The cost of starting a program under Wine, measured on a run that
    // extracts one small file, after a first run has warmed Wine up.
    const std::string tiny = pkg::Build(root + "/tiny.exe", pkg::SmallZip(root), {});
    extract::Run(tiny, {}, extract::TempEnv(root));
    double overhead = Seconds([&] { extract::Run(tiny, {}, extract::TempEnv(root)); });

    const std::string stubTemp = root + "/stub-tmp";
    fs::create_directory(stubTemp);
    extract::Extraction x;
    double stub = Seconds([&] { x = extract::Run(package, {}, extract::TempEnv(stubTemp)); });
    const std::string unzipped = root + "/unzip-out";
    double unzip = Seconds([&] { pkg::Shell("unzip -q -o " + pkg::Sh(zip) + " -d " + pkg::Sh(unzipped)); });

    std::printf("archive: %d MiB unpacked, %.1f MiB packed\n", megabytes, (double)fs::file_size(zip) / 1048576.0);
    std::printf("stub under Wine: %.2f s (%.1f MiB/s), of which about %.2f s is starting a program under Wine; "
                "result code %d\n",
                stub, total / stub, overhead, x.code);
    std::printf("stub without the start cost: %.1f MiB/s\n", total / (stub - overhead));
    std::printf("unzip on the host: %.2f s (%.1f MiB/s)\n", unzip, total / unzip);
    const bool same = extract::CompareTree(x.hostFolder, tree).empty();
    std::printf("stub's output equals the source tree: %s\n", same ? "yes" : "NO");
    winebed::Stop();
    return same ? 0 : 1;
}

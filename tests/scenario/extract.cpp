#include "extract.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "package.h"

namespace fs = std::filesystem;

namespace extract {

Env TempEnv(const std::string &hostFolder)
{
    return {{"TMP", winebed::WindowsPath(hostFolder)}, {"TEMP", std::nullopt}};
}

Extraction Run(const std::string &package, const std::vector<winebed::Answer> &answers, const Env &env,
               const std::string &folder)
{
    const std::string result = winebed::NewFolder("result") + "/result.txt";
    std::string windowsPackage = package.size() > 2 && package[1] == ':' ? package : winebed::WindowsPath(package);
    std::string tail = "\"" + windowsPackage + "\" \"" + winebed::WindowsPath(result) + "\"";
    if (!folder.empty())
        tail += " \"" + folder + "\"";

    Extraction x;
    x.run = pkg::Run(pkg::Driver(), tail, answers, env);
    std::ifstream in(result);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("code=", 0) == 0)
            x.code = std::stoi(line.substr(5));
        else if (line.rfind("folder=", 0) == 0)
            x.folder = line.substr(7);
        else if (line.rfind("keep=", 0) == 0)
            x.keep = std::stoi(line.substr(5));
    }
    if (x.folder.size() > 2 && x.folder[1] == ':') {
        try {
            x.hostFolder = winebed::HostPath(x.folder);
        } catch (...) {
        }
    }
    return x;
}

static long long ModifiedAt(const fs::path &path)
{
    struct stat s;
    return ::stat(path.c_str(), &s) == 0 ? (long long)s.st_mtime : -1;
}

std::string CompareTree(const std::string &extracted, const std::string &reference,
                        const std::vector<std::string> &emptyFolders, long long stamp)
{
    std::ostringstream diff;
    std::set<std::string> expected(emptyFolders.begin(), emptyFolders.end());
    for (const auto &folder : emptyFolders)
        if (!fs::is_directory(fs::path(extracted) / folder))
            diff << "missing folder " << folder << "\n";
    for (const auto &entry : fs::recursive_directory_iterator(reference)) {
        const std::string relative = fs::relative(entry.path(), reference).string();
        expected.insert(relative);
        const fs::path got = fs::path(extracted) / relative;
        if (entry.is_directory()) {
            if (!fs::is_directory(got))
                diff << "missing folder " << relative << "\n";
            continue;
        }
        if (!fs::is_regular_file(got)) {
            diff << "missing file " << relative << "\n";
            continue;
        }
        if (pkg::Read(got.string()) != pkg::Read(entry.path().string()))
            diff << "bytes differ: " << relative << "\n";
        if (ModifiedAt(got) != (stamp >= 0 ? stamp : ModifiedAt(entry.path())))
            diff << "time differs: " << relative << "\n";
    }
    if (fs::is_directory(extracted)) {
        for (const auto &entry : fs::recursive_directory_iterator(extracted)) {
            const std::string relative = fs::relative(entry.path(), extracted).string();
            if (!expected.count(relative))
                diff << "unexpected " << relative << "\n";
        }
    } else {
        diff << "no folder " << extracted << "\n";
    }
    return diff.str();
}

std::string CompareWithFixtureTree(const std::string &extracted)
{
    return CompareTree(extracted, pkg::Fixture("tree"), {"emptydir"}, 1623752430);
}

}  // namespace extract

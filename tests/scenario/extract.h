/*
 * extract.h: one extraction run of the stub's own code on a package, by
 * the driver (tests/driver) under Wine, and comparing what it extracted
 * with a source tree.
 */
#ifndef TVSE_EXTRACT_H
#define TVSE_EXTRACT_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "winebed.h"

namespace extract {

using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct Extraction {
    winebed::RunResult run;
    int code = -1;           /* ExtractAll's code; 3 start-up ended, 4 no folder */
    std::string folder;      /* the extraction folder, as the stub named it */
    std::string hostFolder;  /* the same on the host ("" when unknown) */
    int keep = -1;           /* KeepFiles */
};

/* TMP set to hostFolder (as a Windows path), TEMP removed. */
Env TempEnv(const std::string &hostFolder);

/* Runs the driver on package (a host path, or a Windows path such as
 * A:\SETUP.EXE).  Without folder, the extraction folder is chosen and
 * created as the main dialog does it. */
Extraction Run(const std::string &package, const std::vector<winebed::Answer> &answers, const Env &env,
               const std::string &folder = "");

/* "" when every folder and file of reference, and every folder of
 * emptyFolders, is in extracted, each file with the same bytes and
 * modification time (stamp when given, else the reference file's), and
 * extracted holds nothing else; otherwise one line per difference. */
std::string CompareTree(const std::string &extracted, const std::string &reference,
                        const std::vector<std::string> &emptyFolders = {}, long long stamp = -1);

/* CompareTree against tests/fixtures/tree as its archives hold it: every
 * time 2021-06-15 10:20:30 UTC, and the folder emptydir (a checkout keeps
 * neither the times nor an empty folder). */
std::string CompareWithFixtureTree(const std::string &extracted);

}  // namespace extract

#endif

/*
 * package.h: building and altering packages for the scenario tests, and
 * the transcript records that the stub's boxes produce.
 */
#ifndef TVSE_PACKAGE_H
#define TVSE_PACKAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "winebed.h"

namespace pkg {

using Bytes = std::vector<uint8_t>;

/* Paths of the x86_64 stub, the extraction driver, the builder and the
 * fixtures. */
std::string Stub();
std::string Driver();
std::string Tvsfx();
std::string Fixture(const std::string &relative);

/* Runs a host command line; returns its exit status and output. */
int Shell(const std::string &command, std::string *output = nullptr);
/* Quotes a word for the shell. */
std::string Sh(const std::string &word);

/* tvsfx build of archive into out with further options; fails the test
 * (and throws) when the builder refuses. */
std::string Build(const std::string &out, const std::string &archive, const std::vector<std::string> &options);
/* A small archive that Info-ZIP zip writes of one text file. */
std::string SmallZip(const std::string &folder);

Bytes Read(const std::string &path);
void Write(const std::string &path, const Bytes &bytes);
/* Where the stub header lies in a package. */
size_t HeaderAt(const Bytes &package);
uint32_t U32(const Bytes &b, size_t at);
void PutU32(Bytes &b, size_t at, uint32_t value);
/* Sets a header field (a byte offset into the header) and recomputes
 * SelfCrc as the builder would, so the self-check still passes. */
void SetField(Bytes &package, size_t field, uint32_t value, bool reseal = true);
void Reseal(Bytes &package);

/* The records of a message box in a transcript. */
extern const char *const Caption;
extern const char *const HeaderCorrupt;
extern const char *const OkOnly;
extern const char *const YesNo;
extern const char *const OkCancel;
extern const char *const AbortRetryIgnore;
extern const char *const YesNoCancel;
std::string Box(int number, const std::string &icon, const std::string &text, const std::string &buttons,
                const std::string &press, const std::string &caption = Caption, bool sync = false);

/* Runs a package (or the driver) under Wine with the given answers. */
winebed::RunResult Run(const std::string &program, const std::string &tail,
                       const std::vector<winebed::Answer> &answers,
                       const std::vector<std::pair<std::string, std::optional<std::string>>> &env = {});

}  // namespace pkg

#endif

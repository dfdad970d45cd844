/*
 * mkcatalog.h: the catalog compiler.  Reads the readable catalog source
 * (texts and dialog templates), assembles the binary dialog templates,
 * builds and deflates the catalog and writes the C++ source that gives the
 * stub its MessageCatalog, OffsetTable and PasswordTemplate.
 *
 * Every failure is reported as a CatalogError whose text names the source
 * line where one is known.
 */
#ifndef TVSE_MKCATALOG_H
#define TVSE_MKCATALOG_H

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace mkcatalog {

/* Layout limits of the stub's catalog buffer. */
constexpr int kEntries = 61;
constexpr int kTextEntries = 60;        /* slots 0..59 are texts */
constexpr int kTemplateEntry = 60;      /* slot 60 is the main dialog */
constexpr uint32_t kBufferSize = 5313;  /* the stub's CatalogBuffer */
constexpr uint32_t kMaxInflated = 5311; /* two guard bytes follow */
constexpr uint32_t kTemplateCopy = 1024;
constexpr uint32_t kMaxTemplateStart = kBufferSize - kTemplateCopy; /* 4289 */
constexpr uint32_t kPasswordBlock = 600; /* the password template's buffer */

class CatalogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/* A window class or a control text: an ordinal or a string. */
struct NameOrOrdinal {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::string text;
};

struct ControlSpec {
    int line = 0;
    uint16_t id = 0;
    NameOrOrdinal windowClass;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal text;
    uint32_t style = 0;
    uint32_t exStyle = 0;
};

struct DialogSpec {
    int line = 0;
    std::string name;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string title;
    bool hasFont = false;
    uint16_t pointSize = 0;
    std::string faceName;
    uint32_t size = 0; /* 0: as long as the controls need */
    std::vector<ControlSpec> controls;
};

struct CatalogSource {
    std::vector<std::string> texts; /* slots 0..59, as bytes */
    DialogSpec mainDialog;
    DialogSpec passwordDialog;
};

struct Catalog {
    std::vector<uint8_t> inflated;           /* texts, then the main template */
    std::array<uint32_t, kEntries> offsets{}; /* start of each slot */
    std::vector<uint8_t> deflated;
    std::vector<uint8_t> passwordTemplate;
    std::vector<uint8_t> passwordDeflated;
};

/* Parse the catalog source; fileName only labels the error texts. */
CatalogSource ParseSource(const std::string &content, const std::string &fileName);

/* A style expression: Windows style names and numbers joined with '|'. */
uint32_t ParseStyle(const std::string &expression);

/* The binary DLGTEMPLATE form of a dialog. */
std::vector<uint8_t> AssembleTemplate(const DialogSpec &dialog);

/* A readable listing of a binary dialog template (for --dump). */
std::string DescribeTemplate(const std::vector<uint8_t> &bytes);

/* Raw deflate (no wrapper), best compression, and its inverse. */
std::vector<uint8_t> RawDeflate(const std::vector<uint8_t> &data);
std::vector<uint8_t> RawInflate(const uint8_t *data, size_t length, size_t limit);

/* Assemble, lay out, check against the limits and compress. */
Catalog BuildCatalog(const CatalogSource &source);

/* The C++ source defining the stub's catalog data. */
std::string EmitSource(const Catalog &catalog, const std::string &sourceName);

/* A readable listing of the whole catalog (for --dump). */
std::string DumpCatalog(const Catalog &catalog);

} // namespace mkcatalog

#endif

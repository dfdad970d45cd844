/*
 * build.cpp: laying out, checking and compressing the catalog, and writing
 * it out as C++ source or as a readable listing.
 */
#include <cstdio>
#include <cstring>
#include <sstream>

#include <zlib.h>

#include "mkcatalog.h"

namespace mkcatalog {
namespace {

std::string Escape(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\' || c == '"') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

void EmitBytes(std::ostringstream &out, const char *name, const std::vector<uint8_t> &bytes)
{
    out << "const uint8_t " << name << "[" << bytes.size() << "] = {";
    for (size_t i = 0; i < bytes.size(); i++) {
        out << (i % 12 == 0 ? "\n    " : " ");
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X,", bytes[i]);
        out << hex;
    }
    out << "\n};\n";
}

} // namespace

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t> &data)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw CatalogError("deflateInit2 failed");
    std::vector<uint8_t> out(deflateBound(&z, (uLong)data.size()) + 16);
    z.next_in = const_cast<Bytef *>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int result = deflate(&z, Z_FINISH);
    size_t produced = out.size() - z.avail_out;
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        throw CatalogError("deflate did not finish");
    out.resize(produced);
    return out;
}

std::vector<uint8_t> RawInflate(const uint8_t *data, size_t length, size_t limit)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        throw CatalogError("inflateInit2 failed");
    std::vector<uint8_t> out(limit + 1);
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = (uInt)length;
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int result = inflate(&z, Z_FINISH);
    size_t produced = out.size() - z.avail_out;
    size_t leftOver = z.avail_in;
    inflateEnd(&z);
    if (result != Z_STREAM_END)
        throw CatalogError(produced > limit ? "inflated data longer than " + std::to_string(limit)
                                            : std::string("invalid or incomplete deflate data"));
    if (leftOver != 0)
        throw CatalogError("bytes left over after the deflate stream");
    out.resize(produced);
    return out;
}

Catalog BuildCatalog(const CatalogSource &source)
{
    if (source.texts.size() != (size_t)kTextEntries)
        throw CatalogError("the catalog needs the texts of slots 0 to 59");
    Catalog catalog;
    for (int n = 0; n < kTextEntries; n++) {
        const std::string &text = source.texts[n];
        if (std::memchr(text.data(), 0, text.size()) != nullptr)
            throw CatalogError("text " + std::to_string(n) + " holds a NUL byte");
        catalog.offsets[n] = (uint32_t)catalog.inflated.size();
        catalog.inflated.insert(catalog.inflated.end(), text.begin(), text.end());
        catalog.inflated.push_back(0);
    }
    catalog.offsets[kTemplateEntry] = (uint32_t)catalog.inflated.size();

    std::vector<uint8_t> mainTemplate = AssembleTemplate(source.mainDialog);
    catalog.inflated.insert(catalog.inflated.end(), mainTemplate.begin(), mainTemplate.end());

    /* The stub copies 1024 bytes from the template's start, and the buffer
     * keeps its last two bytes for guards while the catalog is inflated. */
    if (mainTemplate.size() > kTemplateCopy)
        throw CatalogError("the main dialog template is " + std::to_string(mainTemplate.size()) +
                           " bytes; at most " + std::to_string(kTemplateCopy) + " fit");
    if (catalog.offsets[kTemplateEntry] > kMaxTemplateStart)
        throw CatalogError("the texts take " + std::to_string(catalog.offsets[kTemplateEntry]) +
                           " bytes; the template must start by " +
                           std::to_string(kMaxTemplateStart));
    if (catalog.inflated.size() > kMaxInflated)
        throw CatalogError("the catalog is " + std::to_string(catalog.inflated.size()) +
                           " bytes inflated; at most " + std::to_string(kMaxInflated) + " fit");

    catalog.deflated = RawDeflate(catalog.inflated);
    if (RawInflate(catalog.deflated.data(), catalog.deflated.size(), kBufferSize) !=
        catalog.inflated)
        throw CatalogError("the deflated catalog does not inflate back to itself");

    catalog.passwordTemplate = AssembleTemplate(source.passwordDialog);
    if (catalog.passwordTemplate.size() > kPasswordBlock)
        throw CatalogError("the password dialog template is " +
                           std::to_string(catalog.passwordTemplate.size()) + " bytes; at most " +
                           std::to_string(kPasswordBlock) + " fit");
    catalog.passwordDeflated = RawDeflate(catalog.passwordTemplate);
    if (RawInflate(catalog.passwordDeflated.data(), catalog.passwordDeflated.size(),
                   kPasswordBlock) != catalog.passwordTemplate)
        throw CatalogError("the deflated password template does not inflate back to itself");
    return catalog;
}

std::string EmitSource(const Catalog &catalog, const std::string &sourceName)
{
    std::ostringstream out;
    out << "/*\n"
        << " * Generated by mkcatalog from " << sourceName << "; do not edit.\n"
        << " *\n"
        << " * MessageCatalog: slots 0 to 59 (NUL-terminated texts) and slot 60 (the\n"
        << " * main dialog template), " << catalog.inflated.size() << " bytes, raw-deflated to "
        << catalog.deflated.size() << ".\n"
        << " * PasswordTemplate: the password dialog template, "
        << catalog.passwordTemplate.size() << " bytes, raw-deflated to "
        << catalog.passwordDeflated.size() << ".\n"
        << " */\n"
        << "#include \"core.h\"\n\n";

    EmitBytes(out, "MessageCatalog", catalog.deflated);
    out << "const uint32_t MessageCatalogSize = " << catalog.deflated.size() << ";\n\n";

    out << "/* Start of each slot in the inflated catalog. */\n"
        << "const uint32_t OffsetTable[CATALOG_ENTRIES] = {\n";
    for (int n = 0; n < kEntries; n++) {
        out << "    " << catalog.offsets[n] << ", /* " << n;
        if (n == kTemplateEntry) {
            out << ": main dialog template";
        } else {
            const char *text = (const char *)catalog.inflated.data() + catalog.offsets[n];
            std::string shown = Escape(text);
            if (shown.size() > 40)
                shown = shown.substr(0, 37) + "...";
            /* keep the comment closed whatever the text holds */
            for (size_t at = shown.find("*/"); at != std::string::npos; at = shown.find("*/"))
                shown.replace(at, 2, "* /");
            out << ": \"" << shown << "\"";
        }
        out << " */\n";
    }
    out << "};\n\n";

    EmitBytes(out, "PasswordTemplate", catalog.passwordDeflated);
    out << "const uint32_t PasswordTemplateSize = " << catalog.passwordDeflated.size() << ";\n\n"
        << "static_assert(sizeof MessageCatalog == " << catalog.deflated.size()
        << ", \"catalog size\");\n"
        << "static_assert(sizeof PasswordTemplate == " << catalog.passwordDeflated.size()
        << ", \"password template size\");\n";
    return out.str();
}

std::string DumpCatalog(const Catalog &catalog)
{
    std::ostringstream out;
    out << "catalog: " << catalog.offsets[kTemplateEntry] << " bytes of texts + "
        << catalog.inflated.size() - catalog.offsets[kTemplateEntry] << " bytes of template = "
        << catalog.inflated.size() << " bytes inflated (limit " << kMaxInflated << "), "
        << catalog.deflated.size() << " bytes deflated\n";
    for (int n = 0; n < kTextEntries; n++) {
        const char *text = (const char *)catalog.inflated.data() + catalog.offsets[n];
        out << "text " << n << " @" << catalog.offsets[n] << " \"" << Escape(text) << "\"\n";
    }
    out << "slot 60 @" << catalog.offsets[kTemplateEntry] << " (start limit "
        << kMaxTemplateStart << "): ";
    out << DescribeTemplate(std::vector<uint8_t>(
        catalog.inflated.begin() + catalog.offsets[kTemplateEntry], catalog.inflated.end()));
    out << "password template: " << catalog.passwordTemplate.size() << " bytes, "
        << catalog.passwordDeflated.size() << " bytes deflated: "
        << DescribeTemplate(catalog.passwordTemplate);
    return out.str();
}

} // namespace mkcatalog

/*
 * mkcatalog: compiles the readable message catalog into the stub's data.
 *
 *   mkcatalog SOURCE OUTPUT   write the C++ source with MessageCatalog,
 *                             MessageCatalogSize, OffsetTable,
 *                             PasswordTemplate and PasswordTemplateSize
 *   mkcatalog --dump SOURCE   list what SOURCE compiles to
 *
 * Exit status 0 on success, 1 on any error (reported on stderr).
 */
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "mkcatalog.h"

namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw mkcatalog::CatalogError("cannot open " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

/* Write through a temporary file, so that a failed run never leaves a
 * half-written source behind for the build to pick up. */
void WriteFile(const std::filesystem::path &path, const std::string &content)
{
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out)
            throw mkcatalog::CatalogError("cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, path);
}

int Usage()
{
    std::cerr << "usage: mkcatalog SOURCE OUTPUT\n"
                 "       mkcatalog --dump SOURCE\n";
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return Usage();
    std::string first = argv[1];
    try {
        if (first == "--dump") {
            auto source = mkcatalog::ParseSource(ReadFile(argv[2]), argv[2]);
            std::cout << mkcatalog::DumpCatalog(mkcatalog::BuildCatalog(source));
            return 0;
        }
        if (!first.empty() && first[0] == '-')
            return Usage();
        auto source = mkcatalog::ParseSource(ReadFile(first), first);
        auto catalog = mkcatalog::BuildCatalog(source);
        std::string name = std::filesystem::path(first).filename().string();
        WriteFile(argv[2], mkcatalog::EmitSource(catalog, name));
        std::cout << "mkcatalog: catalog " << catalog.inflated.size() << " -> "
                  << catalog.deflated.size() << " bytes, password template "
                  << catalog.passwordTemplate.size() << " -> " << catalog.passwordDeflated.size()
                  << " bytes\n";
        return 0;
    } catch (const std::exception &e) {
        std::cerr << "mkcatalog: " << e.what() << "\n";
        return 1;
    }
}

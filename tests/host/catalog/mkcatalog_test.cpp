/*
 * The catalog compiler: what it accepts, what it refuses, the exact bytes
 * of a small dialog template, and the limits of the stub's catalog buffer.
 * Every case starts from a small valid source and changes one thing.
 */
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mkcatalog.h"

namespace {

using mkcatalog::BuildCatalog;
using mkcatalog::CatalogError;
using mkcatalog::ParseSource;

struct SourceFixture {
    std::vector<std::string> texts;
    std::string mainDialog =
        "dialog main style=WS_POPUP|WS_VISIBLE|DS_SETFONT x=0 y=0 cx=10 cy=10\n"
        "    font=8,\"MS Sans Serif\"\n"
        "control id=1 class=button x=0 y=0 cx=5 cy=5 text=\"OK\" style=WS_CHILD\n"
        "end\n";
    std::string passwordDialog =
        "dialog password style=WS_POPUP|DS_SETFONT x=0 y=0 cx=10 cy=10 title=\"P\"\n"
        "    font=8,\"MS Sans Serif\"\n"
        "control id=402 class=edit x=0 y=0 cx=5 cy=5 style=WS_CHILD|ES_PASSWORD\n"
        "end\n";

    SourceFixture()
    {
        for (int n = 0; n < 60; n++)
            texts.push_back("\"t" + std::to_string(n) + "\"");
    }
    std::string Build() const
    {
        std::string s = "# test source\n";
        for (size_t n = 0; n < texts.size(); n++)
            s += "text " + std::to_string(n) + " " + texts[n] + "\n";
        return s + mainDialog + passwordDialog;
    }
};

std::string Replace(std::string s, const std::string &from, const std::string &to)
{
    size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << "fixture lacks: " << from;
    if (at != std::string::npos)
        s.replace(at, from.size(), to);
    return s;
}

/* The error text of compiling source, or "" when it compiles. */
std::string CompileError(const std::string &source)
{
    try {
        BuildCatalog(ParseSource(source, "test.txt"));
        return "";
    } catch (const CatalogError &e) {
        return e.what();
    }
}

TEST(CatalogSource, TheFixtureCompiles)
{
    EXPECT_EQ(CompileError(SourceFixture().Build()), "");
}

TEST(CatalogSource, RefusesBrokenSources)
{
    const std::string valid = SourceFixture().Build();
    const struct {
        const char *name;
        std::string source;
        const char *error; /* part of the expected message */
    } cases[] = {
        {"a slot missing at the end", Replace(valid, "text 59 \"t59\"\n", ""), "slots 0 to 59"},
        {"a slot skipped", Replace(valid, "text 5 \"t5\"\n", ""), "expected the text of slot 5"},
        {"a slot given twice", Replace(valid, "text 6 \"t6\"", "text 5 \"t6\""),
         "expected the text of slot 6"},
        {"slot 60 as a text", Replace(valid, "dialog main", "text 60 \"x\"\ndialog main"),
         "slot 60 is the main dialog"},
        {"unknown escape", Replace(valid, "\"t3\"", "\"a\\qb\""), "unknown escape"},
        {"\\x with one digit", Replace(valid, "\"t3\"", "\"\\x4\""), "two hex digits"},
        {"a NUL byte", Replace(valid, "\"t3\"", "\"a\\x00b\""), "NUL"},
        {"unclosed string", Replace(valid, "\"t3\"", "\"t3"), "closing quote"},
        {"unknown style", Replace(valid, "style=WS_CHILD\n", "style=WS_CHILD|WS_TABSTOPP\n"),
         "unknown style: WS_TABSTOPP"},
        {"font without DS_SETFONT", Replace(valid, "WS_POPUP|WS_VISIBLE|DS_SETFONT", "WS_POPUP"),
         "needs DS_SETFONT"},
        {"DS_SETFONT without font", Replace(valid, "    font=8,\"MS Sans Serif\"\ncontrol id=1",
                                            "control id=1"),
         "DS_SETFONT needs a font"},
        {"unknown class word", Replace(valid, "class=button", "class=meter"),
         "unknown control class"},
        {"control outside a dialog", "control id=1\n" + valid, "control outside a dialog"},
        {"dialog not closed", Replace(valid, "style=WS_CHILD\nend\n", "style=WS_CHILD\n"),
         "not closed"},
        {"main dialog given twice", Replace(valid, "dialog password", "dialog main"),
         "given twice"},
        {"password dialog missing", Replace(valid, SourceFixture().passwordDialog, ""),
         "password dialog is missing"},
        {"unknown key", Replace(valid, "cx=5 cy=5 text=\"OK\"", "cx=5 cy=5 txt=\"OK\""),
         "unknown key: txt"},
        {"missing key", Replace(valid, "id=1 class=button x=0", "id=1 class=button"),
         "missing key: x"},
        {"coordinate out of range", Replace(valid, "cx=5 cy=5 text", "cx=40000 cy=5 text"),
         "out of range"},
        {"template larger than its size",
         Replace(valid, "dialog main style", "dialog main size=40 style"), "more than its size=40"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string error = CompileError(c.source);
        EXPECT_NE(error.find(c.error), std::string::npos) << "got: \"" << error << "\"";
    }
}

TEST(CatalogSource, ErrorsNameTheSourceLine)
{
    SourceFixture f;
    f.texts[2] = "\"bad \\q\""; /* text 2 is on line 4 after the comment */
    EXPECT_EQ(CompileError(f.Build()).rfind("test.txt:4: ", 0), 0u) << CompileError(f.Build());
}

TEST(CatalogSource, EscapesAndContinuedStrings)
{
    SourceFixture f;
    f.texts[1] = "\"a\\\\b\" \"\\\"c\\\"\\n\"\n      \"\\x41\\t\"";
    f.texts[2] = "\"\\x81\""; /* a byte of the OEM code page, kept as it is */
    f.texts[27] = "\"\\\\TEMP\"";
    auto source = ParseSource(f.Build(), "test.txt");
    EXPECT_EQ(source.texts[1], "a\\b\"c\"\nA\t");
    EXPECT_EQ(source.texts[2], "\x81");
    EXPECT_EQ(source.texts[27], "\\TEMP");
}

TEST(CatalogSource, OffsetsAndLayout)
{
    SourceFixture f;
    f.texts[0] = "\"\"";
    f.texts[1] = "\"abc\"";
    auto catalog = BuildCatalog(ParseSource(f.Build(), "test.txt"));
    EXPECT_EQ(catalog.offsets[0], 0u);
    EXPECT_EQ(catalog.offsets[1], 1u);
    EXPECT_EQ(catalog.offsets[2], 5u);
    EXPECT_EQ(std::string((const char *)catalog.inflated.data() + 1), "abc");
    EXPECT_EQ(catalog.inflated.size() - catalog.offsets[60],
              mkcatalog::AssembleTemplate(ParseSource(f.Build(), "t").mainDialog).size());
    EXPECT_EQ(mkcatalog::RawInflate(catalog.deflated.data(), catalog.deflated.size(), 5313),
              catalog.inflated);
}

/* A dialog whose title and class name leave odd lengths, so both the gap
 * after the header and the gap between items need padding. */
TEST(DialogTemplate, ExactBytes)
{
    SourceFixture f;
    f.mainDialog =
        "dialog main style=WS_POPUP|DS_SETFONT exstyle=0x8 x=1 y=2 cx=3 cy=-4 title=\"AB\"\n"
        "    font=9,\"F\"\n"
        "control id=7 class=\"ab\" x=5 y=6 cx=7 cy=8 text=#300 style=WS_CHILD|0x5\n"
        "control id=8 class=edit x=-1 y=0 cx=2 cy=3 text=\"\" style=0 exstyle=WS_EX_CLIENTEDGE\n"
        "end\n";
    std::vector<uint8_t> bytes =
        mkcatalog::AssembleTemplate(ParseSource(f.Build(), "test.txt").mainDialog);
    const std::vector<uint8_t> expected = {
        0x40, 0x00, 0x00, 0x80, 0x08, 0x00, 0x00, 0x00, /* style, extended style */
        0x02, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0xFC, 0xFF, /* count, x, y, cx, cy */
        0x00, 0x00, 0x00, 0x00,                         /* no menu, default class */
        0x41, 0x00, 0x42, 0x00, 0x00, 0x00,             /* "AB" */
        0x09, 0x00, 0x46, 0x00, 0x00, 0x00,             /* 9 point "F" */
        0x00, 0x00,                                     /* to offset 36 */
        0x05, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, /* style, extended style */
        0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00, 0x07, 0x00, /* x, y, cx, cy, id */
        0x61, 0x00, 0x62, 0x00, 0x00, 0x00,             /* class "ab" */
        0xFF, 0xFF, 0x2C, 0x01,                         /* text: ordinal 300 */
        0x00, 0x00,                                     /* creation data */
        0x00, 0x00,                                     /* to offset 68 */
        0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, /* style, WS_EX_CLIENTEDGE */
        0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00, 0x03, 0x00, 0x08, 0x00, /* x, y, cx, cy, id */
        0xFF, 0xFF, 0x81, 0x00,                         /* class: edit */
        0x00, 0x00,                                     /* empty text */
        0x00, 0x00,                                     /* creation data */
    };
    EXPECT_EQ(bytes, expected);
}

TEST(DialogTemplate, SizePadsWithZerosAfterTheLastControl)
{
    SourceFixture f;
    auto natural = mkcatalog::AssembleTemplate(ParseSource(f.Build(), "t").mainDialog);
    f.mainDialog = Replace(f.mainDialog, "dialog main", "dialog main size=" +
                                                           std::to_string(natural.size() + 8));
    auto padded = mkcatalog::AssembleTemplate(ParseSource(f.Build(), "t").mainDialog);
    ASSERT_EQ(padded.size(), natural.size() + 8);
    EXPECT_TRUE(std::equal(natural.begin(), natural.end(), padded.begin()));
    EXPECT_EQ(std::vector<uint8_t>(padded.begin() + natural.size(), padded.end()),
              std::vector<uint8_t>(8, 0));
}

/* The stub's buffer holds 5313 bytes: the catalog may take 5311 (two
 * guard bytes follow) and the template must start by 4289 (1024 bytes are
 * copied from there).  The fixture's other texts take 227 bytes. */
TEST(CatalogLimits, BufferBoundaries)
{
    const struct {
        const char *name;
        uint32_t textBytes;    /* OffsetTable[60] */
        uint32_t templateSize; /* size= of the main dialog */
        const char *error;     /* "" when it must pass */
    } cases[] = {
        {"texts end at 4289, catalog 5311 bytes", 4289, 1022, ""},
        {"catalog one byte over 5311", 4289, 1023, "at most 5311"},
        {"texts one byte over 4289", 4290, 200, "start by 4289"},
        {"template over 1024 bytes", 100 + 227, 1025, "at most 1024"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SourceFixture f;
        f.texts[0] = "\"" + std::string(c.textBytes - 227 - 1, 'x') + "\"";
        f.mainDialog = Replace(f.mainDialog, "dialog main",
                               "dialog main size=" + std::to_string(c.templateSize));
        std::string error = CompileError(f.Build());
        if (*c.error == '\0') {
            EXPECT_EQ(error, "");
            auto catalog = BuildCatalog(ParseSource(f.Build(), "t"));
            EXPECT_EQ(catalog.offsets[60], c.textBytes);
            EXPECT_EQ(catalog.inflated.size(), c.textBytes + c.templateSize);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << "got: \"" << error << "\"";
        }
    }
}

/* The command line tool: a failed run leaves no output for the build to
 * pick up, a good one writes the five definitions. */
TEST(MkcatalogTool, WritesOnlyOnSuccess)
{
    namespace fs = std::filesystem;
    fs::path dir = fs::path(::testing::TempDir()) / "mkcatalog_tool_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::path good = dir / "good.txt", bad = dir / "bad.txt", out = dir / "gen" / "data.cpp";
    std::ofstream(good) << SourceFixture().Build();
    std::ofstream(bad) << Replace(SourceFixture().Build(), "text 59 \"t59\"\n", "");

    auto run = [&](const fs::path &source) {
        std::string command = std::string("\"") + MKCATALOG_PATH + "\" \"" + source.string() +
                              "\" \"" + out.string() + "\" >/dev/null 2>&1";
        return std::system(command.c_str());
    };
    EXPECT_NE(run(bad), 0);
    EXPECT_FALSE(fs::exists(out));

    EXPECT_EQ(run(good), 0);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    for (const char *definition :
         {"#include \"core.h\"", "const uint8_t MessageCatalog[", "const uint32_t MessageCatalogSize = ",
          "const uint32_t OffsetTable[CATALOG_ENTRIES] = {", "const uint8_t PasswordTemplate[",
          "const uint32_t PasswordTemplateSize = "})
        EXPECT_NE(text.str().find(definition), std::string::npos) << definition;
    fs::remove_all(dir);
}

} // namespace

/*
 * source.cpp: reading the readable catalog source.
 *
 * The source is line based.  A physical line that starts with a blank
 * continues the logical line before it; a line whose first non-blank
 * character is '#' is a comment.  A logical line is split into tokens at
 * blanks, except inside double-quoted strings.  A token that is nothing
 * but a string directly after a token ending in a string is joined to it,
 * so long texts can be written over several lines.
 */
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "mkcatalog.h"

namespace mkcatalog {
namespace {

struct LogicalLine {
    int line;
    std::string text;
};

class Reader {
public:
    explicit Reader(std::string fileName) : fileName_(std::move(fileName)) {}

    [[noreturn]] void Fail(int line, const std::string &message) const
    {
        std::ostringstream out;
        out << fileName_ << ':' << line << ": " << message;
        throw CatalogError(out.str());
    }

    const std::string &FileName() const { return fileName_; }

private:
    std::string fileName_;
};

std::vector<LogicalLine> SplitLines(const std::string &content, const Reader &reader)
{
    std::vector<LogicalLine> lines;
    std::istringstream in(content);
    std::string physical;
    int number = 0;
    while (std::getline(in, physical)) {
        number++;
        if (!physical.empty() && physical.back() == '\r')
            physical.pop_back();
        size_t first = physical.find_first_not_of(" \t");
        if (first == std::string::npos || physical[first] == '#')
            continue;
        if (first > 0) {
            if (lines.empty())
                reader.Fail(number, "continuation line without a line to continue");
            lines.back().text += ' ';
            lines.back().text += physical.substr(first);
        } else {
            lines.push_back({number, physical});
        }
    }
    return lines;
}

/* Split at blanks; a double-quoted string is kept whole in its token. */
std::vector<std::string> Tokenize(const LogicalLine &line, const Reader &reader)
{
    std::vector<std::string> tokens;
    const std::string &s = line.text;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ' || s[i] == '\t') {
            i++;
            continue;
        }
        std::string token;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') {
            if (s[i] != '"') {
                token += s[i++];
                continue;
            }
            token += s[i++];
            bool closed = false;
            while (i < s.size()) {
                char c = s[i++];
                token += c;
                if (c == '\\' && i < s.size()) {
                    token += s[i++];
                } else if (c == '"') {
                    closed = true;
                    break;
                }
            }
            if (!closed)
                reader.Fail(line.line, "string without its closing quote");
        }
        tokens.push_back(token);
    }

    /* Join a bare string to a preceding token that ends in a string.  The
     * escapes are complete in each piece (\x takes exactly two digits), so
     * joining the raw pieces cannot change what either one means. */
    std::vector<std::string> joined;
    for (const std::string &token : tokens) {
        if (token.front() == '"' && !joined.empty() && joined.back().back() == '"') {
            joined.back().pop_back();
            joined.back() += token.substr(1);
        } else {
            joined.push_back(token);
        }
    }
    return joined;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* A token that is exactly one double-quoted string, decoded. */
std::string DecodeString(const std::string &raw, int line, const Reader &reader)
{
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
        reader.Fail(line, "expected a quoted string, found: " + raw);
    std::string out;
    for (size_t i = 1; i + 1 < raw.size(); i++) {
        char c = raw[i];
        if (c == '"')
            reader.Fail(line, "unexpected quote inside: " + raw);
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 2 > raw.size() - 1)
            reader.Fail(line, "incomplete escape in: " + raw);
        char e = raw[++i];
        switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            int hi = i + 1 < raw.size() - 1 ? HexDigit(raw[i + 1]) : -1;
            int lo = i + 2 < raw.size() - 1 ? HexDigit(raw[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                reader.Fail(line, "\\x needs two hex digits in: " + raw);
            int value = hi * 16 + lo;
            if (value == 0)
                reader.Fail(line, "a text cannot hold a NUL byte");
            out += (char)value;
            i += 2;
            break;
        }
        default:
            reader.Fail(line, std::string("unknown escape \\") + e + " in: " + raw);
        }
    }
    return out;
}

bool ParseNumberText(const std::string &text, long long &value)
{
    if (text.empty())
        return false;
    const char *begin = text.c_str();
    char *end = nullptr;
    bool negative = text[0] == '-';
    const char *digits = negative ? begin + 1 : begin;
    if (!std::isdigit((unsigned char)*digits))
        return false;
    int base = (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) ? 16 : 10;
    unsigned long long magnitude = std::strtoull(digits, &end, base);
    if (*end != '\0' || magnitude > 0xFFFFFFFFull)
        return false;
    value = negative ? -(long long)magnitude : (long long)magnitude;
    return true;
}

long long ParseNumber(const std::string &text, long long low, long long high, int line,
                      const Reader &reader)
{
    long long value = 0;
    if (!ParseNumberText(text, value))
        reader.Fail(line, "not a number: " + text);
    if (value < low || value > high)
        reader.Fail(line, "number out of range: " + text);
    return value;
}

const std::map<std::string, uint32_t> &StyleNames()
{
    static const std::map<std::string, uint32_t> names = {
        /* window styles */
        {"WS_POPUP", 0x80000000u}, {"WS_CHILD", 0x40000000u},
        {"WS_MINIMIZE", 0x20000000u}, {"WS_VISIBLE", 0x10000000u},
        {"WS_DISABLED", 0x08000000u}, {"WS_CLIPSIBLINGS", 0x04000000u},
        {"WS_CLIPCHILDREN", 0x02000000u}, {"WS_MAXIMIZE", 0x01000000u},
        {"WS_CAPTION", 0x00C00000u}, {"WS_BORDER", 0x00800000u},
        {"WS_DLGFRAME", 0x00400000u}, {"WS_VSCROLL", 0x00200000u},
        {"WS_HSCROLL", 0x00100000u}, {"WS_SYSMENU", 0x00080000u},
        {"WS_THICKFRAME", 0x00040000u}, {"WS_GROUP", 0x00020000u},
        {"WS_TABSTOP", 0x00010000u}, {"WS_MINIMIZEBOX", 0x00020000u},
        {"WS_MAXIMIZEBOX", 0x00010000u},
        /* dialog styles */
        {"DS_ABSALIGN", 0x01}, {"DS_SYSMODAL", 0x02}, {"DS_3DLOOK", 0x04},
        {"DS_FIXEDSYS", 0x08}, {"DS_NOFAILCREATE", 0x10}, {"DS_LOCALEDIT", 0x20},
        {"DS_SETFONT", 0x40}, {"DS_MODALFRAME", 0x80}, {"DS_NOIDLEMSG", 0x100},
        {"DS_SETFOREGROUND", 0x200}, {"DS_CONTROL", 0x400}, {"DS_CENTER", 0x800},
        {"DS_CENTERMOUSE", 0x1000}, {"DS_CONTEXTHELP", 0x2000},
        /* static control styles */
        {"SS_LEFT", 0x0}, {"SS_CENTER", 0x1}, {"SS_RIGHT", 0x2}, {"SS_ICON", 0x3},
        {"SS_BLACKRECT", 0x4}, {"SS_GRAYRECT", 0x5}, {"SS_WHITERECT", 0x6},
        {"SS_BLACKFRAME", 0x7}, {"SS_GRAYFRAME", 0x8}, {"SS_WHITEFRAME", 0x9},
        {"SS_SIMPLE", 0xB}, {"SS_LEFTNOWORDWRAP", 0xC}, {"SS_BITMAP", 0xE},
        {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200},
        {"SS_SUNKEN", 0x1000},
        /* button styles */
        {"BS_PUSHBUTTON", 0x0}, {"BS_DEFPUSHBUTTON", 0x1}, {"BS_CHECKBOX", 0x2},
        {"BS_AUTOCHECKBOX", 0x3}, {"BS_RADIOBUTTON", 0x4}, {"BS_3STATE", 0x5},
        {"BS_AUTO3STATE", 0x6}, {"BS_GROUPBOX", 0x7}, {"BS_AUTORADIOBUTTON", 0x9},
        {"BS_LEFTTEXT", 0x20}, {"BS_MULTILINE", 0x2000},
        /* edit styles */
        {"ES_LEFT", 0x0}, {"ES_CENTER", 0x1}, {"ES_RIGHT", 0x2}, {"ES_MULTILINE", 0x4},
        {"ES_UPPERCASE", 0x8}, {"ES_LOWERCASE", 0x10}, {"ES_PASSWORD", 0x20},
        {"ES_AUTOVSCROLL", 0x40}, {"ES_AUTOHSCROLL", 0x80}, {"ES_NOHIDESEL", 0x100},
        {"ES_OEMCONVERT", 0x400}, {"ES_READONLY", 0x800}, {"ES_WANTRETURN", 0x1000},
        {"ES_NUMBER", 0x2000},
        /* extended styles */
        {"WS_EX_DLGMODALFRAME", 0x1}, {"WS_EX_NOPARENTNOTIFY", 0x4},
        {"WS_EX_TOPMOST", 0x8}, {"WS_EX_TRANSPARENT", 0x20},
        {"WS_EX_TOOLWINDOW", 0x80}, {"WS_EX_WINDOWEDGE", 0x100},
        {"WS_EX_CLIENTEDGE", 0x200}, {"WS_EX_CONTEXTHELP", 0x400},
        {"WS_EX_STATICEDGE", 0x20000}, {"WS_EX_APPWINDOW", 0x40000},
    };
    return names;
}

uint32_t StyleOrFail(const std::string &expression, int line, const Reader &reader)
{
    try {
        return ParseStyle(expression);
    } catch (const CatalogError &e) {
        reader.Fail(line, e.what());
    }
}

void CheckAscii(const std::string &text, int line, const Reader &reader)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            reader.Fail(line, "template strings must be plain ASCII");
}

NameOrOrdinal ParseClass(const std::string &value, int line, const Reader &reader)
{
    static const std::map<std::string, uint16_t> predefined = {
        {"button", 0x0080}, {"edit", 0x0081}, {"static", 0x0082},
        {"listbox", 0x0083}, {"scrollbar", 0x0084}, {"combobox", 0x0085},
    };
    NameOrOrdinal result;
    if (!value.empty() && value.front() == '"') {
        result.text = DecodeString(value, line, reader);
        if (result.text.empty())
            reader.Fail(line, "empty class name");
        CheckAscii(result.text, line, reader);
        return result;
    }
    auto it = predefined.find(value);
    if (it == predefined.end())
        reader.Fail(line, "unknown control class: " + value +
                              " (a class of its own is written in quotes)");
    result.isOrdinal = true;
    result.ordinal = it->second;
    return result;
}

NameOrOrdinal ParseControlText(const std::string &value, int line, const Reader &reader)
{
    NameOrOrdinal result;
    if (!value.empty() && value.front() == '#') {
        result.isOrdinal = true;
        result.ordinal = (uint16_t)ParseNumber(value.substr(1), 0, 0xFFFF, line, reader);
        return result;
    }
    result.text = DecodeString(value, line, reader);
    CheckAscii(result.text, line, reader);
    return result;
}

/* The key=value tokens of a directive, each key once and only known keys. */
std::map<std::string, std::string> KeyValues(const std::vector<std::string> &tokens,
                                             size_t first, const std::set<std::string> &allowed,
                                             int line, const Reader &reader)
{
    std::map<std::string, std::string> values;
    for (size_t i = first; i < tokens.size(); i++) {
        const std::string &token = tokens[i];
        size_t eq = token.find('=');
        if (token.front() == '"' || eq == std::string::npos || eq == 0)
            reader.Fail(line, "expected key=value, found: " + token);
        std::string key = token.substr(0, eq);
        if (!allowed.count(key))
            reader.Fail(line, "unknown key: " + key);
        if (values.count(key))
            reader.Fail(line, "key given twice: " + key);
        values[key] = token.substr(eq + 1);
    }
    return values;
}

const std::string &Required(const std::map<std::string, std::string> &values,
                            const std::string &key, int line, const Reader &reader)
{
    auto it = values.find(key);
    if (it == values.end())
        reader.Fail(line, "missing key: " + key);
    return it->second;
}

int16_t Coordinate(const std::map<std::string, std::string> &values, const std::string &key,
                   int line, const Reader &reader)
{
    return (int16_t)ParseNumber(Required(values, key, line, reader), -32768, 32767, line, reader);
}

DialogSpec ParseDialogLine(const std::vector<std::string> &tokens, int line, const Reader &reader)
{
    if (tokens.size() < 2)
        reader.Fail(line, "dialog needs a name");
    DialogSpec dialog;
    dialog.line = line;
    dialog.name = tokens[1];
    auto values = KeyValues(tokens, 2,
                            {"style", "exstyle", "x", "y", "cx", "cy", "title", "font", "size"},
                            line, reader);
    dialog.style = StyleOrFail(Required(values, "style", line, reader), line, reader);
    if (values.count("exstyle"))
        dialog.exStyle = StyleOrFail(values["exstyle"], line, reader);
    dialog.x = Coordinate(values, "x", line, reader);
    dialog.y = Coordinate(values, "y", line, reader);
    dialog.cx = Coordinate(values, "cx", line, reader);
    dialog.cy = Coordinate(values, "cy", line, reader);
    if (values.count("title")) {
        dialog.title = DecodeString(values["title"], line, reader);
        CheckAscii(dialog.title, line, reader);
    }
    if (values.count("font")) {
        const std::string &font = values["font"];
        size_t comma = font.find(',');
        if (comma == std::string::npos)
            reader.Fail(line, "font is written POINTS,\"FACE\"");
        dialog.hasFont = true;
        dialog.pointSize = (uint16_t)ParseNumber(font.substr(0, comma), 1, 0xFFFF, line, reader);
        dialog.faceName = DecodeString(font.substr(comma + 1), line, reader);
        if (dialog.faceName.empty())
            reader.Fail(line, "empty font face name");
        CheckAscii(dialog.faceName, line, reader);
    }
    /* DS_SETFONT is what tells the dialog manager that a font follows. */
    if (dialog.hasFont != ((dialog.style & 0x40) != 0))
        reader.Fail(line, dialog.hasFont ? "a font needs DS_SETFONT in the style"
                                         : "DS_SETFONT needs a font");
    if (values.count("size"))
        dialog.size = (uint32_t)ParseNumber(values["size"], 1, 0xFFFF, line, reader);
    return dialog;
}

ControlSpec ParseControlLine(const std::vector<std::string> &tokens, int line, const Reader &reader)
{
    ControlSpec control;
    control.line = line;
    auto values = KeyValues(tokens, 1,
                            {"id", "class", "x", "y", "cx", "cy", "text", "style", "exstyle"},
                            line, reader);
    control.id = (uint16_t)ParseNumber(Required(values, "id", line, reader), 0, 0xFFFF, line, reader);
    control.windowClass = ParseClass(Required(values, "class", line, reader), line, reader);
    control.x = Coordinate(values, "x", line, reader);
    control.y = Coordinate(values, "y", line, reader);
    control.cx = Coordinate(values, "cx", line, reader);
    control.cy = Coordinate(values, "cy", line, reader);
    if (values.count("text"))
        control.text = ParseControlText(values["text"], line, reader);
    control.style = StyleOrFail(Required(values, "style", line, reader), line, reader);
    if (values.count("exstyle"))
        control.exStyle = StyleOrFail(values["exstyle"], line, reader);
    return control;
}

} // namespace

uint32_t ParseStyle(const std::string &expression)
{
    if (expression.empty())
        throw CatalogError("empty style");
    uint32_t style = 0;
    size_t start = 0;
    while (true) {
        size_t bar = expression.find('|', start);
        std::string part = expression.substr(start, bar == std::string::npos ? std::string::npos
                                                                             : bar - start);
        long long value = 0;
        auto it = StyleNames().find(part);
        if (it != StyleNames().end())
            style |= it->second;
        else if (ParseNumberText(part, value) && value >= 0)
            style |= (uint32_t)value;
        else
            throw CatalogError("unknown style: " + (part.empty() ? std::string("(empty)") : part));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return style;
}

CatalogSource ParseSource(const std::string &content, const std::string &fileName)
{
    Reader reader(fileName);
    CatalogSource source;
    bool haveMain = false, havePassword = false;
    DialogSpec *open = nullptr;
    int lastLine = 0;

    for (const LogicalLine &line : SplitLines(content, reader)) {
        lastLine = line.line;
        std::vector<std::string> tokens = Tokenize(line, reader);
        const std::string &keyword = tokens[0];

        if (keyword == "control") {
            if (open == nullptr)
                reader.Fail(line.line, "control outside a dialog");
            open->controls.push_back(ParseControlLine(tokens, line.line, reader));
            continue;
        }
        if (keyword == "end") {
            if (open == nullptr)
                reader.Fail(line.line, "end without a dialog");
            if (tokens.size() != 1)
                reader.Fail(line.line, "end takes nothing after it");
            if (open->controls.empty())
                reader.Fail(line.line, "a dialog without controls");
            open = nullptr;
            continue;
        }
        if (open != nullptr)
            reader.Fail(line.line, "dialog \"" + open->name + "\" is not closed with end");

        if (keyword == "text") {
            if (tokens.size() != 3)
                reader.Fail(line.line, "text N \"...\" expected");
            long long slot = ParseNumber(tokens[1], 0, kEntries - 1, line.line, reader);
            if (slot >= kTextEntries)
                reader.Fail(line.line, "slot 60 is the main dialog, not a text");
            if (slot != (long long)source.texts.size())
                reader.Fail(line.line, "expected the text of slot " +
                                           std::to_string(source.texts.size()) + ", found slot " +
                                           tokens[1]);
            source.texts.push_back(DecodeString(tokens[2], line.line, reader));
        } else if (keyword == "dialog") {
            DialogSpec dialog = ParseDialogLine(tokens, line.line, reader);
            bool &have = dialog.name == "main" ? haveMain : havePassword;
            if (dialog.name != "main" && dialog.name != "password")
                reader.Fail(line.line, "the dialogs are called main and password");
            if (have)
                reader.Fail(line.line, "dialog " + dialog.name + " given twice");
            have = true;
            DialogSpec &slot = dialog.name == "main" ? source.mainDialog : source.passwordDialog;
            slot = std::move(dialog);
            open = &slot;
        } else {
            reader.Fail(line.line, "unknown directive: " + keyword);
        }
    }

    if (open != nullptr)
        reader.Fail(lastLine, "dialog \"" + open->name + "\" is not closed with end");
    if (source.texts.size() != (size_t)kTextEntries)
        reader.Fail(lastLine, "texts end at slot " + std::to_string(source.texts.size()) +
                                  "; slots 0 to 59 are needed");
    if (!haveMain)
        reader.Fail(lastLine, "the main dialog is missing");
    if (!havePassword)
        reader.Fail(lastLine, "the password dialog is missing");
    return source;
}

} // namespace mkcatalog

/*
 * dlgtemplate.cpp: the binary in-memory dialog template (DLGTEMPLATE with
 * its DLGITEMTEMPLATEs, not the extended form).
 *
 * Header: style, extended style, item count, x, y, cx, cy; then the menu
 * (none: one zero word), the window class (the default: one zero word),
 * the title as a UTF-16LE string, and with DS_SETFONT the point size and
 * the face name.  Each item starts on a 4-byte boundary counted from the
 * template's start: style, extended style, x, y, cx, cy, id; then its class
 * (0xFFFF and an ordinal, or a string), its text (0xFFFF and an ordinal, or
 * a string) and the creation-data word, always 0.
 */
#include <cstdio>
#include <sstream>

#include "mkcatalog.h"

namespace mkcatalog {
namespace {

constexpr uint32_t kSetFont = 0x40; /* DS_SETFONT */

class Writer {
public:
    void Word(uint16_t v)
    {
        bytes.push_back((uint8_t)(v & 0xFF));
        bytes.push_back((uint8_t)(v >> 8));
    }
    void Dword(uint32_t v)
    {
        Word((uint16_t)(v & 0xFFFF));
        Word((uint16_t)(v >> 16));
    }
    /* ASCII to UTF-16LE, with the terminating zero. */
    void String(const std::string &text)
    {
        for (unsigned char c : text)
            Word(c);
        Word(0);
    }
    void NameOrOrdinal(const mkcatalog::NameOrOrdinal &value)
    {
        if (value.isOrdinal) {
            Word(0xFFFF);
            Word(value.ordinal);
        } else {
            String(value.text);
        }
    }
    void AlignDword()
    {
        while (bytes.size() % 4 != 0)
            bytes.push_back(0);
    }
    std::vector<uint8_t> bytes;
};

class Cursor {
public:
    explicit Cursor(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    uint16_t Word()
    {
        Need(2);
        uint16_t v = (uint16_t)(bytes_[pos_] | bytes_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }
    uint32_t Dword()
    {
        uint32_t low = Word();
        return low | (uint32_t)Word() << 16;
    }
    std::string String()
    {
        std::string out;
        for (uint16_t c = Word(); c != 0; c = Word()) {
            if (c == '\n')
                out += "\\n";
            else
                out += c < 0x80 && c >= 0x20 ? (char)c : '?';
        }
        return out;
    }
    std::string NameOrOrdinal()
    {
        Need(2);
        if ((bytes_[pos_] | bytes_[pos_ + 1] << 8) == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return "\"" + String() + "\"";
    }
    void AlignDword() { pos_ = (pos_ + 3) & ~(size_t)3; }
    size_t Position() const { return pos_; }

private:
    void Need(size_t n)
    {
        if (pos_ + n > bytes_.size())
            throw CatalogError("dialog template ends early");
    }
    const std::vector<uint8_t> &bytes_;
    size_t pos_ = 0;
};

std::string Hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

} // namespace

std::vector<uint8_t> AssembleTemplate(const DialogSpec &dialog)
{
    if (dialog.controls.size() > 0xFFFF)
        throw CatalogError("dialog " + dialog.name + " has too many controls");
    if (dialog.hasFont != ((dialog.style & kSetFont) != 0))
        throw CatalogError("dialog " + dialog.name + ": DS_SETFONT and the font go together");

    Writer w;
    w.Dword(dialog.style);
    w.Dword(dialog.exStyle);
    w.Word((uint16_t)dialog.controls.size());
    w.Word((uint16_t)dialog.x);
    w.Word((uint16_t)dialog.y);
    w.Word((uint16_t)dialog.cx);
    w.Word((uint16_t)dialog.cy);
    w.Word(0); /* no menu */
    w.Word(0); /* the default dialog class */
    w.String(dialog.title);
    if (dialog.hasFont) {
        w.Word(dialog.pointSize);
        w.String(dialog.faceName);
    }
    for (const ControlSpec &c : dialog.controls) {
        w.AlignDword();
        w.Dword(c.style);
        w.Dword(c.exStyle);
        w.Word((uint16_t)c.x);
        w.Word((uint16_t)c.y);
        w.Word((uint16_t)c.cx);
        w.Word((uint16_t)c.cy);
        w.Word(c.id);
        w.NameOrOrdinal(c.windowClass);
        w.NameOrOrdinal(c.text);
        w.Word(0); /* no creation data */
    }

    if (dialog.size != 0) {
        if (w.bytes.size() > dialog.size)
            throw CatalogError("dialog " + dialog.name + " needs " +
                               std::to_string(w.bytes.size()) + " bytes, more than its size=" +
                               std::to_string(dialog.size));
        w.bytes.resize(dialog.size, 0);
    }
    return w.bytes;
}

std::string DescribeTemplate(const std::vector<uint8_t> &bytes)
{
    Cursor r(bytes);
    std::ostringstream out;
    uint32_t style = r.Dword();
    uint32_t exStyle = r.Dword();
    uint16_t count = r.Word();
    int16_t x = (int16_t)r.Word(), y = (int16_t)r.Word();
    int16_t cx = (int16_t)r.Word(), cy = (int16_t)r.Word();
    std::string menu = r.NameOrOrdinal();
    std::string windowClass = r.NameOrOrdinal();
    std::string title = r.String();
    out << "dialog style=" << Hex(style) << " exstyle=" << Hex(exStyle) << " x=" << x
        << " y=" << y << " cx=" << cx << " cy=" << cy << " menu=" << menu
        << " class=" << windowClass << " title=\"" << title << "\"";
    if (style & kSetFont) {
        uint16_t points = r.Word();
        out << " font=" << points << ",\"" << r.String() << "\"";
    }
    out << " controls=" << count << "\n";
    for (int i = 0; i < count; i++) {
        r.AlignDword();
        size_t at = r.Position();
        uint32_t s = r.Dword();
        uint32_t e = r.Dword();
        int16_t ix = (int16_t)r.Word(), iy = (int16_t)r.Word();
        int16_t icx = (int16_t)r.Word(), icy = (int16_t)r.Word();
        uint16_t id = r.Word();
        std::string cls = r.NameOrOrdinal();
        std::string text = r.NameOrOrdinal();
        uint16_t extra = r.Word();
        out << "  @" << at << " control id=" << id << " class=" << cls << " x=" << ix
            << " y=" << iy << " cx=" << icx << " cy=" << icy << " text=" << text
            << " style=" << Hex(s) << " exstyle=" << Hex(e) << " data=" << extra << "\n";
    }
    out << "  controls end at " << r.Position() << " of " << bytes.size() << " bytes\n";
    return out.str();
}

} // namespace mkcatalog

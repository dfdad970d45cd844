/*
 * The message catalog as the stub links it: the generated MessageCatalog,
 * OffsetTable and PasswordTemplate, inflated here with zlib and read back
 * with a dialog template reader of this file's own.  The expected texts
 * and controls are written out below, so that a slip in catalog.txt or in
 * the compiler shows up as a difference.
 */
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "core.h"

namespace {

/* Style values as the Windows headers define them. */
constexpr uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                   WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_SYSMENU = 0x00080000,
                   WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000;
constexpr uint32_t DS_3DLOOK = 0x04, DS_SETFONT = 0x40, DS_MODALFRAME = 0x80;
constexpr uint32_t SS_LEFT = 0x0, SS_RIGHT = 0x2, SS_ICON = 0x3, SS_NOPREFIX = 0x80;
constexpr uint32_t BS_PUSHBUTTON = 0x0, BS_DEFPUSHBUTTON = 0x1;
constexpr uint32_t ES_PASSWORD = 0x20, ES_AUTOHSCROLL = 0x80;

constexpr uint32_t kDialogStyle =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT;
constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;

struct Inflated {
    std::vector<uint8_t> bytes;
    bool complete = false; /* the final block was reached */
    size_t unusedInput = 0;
};

/* Raw inflate into a buffer of limit bytes; longer output is incomplete. */
Inflated InflateRaw(const uint8_t *data, uint32_t size, size_t limit)
{
    Inflated result;
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    result.bytes.resize(limit);
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = size;
    z.next_out = result.bytes.data();
    z.avail_out = (uInt)limit;
    result.complete = inflate(&z, Z_FINISH) == Z_STREAM_END;
    result.unusedInput = z.avail_in;
    result.bytes.resize(limit - z.avail_out);
    inflateEnd(&z);
    return result;
}

/* ---- Reading a DLGTEMPLATE back ---- */

/* A class or text: ordinal (0xFFFF, value) or a string. */
struct Ref {
    bool ordinal = false;
    uint16_t value = 0;
    std::string text;
    bool operator==(const Ref &o) const
    {
        return ordinal == o.ordinal && (ordinal ? value == o.value : text == o.text);
    }
};
Ref Ord(uint16_t v) { return Ref{true, v, {}}; }
Ref Str(const char *s) { return Ref{false, 0, s}; }
std::ostream &operator<<(std::ostream &out, const Ref &r)
{
    if (r.ordinal)
        return out << "#" << r.value;
    return out << '"' << r.text << '"';
}

constexpr uint16_t kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;

struct Item {
    size_t offset = 0;
    uint32_t style = 0, exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint16_t id = 0;
    Ref windowClass, text;
    uint16_t creationData = 0;
};

struct Dialog {
    uint32_t style = 0, exStyle = 0;
    uint16_t count = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    Ref menu, windowClass;
    std::string title;
    uint16_t pointSize = 0;
    std::string face;
    std::vector<Item> items;
    size_t end = 0;         /* just after the last item */
    bool paddingZero = true; /* every alignment gap and the tail are zero */
    bool ok = false;         /* read without running off the end */
};

class TemplateReader {
public:
    explicit TemplateReader(const std::vector<uint8_t> &b) : b_(b) {}
    bool Word(uint16_t &v)
    {
        if (pos_ + 2 > b_.size())
            return false;
        v = (uint16_t)(b_[pos_] | b_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool Dword(uint32_t &v)
    {
        uint16_t lo, hi;
        if (!Word(lo) || !Word(hi))
            return false;
        v = lo | (uint32_t)hi << 16;
        return true;
    }
    bool Short(int16_t &v)
    {
        uint16_t w;
        if (!Word(w))
            return false;
        v = (int16_t)w;
        return true;
    }
    bool String(std::string &s)
    {
        s.clear();
        for (uint16_t c;;) {
            if (!Word(c))
                return false;
            if (c == 0)
                return true;
            s += c < 0x80 ? (char)c : '?';
        }
    }
    bool Reference(Ref &r)
    {
        uint16_t first;
        if (pos_ + 2 > b_.size())
            return false;
        first = (uint16_t)(b_[pos_] | b_[pos_ + 1] << 8);
        if (first == 0xFFFF) {
            pos_ += 2;
            r.ordinal = true;
            return Word(r.value);
        }
        r.ordinal = false;
        return String(r.text);
    }
    bool Align(bool &zero)
    {
        while (pos_ % 4 != 0) {
            if (pos_ >= b_.size())
                return false;
            zero = zero && b_[pos_] == 0;
            pos_++;
        }
        return true;
    }
    size_t pos() const { return pos_; }

private:
    const std::vector<uint8_t> &b_;
    size_t pos_ = 0;
};

Dialog ReadTemplate(const std::vector<uint8_t> &bytes)
{
    Dialog d;
    TemplateReader r(bytes);
    if (!r.Dword(d.style) || !r.Dword(d.exStyle) || !r.Word(d.count) || !r.Short(d.x) ||
        !r.Short(d.y) || !r.Short(d.cx) || !r.Short(d.cy) || !r.Reference(d.menu) ||
        !r.Reference(d.windowClass) || !r.String(d.title))
        return d;
    if ((d.style & DS_SETFONT) && (!r.Word(d.pointSize) || !r.String(d.face)))
        return d;
    for (int i = 0; i < d.count; i++) {
        Item item;
        if (!r.Align(d.paddingZero))
            return d;
        item.offset = r.pos();
        if (!r.Dword(item.style) || !r.Dword(item.exStyle) || !r.Short(item.x) ||
            !r.Short(item.y) || !r.Short(item.cx) || !r.Short(item.cy) || !r.Word(item.id) ||
            !r.Reference(item.windowClass) || !r.Reference(item.text) ||
            !r.Word(item.creationData))
            return d;
        d.items.push_back(item);
    }
    d.end = r.pos();
    for (size_t i = d.end; i < bytes.size(); i++)
        d.paddingZero = d.paddingZero && bytes[i] == 0;
    d.ok = true;
    return d;
}

struct ExpectedControl {
    uint16_t id;
    Ref windowClass;
    int16_t x, y, cx, cy;
    Ref text;
    uint32_t style;
};

void ExpectControls(const Dialog &d, const std::vector<ExpectedControl> &expected)
{
    ASSERT_EQ(d.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        const Item &got = d.items[i];
        const ExpectedControl &want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(got.offset % 4, 0u);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.windowClass, want.windowClass);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.creationData, 0u);
    }
}

void ExpectHeader(const Dialog &d, int16_t x, int16_t y, int16_t cx, int16_t cy,
                  const char *title)
{
    ASSERT_TRUE(d.ok) << "the template ends inside its own structure";
    EXPECT_EQ(d.style, 0x90C800C4u);
    EXPECT_EQ(d.style, kDialogStyle);
    EXPECT_EQ(d.exStyle, 0u);
    EXPECT_EQ(d.x, x);
    EXPECT_EQ(d.y, y);
    EXPECT_EQ(d.cx, cx);
    EXPECT_EQ(d.cy, cy);
    EXPECT_EQ(d.menu, Str("")) << "no menu";
    EXPECT_EQ(d.windowClass, Str("")) << "the default dialog class";
    EXPECT_EQ(d.title, title);
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.face, "MS Sans Serif");
    EXPECT_TRUE(d.paddingZero);
}

/* ---- The loaded catalog ---- */

class CatalogData : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        /* One byte more than the stub's buffer, so an over-long catalog
         * is seen as such rather than cut off. */
        catalog_ = new Inflated(InflateRaw(MessageCatalog, MessageCatalogSize,
                                           CATALOG_BUFFER_SIZE + 1));
        buffer_ = new std::vector<uint8_t>(CATALOG_BUFFER_SIZE, 0);
        std::memcpy(buffer_->data(), catalog_->bytes.data(),
                    std::min(catalog_->bytes.size(), (size_t)CATALOG_BUFFER_SIZE));
        CatalogBuffer = buffer_->data();
    }
    static void TearDownTestSuite()
    {
        CatalogBuffer = nullptr;
        delete buffer_;
        delete catalog_;
    }
    static std::vector<uint8_t> MainTemplate()
    {
        const uint8_t *start = catalog_->bytes.data() + OffsetTable[CATALOG_TEMPLATE_ENTRY];
        const uint8_t *end = catalog_->bytes.data() + catalog_->bytes.size();
        return std::vector<uint8_t>(start, end);
    }
    static Inflated *catalog_;
    static std::vector<uint8_t> *buffer_;
};
Inflated *CatalogData::catalog_;
std::vector<uint8_t> *CatalogData::buffer_;

TEST_F(CatalogData, InflatesWholeWithinTheBufferLimits)
{
    EXPECT_TRUE(catalog_->complete);
    EXPECT_EQ(catalog_->unusedInput, 0u) << "MessageCatalogSize is more than the stream";
    EXPECT_LE(catalog_->bytes.size(), 5311u) << "would reach the guard bytes";
    EXPECT_LE(OffsetTable[CATALOG_TEMPLATE_ENTRY], 4289u)
        << "the 1024-byte template copy would run past the buffer";
    EXPECT_EQ(catalog_->bytes.size(), OffsetTable[CATALOG_TEMPLATE_ENTRY] + 302u)
        << "the main dialog template is the last thing, 302 bytes";
}

TEST_F(CatalogData, OffsetsFollowTheTerminatingNuls)
{
    EXPECT_EQ(OffsetTable[0], 0u);
    for (int n = 0; n < CATALOG_TEMPLATE_ENTRY; n++) {
        SCOPED_TRACE("entry " + std::to_string(n));
        ASSERT_LT(OffsetTable[n], OffsetTable[n + 1]);
        size_t length = OffsetTable[n + 1] - OffsetTable[n] - 1;
        EXPECT_EQ(std::strlen(CatalogEntry(n)), length);
    }
}

TEST_F(CatalogData, TextsArePlainAscii)
{
    for (uint32_t i = 0; i < OffsetTable[CATALOG_TEMPLATE_ENTRY]; i++) {
        uint8_t c = catalog_->bytes[i];
        EXPECT_TRUE(c == 0 || c == '\n' || (c >= 0x20 && c < 0x7F)) << "byte " << i;
    }
}

TEST_F(CatalogData, EveryUsedEntryHasItsExactText)
{
    static const struct {
        int entry;
        const char *text;
    } expected[] = {
        {0, "This is an incomplete self-extractor;\nplease re-create the file and try again."},
        {1, "Please insert disk %d in drive %s."},
        {4, "The disk in the drive appears to be\nmissing or has an incorrect label.\n"
            "Insert disk number %d."},
        {5, "No password specified"},
        {6, "Incorrect password specified"},
        {7, "NOAUTO"}, /* keyword */
        {8, "Setup"},
        {9, "WAIT"}, /* keyword */
        {10, "&Done"},
        {11, "Are you sure that the SETUP program has completed?  Click Yes to exit, or Cancel "
             "to continue waiting."},
        {12, "If you Cancel now, temporary files will not be deleted.  Are you sure you want to "
             "Cancel now?"},
        {13, "AUTO"}, /* keyword */
        {14, "This 32-bit self-extracting Zip file requires Windows 95, 98 or NT"},
        {15, "Unable to create a temporary folder to extract to."},
        {17, "%s is still running; if you cancel now temporary files will not be deleted. "
             "Cancel Anyway?"},
        {18, "Error, no command has been defined."},
        {19, "Deleting temporary files"},
        {20, "Abort unzip operation?"},
        {22, "Unzip Aborted"},
        {23, "Error %d running command %s"},
        {24, "Error changing to \"Unzip To\" folder"},
        {25, "File %s already exists.  Overwrite file?"},
        {27, "\\TEMP"},
        {38, "Can't create output file: %s"},
        {39, "Unsupported compression method"},
        {40, "ZIP damaged: file %s: Bad CRC %08lx (should be %08lx).  Possible cause: file "
             "transfer error."},
        {41, "Invalid ZIP header.  Possible cause: file transfer error."},
        {42, "Could not create \"%s\" - unzip operation cancelled."},
        {44, "Unzipping %s"},
        {45, "Error writing to %s.  Possible cause: disk full."},
        {46, "Error reading %s.  Possible cause: bad disk or file transfer error."},
        {47, "I/O error on file.  Possible cause: file transfer error."},
        {49, "Zip file is damaged, truncated, or has been changed since it was created.   If "
             "you downloaded this file, try downloading again."},
        {50, "%s\n\n%s\n"},
        {56, "Drive %s is not a valid drive, unzip operation cancelled."},
    };
    for (const auto &e : expected) {
        SCOPED_TRACE("entry " + std::to_string(e.entry));
        EXPECT_STREQ(CatalogEntry(e.entry), e.text);
    }
}

TEST_F(CatalogData, CreditTextNamesTheProduct)
{
    std::string credit = CatalogEntry(54);
    EXPECT_EQ(credit.rfind("Tarvex Self-Extractor\n", 0), 0u) << credit;
    /* It is the second half of the 500-byte About text ("%s\n\n%s\n"). */
    EXPECT_LT(credit.size(), 100u);
}

TEST_F(CatalogData, MainTemplateStartsWithItsStyle)
{
    const uint8_t *entry = (const uint8_t *)CatalogEntry(CATALOG_TEMPLATE_ENTRY);
    const uint8_t style[4] = {0xC4, 0x00, 0xC8, 0x90};
    EXPECT_EQ(std::memcmp(entry, style, 4), 0);
}

TEST_F(CatalogData, MainTemplateHasTheDialogsControls)
{
    std::vector<uint8_t> bytes = MainTemplate();
    ASSERT_EQ(bytes.size(), 302u);
    Dialog d = ReadTemplate(bytes);
    ExpectHeader(d, 90, 132, 271, 66, "");
    EXPECT_EQ(d.count, 7);
    ExpectControls(d, {
        {120, Ord(kStatic), 6, 6, 20, 20, Ord(120), kChild | SS_ICON},
        {1, Ord(kButton), 215, 6, 50, 14, Str("&Setup"), kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
        {2, Ord(kButton), 215, 26, 50, 14, Str("Cancel"), kChild | BS_PUSHBUTTON | WS_TABSTOP},
        {112, Ord(kButton), 215, 46, 50, 14, Str("&About"), kChild | BS_PUSHBUTTON | WS_TABSTOP},
        {101, Ord(kStatic), 30, 6, 180, 40, Str(""), kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP},
        {109, Ord(kStatic), 30, 50, 180, 8, Str(""), kChild | SS_RIGHT | SS_NOPREFIX},
        {201, Str("meter"), 6, 47, 203, 13, Str(""), kChild | WS_BORDER},
    });
    /* The controls take 294 bytes; the rest of the 302 is zero padding. */
    EXPECT_EQ(d.end, 294u);
}

TEST(PasswordTemplateData, InflatesTo414BytesWithTheDialogsControls)
{
    Inflated t = InflateRaw(PasswordTemplate, PasswordTemplateSize, PASSWORD_TEMPLATE_BUFFER);
    EXPECT_TRUE(t.complete) << "must fit the 600-byte block";
    EXPECT_EQ(t.unusedInput, 0u) << "PasswordTemplateSize is more than the stream";
    ASSERT_EQ(t.bytes.size(), 414u);

    Dialog d = ReadTemplate(t.bytes);
    ExpectHeader(d, 71, 71, 186, 76, "Tarvex Self-Extractor - Password");
    EXPECT_EQ(d.count, 4);
    ExpectControls(d, {
        {401, Ord(kStatic), 6, 6, 174, 24,
         Str("This self-extracting Zip file is password protected.\n\nPlease type the &password:"),
         kChild | SS_LEFT | WS_GROUP},
        {402, Ord(kEdit), 6, 38, 174, 12, Str(""),
         kChild | ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
        {1, Ord(kButton), 35, 56, 50, 14, Str("OK"), kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
        {2, Ord(kButton), 101, 56, 50, 14, Str("Cancel"), kChild | BS_PUSHBUTTON | WS_TABSTOP},
    });
    EXPECT_EQ(d.end, 406u);
}

} // namespace

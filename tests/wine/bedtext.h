/*
 * bedtext.h: the quoting shared by the Wine test bed's two sides.
 *
 * The host writes the player's script and the player writes its transcript
 * as plain lines of words.  A text that can hold anything (a caption, a
 * message, a command-line tail) is written as a quoted word: the bytes
 * between double quotes, with backslash escapes for the backslash, the
 * double quote, line feed, carriage return, tab and every other byte below
 * 0x20 or above 0x7E.  That keeps each record on one line and makes two
 * transcripts equal exactly when what the user saw was equal.
 *
 * Header-only and free of platform types: it is compiled into the Win32
 * player and into the host library.
 */
#ifndef TVSE_BEDTEXT_H
#define TVSE_BEDTEXT_H

#include <string>
#include <vector>

namespace bedtext {

/* Writes text as one quoted word: "a\nb \"c\"". */
inline std::string Quote(const std::string &text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c > 0x7E) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/*
 * Splits a line into words: runs of non-blank characters, or quoted words
 * as Quote writes them (returned without quotes, escapes resolved).
 * Returns false for an unterminated quote or an unknown escape.
 */
inline bool Split(const std::string &line, std::vector<std::string> &words)
{
    words.clear();
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] != '"') {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word += line[i++];
            words.push_back(word);
            continue;
        }
        ++i;
        bool closed = false;
        while (i < n) {
            char c = line[i++];
            if (c == '"') {
                closed = true;
                break;
            }
            if (c != '\\') {
                word += c;
                continue;
            }
            if (i >= n) return false;
            char e = line[i++];
            switch (e) {
            case '\\': word += '\\'; break;
            case '"': word += '"'; break;
            case 'n': word += '\n'; break;
            case 'r': word += '\r'; break;
            case 't': word += '\t'; break;
            case 'x': {
                if (i + 1 >= n) return false;
                int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
                if (hi < 0 || lo < 0) return false;
                word += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return false;
            }
        }
        if (!closed) return false;
        words.push_back(word);
    }
    return true;
}

}  // namespace bedtext

#endif

#include "stubwalk.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tvsfxtest {

namespace {

struct WalkFailure {
    std::string what;
};

std::uint32_t CrcByte(std::uint32_t crc, std::uint8_t b) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    return crc;
}

struct Keys {
    std::uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    void Mix(std::uint8_t c) {
        k0 = CrcByte(k0, c);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = CrcByte(k2, static_cast<std::uint8_t>(k1 >> 24));
    }
    std::uint8_t Stream() const {
        std::uint32_t t = (k2 | 2) & 0xFFFF;
        return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
    }
    std::uint8_t Decrypt(std::uint8_t c) {
        std::uint8_t p = c ^ Stream();
        Mix(p);
        return p;
    }
};

class Walker {
public:
    Walker(const std::vector<Bytes>& v, std::size_t start, bool spanned, const std::string& pw)
        : vols_(v), pos_(start), spanned_(spanned), password_(pw) {}

    void Run(WalkResult& r) {
        while (true) {
            std::uint8_t sig[4];
            if (Read(sig, 4) < 4) {
                if (!spanned_) throw WalkFailure{"read error (signature)"};
                Switch();
                if (Read(sig, 4) < 4) throw WalkFailure{"read error (signature after a volume switch)"};
            }
            std::uint32_t s = Get(sig, 4);
            if (s == 0x04034B50) {
                r.members.push_back(Local());
            } else if (s == 0x08074B50) {
                if (!spanned_) throw WalkFailure{"invalid ZIP header (spanning signature in a single file)"};
            } else if (s == 0x02014B50) {
                if (spanned_) return;
                SkipCentral();
            } else if (s == 0x06054B50) {
                std::uint8_t e[18];
                Exact(e, 18);
                pos_ += Get(e + 16, 2);
                return;
            } else if (s == 0x30304B50) {
            } else {
                throw WalkFailure{"invalid ZIP header at volume " + std::to_string(vol_ + 1) + " offset " +
                                  std::to_string(pos_ - 4)};
            }
        }
    }

private:
    static std::uint32_t Get(const std::uint8_t* p, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
        return v;
    }

    std::size_t Read(std::uint8_t* buf, std::size_t n) {
        const Bytes& b = vols_[vol_];
        std::size_t avail = pos_ < b.size() ? b.size() - pos_ : 0;
        std::size_t got = std::min(n, avail);
        if (got) std::memcpy(buf, b.data() + pos_, got);
        pos_ += got;
        return got;
    }

    void Exact(std::uint8_t* buf, std::size_t n) {
        if (Read(buf, n) != n) throw WalkFailure{"read error (exact read)"};
    }

    void Switch() {
        if (vol_ + 1 >= vols_.size()) throw WalkFailure{"no disk " + std::to_string(vol_ + 2)};
        ++vol_;
        pos_ = 0;
    }

    void SkipCentral() {
        std::uint8_t c[42];
        Exact(c, 42);
        std::vector<std::uint8_t> name(Get(c + 24, 2) + 1);
        Exact(name.data(), name.size() - 1);
        pos_ += Get(c + 26, 2) + Get(c + 28, 2);
    }

    WalkedMember Local() {
        std::uint8_t h[26];
        if (Read(h, 26) < 26) {
            if (!spanned_) throw WalkFailure{"read error (local header)"};
            Switch();
            if (Read(h, 26) < 26) throw WalkFailure{"read error (local header after a volume switch)"};
        }
        WalkedMember m;
        m.disk = static_cast<unsigned>(vol_ + 1);
        std::uint16_t flags = static_cast<std::uint16_t>(Get(h + 2, 2));
        std::uint16_t method = static_cast<std::uint16_t>(Get(h + 4, 2));
        std::uint16_t modTime = static_cast<std::uint16_t>(Get(h + 6, 2));
        std::uint32_t crc = Get(h + 10, 4);
        std::uint32_t remaining = Get(h + 14, 4);
        std::uint32_t unpacked = Get(h + 18, 4);
        std::vector<std::uint8_t> name(Get(h + 22, 2));
        Exact(name.data(), name.size());
        m.name.assign(name.begin(), name.end());
        pos_ += Get(h + 24, 2);
        bool folder = !m.name.empty() && (m.name.back() == '/' || m.name.back() == '\\');
        if (folder) {
            if (unpacked == 0 && remaining != 0) pos_ += remaining;
        } else {
            bool encrypted = flags & 1;
            Keys keys;
            if (encrypted) {
                if (password_.empty()) throw WalkFailure{"no password specified"};
                for (char c : password_) keys.Mix(static_cast<std::uint8_t>(c));
                std::uint8_t eh[12];
                if (Read(eh, 12) != 12) throw WalkFailure{"read error (encryption header)"};
                remaining -= 12;
                std::uint8_t last = 0;
                for (std::uint8_t b : eh) last = keys.Decrypt(b);
                std::uint8_t check = (flags & 8) ? static_cast<std::uint8_t>(modTime >> 8)
                                                 : static_cast<std::uint8_t>(crc >> 24);
                if (last != check) throw WalkFailure{"incorrect password specified"};
            }
            Bytes packed;
            while (remaining > 0) {
                std::size_t wanted = std::min<std::uint32_t>(remaining, 2048);
                std::uint8_t chunk[2048];
                std::size_t got = Read(chunk, wanted);
                if (spanned_ && got >= 1 && got < wanted) {
                    wanted = got;
                    Switch();
                }
                if (got != wanted) throw WalkFailure{"read error (member data of " + m.name + ")"};
                remaining -= static_cast<std::uint32_t>(got);
                for (std::size_t i = 0; i < got; ++i) packed.push_back(encrypted ? keys.Decrypt(chunk[i]) : chunk[i]);
            }
            if (method == 0) {
                m.data = packed;
            } else if (method == 8) {
                try {
                    m.data = packed.empty() ? Bytes() : Inflate(packed);
                } catch (const std::exception&) {
                    throw WalkFailure{"damaged data in " + m.name};
                }
            } else if (!packed.empty()) {
                throw WalkFailure{"unsupported compression method"};
            }
            if (RefCrc32(m.data.data(), m.data.size()) != crc) throw WalkFailure{"bad CRC for " + m.name};
        }
        m.lastDisk = static_cast<unsigned>(vol_ + 1);
        if (flags & 8) pos_ += 16;
        return m;
    }

    const std::vector<Bytes>& vols_;
    std::size_t vol_ = 0;
    std::size_t pos_;
    bool spanned_;
    std::string password_;
};

}  // namespace

WalkResult StubWalk(const std::vector<Bytes>& volumes, std::size_t startOffset, bool spanned,
                    const std::string& password) {
    WalkResult r;
    try {
        Walker(volumes, startOffset, spanned, password).Run(r);
    } catch (const WalkFailure& f) {
        r.error = f.what;
    }
    return r;
}

}  // namespace tvsfxtest

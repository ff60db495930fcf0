#include "platform/bytes.h"

#include <cctype>
#include <cstring>

namespace vorel {

uint64_t ByteReader::be64(size_t off) const {
    if (!need(off, 8))
        return 0;
    return uint64_t(be32(off)) << 32 | be32(off + 4);
}

uint16_t ByteReader::le16(size_t off) const {
    if (!need(off, 2))
        return 0;
    return static_cast<uint16_t>(data_[off] | data_[off + 1] << 8);
}

uint32_t ByteReader::le32(size_t off) const {
    if (!need(off, 4))
        return 0;
    const uint8_t *p = data_ + off;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t ByteReader::le64(size_t off) const {
    if (!need(off, 8))
        return 0;
    return uint64_t(le32(off)) | uint64_t(le32(off + 4)) << 32;
}

bool ByteReader::copy(size_t off, void *out, size_t len) const {
    if (!need(off, len)) {
        std::memset(out, 0, len);
        return false;
    }
    if (len)
        std::memcpy(out, data_ + off, len);
    return true;
}

std::string_view ByteReader::text(size_t off, size_t width) const {
    if (off >= size_) {
        if (width)
            failed_ = true;
        return {};
    }
    size_t avail = size_ - off;
    if (width > avail) {
        failed_ = true;
        width = avail;
    }
    const char *p = reinterpret_cast<const char *>(data_ + off);
    const void *nul = std::memchr(p, 0, width);
    return {p, nul ? static_cast<size_t>(static_cast<const char *>(nul) - p) : width};
}

ByteReader ByteReader::sub(size_t off, size_t len) const {
    if (!need(off, len)) {
        ByteReader r;
        r.failed_ = true;
        return r;
    }
    return ByteReader(data_ + off, len);
}

ByteReader ByteReader::tail(size_t off) const {
    if (off >= size_)
        return ByteReader();
    return ByteReader(data_ + off, size_ - off);
}

size_t ByteReader::clamp_count(uint64_t claimed, size_t off, size_t stride, size_t capacity) const {
    uint64_t n = claimed < capacity ? claimed : capacity;
    if (stride == 0)
        return static_cast<size_t>(n);
    uint64_t present = off <= size_ ? (size_ - off) / stride : 0;
    return static_cast<size_t>(n < present ? n : present);
}

uint8_t *ByteWriter::at(size_t off, size_t len) {
    if (off > buf_.size() || len > buf_.size() - off) {
        failed_ = true;
        return nullptr;
    }
    return buf_.data() + off;
}

void ByteWriter::u8(size_t off, uint8_t v) {
    if (uint8_t *p = at(off, 1))
        p[0] = v;
}

void ByteWriter::be16(size_t off, uint16_t v) {
    if (uint8_t *p = at(off, 2)) {
        p[0] = uint8_t(v >> 8);
        p[1] = uint8_t(v);
    }
}

void ByteWriter::be32(size_t off, uint32_t v) {
    if (uint8_t *p = at(off, 4)) {
        p[0] = uint8_t(v >> 24);
        p[1] = uint8_t(v >> 16);
        p[2] = uint8_t(v >> 8);
        p[3] = uint8_t(v);
    }
}

void ByteWriter::be64(size_t off, uint64_t v) {
    if (at(off, 8)) {
        be32(off, uint32_t(v >> 32));
        be32(off + 4, uint32_t(v));
    }
}

void ByteWriter::le16(size_t off, uint16_t v) {
    if (uint8_t *p = at(off, 2)) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
    }
}

void ByteWriter::le32(size_t off, uint32_t v) {
    if (uint8_t *p = at(off, 4)) {
        for (int i = 0; i < 4; i++)
            p[i] = uint8_t(v >> (8 * i));
    }
}

void ByteWriter::bytes(size_t off, const void *src, size_t len) {
    if (uint8_t *p = at(off, len); p && len)
        std::memcpy(p, src, len);
}

void ByteWriter::text(size_t off, size_t width, std::string_view s) {
    if (width == 0)
        return;
    uint8_t *p = at(off, width);
    if (!p)
        return;
    size_t n = s.size() < width - 1 ? s.size() : width - 1;
    std::memcpy(p, s.data(), n);
    std::memset(p + n, 0, width - n);
}

void ByteAppender::be16(uint16_t v) {
    buf_.push_back(uint8_t(v >> 8));
    buf_.push_back(uint8_t(v));
}

void ByteAppender::be32(uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        buf_.push_back(uint8_t(v >> s));
}

void ByteAppender::be64(uint64_t v) {
    be32(uint32_t(v >> 32));
    be32(uint32_t(v));
}

void ByteAppender::bytes(const void *src, size_t len) {
    const uint8_t *p = static_cast<const uint8_t *>(src);
    buf_.insert(buf_.end(), p, p + len);
}

void ByteAppender::str16(std::string_view s) {
    size_t n = s.size() < 0xffff ? s.size() : 0xffff;
    be16(uint16_t(n));
    bytes(s.data(), n);
}

bool ByteCursor::take(size_t len) {
    if (!ok_ || !r_.has(pos_, len)) {
        ok_ = false;
        return false;
    }
    return true;
}

uint8_t ByteCursor::u8() {
    if (!take(1))
        return 0;
    return r_.u8(pos_++);
}

uint16_t ByteCursor::be16() {
    if (!take(2))
        return 0;
    uint16_t v = r_.be16(pos_);
    pos_ += 2;
    return v;
}

uint32_t ByteCursor::be32() {
    if (!take(4))
        return 0;
    uint32_t v = r_.be32(pos_);
    pos_ += 4;
    return v;
}

uint64_t ByteCursor::be64() {
    if (!take(8))
        return 0;
    uint64_t v = r_.be64(pos_);
    pos_ += 8;
    return v;
}

std::string ByteCursor::str16() {
    size_t n = be16();
    if (!take(n))
        return {};
    std::string s(reinterpret_cast<const char *>(r_.data() + pos_), n);
    pos_ += n;
    return s;
}

ByteReader ByteCursor::bytes(size_t len) {
    if (!take(len))
        return ByteReader();
    ByteReader v = r_.sub(pos_, len);
    pos_ += len;
    return v;
}

std::string to_hex(const void *data, size_t len) {
    static const char digits[] = "0123456789abcdef";
    const uint8_t *p = static_cast<const uint8_t *>(data);
    std::string s;
    s.reserve(len * 3);
    for (size_t i = 0; i < len; i++) {
        if (i)
            s.push_back(' ');
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

bool from_hex(std::string_view text, std::vector<uint8_t> &out) {
    int hi = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ':' || c == '_')
            continue;
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return false;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(uint8_t(hi << 4 | v));
            hi = -1;
        }
    }
    return hi < 0;
}

} // namespace vorel

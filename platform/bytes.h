// Bounds-checked access to bytes that came from outside the process.
//
// Everything a PIC agent, the kernel or a file hands us is read through
// ByteReader: every fetch names an absolute offset and a width, and a fetch
// that would pass the end of what actually arrived returns zero and marks
// the reader as failed instead of reading past the buffer.  Multi-byte
// numbers are big-endian unless the fetch says otherwise ("le" fetches are
// for the few fields that are stored in the sender's host order).
//
// ByteWriter builds requests: a zero-filled buffer of a fixed size whose
// fields are stored big-endian one by one, so no structure is ever
// converted in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace vorel {

template <size_t N> class ByteBlock;

class ByteReader {
  public:
    ByteReader() = default;
    ByteReader(const void *data, size_t size)
        : data_(static_cast<const uint8_t *>(data)), size_(data ? size : 0) {}
    explicit ByteReader(const std::vector<uint8_t> &v) : ByteReader(v.data(), v.size()) {}

    const uint8_t *data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // True while no fetch has passed the end of the buffer.
    bool ok() const { return !failed_; }

    // True when [off, off + len) lies inside the buffer (overflow-checked).
    bool has(size_t off, size_t len) const { return off <= size_ && len <= size_ - off; }

    uint8_t u8(size_t off) const;
    uint16_t be16(size_t off) const;
    uint32_t be32(size_t off) const;
    uint64_t be64(size_t off) const;
    int16_t sbe16(size_t off) const { return static_cast<int16_t>(be16(off)); }
    int32_t sbe32(size_t off) const { return static_cast<int32_t>(be32(off)); }
    uint16_t le16(size_t off) const;
    uint32_t le32(size_t off) const;
    uint64_t le64(size_t off) const;

    // Copies len bytes at off into out; zero-fills out and fails when short.
    bool copy(size_t off, void *out, size_t len) const;

    // A fixed-width text field: the bytes up to the first NUL, never more
    // than width bytes and never past the end of the buffer.
    std::string_view text(size_t off, size_t width) const;

    // A view of [off, off + len); an empty, failed view when out of range.
    ByteReader sub(size_t off, size_t len) const;
    // A view of everything from off on (empty when off is past the end).
    ByteReader tail(size_t off) const;

    // The N bytes at off as a block whose fetches are checked when the
    // program is compiled; false (and the reader failed) when they are not
    // all present.
    template <size_t N> bool block(size_t off, ByteBlock<N> &out) const;

    // How many entries of `stride` bytes starting at `off` a peer may claim:
    // the claimed count, clamped to the table's capacity and to the whole
    // entries actually present.
    size_t clamp_count(uint64_t claimed, size_t off, size_t stride, size_t capacity) const;

  private:
    bool need(size_t off, size_t len) const;

    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    mutable bool failed_ = false;
};

// The fetches a decoder makes per field are defined here, so that reading a
// million replies costs no call per field.
inline bool ByteReader::need(size_t off, size_t len) const {
    if (has(off, len))
        return true;
    failed_ = true;
    return false;
}

inline uint8_t ByteReader::u8(size_t off) const {
    return need(off, 1) ? data_[off] : 0;
}

inline uint16_t ByteReader::be16(size_t off) const {
    if (!need(off, 2))
        return 0;
    return static_cast<uint16_t>(data_[off] << 8 | data_[off + 1]);
}

inline uint32_t ByteReader::be32(size_t off) const {
    if (!need(off, 4))
        return 0;
    const uint8_t *p = data_ + off;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// N bytes known to be present.  A decoder that reads many fields of a
// fixed-size record checks the record's size once (ByteReader::block) and
// then fetches at offsets fixed in its code: each offset is checked against
// N by the compiler, so a field can never be read past the record.
template <size_t N> class ByteBlock {
  public:
    ByteBlock() = default;

    template <size_t Off> uint8_t u8() const {
        static_assert(Off + 1 <= N, "field past the end of the block");
        return p_[Off];
    }
    template <size_t Off> uint16_t be16() const {
        static_assert(Off + 2 <= N, "field past the end of the block");
        return static_cast<uint16_t>(p_[Off] << 8 | p_[Off + 1]);
    }
    template <size_t Off> uint32_t be32() const {
        static_assert(Off + 4 <= N, "field past the end of the block");
        return uint32_t(p_[Off]) << 24 | uint32_t(p_[Off + 1]) << 16 | uint32_t(p_[Off + 2]) << 8 |
               uint32_t(p_[Off + 3]);
    }
    template <size_t Off> uint64_t be64() const {
        static_assert(Off + 8 <= N, "field past the end of the block");
        return uint64_t(be32<Off>()) << 32 | be32<Off + 4>();
    }
    template <size_t Off> int16_t sbe16() const { return static_cast<int16_t>(be16<Off>()); }
    template <size_t Off> int32_t sbe32() const { return static_cast<int32_t>(be32<Off>()); }
    // The few fields stored in the sender's host order.
    template <size_t Off> uint16_t le16() const {
        static_assert(Off + 2 <= N, "field past the end of the block");
        return static_cast<uint16_t>(p_[Off] | p_[Off + 1] << 8);
    }
    template <size_t Off> uint32_t le32() const {
        static_assert(Off + 4 <= N, "field past the end of the block");
        return uint32_t(p_[Off]) | uint32_t(p_[Off + 1]) << 8 | uint32_t(p_[Off + 2]) << 16 |
               uint32_t(p_[Off + 3]) << 24;
    }
    // A fixed-width text field: the bytes up to the first NUL, never more
    // than Width (a name that fills its field has no NUL).
    template <size_t Off, size_t Width> std::string_view text() const {
        static_assert(Off + Width <= N, "field past the end of the block");
        const char *s = reinterpret_cast<const char *>(p_ + Off);
        size_t len = 0;
        while (len < Width && s[len])
            len++;
        return {s, len};
    }
    // Copies the M bytes at Off (addresses, keys kept as they arrived).
    template <size_t Off, size_t M> void copy(void *out) const {
        static_assert(Off + M <= N, "field past the end of the block");
        std::memcpy(out, p_ + Off, M);
    }
    // The whole block as a reader (for helpers that take one, such as the
    // address decoder); its fetches are still checked at run time.
    ByteReader reader() const { return ByteReader(p_, N); }

    // The M bytes at Off, a block of their own.
    template <size_t Off, size_t M> ByteBlock<M> block() const {
        static_assert(Off + M <= N, "block past the end of the block");
        return ByteBlock<M>(p_ + Off);
    }

  private:
    friend class ByteReader;
    template <size_t> friend class ByteBlock;
    explicit ByteBlock(const uint8_t *p) : p_(p) {}

    static constexpr uint8_t kZeros[N] = {};
    const uint8_t *p_ = kZeros; // a block never filled reads as zeros
};

template <size_t N> bool ByteReader::block(size_t off, ByteBlock<N> &out) const {
    if (!need(off, N))
        return false;
    out = ByteBlock<N>(data_ + off);
    return true;
}

class ByteWriter {
  public:
    explicit ByteWriter(size_t size) : buf_(size, 0) {}

    void u8(size_t off, uint8_t v);
    void be16(size_t off, uint16_t v);
    void be32(size_t off, uint32_t v);
    void be64(size_t off, uint64_t v);
    void le16(size_t off, uint16_t v);
    void le32(size_t off, uint32_t v);
    void bytes(size_t off, const void *src, size_t len);
    // Text into a fixed-width field: at most width - 1 bytes and a NUL
    // (the rest of the field stays zero).
    void text(size_t off, size_t width, std::string_view s);

    // True while every store fell inside the buffer.
    bool ok() const { return !failed_; }
    size_t size() const { return buf_.size(); }
    const uint8_t *data() const { return buf_.data(); }
    const std::vector<uint8_t> &buffer() const { return buf_; }
    std::vector<uint8_t> take() { return std::move(buf_); }

  private:
    uint8_t *at(size_t off, size_t len);

    std::vector<uint8_t> buf_;
    bool failed_ = false;
};

// Appends big-endian fields to a growing buffer (for framing and for the
// lab's encoders, where the length is not known in advance).
class ByteAppender {
  public:
    void u8(uint8_t v) { buf_.push_back(v); }
    void be16(uint16_t v);
    void be32(uint32_t v);
    void be64(uint64_t v);
    void bytes(const void *src, size_t len);
    // A length-prefixed (u16) string.
    void str16(std::string_view s);
    size_t size() const { return buf_.size(); }
    std::vector<uint8_t> &buffer() { return buf_; }
    std::vector<uint8_t> take() { return std::move(buf_); }

  private:
    std::vector<uint8_t> buf_;
};

// Reads fields one after the other from a ByteReader (framing, lab wire).
class ByteCursor {
  public:
    explicit ByteCursor(ByteReader r) : r_(r) {}
    uint8_t u8();
    uint16_t be16();
    uint32_t be32();
    uint64_t be64();
    std::string str16();
    ByteReader bytes(size_t len);
    size_t remaining() const { return pos_ <= r_.size() ? r_.size() - pos_ : 0; }
    size_t pos() const { return pos_; }
    bool ok() const { return ok_; }

  private:
    bool take(size_t len);
    ByteReader r_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Hex dump "0a 1b ..." (request logs, debug traces) and its reverse.
std::string to_hex(const void *data, size_t len);
bool from_hex(std::string_view text, std::vector<uint8_t> &out);

} // namespace vorel

// How a fuzz input is read: a few decision bytes, then chunks, each a
// big-endian 16-bit length and that many bytes.  Every read is clamped to
// what the input holds, so any byte string is a valid input: a length
// that passes the end takes what is left, and reads past the end give
// zeroes (bytes) or nothing (chunks).
#pragma once

#include "platform/bytes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

namespace vorel::fuzz {

class Input {
  public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool at_end() const { return pos_ >= size_; }
    size_t remaining() const { return at_end() ? 0 : size_ - pos_; }

    // The next byte; 0 at the end.
    uint8_t byte() { return at_end() ? 0 : data_[pos_++]; }
    // The next big-endian 16-bit number (missing bytes count as 0).
    uint16_t be16() {
        uint16_t hi = byte();
        return static_cast<uint16_t>(hi << 8 | byte());
    }
    // The next chunk; false when the input has ended before its length.
    bool chunk(ByteReader &out) {
        if (remaining() < 2) {
            pos_ = size_;
            return false;
        }
        size_t len = be16();
        if (len > remaining())
            len = remaining();
        out = ByteReader(data_ + pos_, len);
        pos_ += len;
        return true;
    }
    // Everything not read yet.
    ByteReader rest() {
        ByteReader r(data_ + pos_, remaining());
        pos_ = size_;
        return r;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// A folder of the process's own under /tmp, made on first use and removed
// at exit, for the files a run writes.
inline const char *scratch_folder() {
    static char dir[] = "/tmp/vorel-fuzz-XXXXXX";
    static const bool made = [] {
        if (!mkdtemp(dir))
            std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        });
        return true;
    }();
    return made ? dir : nullptr;
}

} // namespace vorel::fuzz

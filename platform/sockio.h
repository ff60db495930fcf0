// Small blocking-socket helpers shared by the platform clients and the lab.
#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace vorel {

// Reads exactly len bytes. Returns len, 0 on end of file before any byte,
// or -1 on error, timeout or a short read (errno set; EPIPE for a short read).
ssize_t read_full(int fd, void *buf, size_t len);
// Writes all of buf (MSG_NOSIGNAL on sockets). false with errno on failure.
bool write_full(int fd, const void *buf, size_t len);

// Receive and send timeouts in milliseconds; 0 leaves that one as it is (a
// new socket has none).
bool set_socket_timeouts(int fd, unsigned recv_ms, unsigned send_ms);

// Connects a TCP socket to addr:port within timeout_ms (0 = the system's).
// Returns the descriptor or -1 with errno set.
int tcp_connect(const in_addr &addr, uint16_t port, unsigned timeout_ms);
// A listening TCP socket bound to addr:port (SO_REUSEADDR); -1 with errno.
int tcp_listen(const in_addr &addr, uint16_t port);

// Connects to a Unix stream socket; -1 with errno set.
int unix_connect(const std::string &path);
// A listening Unix stream socket at path (an old socket file is replaced).
int unix_listen(const std::string &path);

// Reads a socket (or pipe) through a small buffer: a frame that has
// arrived whole, its length and its bytes, takes one read instead of two,
// and what a read brings past the frame waits there for the next.  Longer
// pieces go straight from the socket into the caller's memory.
class StreamReader {
  public:
    explicit StreamReader(int fd = -1) noexcept : fd_(fd) {}
    // Reads another descriptor from now on (what was buffered is dropped).
    void attach(int fd) noexcept;
    // As vorel::read_full: len, 0 at end of file before any byte, or -1.
    ssize_t read_full(void *buf, size_t len);
    // Bytes taken from the descriptor that no read_full has had yet.
    size_t buffered() const noexcept { return tail_ - head_; }

  private:
    int fd_;
    size_t head_ = 0, tail_ = 0;
    uint8_t buf_[4096];
};

// One length-prefixed frame: u32 big-endian length, then the bytes.
bool write_frame(int fd, const void *data, size_t len);
// Reads one frame of at most max bytes. false on error, EOF or oversize.
bool read_frame(StreamReader &in, std::vector<uint8_t> &out, size_t max);

std::string errno_text(int err);

} // namespace vorel

// The peer-connection client: framed messages with a daemon on a PIC.
//
// A connection is one TCP stream to the daemon's endpoint (a port number)
// at the PIC's internal address (platform/lab_link.h).  Each message, in
// both directions, is a frame:
//
//   0  u16 message type      (big-endian)
//   2  u16 reserved, 0
//   4  u32 body length       (big-endian, at most PCONN_MAX_BODY)
//   8  body
//
// Either side may send any number of messages; the client reads one
// message at a time, each within the timeout it names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct pconn_client;

constexpr size_t PCONN_HEADER_SIZE = 8;
constexpr size_t PCONN_MAX_BODY = 64 * 1024;
// How long a connect may take.
constexpr unsigned PCONN_CONNECT_TIMEOUT_MS = 5000;

// Endpoints of the daemons the program talks to.
constexpr uint16_t PCONN_EP_MSVCS_SYNC_MONITOR = 6201; // the PIC synchronisation monitor

struct pconn_msg {
    uint16_t type = 0;
    std::vector<uint8_t> body;
};

// Connects to the endpoint of the PIC in (fpc, pic): null with errno set
// when it cannot be reached.
pconn_client *pconn_client_connect(unsigned fpc, unsigned pic, uint16_t endpoint);
// Sends one message: 0, or -1 with errno set.
int pconn_client_send(pconn_client *c, uint16_t type, const void *body, size_t len);
// Receives one message within timeout_ms: 0, or -1 with errno (ETIMEDOUT,
// EPIPE: the daemon closed the connection, EMSGSIZE: an oversized body).
// After a failure the connection is unusable.
int pconn_client_recv(pconn_client *c, pconn_msg &msg, unsigned timeout_ms);
// Closes the connection and frees c (null is ignored).
void pconn_client_close(pconn_client *c);

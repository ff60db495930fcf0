// The fuzz targets' stand-ins for the ways the program reaches the
// router: fake_services_ui.cc replaces the Services UI library
// (platform/services_ui.cc), fake_pconn.cc the peer connections to PIC
// daemons (platform/pconn.cc), fake_lab_link.cc replaces the control
// socket client (platform/lab_link.cc), under which the real kernel
// interface library and the real chassis queries run, and fake_pkg.cc the
// package check (vorel/vorel_util_pkg.cc), which would start the sibling
// command for every PIC it asks about.  All answer from the fuzz input.  Each defines every
// function of its header, so when its object is linked into a target the linker never takes the
// real one from the platform library (a function left out would bring the real object back and fail
// the link with duplicate symbols).
#pragma once

#include "fuzz/fuzz_input.h"

#include <cstddef>

namespace vorel::fuzz {

// ---- Services UI ----
//
// While an input is fed, every open takes one byte from it: bit 0 makes the
// open fail (the error callback is called as the library does), bit 1 makes every send on that
// channel fail.  A receive takes the next chunk: an empty chunk is the agent's answer end (or, for
// a large object, its object end), and the end of the input is a closed connection.  A reply is
// handed out with the asked type written into its first two bytes, as the library hands out only
// replies of that type; a chunk shorter than two bytes is passed over, as the library passes over
// messages without a type.  Without an input every open fails.
void services_ui_feed(Input *in);
// Channels opened and not closed yet (every channel must be closed once).
size_t services_ui_open_channels();

// ---- Control socket (kernel and chassis services) ----
//
// While an input is fed, a connect succeeds while the input has bytes
// left, and every call takes one answer: a status byte (0 success, 0xff a
// lost connection, 0xfe success with the length fields of a configuration
// record or a tunnel group made to fit the chunk, any other value that
// error number) and a chunk, the answer's body.  Without an input, or at
// its end, nobody answers.
void control_feed(Input *in);

// ---- Peer connections (PIC daemons) ----
//
// While an input is fed (the same input as the agents' replies), every
// connect takes one byte from it: bit 0 makes the connect fail, bit 1
// makes every send on that connection fail.  A receive takes the next
// chunk: its first two bytes are the message's type (big-endian), the rest
// its body; a chunk shorter than two bytes, or the end of the input, is a
// daemon that does not answer (the connection is dropped).  Without an
// input every connect fails.
void pconn_feed(Input *in);
// Connections made and not closed yet (every connection must be closed once).
size_t pconn_open_connections();

// ---- Package check ----
//
// While an input is fed, the package check answers from the four bits of
// missing: the k-th check of the run (counted from 0) finds the package
// listed unless bit k % 4 is set.  A name the real check refuses is
// refused.  Without an input no package is listed.
void package_feed(bool fed, uint8_t missing);

} // namespace vorel::fuzz

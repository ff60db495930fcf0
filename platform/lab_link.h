// Where the platform finds the router it runs on.
//
// On this platform the kernel, the chassis services and the PIC agents are
// played by the lab (lab/).  The platform clients reach it two ways:
//  - a control socket (Unix stream, $VOREL_LAB_SOCKET) that answers kernel,
//    chassis and lab queries, one framed request and one framed answer at a
//    time;
//  - the agents' own TCP listeners, at an internal address per PIC or line
//    card on 127.N.0.0/16 (N from $VOREL_LAB_NET), exactly as a router's
//    internal network gives every PIC an address.
//
// Address mapping (N defaults to 42):
//   service PIC (fpc F, pic P), port 6200 .......... 127.N.F.(P+1)   P <= 7
//   line card (fpc F), port 33019 ................... 127.N.F.254
//   PIC synchronisation monitor (peer connection) ... 127.N.F.(P+1) : 6201
// Several labs run side by side with different N.
#pragma once

#include "platform/sockio.h"

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace vorel::lab_link {

constexpr uint16_t kPicPort = 6200;
constexpr uint16_t kLineCardPort = 33019;
constexpr uint16_t kMonitorPort = 6201;
constexpr unsigned kMaxPicSlot = 7;
constexpr unsigned kDefaultNet = 42;
constexpr const char *kDefaultSocket = "/run/vorel-lab/control.sock";

// Control services and their operations.
enum Service : uint16_t { kKernel = 1, kChassis = 2, kLab = 3 };

enum KernelOp : uint16_t {
    kIfdByIndex = 1,    // u16 index, u8 op(4/5)           -> ifd record
    kIfdByName = 2,     // str16 name, u8 op(4)           -> ifd record
    kPicGet = 3,        // u16 fpc, u16 pic, u8 op(4/5)   -> pic record
    kGencfgGet = 4,     // u16 major, u16 minor, u8 key present, u16 key, u8 op -> gencfg record
    kL2tpGroupGet = 5,  // u16 prev id, u16 pic index, u8 op -> tunnel group
    kVrfIndex = 6,      // str16 name                     -> u32 index
    kPicChange = 7,     // u16 fpc, u16 pic, u8 op, u32 value
    kIfdChangeTlvs = 8, // u16 index, u16 type, bytes attribute
    // The records a series of gencfg get-next calls would answer, in one
    // exchange: u16 major, u16 minor, u8 key present, u16 key, u16 most
    // records, u32 most bytes -> u16 count, count x (u32 length, record),
    // then i32 the answer of the get-next after the last (0: not asked).
    kGencfgWalk = 9,
    // The interfaces a series of get-next calls by index would answer, in
    // one exchange: u16 index, u16 most records, u32 most bytes -> as
    // kGencfgWalk, with interface records.
    kIfdWalk = 10,
};

enum ChassisOp : uint16_t {
    kGetValue = 1, // str16 key -> str16 value; ENOENT when the router has none
};

enum LabOp : uint16_t {
    kPing = 1,          // -> str16 lab name
    kRequestLog = 2,    // -> str16 text (one line per request received by the agents)
    kKernelChanges = 3, // -> str16 text (one line per state change asked of the kernel)
    kStop = 4,
    kReset = 5, // the agents' tables back as the scenario loaded them
};

// $VOREL_LAB_SOCKET, or the default path.
std::string control_socket_path();
// $VOREL_LAB_NET (1..254), or the default.
unsigned agent_net();
// Addresses of the agents; false when the slots cannot be addressed.
bool pic_agent_address(unsigned fpc, unsigned pic, in_addr &out, unsigned net = agent_net());
bool linecard_agent_address(unsigned fpc, in_addr &out, unsigned net = agent_net());

struct Answer {
    int status = 0; // 0 or an error number
    std::vector<uint8_t> body;
};

// One connection to the control socket.  Calls block for at most a few
// seconds: a lab that does not answer is a failed call, never a hang.
class ControlClient {
  public:
    ControlClient() = default;
    ~ControlClient();
    ControlClient(const ControlClient &) = delete;
    ControlClient &operator=(const ControlClient &) = delete;

    // false with errno set when no lab answers at the socket.
    bool connect(const std::string &path = control_socket_path());
    bool connected() const { return fd_ >= 0; }
    // false with errno set when the exchange failed (the connection is
    // then closed); otherwise the lab's answer is in out.
    bool call(uint16_t service, uint16_t op, const std::vector<uint8_t> &body, Answer &out);
    void close();

  private:
    bool read_answer(Answer &out);

    int fd_ = -1;
    StreamReader in_;
};

// One call on a fresh connection; errno-style status (ECONNREFUSED, ENOENT
// when there is no lab).
Answer call_once(uint16_t service, uint16_t op, const std::vector<uint8_t> &body);

// Largest frame either side accepts.
constexpr size_t kMaxFrame = 16u << 20;

} // namespace vorel::lab_link

// -C fips: the pieces the algorithm tests (vorel_cmd_fips.cc) and the file
// tests (vorel_cmd_fips_files.cc) share: the options, the message layout
// with its bounded fields, and the exchange with the PIC.
#pragma once

#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "vorel/vorel_channel.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

struct fips_params {
    std::optional<std::string> alg;      // -A
    std::optional<std::string> key;      // -K
    std::optional<std::string> input;    // -I
    std::optional<std::string> in_path;  // -P
    std::optional<std::string> out_path; // -Q
    uint32_t msg_bits = 0;               // -R
    std::optional<uint32_t> out_len;     // -O
    std::optional<std::string> mode;     // -U
    std::optional<std::string> iv;       // -Y
    uint32_t encrypt = 0;                // -Z
    uint32_t hmac_flag = 0;              // -H
    unsigned fpc = 0, pic = 0;           // from -i
    const char *pic_name = "";           // -i as given
};

// The message (request and reply share it): 14956 bytes, numbers big-endian.
namespace fips_msg {
constexpr uint16_t kRequest = 99;
constexpr uint16_t kReply = 100;
constexpr size_t kSize = 14956;
constexpr size_t kAlgorithm = 16;
constexpr size_t kKeyLen = 24;
constexpr size_t kEncrypt = 28;
constexpr size_t kFlag = 32;
constexpr size_t kKey = 36;
constexpr size_t kKeyWidth = 160;
constexpr size_t kDataLen = 196;
constexpr size_t kData = 200;
constexpr size_t kDataWidth = 13000;
constexpr size_t kIv = 13200;
constexpr size_t kIvWidth = 32;
constexpr size_t kModulusLen = 13232;
constexpr size_t kModulus = 13236;
constexpr size_t kModulusWidth = 600;
constexpr size_t kExponentLen = 13836;
constexpr size_t kExponent = 13840;
constexpr size_t kExponentWidth = 600;
constexpr size_t kResultLen = 14440;
constexpr size_t kResult = 14444;
constexpr size_t kResultWidth = 512;
} // namespace fips_msg

enum fips_alg : uint32_t {
    FIPS_ALG_UNKNOWN = 0,
    FIPS_HMAC = 1,
    FIPS_SHA1 = 2,
    FIPS_SHA1_MONTE = 3,
    FIPS_TDES = 4,
    FIPS_TDES_MONTE = 5,
    FIPS_DES = 6,
    FIPS_DES_MONTE = 7,
    FIPS_AES = 8,
    FIPS_AES_MONTE = 9,
    FIPS_RSA_KEYGEN = 10,
    FIPS_RSA_SIGGEN = 11,
    FIPS_RSA_SIGVER = 12,
    FIPS_RNG = 13,
    FIPS_RNG_MONTE = 14,
};

// A zeroed request with its header.
vorel::ByteWriter fips_request(uint32_t algorithm);

// Stores a value into a field of the request with its length word; false
// (with a message) when it is longer than the field: nothing is copied.
bool fips_put_field(vorel::ByteWriter &req, size_t len_off, size_t off, size_t width,
                    std::string_view value, const char *what);

// A length word of a reply, held to its field and to the bytes present.
size_t fips_reply_len(const vorel::ByteReader &reply, size_t len_off, size_t off, size_t width);

// Writes "LABEL = " and the bytes as two hex digits each, then a newline
// (with a null label just the hex digits and the newline).
void fips_write_hex_line(FILE *f, const char *label, const vorel::ByteReader &reply, size_t off,
                         size_t len);

// The channel of a file test: one request, one reply, and a fresh channel
// to the same PIC after every reply.
class fips_session {
  public:
    fips_session(services_ui_conn *c, const fips_params &p) : c_(c), p_(p) {}
    // Sends req and copies the reply into *reply; false (with the message)
    // when the test must end.
    bool exchange(const vorel::ByteWriter &req, std::string *reply);
    services_ui_conn *conn() const { return c_.get(); }

  private:
    pic_channel c_;
    const fips_params &p_;
};

// Opens the channel to the PIC the run addresses (the fatal-error routine
// ends the run when it cannot be reached), named for it in what the channel
// reports.
services_ui_conn *fips_open(const fips_params &p);

// The file tests; each takes over the open channel.  0, or -1.
int fips_rng_test(fips_session &s, const fips_params &p);
int fips_rsa_sigver(fips_session &s, const fips_params &p);
int fips_rsa_siggen(fips_session &s, const fips_params &p);

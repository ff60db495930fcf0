// -C fips: the cryptographic algorithm self-tests of one service PIC.  A
// test vector (key, message, IV, lengths) goes to the PIC in one large
// request; the PIC's result is written as hexadecimal text to /tmp/result
// (a Monte Carlo run: one labelled block per iteration).  RSA and the
// random-number generator run whole test files (vorel_cmd_fips_files.cc).
#include "vorel/vorel_cmd_fips.h"

#include "vorel/vorel_cmds.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_files.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_string.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char *kInputPath = "/tmp/input";
constexpr const char *kResultPath = "/tmp/result";
constexpr uint32_t kMsgWords = fips_msg::kSize / 4;
constexpr int kShortIterations = 100;
constexpr int kTdesIterations = 400;

// ---------------------------------------------------------------------------
// Options

// "xx-F/P/0": two characters, a dash, the FPC and PIC slots, "/0"; the
// whole text, slots non-negative.
bool parse_pic_name(const char *name, unsigned *fpc, unsigned *pic) {
    if (!name || std::strlen(name) < 3 || !name[0] || !name[1] || name[2] != '-')
        return false;
    std::string rest(name + 3);
    size_t s1 = rest.find('/');
    if (s1 == std::string::npos)
        return false;
    size_t s2 = rest.find('/', s1 + 1);
    if (s2 == std::string::npos || rest.substr(s2) != "/0")
        return false;
    unsigned long long f = 0, p = 0;
    if (!vorel_parse_decimal(rest.substr(0, s1).c_str(), 65535, &f) ||
        !vorel_parse_decimal(rest.substr(s1 + 1, s2 - s1 - 1).c_str(), 65535, &p))
        return false;
    *fpc = static_cast<unsigned>(f);
    *pic = static_cast<unsigned>(p);
    return true;
}

bool parse_number(const char *word, char letter, uint32_t *out) {
    unsigned long long v = 0;
    if (!vorel_parse_decimal(word, UINT32_MAX, &v)) {
        vorel_user_message("vorel: invalid value %s for -%c\n", vorel_str_or_null(word), letter);
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

bool is_decimal_word(const char *w) {
    unsigned long long v;
    return vorel_parse_decimal(w, UINT32_MAX, &v);
}

bool parse_options(int argc, char **argv, const vorel_ctx *ctxt, fips_params *p,
                   const char **pic_name) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'A':
            p->alg = vorel_optarg;
            break;
        case 'K':
            p->key = vorel_optarg;
            break;
        case 'I':
            p->input = vorel_optarg;
            break;
        case 'P':
            p->in_path = vorel_optarg;
            break;
        case 'Q':
            p->out_path = vorel_optarg;
            break;
        case 'R':
            if (!parse_number(vorel_optarg, 'R', &p->msg_bits))
                return false;
            break;
        case 'O': {
            uint32_t v = 0;
            if (!parse_number(vorel_optarg, 'O', &v))
                return false;
            p->out_len = v;
            break;
        }
        case 'U':
            p->mode = vorel_optarg;
            break;
        case 'Y':
            p->iv = vorel_optarg;
            break;
        case 'Z':
            // A flag in the option string: a decimal word after it is the
            // encrypt value, a bare -Z means encrypt.
            p->encrypt = 1;
            if (vorel_optind < argc && is_decimal_word(argv[vorel_optind]) &&
                !parse_number(vorel_getopt_next_word(argc, argv), 'Z', &p->encrypt))
                return false;
            break;
        case 'H':
            if (!parse_number(vorel_optarg, 'H', &p->hmac_flag))
                return false;
            break;
        case 'i':
            *pic_name = vorel_optarg;
            break;
        default:
            break;
        }
    }
    return true;
}

bool is(const std::optional<std::string> &s, const char *word) {
    return s && *s == word;
}

bool contains(const std::optional<std::string> &s, const char *word) {
    return s && s->find(word) != std::string::npos;
}

// ---------------------------------------------------------------------------
// The request of an algorithm test

struct algorithm_test {
    uint32_t code = FIPS_ALG_UNKNOWN;
    bool monte = false;
    bool cipher_flag = false;
    size_t data_len = 0; // SHA-1: from -R; the others: the text's length
    bool data_from_file = false;
};

// Reads exactly len bytes of /tmp/input (never through a symbolic link).
bool read_input_file(size_t len, std::string *out) {
    int fd = open(kInputPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        vorel_user_message("vorel: cannot open %s: %s\n", kInputPath, std::strerror(errno));
        return false;
    }
    out->assign(len, '\0');
    size_t got = 0;
    while (got < len) {
        ssize_t n = read(fd, out->data() + got, len - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got < len) {
        vorel_user_message("vorel: %s holds %zu bytes, fewer than the %zu asked for\n", kInputPath,
                           got, len);
        return false;
    }
    return true;
}

// Chooses the algorithm; false (with the Part's message) when its options
// are missing or a value does not fit.
bool choose_algorithm(const fips_params &p, algorithm_test *t) {
    t->monte = is(p.mode, "Monte");
    if (is(p.alg, "HMAC")) {
        // A result length of 0 asks for nothing: it counts as missing.
        if (!p.key || !p.input || !p.out_len || *p.out_len == 0) {
            vorel_user_message("Options -KIO missing\n");
            return false;
        }
        t->code = FIPS_HMAC;
    } else if (is(p.alg, "SHA1")) {
        vorel_trace("executing sha1\n");
        t->code = t->monte ? FIPS_SHA1_MONTE : FIPS_SHA1;
        t->data_len = t->monte ? p.msg_bits : p.msg_bits / 4;
        t->data_from_file = !p.input;
        if (t->data_len > fips_msg::kDataWidth) {
            vorel_user_message("vorel: data length %zu from -R exceeds the %zu-byte data field\n",
                               t->data_len, fips_msg::kDataWidth);
            return false;
        }
    } else if (is(p.alg, "DES") || is(p.alg, "TDES") || is(p.alg, "AES")) {
        if (!p.key || !p.input || !p.iv) {
            vorel_user_message("Options -KYI missing\n");
            return false;
        }
        const char *mode = vorel_str_or_null(p.mode ? p.mode->c_str() : nullptr);
        if (is(p.alg, "DES")) {
            vorel_trace("DES %s: for_encryption %d\n", mode, static_cast<int>(p.encrypt));
            t->code = t->monte ? FIPS_DES_MONTE : FIPS_DES;
            t->cipher_flag = true;
        } else if (is(p.alg, "TDES")) {
            vorel_trace("TDES %s: for_encryption %d\n", mode, static_cast<int>(p.encrypt));
            t->code = t->monte ? FIPS_TDES_MONTE : FIPS_TDES;
        } else {
            vorel_trace("AES : for_encryption %d\n", static_cast<int>(p.encrypt));
            t->code = t->monte ? FIPS_AES_MONTE : FIPS_AES;
            t->cipher_flag = true;
        }
    }
    return true;
}

bool build_request(const fips_params &p, const algorithm_test &t, vorel::ByteWriter *req) {
    using namespace fips_msg;
    req->be32(kEncrypt, p.encrypt);
    req->u8(kFlag, t.cipher_flag || p.hmac_flag ? 1 : 0);
    if (t.code == FIPS_HMAC || t.code == FIPS_SHA1 || t.code == FIPS_SHA1_MONTE)
        req->be32(kResultLen, p.out_len.value_or(0));
    if (p.key && !fips_put_field(*req, kKeyLen, kKey, kKeyWidth, *p.key, "key"))
        return false;
    if (p.iv && !fips_put_field(*req, 0, kIv, kIvWidth, *p.iv, "IV"))
        return false;
    bool sha1 = t.code == FIPS_SHA1 || t.code == FIPS_SHA1_MONTE;
    std::string data;
    if (sha1 && t.data_from_file) {
        if (!read_input_file(t.data_len, &data))
            return false;
    } else if (p.input) {
        data = *p.input;
    }
    if (!fips_put_field(*req, kDataLen, kData, kDataWidth, data, "data"))
        return false;
    if (sha1) // the length word counts what -R says
        req->be32(kDataLen, static_cast<uint32_t>(t.data_len));
    return true;
}

// ---------------------------------------------------------------------------
// Results

FILE *create_result_file() {
    int fd = vorel_create_file(kResultPath);
    FILE *f = fd < 0 ? nullptr : fdopen(fd, "w");
    if (!f) {
        if (fd >= 0)
            close(fd);
        vorel_user_message("vorel: cannot create %s: %s\n", kResultPath, std::strerror(errno));
    }
    return f;
}

int write_single_result(services_ui_conn *c) {
    using namespace fips_msg;
    vorel::ByteReader reply =
        vorel_receive_at_least(c, kReply, 1, kSize, "fips", short_reply::end_answer);
    if (reply.empty()) {
        vorel_user_message("vorel: fips stats reply failed\n");
        return -1;
    }
    size_t len = fips_reply_len(reply, kResultLen, kResult, kResultWidth);
    FILE *f = create_result_file();
    if (!f)
        return -1;
    vorel_user_message("Output in %s, resultlen %zu\n", kResultPath, len);
    fips_write_hex_line(f, nullptr, reply, kResult, len);
    std::fclose(f);
    return 0;
}

// The data and result lines of a cipher's iteration, in the direction run.
void write_cipher_lines(FILE *f, const vorel::ByteReader &r, bool encrypt) {
    using namespace fips_msg;
    size_t data_len = fips_reply_len(r, kDataLen, kData, kDataWidth);
    size_t result_len = fips_reply_len(r, kResultLen, kResult, kResultWidth);
    fips_write_hex_line(f, encrypt ? "PLAINTEXT" : "CIPHERTEXT", r, kData, data_len);
    fips_write_hex_line(f, encrypt ? "CIPHERTEXT" : "PLAINTEXT", r, kResult, result_len);
}

void write_iteration(FILE *f, uint32_t code, const vorel::ByteReader &r, bool encrypt) {
    using namespace fips_msg;
    switch (code) {
    case FIPS_SHA1_MONTE:
        fips_write_hex_line(f, "MD", r, kResult,
                            fips_reply_len(r, kResultLen, kResult, kResultWidth));
        break;
    case FIPS_AES_MONTE:
        fips_write_hex_line(f, "KEY", r, kKey, fips_reply_len(r, kKeyLen, kKey, kKeyWidth));
        fips_write_hex_line(f, "IV", r, kIv, 16);
        write_cipher_lines(f, r, encrypt);
        break;
    case FIPS_TDES_MONTE:
        fips_write_hex_line(f, "KEY1", r, kKey, 8);
        fips_write_hex_line(f, "KEY2", r, kKey + 8, 8);
        fips_write_hex_line(f, "KEY3", r, kKey + 16, 8);
        fips_write_hex_line(f, "IV", r, kIv, 8);
        write_cipher_lines(f, r, encrypt);
        break;
    default:
        break;
    }
}

int iterations_of(uint32_t code) {
    switch (code) {
    case FIPS_SHA1_MONTE:
    case FIPS_AES_MONTE:
        return kShortIterations;
    case FIPS_TDES_MONTE:
        return kTdesIterations;
    default:
        return 0;
    }
}

// One block per iteration; a lost reply ends the blocks, not the run.
int write_monte_results(services_ui_conn *c, uint32_t code, bool encrypt) {
    FILE *f = create_result_file();
    if (!f)
        return -1;
    for (int i = 0, n = iterations_of(code); i < n; i++) {
        std::fprintf(f, "\nCOUNT = %d\n", i);
        vorel::ByteReader r = vorel_receive_at_least(c, fips_msg::kReply, 1, fips_msg::kSize,
                                                     "fips", short_reply::end_answer);
        if (r.empty())
            break;
        write_iteration(f, code, r, encrypt);
    }
    std::fclose(f);
    vorel_user_message("Multiline output in %s\n", kResultPath);
    return 0;
}

int fips_cmd_send_query(const fips_params &p) {
    if (is(p.alg, "RSA") || is(p.alg, "RNG")) {
        services_ui_conn *c = fips_open(p);
        if (!c)
            return -1;
        fips_session s(c, p);
        if (is(p.alg, "RNG")) {
            vorel_trace("RNG %s\n", vorel_str_or_null(p.mode ? p.mode->c_str() : nullptr));
            return fips_rng_test(s, p);
        }
        if (is(p.mode, "SigGen") || contains(p.in_path, "SigGen"))
            return fips_rsa_siggen(s, p);
        vorel_trace("Running signature verify\n");
        return fips_rsa_sigver(s, p);
    }
    algorithm_test t;
    if (!choose_algorithm(p, &t))
        return -1;
    vorel::ByteWriter req = fips_request(t.code);
    if (!build_request(p, t, &req))
        return -1;
    pic_channel c(fips_open(p));
    if (!c)
        return -1;
    if (vorel_send(c.get(), req) < 0) {
        vorel_user_message("Failed to send the query\n");
        return -1;
    }
    if (!t.monte)
        return write_single_result(c.get());
    return write_monte_results(c.get(), t.code, p.encrypt != 0);
}

} // namespace

// ---------------------------------------------------------------------------
// Shared with the file tests

vorel::ByteWriter fips_request(uint32_t algorithm) {
    vorel::ByteWriter req = vorel_request(fips_msg::kRequest, 1, fips_msg::kSize);
    static_assert(kMsgWords == 3739);
    req.be32(fips_msg::kAlgorithm, algorithm);
    return req;
}

bool fips_put_field(vorel::ByteWriter &req, size_t len_off, size_t off, size_t width,
                    std::string_view value, const char *what) {
    if (value.size() > width) {
        vorel_user_message("vorel: %s of %zu bytes exceeds its %zu-byte field\n", what,
                           value.size(), width);
        return false;
    }
    req.bytes(off, value.data(), value.size());
    if (len_off)
        req.be32(len_off, static_cast<uint32_t>(value.size()));
    return true;
}

size_t fips_reply_len(const vorel::ByteReader &reply, size_t len_off, size_t off, size_t width) {
    size_t len = reply.be32(len_off);
    if (len > width)
        len = width;
    if (!reply.has(off, len))
        len = reply.size() > off ? reply.size() - off : 0;
    return len;
}

void fips_write_hex_line(FILE *f, const char *label, const vorel::ByteReader &reply, size_t off,
                         size_t len) {
    if (label)
        std::fprintf(f, "%s = ", label);
    for (size_t i = 0; i < len; i++)
        std::fprintf(f, "%02x", reply.u8(off + i));
    std::fputc('\n', f);
}

services_ui_conn *fips_open(const fips_params &p) {
    // A PIC that cannot be reached ends the run: the fatal-error routine
    // says why and exits with status 1.
    services_ui_conn *c = services_ui_open(p.fpc, p.pic, SERVICES_UI_PIC_PORT, vorel_fatal_error);
    if (!c)
        vorel_user_message("vorel: failed to open connection\n");
    vorel_channel_names(c, p.pic_name);
    return c;
}

bool fips_session::exchange(const vorel::ByteWriter &req, std::string *reply) {
    if (!c_ || vorel_send(c_.get(), req) < 0) {
        vorel_user_message("Failed to send the query\n");
        return false;
    }
    vorel::ByteReader r = vorel_receive_at_least(c_.get(), fips_msg::kReply, 1, fips_msg::kSize,
                                                 "fips", short_reply::end_answer);
    if (r.empty()) {
        vorel_user_message("vorel: fips stats reply failed\n");
        return false;
    }
    reply->assign(reinterpret_cast<const char *>(r.data()), r.size());
    c_.close();
    c_ = pic_channel(fips_open(p_));
    return static_cast<bool>(c_);
}

int vorel_handle_fips_command(int argc, char **argv, vorel_ctx *ctxt) {
    fips_params p;
    const char *pic_name = nullptr;
    if (!parse_options(argc, argv, ctxt, &p, &pic_name))
        return -1;
    if (!parse_pic_name(pic_name, &p.fpc, &p.pic)) {
        vorel_user_message("vorel: Incorect interface name -i %s\n", vorel_str_or_null(pic_name));
        return -1;
    }
    p.pic_name = pic_name;
    return fips_cmd_send_query(p);
}

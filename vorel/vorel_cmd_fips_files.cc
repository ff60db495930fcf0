// -C fips: the file tests.  A test file (-P, opened as given) is copied
// line by line to the result file (-Q, never through a symbolic link); the
// keyword lines fill a request, and the PIC's answer is added after the
// line that completes a test: "X = ..." for the random-number generator,
// "Result = P|F" for a signature verification, "n = ", "e = " and "S = "
// for signature generation.
#include "vorel/vorel_cmd_fips.h"

#include "vorel/vorel_error.h"
#include "vorel/vorel_files.h"
#include "vorel/vorel_string.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

using namespace fips_msg;

struct file_closer {
    void operator()(FILE *f) const {
        if (f)
            std::fclose(f);
    }
};
using owned_file = std::unique_ptr<FILE, file_closer>;

// The test's two files; false (with the test's message) when either
// cannot be opened.
bool open_files(const char *test, const fips_params &p, owned_file *in, owned_file *out) {
    const char *in_path = p.in_path ? p.in_path->c_str() : nullptr;
    const char *out_path = p.out_path ? p.out_path->c_str() : nullptr;
    in->reset(in_path ? std::fopen(in_path, "r") : nullptr);
    if (!*in) {
        vorel_user_message("%s(): fopen(%s) of infile failed\n", test, vorel_str_or_null(in_path));
        return false;
    }
    int fd = out_path ? vorel_create_file(out_path) : -1;
    out->reset(fd >= 0 ? fdopen(fd, "w") : nullptr);
    if (!*out) {
        if (fd >= 0)
            close(fd);
        vorel_user_message("%s(): fopen(%s) of outfile failed\n", test,
                           vorel_str_or_null(out_path));
        return false;
    }
    return true;
}

// One line of the test file (its newline included); false at the end.
bool next_line(FILE *in, std::string *line) {
    line->clear();
    int c;
    while ((c = std::fgetc(in)) != EOF) {
        line->push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    return !line->empty();
}

bool starts(const std::string &line, const char *keyword) {
    return line.compare(0, std::strlen(keyword), keyword) == 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The text after "=" with blanks skipped, up to the end of the line.
bool value_after_sign(const std::string &line, std::string *value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
        vorel_user_message("get_hex_data(): error, did not find %c in str %s\n", '=', line.c_str());
        return false;
    }
    size_t b = line.find_first_not_of(" \t", eq + 1);
    size_t e = line.find_last_not_of(" \t\r\n");
    *value = b == std::string::npos || e < b ? "" : line.substr(b, e - b + 1);
    return true;
}

// The hexadecimal value of a keyword line as bytes, at most width of them.
bool get_hex_data(const std::string &line, size_t width, const char *what, std::string *out) {
    std::string text;
    if (!value_after_sign(line, &text))
        return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hex_digit(text[i]);
        int lo = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
            vorel_user_message("get_hex_data(): error, bad hexadecimal value in str %s\n",
                               line.c_str());
            return false;
        }
        out->push_back(static_cast<char>(hi << 4 | lo));
    }
    if (out->size() > width) {
        vorel_user_message("vorel: %s of %zu bytes exceeds its %zu-byte field\n", what, out->size(),
                           width);
        return false;
    }
    return true;
}

// A keyword line whose hexadecimal value fills one field of the request.
struct hex_keyword {
    const char *keyword;
    size_t width;
    const char *what;
    std::string *value;
    const char *trace; // its one %d is the value's length
};

// 1 when the line is one of the keywords and its value was read, 0 when it
// is none of them, -1 when its value cannot be used (the test ends).
template <size_t N> int read_hex_keyword(const std::string &line, const hex_keyword (&kw)[N]) {
    for (const hex_keyword &k : kw) {
        if (!starts(line, k.keyword))
            continue;
        if (!get_hex_data(line, k.width, k.what, k.value))
            return -1;
        vorel_trace(k.trace, static_cast<int>(k.value->size()));
        return 1;
    }
    return 0;
}

void write_hex(FILE *f, const char *label, const std::string &reply, size_t len_off, size_t off,
               size_t width) {
    vorel::ByteReader r(reply.data(), reply.size());
    fips_write_hex_line(f, label, r, off, fips_reply_len(r, len_off, off, width));
}

// The fields of a signature request: the hash's name, the key's n and e
// (each already held to its field), the message.
bool fill_rsa_request(const std::string &sha, const std::string &n, const std::string &e,
                      const std::string &msg, vorel::ByteWriter *req) {
    return fips_put_field(*req, kKeyLen, kKey, kKeyWidth, sha, "SHAAlg") &&
           fips_put_field(*req, kModulusLen, kModulus, kModulusWidth, n, "n") &&
           fips_put_field(*req, kExponentLen, kExponent, kExponentWidth, e, "e") &&
           fips_put_field(*req, kDataLen, kData, kDataWidth, msg, "Msg");
}

} // namespace

int fips_rng_test(fips_session &s, const fips_params &p) {
    bool monte =
        (p.mode && *p.mode == "MCT") || (p.in_path && p.in_path->find("MCT") != std::string::npos);
    if (!monte)
        vorel_trace("Running RNG\n");
    owned_file in, out;
    if (!open_files("rng_test", p, &in, &out))
        return -1;
    unsigned long b_bits = 0;
    std::string line, key, seed, reply;
    while (next_line(in.get(), &line)) {
        std::fputs(line.c_str(), out.get());
        if (starts(line, "[Xchange - SHA1]")) {
            b_bits = 0;
            key.clear();
        } else if (starts(line, "b =")) {
            std::string v;
            if (value_after_sign(line, &v))
                b_bits = std::strtoul(v.c_str(), nullptr, 10);
        } else if (starts(line, "XKey =")) {
            if (!get_hex_data(line, kKeyWidth, "XKey", &key))
                return -1;
            if (key.size() != b_bits / 8) {
                vorel_user_message("XKey size %d != %d\n", static_cast<int>(key.size()),
                                   static_cast<int>(b_bits / 8));
                return -1;
            }
        } else if (starts(line, "XSeed =")) {
            if (!get_hex_data(line, kDataWidth, "XSeed", &seed))
                return -1;
            vorel::ByteWriter req = fips_request(monte ? FIPS_RNG_MONTE : FIPS_RNG);
            fips_put_field(req, kKeyLen, kKey, kKeyWidth, key, "XKey");
            fips_put_field(req, kDataLen, kData, kDataWidth, seed, "XSeed");
            if (!s.exchange(req, &reply))
                return -1;
            write_hex(out.get(), "X", reply, kResultLen, kResult, kResultWidth);
        }
    }
    return 0;
}

int fips_rsa_sigver(fips_session &s, const fips_params &p) {
    owned_file in, out;
    if (!open_files("rsa_sigver", p, &in, &out))
        return -1;
    std::string line, n, e, sha, msg, sig, reply;
    while (next_line(in.get(), &line)) {
        std::fputs(line.c_str(), out.get());
        const hex_keyword values[] = {
            {"n =", kModulusWidth, "n", &n, "n_datalen %d\n"},
            {"e =", kExponentWidth, "e", &e, "e_datalen %d\n"},
            {"Msg =", kDataWidth, "Msg", &msg, "datalen %d\n"},
        };
        int got = read_hex_keyword(line, values);
        if (got < 0)
            return -1;
        if (got > 0)
            continue;
        if (starts(line, "SHAAlg")) {
            if (!value_after_sign(line, &sha))
                return -1;
        } else if (starts(line, "S =")) {
            if (!get_hex_data(line, kResultWidth, "S", &sig))
                return -1;
            vorel_trace("Sig length %d\n", static_cast<int>(sig.size()));
            vorel::ByteWriter req = fips_request(FIPS_RSA_SIGVER);
            if (!fill_rsa_request(sha, n, e, msg, &req))
                return -1;
            fips_put_field(req, kResultLen, kResult, kResultWidth, sig, "S");
            if (!s.exchange(req, &reply))
                return -1;
            vorel::ByteReader r(reply.data(), reply.size());
            bool pass =
                fips_reply_len(r, kResultLen, kResult, kResultWidth) >= 1 && r.u8(kResult) == 1;
            std::fputs(pass ? "Result = P\n" : "Result = F\n", out.get());
        }
    }
    return 0;
}

int fips_rsa_siggen(fips_session &s, const fips_params &p) {
    owned_file in, out;
    if (!open_files("rsa_siggen", p, &in, &out))
        return -1;
    std::string line, n, e, sha, msg, reply;
    while (next_line(in.get(), &line)) {
        std::fputs(line.c_str(), out.get());
        if (starts(line, "[mod")) {
            int bits = 0;
            std::sscanf(line.c_str(), "[mod = %d]", &bits);
            vorel::ByteWriter req = fips_request(FIPS_RSA_KEYGEN);
            req.be32(kModulusLen, static_cast<uint32_t>(bits < 0 ? 0 : bits));
            if (!s.exchange(req, &reply))
                return -1;
            vorel::ByteReader r(reply.data(), reply.size());
            size_t n_len = fips_reply_len(r, kModulusLen, kModulus, kModulusWidth);
            size_t e_len = fips_reply_len(r, kExponentLen, kExponent, kExponentWidth);
            if (static_cast<int>(n_len * 8) != bits)
                vorel_trace("n_bits changed %d to %d\n", bits, static_cast<int>(n_len * 8));
            n.assign(reply, kModulus, n_len);
            e.assign(reply, kExponent, e_len);
            write_hex(out.get(), "n", reply, kModulusLen, kModulus, kModulusWidth);
            write_hex(out.get(), "e", reply, kExponentLen, kExponent, kExponentWidth);
        } else if (starts(line, "SHAAlg")) {
            if (!value_after_sign(line, &sha))
                return -1;
        } else if (starts(line, "Msg =")) {
            if (!get_hex_data(line, kDataWidth, "Msg", &msg))
                return -1;
            vorel::ByteWriter req = fips_request(FIPS_RSA_SIGGEN);
            if (!fill_rsa_request(sha, n, e, msg, &req))
                return -1;
            if (!s.exchange(req, &reply))
                return -1;
            write_hex(out.get(), "S", reply, kResultLen, kResult, kResultWidth);
        }
    }
    return 0;
}

// The PIC agent's algorithm tests, computed with OpenSSL's libcrypto.
//
// The command-line tests (algorithms 1 to 9) carry key, data and IV as
// hexadecimal text, their lengths counting characters; the file tests (10
// to 14) carry bytes.  A reply is the request with the result filled in
// (type 100); its key, IV and data fields are bytes (a Monte Carlo reply
// holds the iteration's key, IV and input).  An input the agent cannot
// use (bad hex, a wrong key size, an unknown key) is answered with result
// length 0.
#include "lab/fips_agent.h"

#define OPENSSL_SUPPRESS_DEPRECATED // SHA1_Transform: the G function of the RNG
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vorel::lab {
namespace {

using bytes = std::vector<uint8_t>;

constexpr size_t kSize = 14956;
constexpr size_t kAlgorithm = 16, kKeyLen = 24, kEncrypt = 28, kKey = 36, kKeyWidth = 160;
constexpr size_t kDataLen = 196, kData = 200, kDataWidth = 13000, kIv = 13200, kIvWidth = 32;
constexpr size_t kModulusLen = 13232, kModulus = 13236, kModulusWidth = 600;
constexpr size_t kExponentLen = 13836, kExponent = 13840, kExponentWidth = 600;
constexpr size_t kResultLen = 14440, kResult = 14444, kResultWidth = 512;

struct message {
    bytes m;
    explicit message(const ByteReader &req) : m(kSize, 0) {
        std::memcpy(m.data(), req.data(), std::min(req.size(), kSize));
        store16(0, 100);
        store16(2, 1);
        store16(4, kSize / 4);
    }
    void store16(size_t off, uint16_t v) {
        m[off] = uint8_t(v >> 8);
        m[off + 1] = uint8_t(v);
    }
    void store32(size_t off, uint32_t v) {
        for (int i = 0; i < 4; i++)
            m[off + i] = uint8_t(v >> (24 - 8 * i));
    }
    uint32_t u32(size_t off) const {
        return uint32_t(m[off]) << 24 | uint32_t(m[off + 1]) << 16 | uint32_t(m[off + 2]) << 8 |
               m[off + 3];
    }
    // The field's bytes, its length held to the width.
    bytes field(size_t len_off, size_t off, size_t width) const {
        size_t n = std::min<size_t>(u32(len_off), width);
        return bytes(m.begin() + off, m.begin() + off + n);
    }
    void put(size_t len_off, size_t off, size_t width, const bytes &v) {
        size_t n = std::min(v.size(), width);
        std::fill(m.begin() + off, m.begin() + off + width, 0);
        std::copy(v.begin(), v.begin() + n, m.begin() + off);
        if (len_off)
            store32(len_off, uint32_t(n));
    }
    void result(const bytes &v) { put(kResultLen, kResult, kResultWidth, v); }
};

bool unhex(const uint8_t *p, size_t n, bytes *out) {
    auto digit = [](uint8_t c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        c = uint8_t(std::tolower(c));
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (n % 2)
        return false;
    out->clear();
    for (size_t i = 0; i < n; i += 2) {
        int hi = digit(p[i]), lo = digit(p[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out->push_back(uint8_t(hi << 4 | lo));
    }
    return true;
}

// A hexadecimal text field of a command-line test, as bytes.
bool hex_field(const message &q, size_t len_off, size_t off, size_t width, bytes *out) {
    size_t n = std::min<size_t>(q.u32(len_off), width);
    return unhex(q.m.data() + off, n, out);
}

bool hex_iv(const message &q, bytes *out) {
    size_t n = strnlen(reinterpret_cast<const char *>(q.m.data() + kIv), kIvWidth);
    return unhex(q.m.data() + kIv, n, out);
}

// ---- Hashes and MACs

bytes sha1(const bytes &in) {
    bytes md(SHA_DIGEST_LENGTH);
    SHA1(in.data(), in.size(), md.data());
    return md;
}

size_t asked_len(const message &q, size_t full) {
    uint32_t n = q.u32(kResultLen);
    return n >= 1 && n <= full ? n : full;
}

// ---- Block ciphers (one block at a time, no padding)

const EVP_CIPHER *ecb_cipher(bool aes, size_t key_len) {
    if (!aes)
        return key_len == 24 ? EVP_des_ede3_ecb() : nullptr;
    return key_len == 16   ? EVP_aes_128_ecb()
           : key_len == 24 ? EVP_aes_192_ecb()
           : key_len == 32 ? EVP_aes_256_ecb()
                           : nullptr;
}

struct block_cipher {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx{EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free};
    size_t block = 0;
    bool init(bool aes, const bytes &key, bool encrypt) {
        const EVP_CIPHER *c = ecb_cipher(aes, key.size());
        if (!c || !EVP_CipherInit_ex(ctx.get(), c, nullptr, key.data(), nullptr, encrypt ? 1 : 0))
            return false;
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
        block = aes ? 16 : 8;
        return true;
    }
    void run(const uint8_t *in, uint8_t *out) {
        int n = 0;
        EVP_CipherUpdate(ctx.get(), out, &n, in, int(block));
    }
};

// A triple DES key: three keys, or two (the first used again as the third).
bytes des_ede3_key(const bytes &key) {
    if (key.size() == 16) {
        bytes k = key;
        k.insert(k.end(), key.begin(), key.begin() + 8);
        return k;
    }
    return key.size() == 24 ? key : bytes();
}

// DES is triple DES with three equal keys.
bytes expand_des(const bytes &k8) {
    bytes k;
    if (k8.size() != 8)
        return k;
    for (int i = 0; i < 3; i++)
        k.insert(k.end(), k8.begin(), k8.end());
    return k;
}

// CBC over whole blocks.
bool cbc(bool aes, const bytes &key, const bytes &iv, const bytes &in, bool encrypt, bytes *out) {
    block_cipher bc;
    if (!bc.init(aes, key, encrypt) || iv.size() != bc.block || in.size() % bc.block)
        return false;
    out->assign(in.size(), 0);
    bytes chain = iv, tmp(bc.block);
    for (size_t off = 0; off < in.size(); off += bc.block) {
        if (encrypt) {
            for (size_t i = 0; i < bc.block; i++)
                tmp[i] = in[off + i] ^ chain[i];
            bc.run(tmp.data(), out->data() + off);
            chain.assign(out->begin() + off, out->begin() + off + bc.block);
        } else {
            bc.run(in.data() + off, tmp.data());
            for (size_t i = 0; i < bc.block; i++)
                (*out)[off + i] = tmp[i] ^ chain[i];
            chain.assign(in.begin() + off, in.begin() + off + bc.block);
        }
    }
    return true;
}

void set_odd_parity(uint8_t *k, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint8_t b = k[i] & 0xfe;
        k[i] = b | !(__builtin_popcount(b) & 1);
    }
}

// The Monte Carlo test of a block cipher in CBC mode: per outer iteration
// `inner` chained blocks, then the key and IV derived from the last
// outputs.  One reply per outer iteration.
void cipher_monte(const message &q, bool aes, bytes key, bytes iv, bytes text, bool encrypt,
                  int outer, int inner, std::vector<bytes> *out) {
    size_t bl = aes ? 16 : 8;
    if (iv.size() != bl || text.size() != bl)
        return;
    for (int i = 0; i < outer; i++) {
        bytes k3 = aes ? key : des_ede3_key(key);
        block_cipher bc;
        if (!bc.init(aes, k3, encrypt))
            return;
        message r(ByteReader(q.m.data(), q.m.size()));
        r.put(kKeyLen, kKey, kKeyWidth, key);
        r.put(0, kIv, kIvWidth, iv);
        r.put(kDataLen, kData, kDataWidth, text);
        // outputs[j]: the block produced by step j; the next input is the
        // previous output (the IV for the first step).
        std::vector<bytes> last(3, bytes(bl));
        bytes input = text, chain = iv, output(bl), tmp(bl);
        for (int j = 0; j < inner; j++) {
            if (encrypt) {
                for (size_t b = 0; b < bl; b++)
                    tmp[b] = input[b] ^ chain[b];
                bc.run(tmp.data(), output.data());
                bytes next_input = j == 0 ? iv : last[2];
                chain = output;
                input = next_input;
            } else {
                bc.run(input.data(), tmp.data());
                for (size_t b = 0; b < bl; b++)
                    output[b] = tmp[b] ^ chain[b];
                chain = input;
                input = j == 0 ? iv : last[2];
            }
            last[0] = last[1];
            last[1] = last[2];
            last[2] = output;
        }
        r.result(last[2]);
        out->push_back(r.m);
        // The next key: the key XOR the last outputs (as many bytes as the key).
        if (aes) {
            bytes tail = last[1];
            tail.insert(tail.end(), last[2].begin(), last[2].end());
            for (size_t b = 0; b < key.size(); b++)
                key[b] ^= tail[tail.size() - key.size() + b];
        } else {
            for (size_t b = 0; b < 8 && key.size() == 24; b++) {
                key[b] ^= last[2][b];
                key[8 + b] ^= last[1][b];
                key[16 + b] ^= last[0][b];
            }
            set_odd_parity(key.data(), key.size());
        }
        iv = last[2];
        text = last[1];
    }
}

// ---- Random numbers (the general-purpose generator with SHA-1's G)

bytes g_function(const bytes &xval) {
    uint8_t block[64] = {};
    std::memcpy(block, xval.data(), std::min<size_t>(xval.size(), 64));
    SHA_CTX c;
    SHA1_Init(&c);
    SHA1_Transform(&c, block);
    bytes out;
    for (uint32_t h : {c.h0, c.h1, c.h2, c.h3, c.h4})
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(uint8_t(h >> s));
    return out;
}

// a = (a + b + carry) mod 2^(8 * a.size()), b aligned at the low end.
void add_into(bytes &a, const bytes &b, unsigned carry) {
    for (size_t i = 0; i < a.size(); i++) {
        size_t ai = a.size() - 1 - i;
        unsigned v = a[ai] + carry + (i < b.size() ? b[b.size() - 1 - i] : 0);
        a[ai] = uint8_t(v);
        carry = v >> 8;
    }
}

bool rng(bytes &xkey, const bytes &xseed, bytes *x) {
    if (xkey.empty() || xkey.size() > 64 || xseed.size() > xkey.size())
        return false;
    x->clear();
    for (int j = 0; j < 2; j++) {
        bytes xval = xkey;
        add_into(xval, xseed, 0);
        bytes w = g_function(xval);
        add_into(xkey, w, 1);
        x->insert(x->end(), w.begin(), w.end());
    }
    return true;
}

// ---- RSA

struct pkey_free {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using owned_pkey = std::unique_ptr<EVP_PKEY, pkey_free>;

std::mutex g_keys_mu;
std::map<bytes, owned_pkey> g_keys; // generated keys by modulus

bytes bn_bytes(const EVP_PKEY *k, const char *name) {
    BIGNUM *bn = nullptr;
    if (!EVP_PKEY_get_bn_param(k, name, &bn))
        return {};
    bytes out(BN_num_bytes(bn));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

const EVP_MD *digest_named(const bytes &name) {
    std::string n(name.begin(), name.end());
    n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
    if (n == "SHA1")
        return EVP_sha1();
    if (n == "SHA224")
        return EVP_sha224();
    if (n == "SHA256")
        return EVP_sha256();
    if (n == "SHA384")
        return EVP_sha384();
    if (n == "SHA512")
        return EVP_sha512();
    return nullptr;
}

owned_pkey public_key(const bytes &n, const bytes &e) {
    BIGNUM *bn_n = BN_bin2bn(n.data(), int(n.size()), nullptr);
    BIGNUM *bn_e = BN_bin2bn(e.data(), int(e.size()), nullptr);
    OSSL_PARAM_BLD *b = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(b, OSSL_PKEY_PARAM_RSA_N, bn_n);
    OSSL_PARAM_BLD_push_BN(b, OSSL_PKEY_PARAM_RSA_E, bn_e);
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(b);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY *k = nullptr;
    if (ctx && EVP_PKEY_fromdata_init(ctx) > 0)
        EVP_PKEY_fromdata(ctx, &k, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(b);
    BN_free(bn_n);
    BN_free(bn_e);
    return owned_pkey(k);
}

bool rsa_verify(const message &q) {
    const EVP_MD *md = digest_named(q.field(kKeyLen, kKey, kKeyWidth));
    bytes n = q.field(kModulusLen, kModulus, kModulusWidth);
    owned_pkey k = public_key(n, q.field(kExponentLen, kExponent, kExponentWidth));
    if (!md || !k)
        return false;
    bytes msg = q.field(kDataLen, kData, kDataWidth),
          sig = q.field(kResultLen, kResult, kResultWidth);
    EVP_MD_CTX *c = EVP_MD_CTX_new();
    bool ok = EVP_DigestVerifyInit(c, nullptr, md, nullptr, k.get()) == 1 &&
              EVP_DigestVerify(c, sig.data(), sig.size(), msg.data(), msg.size()) == 1;
    EVP_MD_CTX_free(c);
    return ok;
}

bool rsa_keygen(message &r) {
    uint32_t bits = r.u32(kModulusLen);
    if (bits < 1024 || bits > 4096)
        return false;
    owned_pkey k(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(bits)));
    if (!k)
        return false;
    bytes n = bn_bytes(k.get(), OSSL_PKEY_PARAM_RSA_N),
          e = bn_bytes(k.get(), OSSL_PKEY_PARAM_RSA_E);
    r.put(kModulusLen, kModulus, kModulusWidth, n);
    r.put(kExponentLen, kExponent, kExponentWidth, e);
    std::lock_guard<std::mutex> g(g_keys_mu);
    g_keys[n] = std::move(k);
    return true;
}

bool rsa_sign(const message &q, bytes *sig) {
    const EVP_MD *md = digest_named(q.field(kKeyLen, kKey, kKeyWidth));
    std::lock_guard<std::mutex> g(g_keys_mu);
    auto it = g_keys.find(q.field(kModulusLen, kModulus, kModulusWidth));
    if (!md || it == g_keys.end())
        return false;
    bytes msg = q.field(kDataLen, kData, kDataWidth);
    EVP_MD_CTX *c = EVP_MD_CTX_new();
    size_t len = 0;
    bool ok = EVP_DigestSignInit(c, nullptr, md, nullptr, it->second.get()) == 1 &&
              EVP_DigestSign(c, nullptr, &len, msg.data(), msg.size()) == 1;
    sig->assign(len, 0);
    ok = ok && EVP_DigestSign(c, sig->data(), &len, msg.data(), msg.size()) == 1;
    sig->resize(ok ? len : 0);
    EVP_MD_CTX_free(c);
    return ok;
}

// ---- One request

bytes command_line_result(const message &q, uint32_t alg, std::vector<bytes> *replies) {
    bytes key, data, iv, out;
    bool encrypt = q.u32(kEncrypt) != 0;
    switch (alg) {
    case 1: { // HMAC-SHA-1
        if (!hex_field(q, kKeyLen, kKey, kKeyWidth, &key) ||
            !hex_field(q, kDataLen, kData, kDataWidth, &data))
            return {};
        out.assign(EVP_MAX_MD_SIZE, 0);
        unsigned n = 0;
        HMAC(EVP_sha1(), key.data(), int(key.size()), data.data(), data.size(), out.data(), &n);
        out.resize(asked_len(q, n));
        return out;
    }
    case 2: // SHA-1
        if (!hex_field(q, kDataLen, kData, kDataWidth, &data))
            return {};
        out = sha1(data);
        out.resize(asked_len(q, out.size()));
        return out;
    case 3: { // SHA-1 Monte Carlo: 100 checkpoints of 1000 chained digests
        if (!hex_field(q, kDataLen, kData, kDataWidth, &data) || data.empty())
            return {};
        bytes seed = data;
        for (int j = 0; j < 100; j++) {
            bytes md[3] = {seed, seed, seed};
            for (int i = 3; i < 1003; i++) {
                bytes m = md[0];
                m.insert(m.end(), md[1].begin(), md[1].end());
                m.insert(m.end(), md[2].begin(), md[2].end());
                md[0] = md[1];
                md[1] = md[2];
                md[2] = sha1(m);
            }
            seed = md[2];
            message r(ByteReader(q.m.data(), q.m.size()));
            r.result(seed);
            replies->push_back(r.m);
        }
        return {};
    }
    case 4:
    case 6:
    case 8: { // TDES, DES, AES in CBC mode
        bool aes = alg == 8;
        if (!hex_field(q, kKeyLen, kKey, kKeyWidth, &key) || !hex_iv(q, &iv) ||
            !hex_field(q, kDataLen, kData, kDataWidth, &data))
            return {};
        bytes k = aes ? key : alg == 4 ? des_ede3_key(key) : expand_des(key);
        if (!cbc(aes, k, iv, data, encrypt, &out))
            return {};
        return out;
    }
    case 5:
    case 9: { // TDES and AES Monte Carlo
        bool aes = alg == 9;
        if (!hex_field(q, kKeyLen, kKey, kKeyWidth, &key) || !hex_iv(q, &iv) ||
            !hex_field(q, kDataLen, kData, kDataWidth, &data))
            return {};
        if (!aes)
            key = des_ede3_key(key);
        cipher_monte(q, aes, key, iv, data, encrypt, aes ? 100 : 400, aes ? 1000 : 10000, replies);
        return {};
    }
    default:
        return {};
    }
}

} // namespace

std::vector<bytes> fips_answer(const ByteReader &request) {
    std::vector<bytes> replies;
    if (request.size() < kSize)
        return replies;
    message q(request);
    uint32_t alg = q.u32(kAlgorithm);
    message r(request);
    bytes result;
    switch (alg) {
    case 10:
        if (!rsa_keygen(r))
            r.put(kModulusLen, kModulus, kModulusWidth, {});
        break;
    case 11:
        rsa_sign(q, &result);
        break;
    case 12:
        result = {uint8_t(rsa_verify(q) ? 1 : 0)};
        break;
    case 13:
    case 14: {
        bytes xkey = q.field(kKeyLen, kKey, kKeyWidth),
              xseed = q.field(kDataLen, kData, kDataWidth);
        for (int i = 0, n = alg == 14 ? 10000 : 1; i < n; i++)
            if (!rng(xkey, xseed, &result)) {
                result.clear();
                break;
            }
        break;
    }
    default:
        result = command_line_result(q, alg, &replies);
        if (!replies.empty())
            return replies;
        break;
    }
    r.result(result);
    replies.push_back(r.m);
    return replies;
}

} // namespace vorel::lab

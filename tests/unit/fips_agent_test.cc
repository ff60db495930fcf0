// The lab's PIC agent for the algorithm tests: Monte Carlo chaining, RSA
// key generation, signing and verification, and refusals of unusable input.
#include "lab/fips_agent.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;
using vorel::ByteReader;
using vorel::lab::fips_answer;

constexpr size_t kSize = 14956;

struct request {
    bytes m = bytes(kSize, 0);
    request(uint32_t alg) {
        m[1] = 99;
        m[3] = 1;
        be32(16, alg);
    }
    void be32(size_t off, uint32_t v) {
        for (int i = 0; i < 4; i++)
            m[off + i] = uint8_t(v >> (24 - 8 * i));
    }
    void field(size_t len_off, size_t off, const bytes &v) {
        std::memcpy(m.data() + off, v.data(), v.size());
        if (len_off)
            be32(len_off, uint32_t(v.size()));
    }
    void text(size_t len_off, size_t off, const std::string &s) {
        field(len_off, off, bytes(s.begin(), s.end()));
    }
    std::vector<bytes> answer() const { return fips_answer(ByteReader(m.data(), m.size())); }
};

uint32_t be32(const bytes &m, size_t off) {
    return uint32_t(m[off]) << 24 | uint32_t(m[off + 1]) << 16 | uint32_t(m[off + 2]) << 8 |
           m[off + 3];
}

bytes field(const bytes &m, size_t len_off, size_t off) {
    return bytes(m.begin() + off, m.begin() + off + be32(m, len_off));
}

bytes result(const bytes &m) {
    return field(m, 14440, 14444);
}

bytes hex(const std::string &s) {
    bytes out;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(uint8_t(std::stoul(s.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(FipsAgent, AesMonteCarloChainsKeysIvsAndTexts) {
    request q(9);
    q.text(24, 36, "2b7e151628aed2a6abf7158809cf4f3c");
    q.text(0, 13200, "000102030405060708090a0b0c0d0e0f");
    q.text(196, 200, "6bc1bee22e409f96e93d7e117393172a");
    q.be32(28, 1);
    std::vector<bytes> r = q.answer();
    ASSERT_EQ(r.size(), 100u);
    EXPECT_EQ(field(r[0], 24, 36), hex("2b7e151628aed2a6abf7158809cf4f3c"));
    EXPECT_EQ(bytes(r[0].begin() + 13200, r[0].begin() + 13216),
              hex("000102030405060708090a0b0c0d0e0f"));
    EXPECT_EQ(field(r[0], 196, 200), hex("6bc1bee22e409f96e93d7e117393172a"));
    for (size_t i = 0; i + 1 < r.size(); i++) {
        bytes key = field(r[i], 24, 36), ct = result(r[i]), next = field(r[i + 1], 24, 36);
        ASSERT_EQ(ct.size(), 16u);
        for (size_t b = 0; b < 16; b++)
            ASSERT_EQ(next[b], key[b] ^ ct[b]) << "iteration " << i;
        // The next IV is the last cipher block.
        ASSERT_EQ(bytes(r[i + 1].begin() + 13200, r[i + 1].begin() + 13216), ct);
    }
}

TEST(FipsAgent, AesMonteCarloDecryptionUndoesEncryption) {
    request enc(9);
    enc.text(24, 36, "000102030405060708090a0b0c0d0e0f");
    enc.text(0, 13200, "00000000000000000000000000000000");
    enc.text(196, 200, "00112233445566778899aabbccddeeff");
    enc.be32(28, 1);
    request dec = enc;
    dec.be32(28, 0);
    std::vector<bytes> e = enc.answer(), d = dec.answer();
    ASSERT_EQ(e.size(), 100u);
    ASSERT_EQ(d.size(), 100u);
    EXPECT_NE(result(e[0]), result(d[0]));
}

TEST(FipsAgent, TripleDesMonteCarloRuns400IterationsWithOddParityKeys) {
    request q(5);
    q.text(24, 36, "0123456789abcdef23456789abcdef01456789abcdef0123");
    q.text(0, 13200, "1234567890abcdef");
    q.text(196, 200, "4e6f772069732074");
    q.be32(28, 1);
    std::vector<bytes> r = q.answer();
    ASSERT_EQ(r.size(), 400u);
    for (const bytes &m : r) {
        bytes key = field(m, 24, 36);
        ASSERT_EQ(key.size(), 24u);
        ASSERT_EQ(result(m).size(), 8u);
        for (uint8_t b : key)
            ASSERT_EQ(__builtin_popcount(b) % 2, 1);
    }
    // The next IV is the last cipher block.
    EXPECT_EQ(bytes(r[1].begin() + 13200, r[1].begin() + 13208), result(r[0]));
}

TEST(FipsAgent, RsaKeysSignAndVerify) {
    request gen(10);
    gen.be32(13232, 1024);
    std::vector<bytes> g = gen.answer();
    ASSERT_EQ(g.size(), 1u);
    bytes n = field(g[0], 13232, 13236), e = field(g[0], 13836, 13840);
    ASSERT_EQ(n.size(), 128u);
    EXPECT_EQ(e, hex("010001"));

    request sign(11);
    sign.text(24, 36, "SHA256");
    sign.field(13232, 13236, n);
    sign.field(196, 200, hex("616263"));
    bytes sig = result(sign.answer()[0]);
    ASSERT_EQ(sig.size(), 128u);

    request ver(12);
    ver.text(24, 36, "SHA256");
    ver.field(13232, 13236, n);
    ver.field(13836, 13840, e);
    ver.field(196, 200, hex("616263"));
    ver.field(14440, 14444, sig);
    EXPECT_EQ(result(ver.answer()[0]), bytes{1});
    sig[5] ^= 1;
    ver.field(14440, 14444, sig);
    EXPECT_EQ(result(ver.answer()[0]), bytes{0});
}

TEST(FipsAgent, UnusableInputGetsAnEmptyResult) {
    request bad_hex(2);
    bad_hex.text(196, 200, "6g");
    EXPECT_TRUE(result(bad_hex.answer()[0]).empty());
    request odd_key(8);
    odd_key.text(24, 36, "0011");
    odd_key.text(0, 13200, "000102030405060708090a0b0c0d0e0f");
    odd_key.text(196, 200, "00112233445566778899aabbccddeeff");
    EXPECT_TRUE(result(odd_key.answer()[0]).empty());
    request unknown_key(11);
    unknown_key.text(24, 36, "SHA1");
    unknown_key.field(13232, 13236, bytes(128, 7));
    EXPECT_TRUE(result(unknown_key.answer()[0]).empty());
    request short_request(2);
    EXPECT_TRUE(fips_answer(ByteReader(short_request.m.data(), kSize - 1)).empty());
}

TEST(FipsAgent, RandomNumberMonteCarloIteratesTheKey) {
    request one(13), many(14);
    for (request *q : {&one, &many}) {
        q->field(24, 36, hex("bd029bbe7f51960bcf9edb2b61f06f0feb5a38b6"));
        q->field(196, 200, bytes(20, 0));
    }
    bytes x1 = result(one.answer()[0]), xn = result(many.answer()[0]);
    EXPECT_EQ(x1, hex("2070b3223dba372fde1c0ffc7b2e3b498b2606143c6c18bacb0f6c55babb13788e20d737a3"
                      "275116"));
    EXPECT_EQ(xn.size(), 40u);
    EXPECT_NE(xn, x1);
}

} // namespace

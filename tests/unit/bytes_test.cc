// The checked reader, ByteBlock and the writer: every fetch stays inside
// the buffer, and a fetch that would not gives zero and fails the reader.
#include "platform/bytes.h"

#include <gtest/gtest.h>

using vorel::ByteReader;
using vorel::ByteWriter;

TEST(ByteReader, FetchesInsideTheBufferOrZeroAndFail) {
    const uint8_t b[] = {0x01, 0x3d, 0x00, 0x01, 0xde, 0xad, 0xbe, 0xef, 0, 0, 0, 0, 0, 0, 0, 7};
    ByteReader r(b, sizeof b);
    EXPECT_EQ(r.be16(0), 317);
    EXPECT_EQ(r.be32(4), 0xdeadbeefu);
    EXPECT_EQ(r.be64(8), 7u);
    EXPECT_EQ(r.le16(0), 0x3d01);
    EXPECT_TRUE(r.ok());
    ByteReader s(b, 3);
    EXPECT_EQ(s.be64(0), 0u);
    EXPECT_EQ(s.tail(3).size(), 0u);
    EXPECT_EQ(s.be16(2), 0u);
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s.has(SIZE_MAX, 2)); // offset overflow
    EXPECT_FALSE(s.has(1, SIZE_MAX));
    // A block only when all of it is there; never filled, it is zeros.
    vorel::ByteBlock<6> block, past;
    ByteReader t(b, 8);
    ASSERT_TRUE(t.block(1, block));
    EXPECT_EQ(block.be16<0>(), 0x3d00);
    EXPECT_EQ((block.block<2, 4>().u8<3>()), 0xbe);
    EXPECT_FALSE(t.block(3, past)); // 3 + 6 > 8
    EXPECT_EQ(past.be16<4>(), 0u);
    EXPECT_FALSE(t.ok());
    EXPECT_FALSE(ByteReader(b, sizeof b).block(SIZE_MAX, past));
    // A sub-view is bounded by its parent.
    ByteReader sub = r.sub(1, 3);
    EXPECT_EQ(sub.u8(3), 0);
    EXPECT_FALSE(sub.ok());
    EXPECT_EQ(ByteReader(b, 5).sub(4, 2).size(), 0u);
}

TEST(ByteReader, TextStopsAtNulWidthAndEnd) {
    const char b[] = {'a', 'b', 0, 'c', 'd', 'e', 'f'};
    ByteReader r(b, sizeof b);
    EXPECT_EQ(r.text(0, 7), "ab");
    EXPECT_EQ(r.text(3, 2), "cd"); // unterminated: bounded by the width
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.text(3, 60), "cdef"); // field runs past the end: bounded by the buffer
    EXPECT_FALSE(r.ok());
}

TEST(ByteReader, ClampCountToCapacityAndBytesPresent) {
    std::vector<uint8_t> b(20 + 3 * 8 + 5);
    ByteReader r(b);
    EXPECT_EQ(r.clamp_count(2, 20, 8, 256), 2u);
    EXPECT_EQ(r.clamp_count(1000, 20, 8, 256), 3u); // only three whole entries arrived
    EXPECT_EQ(r.clamp_count(1000, 20, 8, 2), 2u);   // the table holds two
    EXPECT_EQ(r.clamp_count(UINT64_MAX, 100, 8, 256), 0u);
}

TEST(ByteWriter, StoresInsideItsBufferAndTerminatesTexts) {
    ByteWriter w(8);
    w.be16(0, 317);
    w.be32(4, 0x01020304);
    EXPECT_TRUE(w.ok());
    w.be32(6, 1);
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(w.buffer(), (std::vector<uint8_t>{0x01, 0x3d, 0, 0, 1, 2, 3, 4}));
    ByteWriter t(8);
    t.text(0, 4, "abcdef");
    EXPECT_EQ(t.buffer(), (std::vector<uint8_t>{'a', 'b', 'c', 0, 0, 0, 0, 0}));
    std::vector<uint8_t> out;
    ASSERT_TRUE(vorel::from_hex("01 3d:00_ff", out));
    EXPECT_EQ(vorel::to_hex(out.data(), out.size()), "01 3d 00 ff");
    EXPECT_FALSE(vorel::from_hex("0", out));
    EXPECT_FALSE(vorel::from_hex("zz", out));
}

TEST(ByteBlock, WideSignedLittleEndianAndTextReads) {
    const uint8_t bytes[] = {0x80, 0, 0, 0, 0, 0, 0, 1, 0xff, 0xfe, 0x34, 0x12, 'a', 'b', 'c', 'd'};
    vorel::ByteBlock<16> b;
    ASSERT_TRUE(ByteReader(bytes, sizeof bytes).block(0, b));
    EXPECT_EQ(b.be64<0>(), 0x8000000000000001ull);
    EXPECT_EQ(b.sbe16<8>(), -2);
    EXPECT_EQ(b.le16<10>(), 0x1234);
    // A name that fills its field has no NUL and stops at the field's end.
    EXPECT_EQ((b.text<12, 4>()), "abcd");
    EXPECT_EQ((b.text<10, 4>()), std::string("\x34\x12") + "ab");
    vorel::ByteBlock<4> nul;
    const uint8_t with_nul[] = {'x', 0, 'y', 'z'};
    ASSERT_TRUE(ByteReader(with_nul, 4).block(0, nul));
    EXPECT_EQ((nul.text<0, 4>()), "x");
}

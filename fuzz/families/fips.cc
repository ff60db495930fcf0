// fuzz-options: -max_len=131072 -dict=fuzz/fips.dict
// -C fips: single results, Monte Carlo blocks and the file tests (the
// small vector files of tests/data/fips, by their path in the source tree) from
// fuzzed replies whose length words lie.  Results go to /tmp/result and
// /dev/null.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_fips_command,
    {
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "SHA1", "-I", "616263", "-R", "24"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "HMAC", "-K", "0b0b", "-I", "4869", "-O", "20"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "AES", "-U", "Monte", "-K",
         "2b7e151628aed2a6abf7158809cf4f3c", "-Y", "000102030405060708090a0b0c0d0e0f", "-I",
         "6bc1bee22e409f96e93d7e117393172a", "-Z"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "TDES", "-U", "Monte", "-K",
         "0123456789abcdef0123456789abcdef0123456789abcdef", "-Y", "1234567890abcdef", "-I",
         "4e6f772069732074", "-Z", "0"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "SHA1", "-U", "Monte", "-I", "00112233", "-R", "8"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "RNG", "-P",
         VOREL_SOURCE_DIR "/tests/data/fips/RNG_Xchange.req", "-Q", "/dev/null"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "RSA", "-P",
         VOREL_SOURCE_DIR "/tests/data/fips/SigVer.req", "-Q", "/dev/null"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "RSA", "-P",
         VOREL_SOURCE_DIR "/tests/data/fips/SigGen.req", "-Q", "/dev/null"},
        {"-C", "fips", "-i", "ms-1/0/0", "-A", "MD5", "-I", "61"},
    },
};

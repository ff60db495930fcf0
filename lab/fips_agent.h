// The PIC agent's cryptographic self-tests (request 99, reply 100): the
// lab computes the real answers with the system's crypto library, so that
// a run can be checked against published test vectors.
#pragma once

#include "platform/bytes.h"

#include <cstdint>
#include <vector>

namespace vorel::lab {

// The replies to one request (several for a Monte Carlo test; none for a
// request that is not a test message).  Each is a whole message.
std::vector<std::vector<uint8_t>> fips_answer(const ByteReader &request);

} // namespace vorel::lab

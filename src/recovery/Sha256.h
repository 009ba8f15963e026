// SHA-256 (FIPS 180-4) over bytes given piece by piece: the digest the recovery report gives
// for each written file.
#pragma once

#include <array>
#include <string>

#include "platform/Types.h"

class Sha256
{
public:
    Sha256();

    // Adds count bytes of data to the message.
    void Update(const u8* data, u64 count);
    // The digest of everything added, as 64 lower-case hex digits. The object is spent after.
    [[nodiscard]] std::string HexDigest();

private:
    void Block(const u8* block);

    std::array<u32, 8> m_state{};
    std::array<u8, 64> m_pending{};
    u32 m_pendingBytes = 0;
    u64 m_totalBytes = 0;
};

// SHA-256 (FIPS 180-4) over bytes given piece by piece: the digest the recovery report gives
// for each written file.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "platform/Types.h"

class Sha256
{
public:
    Sha256();

    // Adds count bytes of data to the message.
    void Update(const u8* data, u64 count);
    // Adds count zero bytes, without a buffer of that size.
    void UpdateZeros(u64 count);
    // The digest of everything added, as 64 lower-case hex digits. The object is spent after.
    [[nodiscard]] std::string HexDigest();

private:
    void Block(const u8* block);

    std::array<u32, 8> m_state{};
    std::array<u8, 64> m_pending{};
    u32 m_pendingBytes = 0;
    u64 m_totalBytes = 0;
};

// For tests: true makes every digest take the portable rounds, false (the default) the
// processor's SHA instructions where it has them.
void Sha256PortableRoundsOnly(bool portable);

// The digest of the file open as fd, read from its start with buffer (room bytes). The file's
// holes are not read: their zeros are fed to the digest as they are. "" when the file cannot be
// read, or when running, if given, turns false before the end (hashing the zeros of a hole of
// terabytes takes long). *bytesRead, when given, counts the bytes read.
[[nodiscard]] std::string DigestOfFile(int fd, u8* buffer, u64 room, u64* bytesRead = nullptr,
                                       const std::function<bool()>& running = nullptr);

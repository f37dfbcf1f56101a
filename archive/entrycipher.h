// The layer between an encrypted entry's raw data and its compressed data, for reading:
// WinZip AES (AE-1, AE-2; 128, 192 or 256 bits) and the traditional PKWARE encryption.
#pragma once

#include "archive/winzipaes.h"
#include "archive/zipentry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zrv {

class EntryCipher {
public:
    // The bytes before the compressed data (salt and verifier, or the 12-byte header) and after
    // it (the authentication code).
    static std::size_t header_size(const ZipEntry &entry);
    static std::size_t trailer_size(const ZipEntry &entry);
    // The entry's keys from `password` and the `header` before its data; empty when the
    // password does not open it. A secret: the caller wipes it.
    static std::string open(const ZipEntry &entry, const std::string &password,
                            const unsigned char *header);

    // Decrypts the entry's data run by run, in order, with the keys `open` gave.
    EntryCipher(const ZipEntry &entry, const std::string &keys);
    ~EntryCipher();
    EntryCipher(const EntryCipher &) = delete;
    EntryCipher &operator=(const EntryCipher &) = delete;

    void decrypt(unsigned char *data, std::size_t size);
    // Whether the code after the data matches what was decrypted; the traditional encryption
    // has none (the CRC is its only check).
    bool authentic(const unsigned char *trailer);

private:
    std::array<std::uint32_t, 3> zipcrypto_keys{};
    std::unique_ptr<winzipaes::Stream> aes;
};

} // namespace zrv

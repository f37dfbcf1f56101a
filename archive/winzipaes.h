// WinZip's AES encryption of ZIP entries (AE-1 and AE-2): method 99 with a 0x9901 extra field
// naming the key strength and the real method; the entry's data is a salt, a 2-byte password
// verifier, the compressed data in AES counter mode (a little-endian counter from 1), and the
// first 10 bytes of an HMAC-SHA1 over that ciphertext. Keys come from PBKDF2-HMAC-SHA1 over the
// password and salt, 1000 rounds. AE-2 leaves the CRC at 0; AE-1 keeps it.
#pragma once

#include "archive/crypto.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zrv::winzipaes {

constexpr std::uint16_t method = 99;
constexpr std::uint16_t extra_id = 0x9901;
constexpr std::uint16_t extra_size = 7;
constexpr std::uint16_t version_needed = 51;
constexpr std::uint16_t ae_1 = 1;
constexpr std::uint16_t ae_2 = 2;
constexpr int strength_256 = 3;
constexpr std::size_t verifier_size = 2;
constexpr std::size_t code_size = 10;

// Strengths 1, 2 and 3 stand for 128, 192 and 256 bits.
bool valid_strength(int strength);
std::size_t salt_size(int strength);
std::size_t key_size(int strength);

// The extra field for the writer: AE-2, 256 bits, and the real method.
std::string extra_field(std::uint16_t real_method);

// One entry's derived keys: the AES key, the HMAC key and the verifier, in that order.
class Keys {
public:
    Keys(const std::string &password, const unsigned char *salt, int strength);
    ~Keys();
    Keys(const Keys &) = delete;
    Keys &operator=(const Keys &) = delete;

    const unsigned char *verifier() const { return material.data() + 2 * length; }
    const unsigned char *aes_key() const { return material.data(); }
    const unsigned char *hmac_key() const { return material.data() + length; }
    std::size_t key_length() const { return length; }

private:
    std::size_t length;
    std::array<unsigned char, 2 * 32 + verifier_size> material{};
};

// The counter-mode stream and the HMAC of one entry, applied run by run in order.
class Stream {
public:
    explicit Stream(const Keys &keys)
        : Stream(keys.aes_key(), keys.hmac_key(), keys.key_length()) {}
    Stream(const unsigned char *aes_key, const unsigned char *hmac_key, std::size_t key_length);
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    void encrypt(unsigned char *data, std::size_t size);
    void decrypt(unsigned char *data, std::size_t size);
    // The authentication code over all the ciphertext so far.
    std::array<unsigned char, code_size> code();

private:
    void apply_keystream(unsigned char *data, std::size_t size);

    crypto::AesBlocks aes;
    crypto::HmacSha1 hmac;
    std::uint64_t counter = 0;
    // Keystream made ahead for a batch of counter blocks, and how much of it is used.
    std::array<unsigned char, 64 * crypto::aes_block_size> keystream{};
    std::size_t used = keystream.size();
};

// Encrypts one entry for writing, with a fresh salt and 256-bit keys.
class Encryptor {
public:
    explicit Encryptor(const std::string &password);
    // The salt and verifier that come before the data.
    std::string header() const;
    void encrypt(unsigned char *data, std::size_t size) { stream.encrypt(data, size); }
    // The code that comes after the data.
    std::string trailer();

private:
    std::array<unsigned char, 16> salt{};
    Keys keys;
    Stream stream;
};

} // namespace zrv::winzipaes

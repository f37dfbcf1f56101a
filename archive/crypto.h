// The few primitives of OpenSSL's libcrypto that encrypted entries need, behind one seam:
// random bytes, PBKDF2-HMAC-SHA1, AES on whole blocks, HMAC-SHA1, and wiping secrets.
#pragma once

#include <array>
#include <cstddef>
#include <string>

struct evp_cipher_ctx_st;
struct evp_mac_ctx_st;

namespace zrv::crypto {

constexpr std::size_t aes_block_size = 16;
constexpr std::size_t sha1_size = 20;

// Fills `out` from the system's cryptographic random source.
void random_bytes(unsigned char *out, std::size_t size);

// PBKDF2 with HMAC-SHA1 over `password` (its bytes as they are).
void pbkdf2_sha1(const std::string &password, const unsigned char *salt, std::size_t salt_size,
                 int iterations, unsigned char *out, std::size_t out_size);

// Overwrites memory holding a secret so that no copy of it outlives its use.
void cleanse(void *data, std::size_t size);
void cleanse(std::string &secret); // and empties it

// AES (key of 16, 24 or 32 bytes) applied to independent blocks: the building block of a
// counter mode whose counter the caller keeps.
class AesBlocks {
public:
    AesBlocks(const unsigned char *key, std::size_t key_size);
    ~AesBlocks();
    AesBlocks(const AesBlocks &) = delete;
    AesBlocks &operator=(const AesBlocks &) = delete;

    // Encrypts `size` bytes, a multiple of the block size, from `in` to `out`.
    void encrypt(const unsigned char *in, unsigned char *out, std::size_t size);

private:
    evp_cipher_ctx_st *context = nullptr;
};

class HmacSha1 {
public:
    HmacSha1(const unsigned char *key, std::size_t key_size);
    ~HmacSha1();
    HmacSha1(const HmacSha1 &) = delete;
    HmacSha1 &operator=(const HmacSha1 &) = delete;

    void update(const unsigned char *data, std::size_t size);
    std::array<unsigned char, sha1_size> final();

private:
    evp_mac_ctx_st *context = nullptr;
};

} // namespace zrv::crypto

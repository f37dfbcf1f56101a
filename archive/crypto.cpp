#include "archive/crypto.h"

#include "archive/failure.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <climits>

namespace zrv::crypto {

namespace {

[[noreturn]] void fail_library(const char *what) {
    fail(FailureKind::other, std::string("the cryptographic library failed: ") + what);
}

int as_int(std::size_t size) {
    if (size > INT_MAX)
        fail_library("input too long");
    return static_cast<int>(size);
}

} // namespace

void random_bytes(unsigned char *out, std::size_t size) {
    if (RAND_bytes(out, as_int(size)) != 1)
        fail_library("no random bytes");
}

void pbkdf2_sha1(const std::string &password, const unsigned char *salt, std::size_t salt_size,
                 int iterations, unsigned char *out, std::size_t out_size) {
    if (PKCS5_PBKDF2_HMAC(password.data(), as_int(password.size()), salt, as_int(salt_size),
                          iterations, EVP_sha1(), as_int(out_size), out) != 1)
        fail_library("key derivation");
}

void cleanse(void *data, std::size_t size) {
    OPENSSL_cleanse(data, size);
}

void cleanse(std::string &secret) {
    OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

AesBlocks::AesBlocks(const unsigned char *key, std::size_t key_size)
    : context(EVP_CIPHER_CTX_new()) {
    const EVP_CIPHER *cipher = key_size == 16   ? EVP_aes_128_ecb()
                               : key_size == 24 ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
    if (context == nullptr || EVP_EncryptInit_ex(context, cipher, nullptr, key, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context, 0) != 1) {
        EVP_CIPHER_CTX_free(context);
        fail_library("AES set-up");
    }
}

AesBlocks::~AesBlocks() {
    EVP_CIPHER_CTX_free(context);
}

void AesBlocks::encrypt(const unsigned char *in, unsigned char *out, std::size_t size) {
    int written = 0;
    if (EVP_EncryptUpdate(context, out, &written, in, as_int(size)) != 1 ||
        written != static_cast<int>(size))
        fail_library("AES");
}

HmacSha1::HmacSha1(const unsigned char *key, std::size_t key_size) {
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    context = mac != nullptr ? EVP_MAC_CTX_new(mac) : nullptr;
    EVP_MAC_free(mac);
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_END};
    if (context == nullptr || EVP_MAC_init(context, key, key_size, params) != 1) {
        EVP_MAC_CTX_free(context);
        fail_library("HMAC set-up");
    }
}

HmacSha1::~HmacSha1() {
    EVP_MAC_CTX_free(context);
}

void HmacSha1::update(const unsigned char *data, std::size_t size) {
    if (EVP_MAC_update(context, data, size) != 1)
        fail_library("HMAC");
}

std::array<unsigned char, sha1_size> HmacSha1::final() {
    std::array<unsigned char, sha1_size> code{};
    std::size_t length = 0;
    if (EVP_MAC_final(context, code.data(), &length, code.size()) != 1 || length != code.size())
        fail_library("HMAC");
    return code;
}

} // namespace zrv::crypto

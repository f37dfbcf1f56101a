#include "archive/winzipaes.h"

#include "archive/zipformat.h"

#include <algorithm>

namespace zrv::winzipaes {

namespace {

constexpr int iterations = 1000;

std::array<unsigned char, 16> fresh_salt() {
    std::array<unsigned char, 16> salt{};
    crypto::random_bytes(salt.data(), salt.size());
    return salt;
}

} // namespace

bool valid_strength(int strength) {
    return strength >= 1 && strength <= 3;
}

std::size_t salt_size(int strength) {
    return 4 + 4 * static_cast<std::size_t>(strength);
}

std::size_t key_size(int strength) {
    return 8 + 8 * static_cast<std::size_t>(strength);
}

std::string extra_field(std::uint16_t real_method) {
    std::string out;
    zip::put16(out, extra_id);
    zip::put16(out, extra_size);
    zip::put16(out, ae_2);
    out += "AE";
    out += static_cast<char>(strength_256);
    zip::put16(out, real_method);
    return out;
}

Keys::Keys(const std::string &password, const unsigned char *salt, int strength)
    : length(key_size(strength)) {
    crypto::pbkdf2_sha1(password, salt, salt_size(strength), iterations, material.data(),
                        2 * length + verifier_size);
}

Keys::~Keys() {
    crypto::cleanse(material.data(), material.size());
}

Stream::Stream(const unsigned char *aes_key, const unsigned char *hmac_key, std::size_t key_length)
    : aes(aes_key, key_length), hmac(hmac_key, key_length) {}

Stream::~Stream() {
    crypto::cleanse(keystream.data(), keystream.size());
}

// Counter blocks are made a batch at a time and encrypted in one call, for speed.
void Stream::apply_keystream(unsigned char *data, std::size_t size) {
    while (size > 0) {
        if (used == keystream.size()) {
            std::array<unsigned char, sizeof keystream> counters{};
            for (std::size_t block = 0; block < counters.size(); block += crypto::aes_block_size) {
                ++counter;
                for (std::size_t byte = 0; byte < 8; ++byte)
                    counters[block + byte] = static_cast<unsigned char>(counter >> (8 * byte));
            }
            aes.encrypt(counters.data(), keystream.data(), counters.size());
            used = 0;
        }
        const std::size_t run = std::min(size, keystream.size() - used);
        for (std::size_t i = 0; i < run; ++i)
            data[i] ^= keystream[used + i];
        used += run;
        data += run;
        size -= run;
    }
}

void Stream::encrypt(unsigned char *data, std::size_t size) {
    apply_keystream(data, size);
    hmac.update(data, size);
}

void Stream::decrypt(unsigned char *data, std::size_t size) {
    hmac.update(data, size);
    apply_keystream(data, size);
}

std::array<unsigned char, code_size> Stream::code() {
    const auto full = hmac.final();
    std::array<unsigned char, code_size> code{};
    std::copy(full.begin(), full.begin() + code_size, code.begin());
    return code;
}

Encryptor::Encryptor(const std::string &password)
    : salt(fresh_salt()), keys(password, salt.data(), strength_256), stream(keys) {}

std::string Encryptor::header() const {
    std::string out(reinterpret_cast<const char *>(salt.data()), salt.size());
    out.append(reinterpret_cast<const char *>(keys.verifier()), verifier_size);
    return out;
}

std::string Encryptor::trailer() {
    const auto code = stream.code();
    return std::string(reinterpret_cast<const char *>(code.data()), code.size());
}

} // namespace zrv::winzipaes

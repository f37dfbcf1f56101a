#include "archive/entrycipher.h"

#include "archive/crypto.h"

#include <zlib.h>

#include <cstring>

namespace zrv {

namespace {

constexpr std::size_t zipcrypto_header_size = 12;

// The traditional PKWARE encryption ("ZipCrypto", APPNOTE 6.1), for reading only: no crypto
// library carries it, so these few lines follow the APPNOTE over zlib's CRC-32 table.
using ZipCryptoKeys = std::array<std::uint32_t, 3>;

std::uint32_t crc32_byte(std::uint32_t crc, unsigned char byte) {
    const z_crc_t *table = ::get_crc_table();
    return static_cast<std::uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

void zipcrypto_update(ZipCryptoKeys &keys, unsigned char plain) {
    keys[0] = crc32_byte(keys[0], plain);
    keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813 + 1;
    keys[2] = crc32_byte(keys[2], static_cast<unsigned char>(keys[1] >> 24));
}

void zipcrypto_decrypt(ZipCryptoKeys &keys, unsigned char *data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t temp = (keys[2] | 2) & 0xFFFF;
        data[i] ^= static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
        zipcrypto_update(keys, data[i]);
    }
}

std::string zipcrypto_open(const ZipEntry &entry, const std::string &password,
                           const unsigned char *header) {
    ZipCryptoKeys keys{0x12345678, 0x23456789, 0x34567890};
    for (const char c : password)
        zipcrypto_update(keys, static_cast<unsigned char>(c));
    std::array<unsigned char, zipcrypto_header_size> plain{};
    std::memcpy(plain.data(), header, plain.size());
    zipcrypto_decrypt(keys, plain.data(), plain.size());
    // The last header byte repeats the CRC's high byte, or the DOS time's where the CRC
    // follows the data in a descriptor.
    const bool deferred = (entry.flags & zip::flag_data_descriptor) != 0;
    const auto check = static_cast<unsigned char>(deferred ? entry.dos_time >> 8 : entry.crc >> 24);
    std::string opened;
    if (plain.back() == check)
        opened.assign(reinterpret_cast<const char *>(keys.data()), sizeof keys);
    crypto::cleanse(plain.data(), plain.size());
    crypto::cleanse(keys.data(), sizeof keys);
    return opened;
}

std::string aes_open(const ZipEntry &entry, const std::string &password,
                     const unsigned char *header) {
    const winzipaes::Keys keys(password, header, entry.aes_strength);
    if (std::memcmp(keys.verifier(), header + winzipaes::salt_size(entry.aes_strength),
                    winzipaes::verifier_size) != 0)
        return std::string();
    return std::string(reinterpret_cast<const char *>(keys.aes_key()), 2 * keys.key_length());
}

} // namespace

std::size_t EntryCipher::header_size(const ZipEntry &entry) {
    if (entry.encryption == Encryption::aes)
        return winzipaes::salt_size(entry.aes_strength) + winzipaes::verifier_size;
    return entry.encryption == Encryption::zipcrypto ? zipcrypto_header_size : 0;
}

std::size_t EntryCipher::trailer_size(const ZipEntry &entry) {
    return entry.encryption == Encryption::aes ? winzipaes::code_size : 0;
}

std::string EntryCipher::open(const ZipEntry &entry, const std::string &password,
                              const unsigned char *header) {
    return entry.encryption == Encryption::aes ? aes_open(entry, password, header)
                                               : zipcrypto_open(entry, password, header);
}

EntryCipher::EntryCipher(const ZipEntry &entry, const std::string &keys) {
    if (entry.encryption == Encryption::aes) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(keys.data());
        aes = std::make_unique<winzipaes::Stream>(bytes, bytes + keys.size() / 2, keys.size() / 2);
    } else {
        std::memcpy(zipcrypto_keys.data(), keys.data(), sizeof zipcrypto_keys);
    }
}

EntryCipher::~EntryCipher() {
    crypto::cleanse(zipcrypto_keys.data(), sizeof zipcrypto_keys);
}

void EntryCipher::decrypt(unsigned char *data, std::size_t size) {
    if (aes)
        aes->decrypt(data, size);
    else
        zipcrypto_decrypt(zipcrypto_keys, data, size);
}

bool EntryCipher::authentic(const unsigned char *trailer) {
    if (!aes)
        return true;
    const auto code = aes->code();
    return std::memcmp(code.data(), trailer, code.size()) == 0;
}

} // namespace zrv

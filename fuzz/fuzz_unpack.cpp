// Any bytes as an archive.
#include "fuzz/promises.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::unpack_and_check(std::string(reinterpret_cast<const char *>(data), size));
    return 0;
}

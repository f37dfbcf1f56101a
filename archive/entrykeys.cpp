#include "archive/entrykeys.h"

#include "archive/archivefile.h"
#include "archive/centraldirectory.h"
#include "archive/crypto.h"
#include "archive/entrycipher.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace zrv {

namespace {

// Runs `task` for 0 to count - 1 on every core; the first failure stops the rest and is thrown.
void run_in_parallel(std::size_t count, const std::function<void(std::size_t)> &task) {
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        try {
            for (std::size_t n = next++; n < count; n = next++)
                task(n);
        } catch (...) {
            next = count;
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(std::thread::hardware_concurrency(), count);
    try {
        while (helpers.size() + 1 < wanted)
            helpers.emplace_back(work);
    } catch (const std::system_error &) {
        // Fewer threads only make it slower.
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

EntryKeys::~EntryKeys() {
    for (auto &key : keys)
        crypto::cleanse(key.second);
}

void EntryKeys::derive(const std::string &password) {
    // Entries taken in batches, so what waits for its keys stays small however many there are.
    constexpr std::size_t batch_size = 1024;
    std::vector<ZipEntry> batch;
    const auto open_batch = [&] {
        if (password.empty())
            file.fail_archive(FailureKind::password_needed,
                              batch[0].name + " is encrypted and no password was given",
                              batch[0].name);
        std::vector<std::string> opened(batch.size());
        // Deriving an entry's keys costs about a millisecond, so it runs on every core.
        try {
            run_in_parallel(batch.size(), [&](std::size_t n) {
                const ZipEntry &entry = batch[n];
                std::vector<unsigned char> header(EntryCipher::header_size(entry));
                file.read_at(entry.data_offset, header.data(), header.size());
                opened[n] = EntryCipher::open(entry, password, header.data());
                if (opened[n].empty())
                    file.fail_archive(FailureKind::password_wrong,
                                      "wrong password for " + entry.name, entry.name);
            });
        } catch (...) {
            for (std::string &key : opened)
                crypto::cleanse(key);
            throw;
        }
        for (std::size_t n = 0; n < batch.size(); ++n)
            keys.emplace_back(batch[n].index, std::move(opened[n]));
        batch.clear();
    };
    directory.walk([&](ZipEntry &entry) {
        if (entry.encryption == Encryption::none)
            return;
        batch.push_back(std::move(entry));
        if (batch.size() == batch_size)
            open_batch();
    });
    if (!batch.empty())
        open_batch();
}

const std::string &EntryKeys::of(const ZipEntry &entry) const {
    const auto key = std::lower_bound(keys.begin(), keys.end(), entry.index,
                                      [](const std::pair<std::size_t, std::string> &k,
                                         std::size_t index) { return k.first < index; });
    if (key == keys.end() || key->first != entry.index || key->second.empty())
        file.fail_archive(FailureKind::password_needed, entry.name + " is encrypted", entry.name);
    return key->second;
}

} // namespace zrv

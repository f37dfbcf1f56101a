#include "archive/pipeline.h"

#include "archive/failure.h"
#include "archive/piececompressor.h"

#include <sys/stat.h>

#include <algorithm>

namespace zrv {

bool encrypts(const Entry &entry, const std::string &password) {
    return !password.empty() && S_ISREG(entry.header.mode);
}

Pipeline::Pipeline(ZipWriter &writer, Compression compression, const std::string &password,
                   Progress &progress)
    : compression(compression), password(password), progress(progress),
      piece_writer(writer, password, progress) {
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    try {
        for (unsigned i = 0; i < workers; ++i)
            threads.emplace_back([this] { compress_pieces(); });
        threads.emplace_back([this] { write_pieces(); });
    } catch (...) {
        stop(std::make_exception_ptr(
            Failure(FailureKind::other, "cannot start the compression threads")));
        join();
        throw;
    }
}

Pipeline::~Pipeline() {
    stop(std::make_exception_ptr(Failure(FailureKind::other, "stopped")));
    join();
}

void Pipeline::join() {
    for (std::thread &thread : threads) {
        if (thread.joinable())
            thread.join();
    }
}

void Pipeline::stop(std::exception_ptr reason) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!failure && !all_written)
        failure = std::move(reason);
    work_ready.notify_all();
    piece_done.notify_all();
    room.notify_all();
}

void Pipeline::add(std::unique_ptr<Piece> piece) {
    std::unique_lock<std::mutex> lock(mutex);
    const std::size_t size = piece->input.size();
    room.wait(lock, [&] {
        return failure || in_flight.empty() ||
               (in_flight.size() < max_pieces_in_flight &&
                bytes_in_flight + size <= max_piece_bytes_in_flight);
    });
    if (failure)
        std::rethrow_exception(failure);
    bytes_in_flight += size;
    in_flight.push_back(std::move(piece));
    work_ready.notify_one();
}

void Pipeline::finish() {
    {
        std::unique_lock<std::mutex> lock(mutex);
        all_added = true;
        work_ready.notify_all();
        piece_done.notify_all();
        room.wait(lock, [&] { return failure || all_written; });
    }
    join();
    if (failure)
        std::rethrow_exception(failure);
}

void Pipeline::compress_pieces() {
    try {
        PieceCompressor compressor(compression, password);
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            work_ready.wait(lock, [&] {
                return failure || next_to_compress < in_flight.size() ||
                       (all_added && next_to_compress >= in_flight.size());
            });
            if (failure || next_to_compress >= in_flight.size())
                return;
            Piece &piece = *in_flight[next_to_compress++];
            lock.unlock();
            progress.stop_if_cancelled();
            compressor.compress(piece);
            lock.lock();
            piece.done = true;
            piece_done.notify_one();
        }
    } catch (...) {
        stop(std::current_exception());
    }
}

void Pipeline::write_pieces() {
    try {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            piece_done.wait(lock, [&] {
                return failure || (!in_flight.empty() && in_flight.front()->done) ||
                       (all_added && in_flight.empty());
            });
            if (failure)
                return;
            if (in_flight.empty()) {
                all_written = true;
                room.notify_all();
                return;
            }
            std::unique_ptr<Piece> piece = std::move(in_flight.front());
            in_flight.pop_front();
            --next_to_compress;
            lock.unlock();
            progress.stop_if_cancelled();
            piece_writer.write(*piece);
            const std::size_t size = piece->size;
            piece.reset();
            lock.lock();
            bytes_in_flight -= size;
            room.notify_one();
        }
    } catch (...) {
        stop(std::current_exception());
    }
}

} // namespace zrv

// The pieces of the entries being packed, and the pipeline that compresses them on every core
// and writes them in the order they came.
#pragma once

#include "archive/pack.h"
#include "archive/packlimits.h"
#include "archive/piecewriter.h"
#include "archive/progress.h"
#include "archive/winzipaes.h"
#include "archive/zipwriter.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zrv {

// One entry of the archive, shared by its pieces.
struct Entry {
    EntryHeader header;
    Method method = Method::stored; // for an entry of several pieces, decided up front
    std::size_t pieces = 1;
    std::uint32_t crc = 0; // the writer's running CRC
    // For an encrypted entry of several pieces: made by the first piece's compressor, used by
    // the writer on each piece in order.
    std::unique_ptr<winzipaes::Encryptor> encryptor;
};

// With a password, a file's data is encrypted; a folder's or a link's is not.
bool encrypts(const Entry &entry, const std::string &password);

// A run of an entry's data on its way from the reader through a compressor to the writer.
struct Piece {
    std::shared_ptr<Entry> entry;
    bool first = true;
    bool last = true;
    std::vector<unsigned char> history; // the end of the previous piece
    std::vector<unsigned char> input;
    // Filled by a compressor.
    Method method = Method::stored;
    std::vector<unsigned char> output;
    std::uint32_t crc = 0; // of the input
    std::size_t size = 0;  // of the input
    bool done = false;
};

// Compresses pieces on every core and writes them in the order they were added, so the same
// input always gives the same archive.
//
// The life of a piece:
//  - The calling thread (the Packer, walking the inputs) reads a piece of a file and add()s it
//    to the back of `in_flight`, waiting while 16 pieces or 16 MiB are already there: that is
//    what bounds memory, whatever the input.
//  - A compressing thread (one per core, each with a PieceCompressor of its own) takes the
//    piece at `next_to_compress`, the oldest not yet taken, moves the index on, compresses the
//    piece outside the lock and marks it done.
//  - The writing thread waits until the piece at the front is done, pops it and has
//    `piece_writer`, which only this thread uses, write it. The front is always the oldest
//    piece, so the archive is in input order whichever compressor finishes first. Popping the
//    front moves every other piece one place forward, which is why the writer moves
//    `next_to_compress` back by one.
//  - finish() waits until the writer has written the last piece.
// The first failure anywhere (a read, a compressor, the writer, or a cancel seen by any of
// them) is kept as the exception itself and wakes every thread: the compressors and the writer
// return, and add() or finish() throws it on the calling thread. The destructor stops and
// joins the threads in any case.
class Pipeline {
public:
    // With a `password`, every file's data is encrypted; it must outlive the pipeline.
    Pipeline(ZipWriter &writer, Compression compression, const std::string &password,
             Progress &progress);
    ~Pipeline();
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    // Waits while too much is in flight; throws the pipeline's failure if there was one.
    void add(std::unique_ptr<Piece> piece);
    // Waits until every piece is written; throws the pipeline's failure if there was one.
    void finish();

private:
    void compress_pieces();
    void write_pieces();
    // Records the first failure and wakes every thread; a later one is dropped.
    void stop(std::exception_ptr reason);
    void join();

    const Compression compression;
    const std::string &password;
    Progress &progress;
    PieceWriter piece_writer;
    std::mutex mutex;
    std::condition_variable work_ready;           // compressors wait here
    std::condition_variable piece_done;           // the writer waits here
    std::condition_variable room;                 // the reader and finish() wait here
    std::deque<std::unique_ptr<Piece>> in_flight; // oldest first
    std::size_t next_to_compress = 0;             // index into in_flight
    std::size_t bytes_in_flight = 0;
    bool all_added = false;
    bool all_written = false;
    std::exception_ptr failure; // the first failure of any thread, or of a cancel
    std::vector<std::thread> threads;
};

} // namespace zrv

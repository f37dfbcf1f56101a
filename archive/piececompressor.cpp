#include "archive/piececompressor.h"

#include "archive/pipeline.h"
#include "archive/winzipaes.h"

#include <sys/stat.h>

#include <memory>
#include <vector>

namespace zrv {

void PieceCompressor::compress(Piece &piece) {
    piece.crc = crc32_of(piece.input.data(), piece.input.size());
    piece.size = piece.input.size();
    const Entry &entry = *piece.entry;
    const bool deflate_wanted = compression == Compression::deflate && S_ISREG(entry.header.mode);
    if (deflate_wanted && entry.pieces == 1) {
        piece.method = deflater.compress_whole(piece.input.data(), piece.input.size(), piece.output)
                           ? Method::deflated
                           : Method::stored;
    } else if (deflate_wanted && entry.method == Method::deflated) {
        deflater.compress_piece(piece.history.data(), piece.history.size(), piece.input.data(),
                                piece.input.size(), piece.last, piece.output);
        piece.method = Method::deflated;
    }
    if (piece.method == Method::stored)
        piece.output.swap(piece.input);
    piece.input = {};
    piece.history = {};
    if (encrypts(entry, password))
        encrypt(piece);
}

// Key derivation is the costly part, so it runs here on the compressing threads. An entry of
// one piece is encrypted whole here too; a longer one by the writer, piece by piece in order.
void PieceCompressor::encrypt(Piece &piece) const {
    if (piece.entry->pieces > 1) {
        if (piece.first)
            piece.entry->encryptor = std::make_unique<winzipaes::Encryptor>(password);
        return;
    }
    const auto encryptor = std::make_unique<winzipaes::Encryptor>(password);
    const std::string header = encryptor->header();
    encryptor->encrypt(piece.output.data(), piece.output.size());
    const std::string trailer = encryptor->trailer();
    std::vector<unsigned char> sealed;
    sealed.reserve(header.size() + piece.output.size() + trailer.size());
    sealed.insert(sealed.end(), header.begin(), header.end());
    sealed.insert(sealed.end(), piece.output.begin(), piece.output.end());
    sealed.insert(sealed.end(), trailer.begin(), trailer.end());
    piece.output.swap(sealed);
}

} // namespace zrv

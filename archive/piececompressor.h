// The compressing stage of packing: what a compressing thread does to each piece it takes,
// with the tools of its own it keeps from piece to piece.
#pragma once

#include "archive/deflater.h"
#include "archive/pack.h"

#include <string>

namespace zrv {

struct Piece;

class PieceCompressor {
public:
    // With a `password`, every file's data is encrypted; it must outlive the compressor.
    PieceCompressor(Compression compression, const std::string &password)
        : compression(compression), password(password) {}

    // Fills the piece's method, output, CRC and size from its input, and lets the input and
    // history go. With a password, a file's piece is then encrypted as far as it can be here.
    void compress(Piece &piece);

private:
    void encrypt(Piece &piece) const;

    const Compression compression;
    const std::string &password;
    Deflater deflater;
};

} // namespace zrv

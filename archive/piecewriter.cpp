#include "archive/piecewriter.h"

#include "archive/deflater.h"
#include "archive/pipeline.h"

#include <sys/stat.h>

namespace zrv {

void PieceWriter::write(Piece &piece) {
    Entry &entry = *piece.entry;
    if (piece.first) {
        // A first piece carries its entry's method: decided by its compressor for an entry of
        // one piece, up front for a longer one.
        writer.begin_entry(entry.header, piece.method, encrypts(entry, password));
        progress.set_entry(entry.header.name);
        entry.crc = piece.crc;
        if (entry.encryptor)
            write_bytes(entry.encryptor->header());
    } else {
        entry.crc = crc32_joined(entry.crc, piece.crc, piece.size);
    }
    if (entry.encryptor)
        entry.encryptor->encrypt(piece.output.data(), piece.output.size());
    writer.write(piece.output.data(), piece.output.size());
    if (piece.last) {
        if (entry.encryptor) {
            write_bytes(entry.encryptor->trailer());
            entry.encryptor.reset();
        }
        writer.end_entry(entry.header.size, entry.crc);
    }
    if (S_ISREG(entry.header.mode))
        progress.add_done(piece.size);
}

} // namespace zrv

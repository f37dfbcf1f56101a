// The writing stage of packing: puts each finished piece into the archive, in order, keeping
// its entry's running CRC and finishing its encryption, and counts the file data done. Only
// the pipeline's writing thread uses it (pipeline.h).
#pragma once

#include "archive/progress.h"
#include "archive/zipwriter.h"

#include <string>

namespace zrv {

struct Piece;

class PieceWriter {
public:
    // With a `password`, every file's data is encrypted; it must outlive the writer.
    PieceWriter(ZipWriter &writer, const std::string &password, Progress &progress)
        : writer(writer), password(password), progress(progress) {}

    // Writes one piece; the pieces come in archive order, each entry's first to last.
    void write(Piece &piece);

private:
    void write_bytes(const std::string &bytes) {
        writer.write(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    }

    ZipWriter &writer;
    const std::string &password;
    Progress &progress;
};

} // namespace zrv

#include "archive/centralrecords.h"

#include "archive/archiveoutput.h"
#include "archive/failure.h"
#include "archive/names.h"
#include "archive/packlimits.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace zrv {

void CentralRecords::add(const std::string &record) {
    directory += record;
    ++entry_count;
    if (directory.size() >= max_directory_in_memory)
        spill_directory();
}

void CentralRecords::spill_directory() {
    if (spill.get() < 0) {
        std::string name = parent_path(archive_path) + "/.zrv-XXXXXX";
        spill.reset(::mkostemp(name.data(), O_CLOEXEC));
        if (spill.get() < 0)
            fail_errno(FailureKind::cannot_write, "cannot write archive", archive_path);
        ::unlink(name.c_str());
    }
    write_all_at(spill.get(), spilled, directory.data(), directory.size(), archive_path);
    spilled += directory.size();
    directory.clear();
}

void CentralRecords::copy_spilled_directory(ArchiveOutput &output) {
    std::string run(output_run_size, '\0');
    for (std::uint64_t copied = 0; copied < spilled;) {
        const ssize_t got =
            ::pread(spill.get(), run.data(), run.size(), static_cast<off_t>(copied));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            fail_errno(FailureKind::cannot_write, "cannot write archive", archive_path);
        }
        output.write_through(run.data(), static_cast<std::size_t>(got));
        copied += static_cast<std::uint64_t>(got);
    }
    spill.reset(-1);
}

void CentralRecords::put_to(ArchiveOutput &output) {
    if (spilled > 0)
        copy_spilled_directory(output);
    output.put(directory);
}

} // namespace zrv

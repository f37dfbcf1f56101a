/* Packs files and folders into a ZIP archive and unpacks such archives safely.
 *
 * Both calls return nonzero on success and 0 on failure, and on failure write one line naming
 * the cause to standard error. They never throw. */
#pragma once

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Packs the files of `file_list` and the folders of `folder_list` (each a comma-joined list of
 * absolute paths, possibly empty) into a new archive at `archive_path`, which must not exist yet.
 * `flag` nonzero compresses with deflate, 0 stores. */
int ZWZipCompress_t(const wchar_t *file_list, const wchar_t *folder_list,
                    const wchar_t *archive_path, int flag);

/* Unpacks the archive at `archive_path` into the new folder `target_folder`, or into
 * "target_folder (2)", "(3)"... beside it when that name is taken. All or nothing. */
int ZWZipExtract(const wchar_t *archive_path, const wchar_t *target_folder);

#ifdef __cplusplus
}
#endif

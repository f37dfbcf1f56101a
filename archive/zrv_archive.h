/* Packs files and folders into a ZIP archive and unpacks such archives safely.
 *
 * The calls return nonzero on success and 0 on failure, and on failure write one line naming
 * the cause to standard error. They never throw.
 *
 * Why a call failed is also told as data:
 *  - a C caller asks ZWZipLastFailure() right after the call, on the same thread;
 *  - a C++ caller that attached a zrv::Progress to its thread (archive/progress.h) reads
 *    Progress::failure() after the call: the kind, the file or entry, the system's errno, the
 *    bytes needed and free for a full disk, and the English line (archive/failure.h). */
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

/* As ZWZipCompress_t, and with a non-empty `password` every file's contents are encrypted with
 * WinZip AES-256 (names, sizes and times stay readable); 7-Zip and other tools with AES support
 * open the archive. The password is taken as UTF-8. A null or empty password packs without
 * encryption. */
int ZWZipCompressWithPassword(const wchar_t *file_list, const wchar_t *folder_list,
                              const wchar_t *archive_path, int flag, const wchar_t *password);

/* As ZWZipExtract, for archives whose entries may be encrypted with WinZip AES (128, 192 or 256
 * bits) or the traditional PKWARE encryption. The password is checked against every encrypted
 * entry before anything is written. When the archive holds encrypted entries and `password` is
 * null or empty, the call fails and ZWZipLastFailure() returns 2 (password needed); when the
 * password does not open them, 3 (password wrong). A C++ caller reads the same from
 * Progress::failure().kind (zrv::FailureKind::password_needed, password_wrong). */
int ZWZipExtractWithPassword(const wchar_t *archive_path, const wchar_t *target_folder,
                             const wchar_t *password);

/* What made the calling thread's last call fail, as a zrv::FailureKind number: 0 after a
 * success, 1 for a failure of no particular kind, 2 when an entry is encrypted and a password is
 * needed, 3 when the password given is wrong; the other numbers are listed in
 * archive/failure.h. */
int ZWZipLastFailure(void);

#ifdef __cplusplus
}
#endif

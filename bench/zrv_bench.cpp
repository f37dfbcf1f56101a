// Packing and unpacking speed and memory of the archive component against the command-line ZIP
// tools, measured in the same run on the same data. Prints figures, never pass/fail.
//
// Usage: zrv_bench [--size-mb N] [--large-mb N] [--entries N,N,...] [--dir PATH] [--tree PATH]
//                  [--shapes-only 1] [--progress 1]
// In turn it packs and unpacks a generated corpus of --size-mb (default 500), packs one file of
// --large-mb (default 2048; 0 leaves it out), unpacks small archives shaped to cost time or
// memory (deep, link-heavy, repetitive) made by Python's zipfile, and last packs and unpacks
// trees of --entries small files (default 10000,100000,1000000; 0 leaves them out) to show the
// cost per entry.
// Everything is made in a fresh folder of its own created under --dir (default: the temporary
// folder), and only that folder is removed at the end, on success, failure or a stop signal.
// --tree packs a real folder in place as the corpus, such as /usr/include: generated text
// compresses unlike real text, so a size or speed seen on one should be checked on the other.
// Every tool only reads the tree, links and all.
// --progress attaches a progress object to every call of ours, as the program does, to show
// what watching costs.
#include "archive/progress.h"
#include "archive/zrv_archive.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Whether our calls report to an attached progress object, as the program's jobs do.
bool watch_progress = false;

// The signal that asked the bench to stop, or 0.
volatile std::sig_atomic_t stop_signal = 0;

void on_stop_signal(int signal) {
    stop_signal = signal;
}

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Thrown once a signal has asked the bench to stop, so that it still cleans up.
struct Stopped {};

void stop_if_signalled() {
    if (stop_signal != 0)
        throw Stopped{};
}

struct Measure {
    double seconds = 0;
    long peak_kib = 0;
    bool ok = false;
};

// Forks and waits for a child that runs `child_work`, then returns its time and peak memory,
// which are its own. Earlier writes are flushed first, so no run pays for the one before it.
Measure measure_child(const std::function<void()> &child_work) {
    stop_if_signalled();
    ::sync();
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error(std::string("cannot fork: ") + std::strerror(errno));
    if (child == 0) {
        for (int signal : stop_signals)
            std::signal(signal, SIG_DFL);
        child_work();
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            throw std::runtime_error(std::string("cannot wait: ") + std::strerror(errno));
        if (stop_signal != 0)
            ::kill(child, SIGKILL);
    }
    stop_if_signalled();
    Measure result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peak_kib = usage.ru_maxrss;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Runs `work` (calls of the component) in a child process.
Measure measure(const std::function<bool()> &work) {
    return measure_child([&] {
        zrv::Progress progress;
        zrv::attach_progress(watch_progress ? &progress : nullptr);
        bool ok = false;
        try {
            ok = work();
        } catch (...) {
        }
        ::_exit(ok ? 0 : 1);
    });
}

// Runs a command-line tool in `cwd` as the child process itself, so the peak is the tool's.
Measure measure_tool(const std::vector<std::string> &argv, const fs::path &cwd) {
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    return measure_child([&] {
        if (::chdir(cwd.c_str()) == 0)
            ::execvp(args[0], args.data());
        ::_exit(127);
    });
}

std::wstring wide(const fs::path &path) {
    return path.wstring();
}

// Removes `path` and everything under it without following links. Each folder is opened up to
// its owner first, since an unpacked copy of a real tree may hold folders that forbid listing or
// removing, and closed before going deeper, so that depth costs no file descriptors.
bool remove_path(const std::string &path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(info.st_mode))
        return ::unlink(path.c_str()) == 0;
    if ((info.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.c_str(), S_IRWXU);
    std::vector<std::string> names;
    if (DIR *folder = ::opendir(path.c_str())) {
        while (const dirent *entry = ::readdir(folder)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        }
        ::closedir(folder);
    }
    bool removed = true;
    for (const std::string &name : names)
        removed = remove_path(path + '/' + name) && removed;
    return ::rmdir(path.c_str()) == 0 && removed;
}

void remove_tree(const fs::path &path) {
    if (!remove_path(path.string()))
        std::fprintf(stderr, "zrv_bench: could not remove all of %s\n", path.c_str());
}

// Removes everything in the bench's folder `base`, leaving the folder.
void clear(const fs::path &base) {
    std::vector<fs::path> entries;
    for (const fs::directory_entry &entry : fs::directory_iterator(base))
        entries.push_back(entry.path());
    for (const fs::path &entry : entries)
        remove_tree(entry);
}

// The bench's own folder, made fresh under a parent folder and removed with all it holds when
// the bench ends. Nothing else is ever removed.
class WorkFolder {
public:
    explicit WorkFolder(const fs::path &parent) {
        std::string pattern = (parent / "zrv-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            folder = pattern;
        else
            failure = std::strerror(errno);
    }
    ~WorkFolder() {
        if (!folder.empty())
            remove_tree(folder);
    }
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;

    const fs::path &path() const { return folder; }
    const std::string &error() const { return failure; }

private:
    fs::path folder;
    std::string failure;
};

const char *const words[] = {"archive", "folder", "packing", "the",      "of",    "and",    "data",
                             "file",    "value",  "return",  "int",      "const", "struct", "name",
                             "size",    "0x7f",   "for",     "while",    "{",     "}",      "=",
                             "+",       "\n",     "\n    ",  "unsigned", "char",  "buffer", "error",
                             "path",    "list",   "result"};

void write_file(const fs::path &path, const std::string &content) {
    if (!(std::ofstream(path, std::ios::binary) << content))
        throw std::runtime_error("cannot write " + path.string());
}

// About 60% text-like files in many folders, 20% structured binary, 20% incompressible.
void generate_corpus(const fs::path &root, std::uint64_t total_bytes) {
    std::mt19937_64 random(20261206);
    const std::uint64_t text_bytes = total_bytes * 6 / 10;
    const std::uint64_t file_count = std::max<std::uint64_t>(1, text_bytes / 15000);
    std::string content;
    for (std::uint64_t i = 0; i < file_count; ++i) {
        stop_if_signalled();
        const fs::path folder =
            root / ("dir" + std::to_string(i % 97)) / ("sub" + std::to_string(i % 13));
        fs::create_directories(folder);
        const std::uint64_t size = 1000 + random() % 28000;
        content.clear();
        while (content.size() < size)
            content += words[random() % (sizeof words / sizeof *words)], content += ' ';
        write_file(folder / ("file" + std::to_string(i) + ".txt"), content);
    }
    std::vector<std::uint64_t> block(1 << 17);
    auto write_blob = [&](const fs::path &path, std::uint64_t bytes, bool compressible) {
        std::ofstream out(path, std::ios::binary);
        for (std::uint64_t written = 0; written < bytes;) {
            stop_if_signalled();
            for (std::uint64_t &value : block)
                value = compressible ? (random() % 64) * 0x0101010101010101ULL : random();
            const std::uint64_t chunk = std::min<std::uint64_t>(bytes - written, block.size() * 8);
            out.write(reinterpret_cast<const char *>(block.data()),
                      static_cast<std::streamsize>(chunk));
            written += chunk;
        }
        if (!out.flush())
            throw std::runtime_error("cannot write " + path.string());
    };
    fs::create_directories(root / "binary");
    for (int i = 0; i < 4; ++i) {
        write_blob(root / "binary" / ("structured" + std::to_string(i) + ".bin"), total_bytes / 20,
                   true);
        write_blob(root / "binary" / ("random" + std::to_string(i) + ".bin"), total_bytes / 20,
                   false);
    }
}

// One large file of mixed data: stretches of text, of structured binary and of random bytes.
void generate_large_file(const fs::path &path, std::uint64_t total_bytes) {
    std::mt19937_64 random(4);
    std::vector<std::uint64_t> block(1 << 17);
    std::ofstream out(path, std::ios::binary);
    for (std::uint64_t written = 0, round = 0; written < total_bytes; ++round) {
        stop_if_signalled();
        for (std::size_t i = 0; i < block.size(); ++i) {
            switch (round % 3) {
            case 0:
                block[i] = 0x2065687420666f20ULL + (random() % 4) * 0x0100000000ULL;
                break;
            case 1:
                block[i] = (random() % 64) * 0x0101010101010101ULL;
                break;
            default:
                block[i] = random();
            }
        }
        const std::uint64_t chunk =
            std::min<std::uint64_t>(total_bytes - written, block.size() * 8);
        out.write(reinterpret_cast<const char *>(block.data()),
                  static_cast<std::streamsize>(chunk));
        written += chunk;
    }
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

// `files` small text files, a thousand to a folder, under the new folder `root`. Returns how
// many folders it made.
std::uint64_t generate_small_files(const fs::path &root, std::uint64_t files) {
    std::mt19937_64 random(files);
    fs::create_directory(root);
    std::uint64_t folders = 0;
    fs::path folder;
    std::string content;
    for (std::uint64_t i = 0; i < files; ++i) {
        if (i % 1000 == 0) {
            stop_if_signalled();
            folder = root / ("d" + std::to_string(i / 1000));
            fs::create_directory(folder);
            ++folders;
        }
        content = "entry " + std::to_string(i) + '\n';
        const std::uint64_t size = 20 + random() % 200;
        while (content.size() < size)
            content += words[random() % (sizeof words / sizeof *words)], content += ' ';
        write_file(folder / ("f" + std::to_string(i) + ".txt"), content);
    }
    return folders;
}

double size_of(const fs::path &path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0.0 : static_cast<double>(size);
}

// Small archives shaped to cost: each is unpacked (or refused) by the component in a child
// process, which reports its own peak memory.
void measure_shapes(const fs::path &base) {
    static const char *const maker = R"(
import sys, zipfile
shape, path = sys.argv[1], sys.argv[2]
def link(archive, name, target):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = (0o120777 << 16)
    archive.writestr(info, target)
with zipfile.ZipFile(path, "w") as archive:
    if shape == "deep":
        for i in range(40):
            archive.writestr("%d/" % i + "d/" * 1799 + "f", "x")
    elif shape == "long links":
        for i in range(6000):
            link(archive, "l%d" % i, "a/" * 16384)
    elif shape == "many links":
        archive.writestr("f", "x")
        for i in range(20000):
            link(archive, "l%d" % i, "l%d" % (i - 1) if i else "f")
    elif shape == "links into a deep folder":
        archive.writestr("d/" * 1800 + "f", "x")
        for i in range(200):
            link(archive, "l%d" % i, "d/" * 1800 + "f")
    elif shape == "one name 9000 times":
        for i in range(9000):
            archive.writestr("same.txt", "x")
)";
    std::printf("shapes (unpacking; each should stay under 64 MiB and a few seconds):\n");
    for (const char *shape :
         {"deep", "long links", "many links", "links into a deep folder", "one name 9000 times"}) {
        const fs::path archive = base / "shape.zip";
        if (!measure_tool({"python3", "-c", maker, shape, archive}, base).ok) {
            std::printf("  %-26s could not be made\n", shape);
            continue;
        }
        const Measure unpacked = measure([&] {
            return ZWZipExtract(wide(archive).c_str(), wide(base / "shape-out").c_str()) != 0;
        });
        std::printf("  %-26s %7.1f KB archive  %6.2f s  peak %6ld KiB  %s\n", shape,
                    size_of(archive) / 1e3, unpacked.seconds, unpacked.peak_kib,
                    unpacked.ok ? "unpacked" : "refused");
        remove_tree(base / "shape-out");
        fs::remove(archive);
    }
}

void print_row(const char *what, const Measure &ours, const Measure &peer, const char *peer_name) {
    std::printf("%-8s ours %7.2f s  %-12s %7.2f s  ratio %.2fx  (ours %s, peer %s)\n", what,
                ours.seconds, peer_name, peer.seconds, ours.seconds / peer.seconds,
                ours.ok ? "ok" : "FAILED", peer.ok ? "ok" : "FAILED");
}

void print_scale_row(const char *what, const char *tool, const Measure &run,
                     std::uint64_t entries) {
    std::printf("  %-7s %-10s %8.2f s  %7.2f us/entry  peak %7.1f MiB  %s\n", what, tool,
                run.seconds, run.seconds * 1e6 / static_cast<double>(entries),
                static_cast<double>(run.peak_kib) / 1024, run.ok ? "ok" : "FAILED");
}

// The component's own failures end the bench: it has printed its reason on standard error.
void require_ours(const Measure &run, const std::string &what) {
    if (!run.ok)
        throw std::runtime_error(what + " with the component failed (its reason is above)");
}

// Unpacking is short and the disk is shared: each tool unpacks five times, in turns, and
// keeps its best run. Nothing is deleted between runs: on a disk mounted with discard, the
// first files made after a large delete pay for it. The turns rotate so that no tool always
// goes first.
void measure_unpacking(const fs::path &base, const fs::path &ours_zip, Measure &unpack_ours,
                       Measure &unpack_unzip, Measure &unpack_bsdtar) {
    constexpr int unpack_rounds = 5;
    for (int round = 0; round < unpack_rounds; ++round) {
        const std::string suffix = std::to_string(round);
        const fs::path out_ours = base / ("out-ours" + suffix);
        const std::string out_unzip = "out-unzip" + suffix;
        const std::string out_bsdtar = "out-bsdtar" + suffix;
        fs::create_directories(base / out_unzip);
        fs::create_directories(base / out_bsdtar);
        const std::vector<std::pair<Measure *, std::function<Measure()>>> tools = {
            {&unpack_ours,
             [&] {
                 return measure([&] {
                     return ZWZipExtract(wide(ours_zip).c_str(), wide(out_ours).c_str()) != 0;
                 });
             }},
            {&unpack_unzip,
             [&] {
                 return measure_tool({"unzip", "-q", ours_zip, "-d", out_unzip}, base);
             }},
            {&unpack_bsdtar,
             [&] {
                 return measure_tool({"bsdtar", "-xf", ours_zip, "-C", out_bsdtar}, base);
             }},
        };
        for (std::size_t turn = 0; turn < tools.size(); ++turn) {
            const auto &[best, work] =
                tools[(turn + static_cast<std::size_t>(round)) % tools.size()];
            const Measure run = work();
            if (best == &unpack_ours)
                require_ours(run, "unpacking " + ours_zip.string());
            const bool all_ok = (round == 0 || best->ok) && run.ok;
            if (round == 0 || run.seconds < best->seconds)
                *best = run;
            best->ok = all_ok;
        }
    }
}

// Packs and unpacks `folder` (absolute) with each tool, in place: the tools are given its name
// from the folder above it, as a person would run them.
void measure_folder(const fs::path &base, const fs::path &folder) {
    const fs::path above = folder.has_filename() ? folder.parent_path() : folder;
    const std::string name = folder.has_filename() ? folder.filename().string() : ".";
    const fs::path ours_zip = base / "ours.zrvdata";
    const fs::path zip_zip = base / "zip.zip";
    const fs::path bsdtar_zip = base / "bsdtar.zip";
    const Measure pack_ours = measure(
        [&] { return ZWZipCompress_t(L"", wide(folder).c_str(), wide(ours_zip).c_str(), 1) != 0; });
    require_ours(pack_ours, "packing " + folder.string());
    // -y keeps links as links, as the component and bsdtar do.
    const Measure pack_zip = measure_tool({"zip", "-r", "-6", "-q", "-y", zip_zip, name}, above);
    const Measure pack_bsdtar =
        measure_tool({"bsdtar", "--format", "zip", "-cf", bsdtar_zip, name}, above);

    Measure unpack_ours, unpack_unzip, unpack_bsdtar;
    measure_unpacking(base, ours_zip, unpack_ours, unpack_unzip, unpack_bsdtar);

    print_row("pack", pack_ours, pack_zip, "zip -r -6");
    print_row("pack", pack_ours, pack_bsdtar, "bsdtar");
    print_row("unpack", unpack_ours, unpack_unzip, "unzip");
    print_row("unpack", unpack_ours, unpack_bsdtar, "bsdtar -x");
    std::printf("archive size: ours %.1f MB, zip %.1f MB, ratio %.3fx\n", size_of(ours_zip) / 1e6,
                size_of(zip_zip) / 1e6, size_of(ours_zip) / size_of(zip_zip));
    std::printf("peak resident memory: pack %ld KiB, unpack %ld KiB\n", pack_ours.peak_kib,
                unpack_ours.peak_kib);
}

// A single large file, which every peer packs on one core.
void measure_large_file(const fs::path &base, std::uint64_t large_mb) {
    const fs::path large = base / "large.bin";
    std::printf("generating a %llu MB single file\n", static_cast<unsigned long long>(large_mb));
    generate_large_file(large, large_mb * 1024 * 1024);
    const Measure large_ours = measure([&] {
        return ZWZipCompress_t(wide(large).c_str(), L"", wide(base / "large.zrvdata").c_str(), 1) !=
               0;
    });
    require_ours(large_ours, "packing " + large.string());
    const Measure large_zip = measure_tool({"zip", "-6", "-q", "large.zip", "large.bin"}, base);
    print_row("1 file", large_ours, large_zip, "zip -6");
    std::printf("archive size: ours %.1f MB, zip %.1f MB, ratio %.3fx; peak memory %ld KiB\n",
                size_of(base / "large.zrvdata") / 1e6, size_of(base / "large.zip") / 1e6,
                size_of(base / "large.zrvdata") / size_of(base / "large.zip"), large_ours.peak_kib);
}

// A tree of `files` small files, packed and unpacked once by each tool: the cost per entry.
// Every unpacked copy stays until all are made, since files made after a large delete pay for
// it on a disk mounted with discard.
void measure_scale(const fs::path &base, std::uint64_t files) {
    std::printf("generating %llu small files\n", static_cast<unsigned long long>(files));
    const auto start = std::chrono::steady_clock::now();
    const fs::path tree = base / "tree";
    const std::uint64_t folders = generate_small_files(tree, files);
    const std::uint64_t entries = files + folders + 1; // and the tree's own folder
    std::printf("%llu entries (%llu files in %llu folders), made in %.0f s:\n",
                static_cast<unsigned long long>(entries), static_cast<unsigned long long>(files),
                static_cast<unsigned long long>(folders),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

    const fs::path ours_zip = base / "ours.zrvdata";
    const Measure pack_ours = measure(
        [&] { return ZWZipCompress_t(L"", wide(tree).c_str(), wide(ours_zip).c_str(), 1) != 0; });
    print_scale_row("pack", "ours", pack_ours, entries);
    require_ours(pack_ours, "packing " + tree.string());
    print_scale_row("pack", "zip -r -6",
                    measure_tool({"zip", "-r", "-6", "-q", "-y", "zip.zip", "tree"}, base),
                    entries);
    print_scale_row("pack", "bsdtar",
                    measure_tool({"bsdtar", "--format", "zip", "-cf", "bsdtar.zip", "tree"}, base),
                    entries);
    std::printf("  archive size: ours %.1f MB, zip %.1f MB, bsdtar %.1f MB\n",
                size_of(ours_zip) / 1e6, size_of(base / "zip.zip") / 1e6,
                size_of(base / "bsdtar.zip") / 1e6);
    fs::remove(base / "zip.zip");
    fs::remove(base / "bsdtar.zip");

    const Measure unpack_ours = measure(
        [&] { return ZWZipExtract(wide(ours_zip).c_str(), wide(base / "out-ours").c_str()) != 0; });
    print_scale_row("unpack", "ours", unpack_ours, entries);
    require_ours(unpack_ours, "unpacking " + ours_zip.string());
    print_scale_row("unpack", "unzip",
                    measure_tool({"unzip", "-q", "ours.zrvdata", "-d", "out-unzip"}, base),
                    entries);
    fs::create_directory(base / "out-bsdtar");
    print_scale_row("unpack", "bsdtar -x",
                    measure_tool({"bsdtar", "-xf", "ours.zrvdata", "-C", "out-bsdtar"}, base),
                    entries);
}

struct Options {
    std::uint64_t size_mb = 500;
    std::uint64_t large_mb = 2048;
    std::vector<std::uint64_t> entries = {10000, 100000, 1000000};
    fs::path parent;
    fs::path tree;
    bool shapes_only = false;
};

bool parse_count(const char *text, std::uint64_t &count) {
    char *end = nullptr;
    errno = 0;
    count = std::strtoull(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && text[0] != '-';
}

bool parse_entries(const std::string &list, std::vector<std::uint64_t> &entries) {
    entries.clear();
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        std::uint64_t count = 0;
        if (!parse_count(list.substr(start, comma - start).c_str(), count))
            return false;
        if (count != 0)
            entries.push_back(count);
        start = comma + 1;
    }
    return true;
}

// Reads the command line; false when it holds something unknown or malformed.
bool parse_options(int argc, char **argv, Options &options) {
    if (argc % 2 == 0)
        return false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char *value = argv[i + 1];
        bool ok = true;
        if (option == "--size-mb")
            ok = parse_count(value, options.size_mb);
        else if (option == "--large-mb")
            ok = parse_count(value, options.large_mb);
        else if (option == "--entries")
            ok = parse_entries(value, options.entries);
        else if (option == "--dir")
            options.parent = value;
        else if (option == "--tree")
            options.tree = value;
        else if (option == "--shapes-only")
            options.shapes_only = std::strcmp(value, "0") != 0;
        else if (option == "--progress")
            watch_progress = std::strcmp(value, "0") != 0;
        else
            ok = false;
        if (!ok || *value == '\0')
            return false;
    }
    return true;
}

// Whether `inner` is `outer` or lies under it; both canonical.
bool lies_within(const fs::path &inner, const fs::path &outer) {
    return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first ==
           outer.end();
}

void run(const Options &options, const fs::path &base) {
    if (options.shapes_only) {
        measure_shapes(base);
        return;
    }
    if (options.tree.empty()) {
        const fs::path corpus = base / "corpus";
        std::printf("generating %llu MB corpus\n",
                    static_cast<unsigned long long>(options.size_mb));
        generate_corpus(corpus, options.size_mb * 1000 * 1000);
        measure_folder(base, corpus);
        remove_tree(corpus);
    } else {
        std::printf("packing %s in place\n", options.tree.c_str());
        measure_folder(base, options.tree);
    }
    clear(base);

    if (options.large_mb != 0) {
        measure_large_file(base, options.large_mb);
        clear(base);
    }
    // After the shapes, since making and removing many thousands of files slows the disk for a
    // while.
    measure_shapes(base);
    for (std::uint64_t files : options.entries) {
        measure_scale(base, files);
        clear(base);
    }
}

} // namespace

int main(int argc, char **argv) {
    // A line at a time, so that a long run shows each figure as it comes, even in a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: zrv_bench [--size-mb N] [--large-mb N] [--entries N,N,...] "
                             "[--dir PATH] [--tree PATH] [--shapes-only 1] [--progress 1]\n");
        return 2;
    }
    std::error_code error;
    if (options.parent.empty()) {
        options.parent = fs::temp_directory_path(error);
        if (error)
            options.parent = "/tmp";
    }
    if (!options.tree.empty()) {
        const fs::path tree = fs::canonical(options.tree, error);
        if (error || !fs::is_directory(tree)) {
            std::fprintf(stderr, "zrv_bench: --tree %s is not a folder\n", options.tree.c_str());
            return 2;
        }
        options.tree = tree;
    }

    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int signal : stop_signals)
        ::sigaction(signal, &action, nullptr);

    const WorkFolder work(options.parent);
    if (work.path().empty()) {
        std::fprintf(stderr, "zrv_bench: cannot make a folder of its own under %s: %s\n",
                     options.parent.c_str(), work.error().c_str());
        return 1;
    }
    const fs::path base = fs::canonical(work.path(), error);
    if (!options.tree.empty() && lies_within(base, options.tree)) {
        std::fprintf(stderr, "zrv_bench: --dir must lie outside --tree, which is packed\n");
        return 2;
    }
    std::printf("working in %s, removed at the end\n", base.c_str());
    try {
        run(options, base);
    } catch (const Stopped &) {
        std::fprintf(stderr, "zrv_bench: stopped by signal %d\n", static_cast<int>(stop_signal));
        return 128 + stop_signal;
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "zrv_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}

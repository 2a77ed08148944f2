// Runs one step of the update installation on an archive, for install_bench.py to time.
//   bench_install noop                  start and exit (the memory baseline)
//   bench_install hash ARCHIVE          print the archive's SHA-256
//   bench_install unzip ARCHIVE DEST    extract into the new folder DEST
//   bench_install both ARCHIVE DEST     hash, then extract, as the installation does
#include <cstdio>
#include <string>
#include "platform/gtk/LibarchiveUnzip.h"
#include "platform/gtk/OpenSslSha256.h"

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "noop") return 0;
    bool hash = mode == "hash" || mode == "both";
    bool unzip = mode == "unzip" || mode == "both";
    if ((!hash && !unzip) || argc < (unzip ? 4 : 3)) {
        std::fprintf(stderr, "usage: bench_install noop | hash ARCHIVE | unzip ARCHIVE DEST | both ARCHIVE DEST\n");
        return 2;
    }
    if (hash) {
        auto digest = platform::gtk::OpenSslSha256().hexDigestOfFile(argv[2]);
        if (!digest) return 1;
        std::printf("%s\n", digest->c_str());
    }
    if (unzip && !platform::gtk::LibarchiveUnzip().extract(argv[2], argv[3])) return 1;
    return 0;
}

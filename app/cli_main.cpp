#include <iostream>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "app/cli.h"
#include "formats/files.h"

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // An import takes and gives back memory for one resource after another,
    // up to a few megabytes each: keep what is given back for the next
    // instead of returning it to the system and taking it in again page by
    // page.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
    // An interrupted action leaves no staged file behind.
    modtext::remove_staged_files_on_interrupt();
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    return modtext::run_cli(args, std::cout, std::cerr);
}

#include <iostream>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#include <unistd.h>
#endif

#include "app/cli.h"
#include "formats/bulk_buffer.h"
#include "formats/files.h"

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // An import takes and gives back memory for one resource after another,
    // up to a few megabytes each: keep what is given back for the next
    // instead of returning it to the system and taking it in again page by
    // page.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // One heap for every thread, so that each thread's memory is the huge
    // pages below, reused once given back: a heap of a thread's own would
    // take fresh small pages.
    mallopt(M_ARENA_MAX, 1);
    // And take the first 256 MB of it at once, in huge pages where the system
    // gives them: on some machines the first touch of each small page costs
    // more than its use, and an import touches thousands. What is never
    // touched takes no memory.
    {
        auto* const before = static_cast<char*>(sbrk(0));
        mallopt(M_TOP_PAD, 256 << 20);
        void* volatile first = malloc(1 << 20);  // volatile: not to be left out as unused
        free(first);
        auto* const after = static_cast<char*>(sbrk(0));
        if (before != reinterpret_cast<char*>(-1) && after > before) {
            modtext::advise_huge_pages(before, static_cast<std::size_t>(after - before));
        }
        mallopt(M_TOP_PAD, 0);
    }
#endif
    // An interrupted action leaves no staged file behind.
    modtext::remove_staged_files_on_interrupt();
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    return modtext::run_cli(args, std::cout, std::cerr);
}

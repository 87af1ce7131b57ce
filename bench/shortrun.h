#ifndef ZELVIK_BENCH_SHORTRUN_H
#define ZELVIK_BENCH_SHORTRUN_H

#include <algorithm>
#include <cstdlib>
#include <cstring>

// ctest runs every benchmark with ZELVIK_BENCH_SHORT=1: the sizes given on the command line are
// cut so that the run takes a few seconds. Such a run shows that the benchmark still works and
// prints its figures; its timings are too few to be figures (those come from `make bench`).
namespace Bench {

inline bool shortRun()
{
    const char *value = std::getenv("ZELVIK_BENCH_SHORT");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

// size as given, or at most shortSize in a short run.
inline int sized(int size, int shortSize)
{
    return shortRun() ? std::min(size, shortSize) : size;
}

} // namespace Bench

#endif

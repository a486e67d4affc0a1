#include "fuzzcheck.h"

#include <cstdio>
#include <cstdlib>

void fuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

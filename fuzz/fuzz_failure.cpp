#include "fuzz/fuzz_target.h"

#include <cstdio>
#include <cstdlib>

void FuzzFailure(const char* what)
{
    fprintf(stderr, "fuzz invariant broken: %s\n", what);
    abort();
}

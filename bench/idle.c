/*
 * A bare process that only sleeps: the memory every process of a C library
 * pays before it does anything. The benchmark builds it against glibc
 * (dynamic, as watchd's glibc build) and against musl (static, as watchd's
 * musl build), so that the memory rows show what watchd adds to each.
 */
#include <unistd.h>

int main(void)
{
    for (;;)
        pause();
}

/*
 * Figures from a stamp log (lines "S|E|L NAME PID NS", see stamp.c).
 *
 *   bw-stats reaction LOG DELAY_US SKIP
 *     Every exit of a program followed by its next start is one sample:
 *     start - exit - DELAY_US. The first SKIP samples of each program are
 *     dropped (the supervisor's first restarts warm up caches and pages).
 *     Prints "COUNT MEDIAN_US P95_US MIN_US MAX_US" (nearest-rank percentiles).
 *   bw-stats startup LOG COUNT
 *     Prints the microseconds from the launch stamp to the first start of
 *     the COUNT-th distinct program; exits 1 when fewer have started.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct record {
    char kind;
    char name[32];
    long long ns;
};

static struct record *records;
static size_t record_count;

static int read_log(const char *path)
{
    FILE *in = fopen(path, "r");
    if (!in) {
        perror(path);
        return -1;
    }
    size_t capacity = 0;
    char line[256];
    while (fgets(line, sizeof line, in)) {
        struct record r;
        int pid;
        if (sscanf(line, "%c %31s %d %lld", &r.kind, r.name, &pid, &r.ns) != 4)
            continue;
        if (record_count == capacity) {
            capacity = capacity ? capacity * 2 : 1024;
            records = realloc(records, capacity * sizeof *records);
            if (!records)
                return -1;
        }
        records[record_count++] = r;
    }
    fclose(in);
    return 0;
}

static int by_name_then_time(const void *a, const void *b)
{
    const struct record *x = a, *y = b;
    int order = strcmp(x->name, y->name);
    if (order != 0)
        return order;
    return (x->ns > y->ns) - (x->ns < y->ns);
}

static int by_value(const void *a, const void *b)
{
    long long x = *(const long long *)a, y = *(const long long *)b;
    return (x > y) - (x < y);
}

/* Nearest rank: the smallest sample with at least p percent at or below it. */
static long long percentile(const long long *sorted, size_t n, int p)
{
    size_t rank = (n * (size_t)p + 99) / 100;
    return sorted[rank > 0 ? rank - 1 : 0];
}

static int reaction(long long delay_ns, int skip)
{
    qsort(records, record_count, sizeof *records, by_name_then_time);
    long long *samples = malloc((record_count + 1) * sizeof *samples);
    if (!samples)
        return 1;
    size_t n = 0;
    int seen = 0;
    for (size_t i = 0; i + 1 < record_count; ++i) {
        if (i == 0 || strcmp(records[i].name, records[i - 1].name) != 0)
            seen = 0;
        const struct record *exit = &records[i], *next = &records[i + 1];
        if (exit->kind != 'E' || next->kind != 'S' || strcmp(exit->name, next->name) != 0)
            continue;
        if (seen++ < skip)
            continue;
        samples[n++] = next->ns - exit->ns - delay_ns;
    }
    if (n == 0) {
        fputs("no samples\n", stderr);
        return 1;
    }
    qsort(samples, n, sizeof *samples, by_value);
    printf("%zu %.1f %.1f %.1f %.1f\n", n, percentile(samples, n, 50) / 1e3,
           percentile(samples, n, 95) / 1e3, samples[0] / 1e3, samples[n - 1] / 1e3);
    free(samples);
    return 0;
}

static int startup(int count)
{
    long long launch = -1;
    char names[16][32];
    int found = 0;
    long long last = 0;
    for (size_t i = 0; i < record_count; ++i) {
        const struct record *r = &records[i];
        if (r->kind == 'L' && launch < 0)
            launch = r->ns;
        if (r->kind != 'S' || launch < 0 || found >= count || found >= 16)
            continue;
        int known = 0;
        for (int j = 0; j < found; ++j)
            known = known || strcmp(names[j], r->name) == 0;
        if (known)
            continue;
        snprintf(names[found++], sizeof names[0], "%s", r->name);
        if (r->ns > last)
            last = r->ns;
    }
    if (launch < 0 || found < count)
        return 1;
    printf("%.1f\n", (last - launch) / 1e3);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "reaction") == 0) {
        if (read_log(argv[2]) != 0)
            return 1;
        return reaction(atoll(argv[3]) * 1000LL, atoi(argv[4]));
    }
    if (argc == 4 && strcmp(argv[1], "startup") == 0) {
        if (read_log(argv[2]) != 0)
            return 1;
        return startup(atoi(argv[3]));
    }
    fputs("usage: bw-stats reaction LOG DELAY_US SKIP | startup LOG COUNT\n", stderr);
    return 2;
}

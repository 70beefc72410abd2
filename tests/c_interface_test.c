/* The C interface from C: each refusal is a status and a message, and nothing is written past the caller's arrays. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "trapft.h"

enum { guard = 4, room = 16 };

static int failures = 0;

#define CHECK(condition, what)                                               \
    do {                                                                     \
        if (!(condition)) {                                                  \
            fprintf(stderr, "%s:%d: %s: %s\n", __FILE__, __LINE__, what, #condition); \
            ++failures;                                                      \
        }                                                                    \
    } while (0)

/* Arrays of `room` lines and a guard after each, all filled with a marker. */
typedef struct {
    double store[4][room + guard];
    trapft_arrays arrays;
} output;

static const double marker = -12345.5;

static void prepare(output *out, size_t capacity) {
    for (int a = 0; a < 4; ++a)
        for (int j = 0; j < room + guard; ++j) out->store[a][j] = marker;
    out->arrays = (trapft_arrays){out->store[0], out->store[1], out->store[2], out->store[3], capacity};
}

/* Lines written from the first, the rest (guard included) untouched. */
static int written(const output *out, int lines) {
    for (int a = 0; a < 4; ++a)
        for (int j = 0; j < room + guard; ++j)
            if ((j < lines) == (out->store[a][j] == marker)) return 0;
    return 1;
}

static const double times[] = {0.0, 0.25, 0.5, 0.75, 1.0};
static const double values[] = {1.0, 0.5, -0.25, 2.0, 0.0};

typedef struct {
    const char *name;
    const double *times;
    const double *values;
    size_t n;
    int64_t count;
    trapft_options options;
    size_t capacity;
    int with_arrays;
    trapft_status status;
    int lines;
    const char *message;
} sweep_case;

static void check_sweeps(void) {
    const trapft_options exact = trapft_default_options();
    const trapft_options part_2_of_3 = {0.0, 2, 2, 3};
    const trapft_options part_4_of_3 = {0.0, 1, 4, 3};
    const trapft_options part_0_of_0 = {0.0, 1, 0, 0};
    const trapft_options jobs = {0.0, 1025, 1, 1};
    const trapft_options loose = {0.5, 1, 1, 1};
    const trapft_options fast = {1e-9, 2, 1, 1};
#if TRAPFT_FAST_EVALUATION
    const trapft_status fast_status = TRAPFT_OK;
    const int fast_lines = 11;
    const char *fast_message = "";
#else
    const trapft_status fast_status = TRAPFT_FAST_UNAVAILABLE;
    const int fast_lines = 0;
    const char *fast_message = "The fast evaluation is not built in: it needs FFTW3.";
#endif
    const sweep_case cases[] = {
        {"every line, arrays just long enough", times, values, 5, 11, exact, 11, 1, TRAPFT_OK, 11, ""},
        {"the middle part", times, values, 5, 11, part_2_of_3, 4, 1, TRAPFT_OK, 4, ""},
        {"fast", times, values, 5, 11, fast, 11, 1, fast_status, fast_lines, fast_message},
        {"no count", times, values, 5, -3, exact, 0, 1, TRAPFT_OK, 0, ""},
        {"no samples, null tables", NULL, NULL, 0, 3, exact, 3, 1, TRAPFT_OK, 3, ""},
        {"arrays one line short", times, values, 5, 11, exact, 10, 1, TRAPFT_ARRAYS_TOO_SHORT, 0, "The arrays hold fewer lines than the sweep gives."},
        {"count beyond int32", times, values, 5, 2147483648LL, exact, room, 1, TRAPFT_INVALID_COUNT, 0, "Invalid frequency count."},
        {"count far beyond", times, values, 5, INT64_MAX, exact, room, 1, TRAPFT_INVALID_COUNT, 0, "Invalid frequency count."},
        {"part beyond parts", times, values, 5, 11, part_4_of_3, room, 1, TRAPFT_INVALID_PART, 0, "Invalid part: give K/P with 1 <= K <= P."},
        {"no parts", times, values, 5, 11, part_0_of_0, room, 1, TRAPFT_INVALID_PART, 0, "Invalid part: give K/P with 1 <= K <= P."},
        {"too many jobs", times, values, 5, 11, jobs, room, 1, TRAPFT_INVALID_JOBS, 0, "Invalid number of jobs."},
        {"tolerance too loose", times, values, 5, 11, loose, room, 1, TRAPFT_INVALID_TOLERANCE, 0, "Invalid tolerance."},
        {"null times", NULL, values, 5, 11, exact, room, 1, TRAPFT_NULL_ARGUMENT, 0, "A required pointer is null."},
        {"null values", times, NULL, 5, 11, exact, room, 1, TRAPFT_NULL_ARGUMENT, 0, "A required pointer is null."},
        {"null arrays", times, values, 5, 11, exact, room, 0, TRAPFT_NULL_ARGUMENT, 0, "A required pointer is null."},
    };
    for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
        const sweep_case *k = &cases[c];
        output out;
        prepare(&out, k->capacity);
        int64_t lines = -1;
        const trapft_status status = trapft_sweep(k->times, k->values, k->n, 0.0, 5.0, k->count, &k->options,
                                                  k->with_arrays ? &out.arrays : NULL, &lines);
        CHECK(status == k->status, k->name);
        CHECK(lines == k->lines, k->name);
        CHECK(written(&out, k->lines), k->name);
        if (status != TRAPFT_OK) CHECK(!strcmp(trapft_last_message(), k->message), k->name);
    }
    CHECK(trapft_sweep_lines(11, &part_2_of_3, NULL) == TRAPFT_NULL_ARGUMENT, "sweep_lines without a result");
    int64_t lines = -1;
    CHECK(trapft_sweep_lines(11, NULL, &lines) == TRAPFT_OK && lines == 11, "sweep_lines with the defaults");
}

/* A fresh file in a fresh temporary directory holding `text`. */
static void write_file(char *path, const char *directory, const char *name, const char *text) {
    snprintf(path, 256, "%s/%s", directory, name);
    FILE *file = fopen(path, "w");
    fputs(text, file);
    fclose(file);
}

static void check_loads(void) {
    char directory[] = "/tmp/trapft_c_XXXXXX";
    CHECK(mkdtemp(directory) != NULL, "temporary directory");
    char good[256], bad[256], missing[256];
    write_file(good, directory, "good.txt", "0 1\n0.5 2\n1 3\n");
    write_file(bad, directory, "bad.txt", "0 1\nx 2\n");
    snprintf(missing, sizeof missing, "%s/missing.txt", directory);
    trapft_read_options small = trapft_default_read_options();
    small.capacity = 2;
    trapft_read_options none = trapft_default_read_options();
    none.capacity = 0;
    const struct {
        const char *name;
        const char *path;
        const trapft_read_options *options;
        trapft_status status;
        const char *message;
        size_t samples;
    } cases[] = {
        {"good", good, NULL, TRAPFT_OK, "", 3},
        {"not a number", bad, NULL, TRAPFT_READ_FAILED, "Error reading file: line 2: not a number.", 0},
        {"missing", missing, NULL, TRAPFT_OPEN_FAILED, "Error opening file.", 0},
        {"more than the capacity", good, &small, TRAPFT_READ_FAILED, "", 0},
        {"no capacity", good, &none, TRAPFT_INVALID_CAPACITY, "Invalid maximum number of samples.", 0},
        {"null path", NULL, NULL, TRAPFT_NULL_ARGUMENT, "A required pointer is null.", 0},
    };
    for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
        trapft_samples *samples = (trapft_samples *)&failures; /* must be reset */
        const trapft_status status = trapft_load(cases[c].path, cases[c].options, &samples);
        CHECK(status == cases[c].status, cases[c].name);
        CHECK((samples != NULL) == (status == TRAPFT_OK), cases[c].name);
        if (status != TRAPFT_OK)
            CHECK(cases[c].message[0] ? !strcmp(trapft_last_message(), cases[c].message) : trapft_last_message()[0] != 0,
                  cases[c].name);
        CHECK(trapft_sample_count(samples) == cases[c].samples, cases[c].name);
        if (samples) CHECK(trapft_sample_times(samples)[2] == 1.0 && trapft_sample_values(samples)[2] == 3.0, cases[c].name);
        trapft_free_samples(samples);
    }
    CHECK(trapft_load(good, NULL, NULL) == TRAPFT_NULL_ARGUMENT, "load without a result");
    unlink(good);
    unlink(bad);
    rmdir(directory);
}

/* Prints the lines of a sweep as the tool prints them:
   FILE START END COUNT [TOLERANCE [PART PARTS]]. */
static int print_sweep(int argc, char **argv) {
    trapft_samples *samples = NULL;
    if (trapft_load(argv[1], NULL, &samples) != TRAPFT_OK) return fprintf(stderr, "%s\n", trapft_last_message()), 1;
    trapft_options options = trapft_default_options();
    if (argc > 5) options.tolerance = strtod(argv[5], NULL);
    if (argc > 7) options.part = atoi(argv[6]), options.parts = atoi(argv[7]);
    const int64_t count = strtoll(argv[4], NULL, 10);
    int64_t lines = 0;
    if (trapft_sweep_lines(count, &options, &lines) != TRAPFT_OK) return fprintf(stderr, "%s\n", trapft_last_message()), 1;
    const size_t n = (size_t)lines;
    double *table = malloc(4 * (n ? n : 1) * sizeof(double));
    trapft_arrays arrays = {table, table + n, table + 2 * n, table + 3 * n, n};
    /* START and END as the tool reads them: through single precision. */
    const trapft_status status = trapft_sweep(trapft_sample_times(samples), trapft_sample_values(samples),
                                              trapft_sample_count(samples), strtof(argv[2], NULL), strtof(argv[3], NULL),
                                              count, &options, &arrays, NULL);
    if (status != TRAPFT_OK) fprintf(stderr, "%s\n", trapft_last_message());
    for (size_t j = 0; status == TRAPFT_OK && j < n; ++j)
        printf("%.15g %.15g %.15g %.15g\n", arrays.frequency[j], arrays.real[j], arrays.imaginary[j], arrays.magnitude[j]);
    free(table);
    trapft_free_samples(samples);
    return status == TRAPFT_OK ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc >= 5) return print_sweep(argc, argv);
    check_sweeps();
    check_loads();
    CHECK(strlen(trapft_version()) > 0, "version");
    if (failures == 0) puts("C interface: every case passed");
    return failures == 0 ? 0 : 1;
}

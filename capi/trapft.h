/* trapft's C interface: sample files in, spectrum lines out into the caller's arrays. */
#ifndef TRAPFT_H
#define TRAPFT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Every call's outcome. After a failure, trapft_last_message() holds the
   one-line message the tool would print for it. */
typedef enum trapft_status {
    TRAPFT_OK = 0,
    TRAPFT_NULL_ARGUMENT,           /* a pointer that must not be null is */
    TRAPFT_OPEN_FAILED,             /* the sample file cannot be opened */
    TRAPFT_READ_FAILED,             /* the file holds no valid samples, or cannot be read */
    TRAPFT_INVALID_CAPACITY,        /* most samples to read outside 1 to 2^31 - 1 */
    TRAPFT_INVALID_COUNT,           /* a frequency count above 2^31 - 1 */
    TRAPFT_INVALID_JOBS,            /* jobs outside 0 to 1024 */
    TRAPFT_INVALID_PART,            /* not 1 <= part <= parts */
    TRAPFT_INVALID_TOLERANCE,       /* neither 0 nor within 1e-14 to 0.1 */
    TRAPFT_FAST_UNAVAILABLE,        /* a tolerance, in a build without the fast evaluation */
    TRAPFT_INVALID_INSTRUCTION_SET, /* TRAPFT_ISA names no set this processor runs */
    TRAPFT_ARRAYS_TOO_SHORT,        /* the arrays hold fewer lines than the sweep gives */
    TRAPFT_OUT_OF_MEMORY,
    TRAPFT_THREADS_FAILED
} trapft_status;

/* How a file is read; trapft_default_read_options() gives the tool's defaults. */
typedef struct trapft_read_options {
    int64_t capacity;     /* most samples taken; one more is refused (default 16384) */
    int double_precision; /* nonzero: numbers rounded to double, not through float */
    int jobs;             /* threads reading a regular file, 0: every processor (default 1) */
} trapft_read_options;

/* How a sweep runs; trapft_default_options() gives every line, exactly, on one thread. */
typedef struct trapft_options {
    double tolerance; /* 0: exact; 1e-14 to 0.1: the fast evaluation, within tolerance x A */
    int jobs;         /* threads, 1 to 1024, or 0 for one per online processor */
    int part;         /* only slice `part` (1-based) of `parts` equal slices */
    int parts;
} trapft_options;

/* Where a sweep's lines go: line j to frequency[j], real[j], imaginary[j] and
   magnitude[j]. A null array is not filled; `capacity` is the lines each
   non-null array holds. */
typedef struct trapft_arrays {
    double *frequency;
    double *real;
    double *imaginary;
    double *magnitude;
    size_t capacity;
} trapft_arrays;

/* Samples read from a file, owned by the library until trapft_free_samples. */
typedef struct trapft_samples trapft_samples;

/* The version, as "1.3.0". */
const char *trapft_version(void);

/* The tool's defaults. */
trapft_read_options trapft_default_read_options(void);
trapft_options trapft_default_options(void);

/* The message of the calling thread's last call that failed ("" if none), as
   the tool prints it, without line feed; valid until this thread's next call. */
const char *trapft_last_message(void);

/* Reads the (time, value) pairs of the file at `path` as the tool reads them;
   options may be null for the defaults. On success *samples owns them; on
   failure *samples is null. */
trapft_status trapft_load(const char *path, const trapft_read_options *options, trapft_samples **samples);

/* The loaded samples: their number, and their times and values in file order. */
size_t trapft_sample_count(const trapft_samples *samples);
const double *trapft_sample_times(const trapft_samples *samples);
const double *trapft_sample_values(const trapft_samples *samples);

/* Frees what trapft_load made; null is ignored. */
void trapft_free_samples(trapft_samples *samples);

/* Lines that a sweep of `count` frequencies with `options` gives (its part
   only), into *lines; 0 when count <= 0. */
trapft_status trapft_sweep_lines(int64_t count, const trapft_options *options, int64_t *lines);

/* Evaluates X(f) over the n samples (times[i], values[i]; null when n is 0) at `count`
   frequencies from `start`, stepping by (end - start) / (count - 1) as a
   running sum, and writes the lines of the chosen part into `arrays`, in
   order. options may be null for the defaults. Nothing is written unless
   every argument is valid and the arrays hold every line; *lines (may be
   null) receives the lines written. The lines are byte for byte the tool's. */
trapft_status trapft_sweep(const double *times, const double *values, size_t n, double start, double end,
                           int64_t count, const trapft_options *options, const trapft_arrays *arrays,
                           int64_t *lines);

#ifdef __cplusplus
}
#endif

#endif

/* Prints the spectrum of a sample file through trapft's C interface: spectrum FILE START END COUNT [TOLERANCE] */
#include <stdio.h>
#include <stdlib.h>
#include <trapft.h>

int main(int argc, char **argv) {
    if (argc < 5) return fputs("Usage: spectrum FILE START END COUNT [TOLERANCE]\n", stderr), 2;
    trapft_samples *samples = NULL;
    trapft_options options = trapft_default_options();
    options.tolerance = argc > 5 ? atof(argv[5]) : 0.0;
    int64_t count = atoll(argv[4]), lines = 0;
    trapft_status status = trapft_load(argv[1], NULL, &samples);
    if (status == TRAPFT_OK) status = trapft_sweep_lines(count, &options, &lines);
    double *f = malloc(4 * sizeof(double) * (size_t)(lines + 1)), *re = f + lines, *im = re + lines, *mag = im + lines;
    trapft_arrays arrays = {f, re, im, mag, (size_t)lines};
    if (status == TRAPFT_OK)  /* START and END through single precision, as the tool reads them */
        status = trapft_sweep(trapft_sample_times(samples), trapft_sample_values(samples), trapft_sample_count(samples),
                              strtof(argv[2], NULL), strtof(argv[3], NULL), count, &options, &arrays, NULL);
    for (int64_t j = 0; status == TRAPFT_OK && j < lines; ++j) printf("%.15g %.15g %.15g %.15g\n", f[j], re[j], im[j], mag[j]);
    if (status != TRAPFT_OK) fprintf(stderr, "%s\n", trapft_last_message());
    free(f);
    trapft_free_samples(samples);
    return status == TRAPFT_OK ? 0 : 1;
}

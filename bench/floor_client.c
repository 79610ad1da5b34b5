/* The sound server's floor: a plain Linux client that, like Wine's PlaySound at each tick,
 * opens a playback stream every beat on an absolute clock, writes the click, drains the
 * stream and closes it. What it measures is the server's, not ours.
 *
 *   floor_client <bpm> <beats> <mono 16-bit wave file>
 *
 * Built natively by scripts/run-bench.sh (libpulse-simple); PULSE_SERVER and PULSE_SINK
 * choose the server and sink. */
#include <pulse/error.h>
#include <pulse/simple.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* The samples of the file's data chunk; the format is taken as mono 16-bit 44.1 kHz. */
static char *read_samples(const char *path, size_t *size) {
    static char image[1 << 20];
    FILE *f = fopen(path, "rb");
    size_t n = f ? fread(image, 1, sizeof image, f) : 0;
    if (f)
        fclose(f);
    for (size_t i = 12; i + 8 <= n;) {
        unsigned len = (unsigned char)image[i + 4] | (unsigned char)image[i + 5] << 8 |
                       (unsigned char)image[i + 6] << 16 | (unsigned)(unsigned char)image[i + 7] << 24;
        if (memcmp(image + i, "data", 4) == 0) {
            *size = len < n - i - 8 ? len : n - i - 8;
            return image + i + 8;
        }
        i += 8 + len + (len & 1);
    }
    return NULL;
}

static void add_ns(struct timespec *t, long long ns) {
    ns += t->tv_nsec;
    t->tv_sec += ns / 1000000000;
    t->tv_nsec = ns % 1000000000;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: floor_client <bpm> <beats> <wave file>\n");
        return 2;
    }
    long long period_ns = 60000000000LL / atoi(argv[1]);
    int beats = atoi(argv[2]);
    size_t size = 0;
    const char *click = read_samples(argv[3], &size);
    if (!click) {
        fprintf(stderr, "floor_client: no samples in %s\n", argv[3]);
        return 1;
    }
    const pa_sample_spec spec = {PA_SAMPLE_S16LE, 44100, 1};
    struct timespec due;
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (int beat = 0; beat < beats; ++beat) {
        add_ns(&due, period_ns);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL);
        int error = 0;
        pa_simple *s = pa_simple_new(NULL, "floor_client", PA_STREAM_PLAYBACK, NULL, "click",
                                     &spec, NULL, NULL, &error);
        if (!s || pa_simple_write(s, click, size, &error) < 0 || pa_simple_drain(s, &error) < 0)
            fprintf(stderr, "floor_client: beat %d: %s\n", beat, pa_strerror(error));
        if (s)
            pa_simple_free(s);
    }
    return 0;
}

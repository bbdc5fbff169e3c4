/* libvips' vips_resize timed in process, for bench/quality.sh: medians of
 * RUNS runs in milliseconds, decode excluded, on one thread.
 *
 *   bench_vips_resize FILE FACTOR [RUNS] [--out FILE.ppm] [--gap G] [--random]
 *
 * Prints "WxH ms min max" (the median, fastest and slowest run). The output
 * is trunc(W f + 0.5) x trunc(H f + 0.5), as bench_timer resample makes it.
 * Each run builds the pipeline and computes every output pixel into a fresh
 * buffer (vips_image_write_to_memory) inside the timed span; the operation
 * cache is off, so no run reuses another's pipeline.
 *
 * The decoded source is marked sequential, as libvips' own loaders mark a
 * file opened for top-to-bottom reading (vips resize, vipsthumbnail). With
 * that mark vips_resize puts line caches behind its box pre-shrink; without
 * it (a plain memory image, --random) every output strip recomputes all the
 * pre-shrunk rows under its reduce window, about ten times the real work at
 * 0.25 and 0.1, which no caller reading a file sees.
 * --gap sets vips_resize's reducing gap (default 2; 0 turns the box
 * pre-shrink off, leaving a pure Lanczos3 reduce).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vips/vips.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int by_value(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static int fail(const char* what) {
    fprintf(stderr, "%s: %s\n", what, vips_error_buffer());
    return 1;
}

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0])) return fail("vips_init");
    if (argc < 3) {
        fprintf(stderr, "usage: %s FILE FACTOR [RUNS] [--out FILE.ppm] [--gap G] [--random]\n", argv[0]);
        return 2;
    }
    vips_concurrency_set(1);
    vips_cache_set_max(0);

    const double factor = atof(argv[2]);
    int runs = 5;
    double gap = 2.0;
    int random = 0;
    const char* out = NULL;
    for (int i = 3; i < argc; ++i) {
        if (!strcmp(argv[i], "--out") && i + 1 < argc) out = argv[++i];
        else if (!strcmp(argv[i], "--gap") && i + 1 < argc) gap = atof(argv[++i]);
        else if (!strcmp(argv[i], "--random")) random = 1;
        else runs = atoi(argv[i]) > 0 ? atoi(argv[i]) : 1;
    }

    VipsImage* file = vips_image_new_from_file(argv[1], "access", VIPS_ACCESS_RANDOM, NULL);
    if (!file) return fail(argv[1]);
    VipsImage* decoded = vips_image_copy_memory(file);
    g_object_unref(file);
    if (!decoded) return fail("decode");
    VipsImage* src;
    if (vips_copy(decoded, &src, NULL)) return fail("vips_copy");
    if (random) vips_image_remove(src, VIPS_META_SEQUENTIAL);
    else vips_image_set_int(src, VIPS_META_SEQUENTIAL, 1);

    const int width = (int)(src->Xsize * factor + 0.5);
    const int height = (int)(src->Ysize * factor + 0.5);
    if (width < 1 || height < 1) {
        fprintf(stderr, "factor %g leaves no image\n", factor);
        return 1;
    }
    /* Each side's own scale, so that vips lands on the same size as we do. */
    const double hscale = (double)width / src->Xsize;
    const double vscale = (double)height / src->Ysize;

    double* times = g_new(double, runs);
    void* pixels = NULL;
    size_t size = 0;
    int bands = 0;
    VipsBandFormat format = VIPS_FORMAT_UCHAR;
    for (int run = 0; run < runs; ++run) {
        g_free(pixels);
        pixels = NULL;
        const double start = now_ms();
        VipsImage* resized;
        if (vips_resize(src, &resized, hscale, "vscale", vscale, "kernel", VIPS_KERNEL_LANCZOS3, "gap", gap,
                        NULL))
            return fail("vips_resize");
        pixels = vips_image_write_to_memory(resized, &size);
        const double t = now_ms() - start;
        if (!pixels) return fail("vips_image_write_to_memory");
        if (resized->Xsize != width || resized->Ysize != height) {
            fprintf(stderr, "vips_resize made %dx%d, not %dx%d\n", resized->Xsize, resized->Ysize, width, height);
            return 1;
        }
        bands = resized->Bands;
        format = resized->BandFmt;
        g_object_unref(resized);
        times[run] = t;
    }
    qsort(times, (size_t)runs, sizeof *times, by_value);
    printf("%dx%d %.2f %.2f %.2f\n", width, height, times[runs / 2], times[0], times[runs - 1]);

    if (out) {
        VipsImage* last = vips_image_new_from_memory(pixels, size, width, height, bands, format);
        if (!last || vips_image_write_to_file(last, out, NULL)) return fail(out);
        g_object_unref(last);
    }
    g_free(pixels);
    g_free(times);
    g_object_unref(src);
    g_object_unref(decoded);
    vips_shutdown();
    return 0;
}

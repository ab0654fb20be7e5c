/*
** solvan_drift: comparing two digests of a frame (drift by centroids or by the
** cross-correlation of profile spectra), combining the drifts of several stars with outliers
** rejected, the proportional-integral guiding response, and deleting a digest.
*/
#include "solvan_raw_utils.h"

#include <math.h>
#include <stdlib.h>

static bool is_power_of_two(int32_t n) {
    return n >= 2 && (n & (n - 1)) == 0;
}

void solvan_correlate_fft(int n, const double* current, const double* reference, double* output) {
    if (!is_power_of_two(n) || current == NULL || reference == NULL || output == NULL) return;
    double* products = solvan_safe_malloc((size_t)n * 2 * sizeof(double));
    double* scratch = solvan_safe_malloc((size_t)n * 2 * sizeof(double));
    for (int k = 0; k < n; k++) {
        const double are = current[2 * k], aim = current[2 * k + 1];
        const double bre = reference[2 * k], bim = reference[2 * k + 1];
        products[2 * k] = are * bre + aim * bim;
        products[2 * k + 1] = bre * aim - are * bim;
    }
    solvan_fft(n, 0, 1, products, output, scratch);
    free(scratch);
    free(products);
    /* The inverse transform from the forward one: reverse the order of 1 ... n - 1, scale. */
    const int h = n / 2;
    for (int c = 0; c < 2; c++) {
        output[c] /= n;
        output[2 * h + c] /= n;
    }
    for (int j = 1; j < h; j++) {
        for (int c = 0; c < 2; c++) {
            const double t = output[2 * j + c];
            output[2 * j + c] = output[2 * (n - j) + c] / n;
            output[2 * (n - j) + c] = t / n;
        }
    }
}

/* The shift of the current profile along one axis from the correlation of the two spectra of
** n values, refined by a parabola through the peak and its neighbours. */
static double axis_drift(int n, const double* current, const double* reference, double* work) {
    solvan_correlate_fft(n, current, reference, work);
    int p = 0;
    for (int k = 1; k < n; k++)
        if (work[2 * k] > work[2 * p]) p = k;
    const int h = n / 2;
    /* Neighbours around the circle; at h too, so a shift of half the length is read there. */
    const int left = p == 0 ? n - 1 : p - 1, right = p == n - 1 ? 0 : p + 1;
    const double cl = work[2 * left], cp = work[2 * p], cr = work[2 * right];
    const double denominator = 2 * (2 * cp - cr - cl);
    /* Three points on a line have no vertex: the peak pixel itself. */
    double f = denominator != 0 ? (cr - cl) / denominator : 0;
    if (!isfinite(f)) f = 0;
    /* A peak in the upper half, h included, is a negative shift. */
    return p < h ? f + p : f + (p - n);
}

int solvan_calculate_drift(const solvan_digest* reference, const solvan_digest* current,
                           double* drift_x, double* drift_y) {
    if (reference == NULL || current == NULL || drift_x == NULL || drift_y == NULL)
        return SOLVAN_FAILED;
    if (reference->width != current->width || reference->height != current->height)
        return SOLVAN_FAILED;
    /* A donuts reference against a centroid digest would read centroids as arrays. */
    if (current->algorithm != reference->algorithm) return SOLVAN_FAILED;
    if (reference->algorithm == SOLVAN_DIGEST_CENTROID) {
        *drift_x = current->centroid_x - reference->centroid_x;
        *drift_y = current->centroid_y - reference->centroid_y;
        return SOLVAN_OK;
    }
    if (reference->algorithm != SOLVAN_DIGEST_DONUTS) return SOLVAN_FAILED;
    const int w = reference->width, h = reference->height;
    if (!is_power_of_two(w) || !is_power_of_two(h)) return SOLVAN_FAILED;
    if (reference->fft_x == NULL || reference->fft_y == NULL || current->fft_x == NULL ||
        current->fft_y == NULL)
        return SOLVAN_FAILED;
    double* work = solvan_safe_malloc((size_t)(w > h ? w : h) * 2 * sizeof(double));
    const double dx = axis_drift(w, current->fft_x, reference->fft_x, work);
    const double dy = axis_drift(h, current->fft_y, reference->fft_y, work);
    free(work);
    *drift_x = dx;
    *drift_y = dy;
    return SOLVAN_OK;
}

int solvan_reduce_multistar_digest(const solvan_digest* base, const solvan_digest* references,
                                   const solvan_digest* currents, int count,
                                   solvan_digest* result) {
    static const char* name = "solvan_reduce_multistar_digest";
    if (base == NULL || references == NULL || currents == NULL || result == NULL)
        return SOLVAN_FAILED;
    if (count < 1 || count > SOLVAN_MAX_MULTISTAR) return SOLVAN_FAILED;
    if (base->algorithm != SOLVAN_DIGEST_CENTROID ||
        references[0].algorithm != SOLVAN_DIGEST_CENTROID ||
        currents[0].algorithm != SOLVAN_DIGEST_CENTROID)
        return SOLVAN_FAILED;

    /* Read everything before writing: result may be one of the inputs. */
    double dx[SOLVAN_MAX_MULTISTAR], dy[SOLVAN_MAX_MULTISTAR], d[SOLVAN_MAX_MULTISTAR];
    bool valid[SOLVAN_MAX_MULTISTAR];
    int valid_count = 0;
    double sum = 0;
    for (int i = 0; i < count; i++) {
        valid[i] =
            solvan_calculate_drift(&references[i], &currents[i], &dx[i], &dy[i]) == SOLVAN_OK;
        if (!valid[i]) continue;
        d[i] = sqrt(dx[i] * dx[i] + dy[i] * dy[i]);
        /* A star lost to a NaN or infinite centroid would poison the mean of all. */
        valid[i] = isfinite(d[i]);
        if (!valid[i]) continue;
        sum += d[i];
        valid_count++;
    }
    const int32_t width = currents[0].width, height = currents[0].height;
    const double base_x = base->centroid_x, base_y = base->centroid_y;
    result->algorithm = SOLVAN_DIGEST_CENTROID;
    result->width = width;
    result->height = height;
    result->centroid_x = base_x;
    result->centroid_y = base_y;
    if (valid_count == 0) return SOLVAN_NO_STAR;

    const double average = sum / valid_count;
    double squares = 0;
    for (int i = 0; i < count; i++)
        if (valid[i]) squares += (average - d[i]) * (average - d[i]);
    const double deviation = sqrt(squares / valid_count);
    solvan_debug("%s: average = %.4f stddev = %.4f", name, average, deviation);

    int used = 0;
    double sum_x = 0, sum_y = 0;
    for (int i = 0; i < count; i++) {
        if (!valid[i]) continue;
        if (valid_count >= 3 && !(fabs(average - d[i]) <= 1.5 * deviation)) {
            solvan_debug("%s: -- Skip star [%d] drift = %.4f", name, i, d[i]);
            continue;
        }
        solvan_debug("%s: ++ Used star [%d] drift = %.4f", name, i, d[i]);
        sum_x += dx[i];
        sum_y += dy[i];
        used++;
    }
    if (used == 0) return SOLVAN_NO_STAR;
    const double mean_x = sum_x / used, mean_y = sum_y / used;
    result->centroid_x = base_x + mean_x;
    result->centroid_y = base_y + mean_y;
    solvan_debug(
        "%s: == Result using %d of %d stars. Drifts = ( %.3f, %.3f ) digest = ( %.3f, "
        "%.3f )",
        name, used, count, mean_x, mean_y, result->centroid_x, result->centroid_y);
    return SOLVAN_OK;
}

double solvan_guider_reponse(double p, double i, double k, double drift, double avg_drift) {
    const double response = -(p * drift + i * avg_drift * k);
    solvan_debug("%s(): P = %.4f, I = %.4f, response = %.4f, drift = %.4f, avg_drift = %.4f",
                 "solvan_guider_reponse", p, i, response, drift, avg_drift);
    return response;
}

int solvan_delete_digest(solvan_digest* digest) {
    if (digest == NULL) return SOLVAN_FAILED;
    if (digest->algorithm == SOLVAN_DIGEST_DONUTS) {
        free(digest->fft_x);
        free(digest->fft_y);
    }
    digest->algorithm = SOLVAN_DIGEST_NONE;
    digest->width = 0;
    digest->height = 0;
    return SOLVAN_OK;
}

// Real FFT by packing even and odd samples into one complex FFT of half the length (radix 2, decimation
// in time) and separating the two spectra afterwards.
#include "dsp/RealFft.h"

#include <cmath>
#include <numbers>

namespace nx {

void RealFft::prepare(int size) {
    n_ = size;
    const int half = size / 2;
    workRe_.assign(static_cast<size_t>(half), 0.0);
    workIm_.assign(static_cast<size_t>(half), 0.0);

    stageRe_.assign(static_cast<size_t>(half), 0.0);
    stageIm_.assign(static_cast<size_t>(half), 0.0);
    for (int span = 2; span <= half; span <<= 1) {
        for (int k = 0; k < span / 2; ++k) {
            const double a = -2.0 * std::numbers::pi * k / span;
            stageRe_[static_cast<size_t>(span / 2 - 1 + k)] = std::cos(a);
            stageIm_[static_cast<size_t>(span / 2 - 1 + k)] = std::sin(a);
        }
    }
    splitRe_.resize(static_cast<size_t>(half));
    splitIm_.resize(static_cast<size_t>(half));
    for (int k = 0; k < half; ++k) {
        const double a = -2.0 * std::numbers::pi * k / size;
        splitRe_[static_cast<size_t>(k)] = std::cos(a);
        splitIm_[static_cast<size_t>(k)] = std::sin(a);
    }

    bitReverse_.resize(static_cast<size_t>(half));
    int bits = 0;
    while ((1 << bits) < half) ++bits;
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (1 << b)) r |= 1 << (bits - 1 - b);
        bitReverse_[static_cast<size_t>(i)] = r;
    }
}

void RealFft::transform(const double* in, double* re, double* im) noexcept {
    const int half = n_ / 2;
    double* zr = workRe_.data();
    double* zi = workIm_.data();
    const int* rev = bitReverse_.data();
    for (int i = 0; i < half; ++i) {
        zr[rev[i]] = in[2 * i];
        zi[rev[i]] = in[2 * i + 1];
    }
    // First stage: span 2, twiddle 1.
    for (int i = 0; i + 1 < half; i += 2) {
        const double ur = zr[i], ui = zi[i], vr = zr[i + 1], vi = zi[i + 1];
        zr[i] = ur + vr;
        zi[i] = ui + vi;
        zr[i + 1] = ur - vr;
        zi[i + 1] = ui - vi;
    }
    for (int span = 4; span <= half; span <<= 1) {
        const int h = span / 2;
        const double* wr = stageRe_.data() + (h - 1);
        const double* wi = stageIm_.data() + (h - 1);
        for (int start = 0; start < half; start += span) {
            double* ar = zr + start;
            double* ai = zi + start;
            double* br = ar + h;
            double* bi = ai + h;
            for (int k = 0; k < h; ++k) {
                const double vr = wr[k] * br[k] - wi[k] * bi[k];
                const double vi = wr[k] * bi[k] + wi[k] * br[k];
                const double ur = ar[k], ui = ai[k];
                ar[k] = ur + vr;
                ai[k] = ui + vi;
                br[k] = ur - vr;
                bi[k] = ui - vi;
            }
        }
    }
    // Split: E[k] = (Z[k] + conj(Z[h-k])) / 2, O[k] = (Z[k] - conj(Z[h-k])) / 2i, X[k] = E[k] + W^k O[k].
    re[0] = zr[0] + zi[0];
    im[0] = 0.0;
    re[half] = zr[0] - zi[0];
    im[half] = 0.0;
    for (int k = 1; k < half; ++k) {
        const double ar = zr[k], ai = zi[k];
        const double br = zr[half - k], bi = -zi[half - k]; // conj(Z[h-k])
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai + bi);
        const double dr = ar - br, di = ai - bi;
        const double orr = 0.5 * di, oi = -0.5 * dr; // (a - b) / 2i
        re[k] = er + splitRe_[static_cast<size_t>(k)] * orr - splitIm_[static_cast<size_t>(k)] * oi;
        im[k] = ei + splitRe_[static_cast<size_t>(k)] * oi + splitIm_[static_cast<size_t>(k)] * orr;
    }
}

} // namespace nx

// Real FFT by packing even and odd samples into one complex FFT of half the length (radix 2, decimation
// in time) and separating the two spectra afterwards.
#include "dsp/RealFft.h"

#include <cmath>
#include <numbers>

namespace nx {

namespace {
// Plain product: std::complex's operator* takes a slow path to handle infinities, which is not wanted here.
inline std::complex<double> mul(std::complex<double> a, std::complex<double> b) noexcept {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
} // namespace

void RealFft::prepare(int size) {
    n_ = size;
    const int half = size / 2;
    work_.assign(static_cast<size_t>(half), {});
    twiddle_.resize(static_cast<size_t>(half));
    for (int k = 0; k < half; ++k) {
        const double a = -2.0 * std::numbers::pi * k / size;
        twiddle_[static_cast<size_t>(k)] = {std::cos(a), std::sin(a)};
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

void RealFft::transform(const double* in, std::complex<double>* out) noexcept {
    const int half = n_ / 2;
    std::complex<double>* z = work_.data();
    for (int i = 0; i < half; ++i) {
        const int j = bitReverse_[static_cast<size_t>(i)];
        z[j] = {in[2 * i], in[2 * i + 1]};
    }
    // Complex FFT of half the length; the twiddle of a span-L stage is the full-size table at stride
    // size / L.
    for (int span = 2; span <= half; span <<= 1) {
        const int step = n_ / span;
        const int h = span / 2;
        for (int start = 0; start < half; start += span) {
            for (int k = 0; k < h; ++k) {
                const std::complex<double> w = twiddle_[static_cast<size_t>(k * step)];
                const std::complex<double> u = z[start + k];
                const std::complex<double> v = mul(w, z[start + k + h]);
                z[start + k] = u + v;
                z[start + k + h] = u - v;
            }
        }
    }
    // Split: E[k] = (Z[k] + conj(Z[h-k])) / 2, O[k] = (Z[k] - conj(Z[h-k])) / 2i, X[k] = E[k] + W^k O[k].
    out[0] = {z[0].real() + z[0].imag(), 0.0};
    out[half] = {z[0].real() - z[0].imag(), 0.0};
    for (int k = 1; k < half; ++k) {
        const std::complex<double> a = z[k];
        const std::complex<double> b = std::conj(z[half - k]);
        const std::complex<double> even = 0.5 * (a + b);
        const std::complex<double> d = a - b;
        const std::complex<double> odd = {0.5 * d.imag(), -0.5 * d.real()};
        out[k] = even + mul(twiddle_[static_cast<size_t>(k)], odd);
    }
}

} // namespace nx

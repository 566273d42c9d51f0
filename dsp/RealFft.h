// Forward FFT of a real, power-of-two-length sequence in double precision, done as one complex FFT of
// half the length. Used by the pitch tracker for its autocorrelation. prepare() allocates; transform()
// allocates nothing and may run on any single thread (one object per thread).
#pragma once

#include <complex>
#include <vector>

namespace nx {

class RealFft {
public:
    // size: a power of two, at least 4. Sizes the tables; allocates.
    void prepare(int size);
    int size() const noexcept { return n_; }

    // in: size() real samples. out: size()/2 + 1 bins, out[k] = sum_j in[j] * exp(-2*pi*i*j*k/size).
    void transform(const double* in, std::complex<double>* out) noexcept;

private:
    int n_ = 0;
    std::vector<std::complex<double>> work_;    // size/2 points of the packed complex FFT
    std::vector<std::complex<double>> twiddle_; // exp(-2*pi*i*k/size), k = 0..size/2-1
    std::vector<int> bitReverse_;               // permutation of size/2 points
};

} // namespace nx

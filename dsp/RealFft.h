// Forward FFT of a real, power-of-two-length sequence in double precision, done as one complex FFT of
// half the length. Used by the pitch tracker for its autocorrelation. prepare() allocates; transform()
// allocates nothing and may run on any single thread (one object per thread).
#pragma once

#include <vector>

namespace nx {

class RealFft {
public:
    // size: a power of two, at least 4. Sizes the tables; allocates.
    void prepare(int size);
    int size() const noexcept { return n_; }

    // in: size() real samples. re, im: size()/2 + 1 bins each,
    // re[k] + i im[k] = sum_j in[j] * exp(-2 pi i j k / size).
    void transform(const double* in, double* re, double* im) noexcept;

private:
    int n_ = 0;
    // Work arrays of the half-length complex FFT, real and imaginary parts apart so that the butterfly
    // loops run over contiguous memory.
    std::vector<double> workRe_, workIm_;
    // Twiddles of each stage, contiguous per stage: the stage of span L uses entries L/2 - 1 .. L - 2,
    // exp(-2 pi i k / L) for k = 0 .. L/2 - 1.
    std::vector<double> stageRe_, stageIm_;
    // exp(-2 pi i k / size), k = 0 .. size/2 - 1, for separating the two packed real spectra.
    std::vector<double> splitRe_, splitIm_;
    std::vector<int> bitReverse_; // permutation of size/2 points
};

} // namespace nx

// Carries one host audio block into PluginBase::ProcessBlock: 32-bit host buffers are converted to the
// double work buffers sized in Prepare, and a host block longer than the prepared maximum is processed in
// pieces of at most that size. Prepare runs on the host's set-up thread; Process on the audio thread,
// where it allocates nothing and takes no lock (except once, when the host never made its set-up call).
#pragma once

#include "framework/PluginBase.h"

#include <vector>

namespace nx {

class AudioBridge {
public:
    static constexpr int kMaxChannels = 2;

    // Sizes the work buffers for blocks of up to maxFrames (values below 1 count as 4096).
    void Prepare(int maxFrames);
    int PreparedFrames() const { return mMaxFrames; }

    // inputs/outputs hold nIn/nOut host channel pointers (any of them may be null; counts above 2 are
    // cut to 2). The plug-in sees two pointers per side, null for a channel that is not connected.
    // With bypassed set, input is copied to output and the plug-in is not called.
    void Process(PluginBase& plug, float* const* inputs, int nIn, float* const* outputs, int nOut,
                 int nFrames, bool bypassed);
    void Process(PluginBase& plug, double* const* inputs, int nIn, double* const* outputs, int nOut,
                 int nFrames, bool bypassed);

    // Input to output as it stands: output channel c takes input c, or input 0 when the host gives fewer
    // inputs (mono to stereo), or silence when there is no input at all. In-place channels are left alone.
    template <typename T>
    static void CopyThrough(T* const* inputs, int nIn, T* const* outputs, int nOut, int nFrames);

private:
    std::vector<double> mIn[kMaxChannels];
    std::vector<double> mOut[kMaxChannels];
    int mMaxFrames = 0;
};

} // namespace nx

// Block splitting and sample-size conversion between a host's audio buffers and ProcessBlock.
#include "framework/AudioBridge.h"

#include <algorithm>
#include <cstring>

namespace nx {

namespace {

// The plug-in's maximum block; one below 1 means the plug-in prepared for its default of 4096.
int EffectiveBlockSize(const PluginBase& plug) {
    const int n = plug.GetBlockSize();
    return n < 1 ? 4096 : n;
}

} // namespace

void AudioBridge::Prepare(int maxFrames) {
    if (maxFrames < 1) maxFrames = 4096;
    for (int c = 0; c < kMaxChannels; ++c) {
        mIn[c].assign(static_cast<size_t>(maxFrames), 0.0);
        mOut[c].assign(static_cast<size_t>(maxFrames), 0.0);
    }
    mMaxFrames = maxFrames;
}

template <typename T>
void AudioBridge::CopyThrough(T* const* inputs, int nIn, T* const* outputs, int nOut, int nFrames) {
    if (!outputs || nFrames < 1) return;
    for (int c = 0; c < nOut; ++c) {
        T* out = outputs[c];
        if (!out) continue;
        const T* in = nullptr;
        if (inputs && c < nIn)
            in = inputs[c];
        else if (inputs && nIn > 0)
            in = inputs[0];
        if (in == out) continue;
        if (in)
            std::memmove(out, in, sizeof(T) * static_cast<size_t>(nFrames));
        else
            std::memset(out, 0, sizeof(T) * static_cast<size_t>(nFrames));
    }
}

template void AudioBridge::CopyThrough<float>(float* const*, int, float* const*, int, int);
template void AudioBridge::CopyThrough<double>(double* const*, int, double* const*, int, int);

void AudioBridge::Process(PluginBase& plug, double* const* inputs, int nIn, double* const* outputs, int nOut,
                          int nFrames, bool bypassed) {
    if (nFrames < 1) return;
    if (bypassed) {
        CopyThrough(inputs, nIn, outputs, nOut, nFrames);
        return;
    }
    nIn = inputs ? std::clamp(nIn, 0, kMaxChannels) : 0;
    nOut = outputs ? std::clamp(nOut, 0, kMaxChannels) : 0;
    const int piece = EffectiveBlockSize(plug);
    for (int done = 0; done < nFrames; done += piece) {
        const int n = std::min(piece, nFrames - done);
        double* ins[kMaxChannels] = {nullptr, nullptr};
        double* outs[kMaxChannels] = {nullptr, nullptr};
        for (int c = 0; c < nIn; ++c) ins[c] = inputs[c] ? inputs[c] + done : nullptr;
        for (int c = 0; c < nOut; ++c) outs[c] = outputs[c] ? outputs[c] + done : nullptr;
        plug.ProcessBlock(ins, outs, n);
    }
}

void AudioBridge::Process(PluginBase& plug, float* const* inputs, int nIn, float* const* outputs, int nOut,
                          int nFrames, bool bypassed) {
    if (nFrames < 1) return;
    if (bypassed) {
        CopyThrough(inputs, nIn, outputs, nOut, nFrames);
        return;
    }
    // A host that never made its set-up call: the first block prepares, once, as the plug-in itself
    // does in that case.
    if (mMaxFrames < 1) Prepare(plug.GetBlockSize());
    nIn = inputs ? std::clamp(nIn, 0, kMaxChannels) : 0;
    nOut = outputs ? std::clamp(nOut, 0, kMaxChannels) : 0;
    const int piece = std::min(mMaxFrames, EffectiveBlockSize(plug));
    for (int done = 0; done < nFrames; done += piece) {
        const int n = std::min(piece, nFrames - done);
        double* ins[kMaxChannels] = {nullptr, nullptr};
        double* outs[kMaxChannels] = {nullptr, nullptr};
        // Every input is read before any output is written: hosts may process in place.
        for (int c = 0; c < nIn; ++c) {
            if (!inputs[c]) continue;
            const float* src = inputs[c] + done;
            double* dst = mIn[c].data();
            for (int k = 0; k < n; ++k) dst[k] = static_cast<double>(src[k]);
            ins[c] = dst;
        }
        for (int c = 0; c < nOut; ++c) {
            if (!outputs[c]) continue;
            // An output the plug-in leaves unwritten carries the input, as an in-place host would see it.
            const double* src = (c < nIn && ins[c]) ? ins[c] : (ins[0] ? ins[0] : nullptr);
            if (src)
                std::memcpy(mOut[c].data(), src, sizeof(double) * static_cast<size_t>(n));
            else
                std::memset(mOut[c].data(), 0, sizeof(double) * static_cast<size_t>(n));
            outs[c] = mOut[c].data();
        }
        plug.ProcessBlock(ins, outs, n);
        for (int c = 0; c < nOut; ++c) {
            if (!outputs[c]) continue;
            const double* src = mOut[c].data();
            float* dst = outputs[c] + done;
            for (int k = 0; k < n; ++k) dst[k] = static_cast<float>(src[k]);
        }
    }
}

} // namespace nx

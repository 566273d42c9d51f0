// Audio files for the tools through libsndfile: a reader that hands out blocks of stereo float (mono
// files duplicated, silence after the end) and a writer of stereo float files chosen by extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace nx::tools {

class AudioReader {
public:
    AudioReader() = default;
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    // False with a one-line reason for a missing, unreadable or unsupported file (more than 2 channels).
    bool open(const std::string& path, std::string& error);
    double sampleRate() const { return mRate; }
    int channels() const { return mChannels; }
    int64_t frames() const { return mFrames; }
    // Fills n frames of left and right; after the end of the file, silence.
    void read(float* left, float* right, int n);

private:
    SNDFILE* mFile = nullptr;
    double mRate = 0;
    int mChannels = 0;
    int64_t mFrames = 0;
    bool mEnded = false;
    std::vector<float> mInterleaved;
};

class AudioWriter {
public:
    AudioWriter() = default;
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Stereo at sampleRate: .wav and .aif/.aiff as 32-bit float, .flac as 24-bit. False with a reason.
    bool open(const std::string& path, double sampleRate, std::string& error);
    bool write(const float* left, const float* right, int n, std::string& error);
    // Flushes and closes; false with a reason when the file could not be completed.
    bool close(std::string& error);

private:
    SNDFILE* mFile = nullptr;
    std::string mPath;
    std::vector<float> mInterleaved;
};

// Writes a whole stereo buffer (used by the demo synthesiser).
bool writeStereoFile(const std::string& path, double sampleRate, const std::vector<float>& left,
                     const std::vector<float>& right, std::string& error);

} // namespace nx::tools

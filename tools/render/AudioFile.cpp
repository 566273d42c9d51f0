// libsndfile readers and writers for the tools (see AudioFile.h).
#include "tools/render/AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace nx::tools {

AudioReader::~AudioReader() {
    if (mFile) sf_close(mFile);
}

bool AudioReader::open(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "'" + path + "' is a directory, not an audio file";
        return false;
    }
    SF_INFO info{};
    mFile = sf_open(path.c_str(), SFM_READ, &info);
    if (!mFile) {
        error = "cannot read '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        error =
            "'" + path + "' has " + std::to_string(info.channels) + " channels; mono or stereo files only";
        return false;
    }
    if (info.samplerate <= 0) {
        error = "'" + path + "' has no valid sample rate";
        return false;
    }
    mRate = info.samplerate;
    mChannels = info.channels;
    mFrames = info.frames;
    return true;
}

void AudioReader::read(float* left, float* right, int n) {
    int got = 0;
    if (mFile && !mEnded) {
        mInterleaved.resize(size_t(n) * size_t(mChannels));
        got = int(sf_readf_float(mFile, mInterleaved.data(), n));
        if (got < n) mEnded = true;
    }
    for (int k = 0; k < got; ++k) {
        float l = mInterleaved[size_t(k) * size_t(mChannels)];
        float r = mChannels == 2 ? mInterleaved[size_t(k) * 2 + 1] : l;
        // A damaged file can decode to non-finite values; the render treats them as silence.
        left[k] = std::isfinite(l) ? l : 0.0f;
        right[k] = std::isfinite(r) ? r : 0.0f;
    }
    std::fill(left + got, left + n, 0.0f);
    std::fill(right + got, right + n, 0.0f);
}

AudioWriter::~AudioWriter() {
    if (mFile) sf_close(mFile);
}

namespace {
std::string lowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string e = path.substr(dot + 1);
    for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
    return e;
}
} // namespace

bool AudioWriter::open(const std::string& path, double sampleRate, std::string& error) {
    const std::string ext = lowerExtension(path);
    SF_INFO info{};
    if (ext == "wav")
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    else if (ext == "aif" || ext == "aiff")
        info.format = SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
    else if (ext == "flac")
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    else {
        error = "cannot write '" + path + "': the output must end in .wav, .flac, .aif or .aiff";
        return false;
    }
    info.channels = 2;
    info.samplerate = int(std::lround(sampleRate));
    if (!sf_format_check(&info)) {
        error = "cannot write '" + path + "' at " + std::to_string(info.samplerate) + " Hz in this format";
        return false;
    }
    mFile = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!mFile) {
        error = "cannot write '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    // FLAC is integer: clip instead of wrapping around.
    sf_command(mFile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    mPath = path;
    return true;
}

bool AudioWriter::write(const float* left, const float* right, int n, std::string& error) {
    mInterleaved.resize(size_t(n) * 2);
    for (int k = 0; k < n; ++k) {
        mInterleaved[size_t(k) * 2] = left[k];
        mInterleaved[size_t(k) * 2 + 1] = right[k];
    }
    if (sf_writef_float(mFile, mInterleaved.data(), n) != n) {
        error = "cannot write '" + mPath + "': " + sf_strerror(mFile);
        return false;
    }
    return true;
}

bool AudioWriter::close(std::string& error) {
    if (!mFile) return true;
    sf_write_sync(mFile);
    const int rc = sf_close(mFile);
    mFile = nullptr;
    if (rc != 0) {
        error = "cannot finish '" + mPath + "': " + sf_error_number(rc);
        return false;
    }
    return true;
}

bool writeStereoFile(const std::string& path, double sampleRate, const std::vector<float>& left,
                     const std::vector<float>& right, std::string& error) {
    AudioWriter w;
    if (!w.open(path, sampleRate, error)) return false;
    const size_t n = std::min(left.size(), right.size());
    constexpr size_t kChunk = 65536;
    for (size_t pos = 0; pos < n; pos += kChunk)
        if (!w.write(left.data() + pos, right.data() + pos, int(std::min(kChunk, n - pos)), error))
            return false;
    return w.close(error);
}

} // namespace nx::tools

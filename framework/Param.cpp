// Parameter description, value constraint, normalisation and display text.
// Conversions use std::to_chars / std::from_chars so that the host's locale never changes the texts.
#include "framework/Param.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace nx {

namespace {

// Number of decimals a display needs to show a value at the given step: 0.001 -> 3, 0.1 -> 1, 1 -> 0.
int DecimalsForStep(double step) {
    if (!(step > 0.0) || !std::isfinite(step)) return 3;
    int decimals = 0;
    double scaled = step;
    while (decimals < 6 && std::fabs(scaled - std::round(scaled)) > 1e-9 * std::max(1.0, std::fabs(scaled))) {
        scaled *= 10.0;
        ++decimals;
    }
    return decimals;
}

} // namespace

void Param::InitDouble(const char* name, double defaultValue, double minValue, double maxValue, double step,
                       const char* label) {
    mName = name ? name : "";
    mLabel = label ? label : "";
    mType = Type::Double;
    mMin = std::min(minValue, maxValue);
    mMax = std::max(minValue, maxValue);
    mStep = (step > 0.0 && std::isfinite(step)) ? step : 0.001;
    mDefault = std::isfinite(defaultValue) ? std::clamp(defaultValue, mMin, mMax) : mMin;
    mValue.store(mDefault, std::memory_order_relaxed);
}

void Param::InitInt(const char* name, int defaultValue, int minValue, int maxValue, const char* label) {
    mName = name ? name : "";
    mLabel = label ? label : "";
    mType = Type::Int;
    mMin = static_cast<double>(std::min(minValue, maxValue));
    mMax = static_cast<double>(std::max(minValue, maxValue));
    mStep = 1.0;
    mDefault = std::clamp(static_cast<double>(defaultValue), mMin, mMax);
    mValue.store(mDefault, std::memory_order_relaxed);
}

double Param::Constrain(double value) const {
    if (std::isnan(value)) return mDefault;
    if (IsStepped()) value = std::round(value / mStep) * mStep; // std::round: halves away from zero
    return std::clamp(value, mMin, mMax);
}

double Param::ToNormalized(double value) const {
    const double range = mMax - mMin;
    if (!(range > 0.0)) return 0.0;
    const double n = (Constrain(value) - mMin) / range;
    return std::clamp(n, 0.0, 1.0);
}

double Param::FromNormalized(double normalized) const {
    if (std::isnan(normalized)) return mDefault;
    const double n = std::clamp(normalized, 0.0, 1.0);
    return Constrain(mMin + n * (mMax - mMin));
}

int Param::GetStepCount() const {
    return IsStepped() ? static_cast<int>(std::lround((mMax - mMin) / mStep)) : 0;
}

std::string Param::DisplayText(double value) const {
    value = Constrain(value);
    const int decimals = IsStepped() ? 0 : DecimalsForStep(mStep);
    // A value that shows as zero is printed without a sign ("0.0", never "-0.0").
    const double scale = std::pow(10.0, decimals);
    if (std::round(std::fabs(value) * scale) == 0.0) value = 0.0;
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return std::string();
    return std::string(buf, result.ptr);
}

bool Param::FromDisplayText(const char* text, double& value) const {
    if (!text) return false;
    const char* p = text;
    const char* end = text + std::strlen(text);
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p < end && *p == '+') ++p; // from_chars accepts a leading minus only
    double parsed = 0.0;
    const auto result = std::from_chars(p, end, parsed, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr == p || !std::isfinite(parsed)) return false;
    value = Constrain(parsed);
    return true;
}

} // namespace nx

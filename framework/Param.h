// One host-visible parameter: range, step, default, label and the current value as an atomic double.
// Any thread may read or write the value; the description fields are fixed after initialisation.
#pragma once

#include <atomic>
#include <string>

namespace nx {

class Param {
public:
    enum class Type { Double, Int };

    // Double parameter (not stepped; the step is a display and editing granularity).
    void InitDouble(const char* name, double defaultValue, double minValue, double maxValue, double step,
                    const char* label = "");
    // Integer parameter: stepped with step 1.
    void InitInt(const char* name, int defaultValue, int minValue, int maxValue, const char* label = "");

    // Stepped parameters are rounded to the nearest multiple of the step (halves away from zero), then
    // every value is clamped to [min, max]. A NaN becomes the default.
    double Constrain(double value) const;

    double Value() const { return mValue.load(std::memory_order_relaxed); }
    int Int() const { return static_cast<int>(Value()); } // truncation toward zero
    bool Bool() const { return Value() >= 0.5; }
    // Stores Constrain(value).
    void Set(double value) { mValue.store(Constrain(value), std::memory_order_relaxed); }
    void SetToDefault() { Set(mDefault); }

    // Linear mapping between the range and 0..1 (the argument is clamped to 0..1 first).
    double ToNormalized(double value) const;
    double FromNormalized(double normalized) const;
    double GetNormalized() const { return ToNormalized(Value()); }
    void SetNormalized(double normalized) { Set(FromNormalized(normalized)); }

    // Display text of a value (integers without decimals, doubles with as many decimals as the step
    // needs), and parsing such a text back (leading number; false when there is none or it is not finite).
    std::string DisplayText(double value) const;
    bool FromDisplayText(const char* text, double& value) const;

    const char* GetName() const { return mName.c_str(); }
    const char* GetLabel() const { return mLabel.c_str(); }
    Type GetType() const { return mType; }
    bool IsStepped() const { return mType == Type::Int; }
    double GetMin() const { return mMin; }
    double GetMax() const { return mMax; }
    double GetStep() const { return mStep; }
    double GetDefault() const { return mDefault; }
    double GetDefaultNormalized() const { return ToNormalized(mDefault); }
    // Number of discrete steps for stepped parameters (max - min), 0 for continuous ones.
    int GetStepCount() const;

private:
    std::string mName;
    std::string mLabel;
    Type mType = Type::Double;
    double mMin = 0.0, mMax = 1.0, mDefault = 0.0, mStep = 0.001;
    std::atomic<double> mValue{0.0};
};

} // namespace nx

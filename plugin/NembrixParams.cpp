// The parameter table and the preset keys. Constant data; any thread.
#include "plugin/NembrixParams.h"

namespace nx {
namespace {

constexpr ParamSpec kParamTable[kNumParams] = {
    {"XYx", "XYx", false, 0.0, 1.0, 0.5, 0.001, ""},
    {"XYy", "XYy", false, 0.0, 1.0, 0.5, 0.001, ""},
    {"HarmonicLevel", "Harmonic Trim", false, -24.0, 24.0, 0.0, 0.1, "dB"},
    {"RhythmicLevel", "Rhythmic Trim", false, -24.0, 24.0, 0.0, 0.1, "dB"},
    {"WashLevel", "Wash Trim", false, -24.0, 24.0, 0.0, 0.1, "dB"},
    {"ReturnLevel", "Return Trim", false, -24.0, 24.0, 0.0, 0.1, "dB"},
    {"DryWet", "Dry/Wet", false, 0.0, 1.0, 1.0, 0.001, ""},
    {"HP", "HP", false, 20.0, 2000.0, 60.0, 1.0, "Hz"},
    {"LP", "LP", false, 1000.0, 20000.0, 10000.0, 1.0, "Hz"},
    {"Mode", "Mode", true, 0.0, 1.0, 0.0, 1.0, ""},
    {"LinkSlot", "LinkSlot", true, 0.0, 4.0, 0.0, 1.0, ""},
    {"Wow", "Wow", false, 0.0, 1.0, 0.0, 0.001, ""},
    {"Bypass", "Bypass", true, 0.0, 1.0, 0.0, 1.0, ""},
    {"Character", "Character", false, 0.0, 1.0, 0.5, 0.001, ""},
    {"Saturation", "Saturation", false, 0.0, 1.0, 0.0, 0.001, ""},
    {"Darkness", "Darkness", false, 0.0, 1.0, 0.0, 0.001, ""},
    {"Ducking", "Ducking", false, 0.0, 1.0, 0.0, 0.001, ""},
    {"StereoWidth", "Stereo Width", false, 0.0, 2.0, 1.0, 0.001, ""},
    {"PredelayMs", "Predelay", false, 0.0, 600.0, 0.0, 0.1, "ms"},
    {"WashLp", "Wash LP", false, 1000.0, 15000.0, 5000.0, 1.0, "Hz"},
    {"Freeze", "Freeze", false, 0.0, 1.0, 0.0, 0.001, ""},
    {"FreezeTonality", "Freeze Tone", false, 1.0, 15.0, 5.0, 0.1, ""},
    {"RootNote", "Root Note", true, -1.0, 127.0, -1.0, 1.0, ""},
};

constexpr const char* kNames[kNumParams] = {
    kParamTable[0].key,  kParamTable[1].key,  kParamTable[2].key,  kParamTable[3].key,  kParamTable[4].key,
    kParamTable[5].key,  kParamTable[6].key,  kParamTable[7].key,  kParamTable[8].key,  kParamTable[9].key,
    kParamTable[10].key, kParamTable[11].key, kParamTable[12].key, kParamTable[13].key, kParamTable[14].key,
    kParamTable[15].key, kParamTable[16].key, kParamTable[17].key, kParamTable[18].key, kParamTable[19].key,
    kParamTable[20].key, kParamTable[21].key, kParamTable[22].key,
};

} // namespace

const ParamSpec* ParamTable() {
    return kParamTable;
}
const char* const* ParamNames() {
    return kNames;
}

} // namespace nx

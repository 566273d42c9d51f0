// The parameter keys in table order, as the plug-in passes them to the preset store. Shared by the
// preset tests and the reader's fuzz target.
#pragma once

namespace nxtest {

inline const char* const kKeys[23] = {"XYx",
                                      "XYy",
                                      "HarmonicLevel",
                                      "RhythmicLevel",
                                      "WashLevel",
                                      "ReturnLevel",
                                      "DryWet",
                                      "HP",
                                      "LP",
                                      "Mode",
                                      "LinkSlot",
                                      "Wow",
                                      "Bypass",
                                      "Character",
                                      "Saturation",
                                      "Darkness",
                                      "Ducking",
                                      "StereoWidth",
                                      "PredelayMs",
                                      "WashLp",
                                      "Freeze",
                                      "FreezeTonality",
                                      "RootNote"};

} // namespace nxtest

// Hint texts shown in the status line for the hovered control.
#include "ui/UIHints.h"

#include "ui/NembrixUI.h"

#include <cstdio>

namespace nx {

const Hint* hintFor(int id) {
    static const Hint kMain[21] = {
        {"XY morph", "Blend between the 4 phantom characters (Whisper, Poltergeist, Abyss, Monolith)."},
        {"Harmonic trim", "Boost or cut the harmonic engine on top of the XY anchor (\xC2\xB1"
                          "24 dB)."},
        {"Rhythmic trim", "Boost or cut the rhythmic-echo engine on top of the XY anchor (\xC2\xB1"
                          "24 dB)."},
        {"Wash trim", "Boost or cut the spectral-wash engine on top of the XY anchor (\xC2\xB1"
                      "24 dB)."},
        {"Return level", "How much of the phantom mix returns into the dry signal (\xC2\xB1"
                         "24 dB)."},
        {"Dry / Wet", "0 % = dry only, 100 % = dry + full phantom layer added on top."},
        {"HP filter", "Global high-pass on the phantom output."},
        {"LP filter", "Global low-pass on the phantom output."},
        {"Wow", "Tape-style wow modulation on the wash layer (BPM-synced when host gives a tempo)."},
        {"Mode RECV / SEND",
         "RECV = receive peers and add phantom. SEND = push the dry to SHM only, no audio modification."},
        {"Instance name", "Click to rename this instance (visible to other Nembrix peers)."},
        {"Linked peers", "Click to open the peer list \xE2\x80\x94 mute / unmute each linked instance."},
        {"Bypass", "Plugin-internal bypass \xE2\x80\x94 output equals input."},
        {"Studio mode", "Click to toggle the diagnostic overlay below the pad."},
        {"Resize", "Drag to scale the plugin window."},
        {"Snap to grid", "Round XY drag positions to the nearest 1/8."},
        {"Advanced", "Show the per-engine override panel."},
        {"Previous preset", "Step backward through the preset list."},
        {"Preset browser", "Click to open the preset dropdown."},
        {"Next preset", "Step forward through the preset list."},
        {"Save preset", "Save the current state as a user preset on disk."},
    };
    static const Hint kRoot = {"Wash root note",
                               "Auto follows the detected pitch. Click to lock to a specific MIDI note."};
    static const Hint kKnobs[9] = {
        {"Character", "Engine vibrato depth + harmonic motion (0..1). Override sticky on touch."},
        {"Saturation", "Tape-style asymmetric drive on the phantom output (0..1)."},
        {"Darkness", "High-shelf cut @ 2 kHz on the phantom (0..1)."},
        {"Ducking", "Inverse sidechain from the dry envelope \xE2\x80\x94 phantom ducks when dry is loud."},
        {"Stereo width", "Haas decorrelation, 0 = mono, 2 = wide."},
        {"Predelay", "Phantom delay before mixing into the dry, ms."},
        {"Wash LP", "Spectral-wash internal low-pass cutoff."},
        {"Freeze", "Tonal freeze tail \xE2\x80\x94 amount of resynth at grain expiry."},
        {"Freeze tone", "Magnitude / mean gate above which the freeze fires (1..15)."},
    };
    if (id >= 0 && id <= ctl::kSave) return &kMain[id];
    if (id == ctl::kRootBox) return &kRoot;
    if (id >= ctl::kKnob && id < ctl::kKnob + 9) return &kKnobs[id - ctl::kKnob];
    return nullptr;
}

std::string faderValueText(bool isDryWet, double value) {
    char buf[32];
    if (isDryWet)
        std::snprintf(buf, sizeof buf, "%.0f%%", value * 100.0);
    else
        std::snprintf(buf, sizeof buf, "%+.1f", value);
    return buf;
}

std::string sliderValueText(bool isWow, double value) {
    char buf[32];
    if (isWow)
        std::snprintf(buf, sizeof buf, "%.0f%%", value * 100.0);
    else if (value >= 1000.0)
        std::snprintf(buf, sizeof buf, "%.1f kHz", value / 1000.0);
    else
        std::snprintf(buf, sizeof buf, "%.0f Hz", value);
    return buf;
}

std::string noteName(int note) {
    static const char* const kPitch[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    if (note < 0) note = 0;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%d", kPitch[note % 12], note / 12 - 1);
    return buf;
}

} // namespace nx

// Status-line hints of the editor's controls and the note names of the root-note list. Pure data.
#pragma once

#include <string>

namespace nx {

struct Hint {
    const char* title;
    const char* description;
};

// The hint of a control id, or null for ids without one (popup rows, dialog buttons, none).
const Hint* hintFor(int id);

// Value texts of the faders ("50%" for the dry/wet amount, "+6.0" for the dB trims) and of the
// horizontal sliders ("20 Hz", "12.0 kHz" for the filters, "35%" for the wow).
std::string faderValueText(bool isDryWet, double value);
std::string sliderValueText(bool isWow, double value);

// "C2" for 36, "A4" for 69: pitch class and octave (note / 12 - 1); negative notes count as 0.
std::string noteName(int note);

} // namespace nx

# System dependencies (Debian packages installed by scripts/setup.sh).
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED)

set(NX_VST3_SDK_DIR /usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK
    CACHE PATH "Steinberg VST3 SDK interface headers")
set(NX_DPF_DIR /usr/share/dpf CACHE PATH "DPF sources: CLAP headers, pugl, NanoVG")
set(NX_CLAP_INCLUDE_DIR ${NX_DPF_DIR}/distrho/src)
set(NX_PUGL_DIR ${NX_DPF_DIR}/dgl/src/pugl-upstream)
set(NX_NANOVG_DIR ${NX_DPF_DIR}/dgl/src/nanovg)

find_package(PkgConfig REQUIRED)

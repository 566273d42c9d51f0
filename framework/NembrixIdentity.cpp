// Identity of the Nembrix deliverables, matching the plug-in's configuration record (names, ids, version).
#include "framework/PluginBase.h"
#include "framework/PluginIdentity.h"

namespace nx {

namespace {

const char* const kClapFeatures[] = {"audio-effect", "reverb", nullptr};

PluginIdentity MakeIdentity() {
    PluginIdentity id;
    id.name = "Nembrix";
    id.vendor = "VornAudio";
    id.version = "1.0.0";
    id.mfrId = FourCC("Vorn");
    id.uniqueId = FourCC("Vonx");
    id.vst3SubCategories = "Fx|Modulation";
    id.vst3SdkVersion = "VST 3.8.0";
    id.clapVersion[0] = 1;
    id.clapVersion[1] = 2;
    id.clapVersion[2] = 9;
    id.clapId = "com.VornAudio.Nembrix";
    id.clapDescription = "Multi-instance shared phantom layer plugin";
    id.clapFeatures = kClapFeatures;
    return id;
}

} // namespace

const PluginIdentity& GetPluginIdentity() {
    static const PluginIdentity sIdentity = MakeIdentity();
    return sIdentity;
}

} // namespace nx

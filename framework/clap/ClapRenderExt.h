// The CLAP render extension ("clap.render"), declared here because the installed CLAP headers predate
// it. Layout and values are those of the published clap.render extension; the test host shares it.
#pragma once

#include "clap/plugin.h"

extern "C" {

static constexpr const char NX_CLAP_EXT_RENDER[] = "clap.render";

enum { NX_CLAP_RENDER_REALTIME = 0, NX_CLAP_RENDER_OFFLINE = 1 };
typedef int32_t nx_clap_plugin_render_mode;

typedef struct nx_clap_plugin_render {
    // True when the plug-in can only process in real time.
    bool(CLAP_ABI* has_hard_realtime_requirement)(const clap_plugin_t* plugin);
    // Main thread. True when the mode was applied.
    bool(CLAP_ABI* set)(const clap_plugin_t* plugin, nx_clap_plugin_render_mode mode);
} nx_clap_plugin_render_t;
}

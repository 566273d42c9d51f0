// Keeps X errors on the editors' own display connections from ending the host. Xlib's error handler is
// process-wide and its default exits; while at least one editor connection is registered our handler is
// installed: it swallows errors of registered connections and hands every other error to the handler
// that was installed before it. Called from UI threads.
#pragma once

#include <cstdint>

struct _XDisplay;

namespace nx::xtrap {

// Registers an editor connection (installs the handler for the first one).
void registerDisplay(_XDisplay* display);
// Unregisters it after the connection is closed (restores the previous handler after the last one).
void unregisterDisplay(_XDisplay* display);
// Errors swallowed on editor connections since the process started.
uint64_t swallowedCount();

} // namespace nx::xtrap

// The framework's factory function: one Nembrix per call. The adapters hold FactoryMutex() around it, so
// instances are constructed one at a time. Host threads.
#include "plugin/Nembrix.h"

#include <new>

namespace nx {

PluginBase* CreatePluginInstance() {
    try {
        return new Nembrix();
    } catch (...) {
        return nullptr; // out of memory: the host sees a failed instantiation, never an exception
    }
}

} // namespace nx

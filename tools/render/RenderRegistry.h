// A registry segment private to one render: NEMBRIX_REGISTRY is set to a name unique to this run before
// any module loads, so the render never meets a live session's instances, and the segment (with its
// guard file) is removed when the render ends, on error and on SIGINT/SIGTERM/SIGHUP too; such a signal
// also removes the half-written output file.
#pragma once

#include <string>

namespace nx::tools {

class RenderRegistry {
public:
    // The name is "<prefix>_<pid>_<random>".
    explicit RenderRegistry(const char* prefix = "nembrix_render");
    ~RenderRegistry();
    RenderRegistry(const RenderRegistry&) = delete;
    RenderRegistry& operator=(const RenderRegistry&) = delete;

    const std::string& name() const { return mName; }
    // Removes the segment and its guard file now (idempotent).
    void remove();
    // A file that an interrupting signal removes too (the half-written output); empty to forget it.
    static void removeOnInterrupt(const std::string& path);

private:
    std::string mName;
};

} // namespace nx::tools

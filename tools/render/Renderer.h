// Offline rendering through the built deliverable: one instance in RECV mode on the input, one instance
// in SEND mode per peer file, all processed block by block in lock-step (peers first) on one thread, in
// the host's offline mode, so the same files and settings always give the same output.
#pragma once

#include "tools/render/RenderOptions.h"

#include <functional>
#include <string>

namespace nx::tools {

// Called after each block with the fraction done (0..1].
using ProgressFn = std::function<void(double)>;

// The module a render loads: --plugin, else this build's deliverable, else the installed one. Empty when
// none exists; searched then lists where it looked.
std::string findPlugin(const RenderOptions& options, std::string& searched);

// Runs the whole render. False with a one-line reason; a partly written output file is removed.
bool render(const RenderOptions& options, std::string& error, const ProgressFn& progress = {});

} // namespace nx::tools

// libFuzzer target for the state chunk reader: arbitrary bytes restored into one instance. Whatever the
// bytes, the restore must not crash, every parameter must stay finite and inside its range, the override
// mask inside bits 0..8, and the instance must still write a well-formed 269-byte chunk.
#include "framework/PluginBase.h"
#include "plugin/Nembrix.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "state chunk invariant broken: %s\n", what);
    std::abort();
}

nx::Nembrix* instance() {
    static std::unique_ptr<nx::Nembrix> plug = [] {
        // Never join the user's live registry.
        const std::string name = "nembrix_fuzz_" + std::to_string(getpid());
        setenv("NEMBRIX_REGISTRY", name.c_str(), 1);
        return std::unique_ptr<nx::Nembrix>(static_cast<nx::Nembrix*>(nx::CreatePluginInstance()));
    }();
    return plug.get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nx::Nembrix* plug = instance();
    nx::ByteChunk chunk;
    chunk.PutBytes(data, static_cast<int>(size));
    const int end = plug->UnserializeState(chunk, 0);
    if (end > chunk.Size()) fail("end position past the chunk");

    for (int i = 0; i < plug->NParams(); ++i) {
        const nx::Param* p = plug->GetParam(i);
        const double v = p->Value();
        if (!std::isfinite(v) || v < p->GetMin() || v > p->GetMax()) fail("parameter out of range");
    }
    if (plug->advOverrideMask.load() & ~0x1FFu) fail("override mask beyond bit 8");

    nx::ByteChunk out;
    plug->SerializeState(out);
    if (out.Size() != 269) fail("written chunk is not 269 bytes");
    if (out.GetData()[8 + 63] != 0) fail("instance name not terminated");
    return 0;
}

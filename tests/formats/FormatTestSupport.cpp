// Format test helpers (see FormatTestSupport.h).
#include "tests/formats/FormatTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace nx::test {

namespace {
// Every test process meets only its own instances: a registry segment named after the process, removed
// when the process ends.
struct PrivateRegistry {
    std::string name;
    PrivateRegistry() {
        name = "nx_formats_test_" + std::to_string(getpid());
        setenv("NEMBRIX_REGISTRY", name.c_str(), 1);
    }
    ~PrivateRegistry() {
        shm_unlink(("/" + name).c_str());
        shm_unlink(("/" + name + ".lock").c_str());
    }
};
PrivateRegistry& privateRegistry() {
    static PrivateRegistry r;
    return r;
}
const bool kRegistrySet = !privateRegistry().name.empty();
} // namespace

const std::string& privateRegistryName() {
    return privateRegistry().name;
}

const char* deliverablePath(Format f) {
    return f == Format::Clap ? NX_CLAP_PATH : NX_VST3_PATH;
}
const char* formatName(Format f) {
    return f == Format::Clap ? "Clap" : "Vst3";
}
std::string formatParamName(const ::testing::TestParamInfo<Format>& info) {
    return formatName(info.param);
}

std::unique_ptr<host::PluginHost> openInstance(Format f) {
    (void)kRegistrySet;
    std::string err;
    auto h = host::openPlugin(deliverablePath(f), f, &err);
    EXPECT_TRUE(h) << err;
    return h;
}

int indexOfParam(const host::PluginHost& h, uint32_t pluginParamId) {
    const auto& ps = h.params();
    for (size_t i = 0; i < ps.size(); ++i)
        if (ps[i].id == pluginParamId && !ps[i].isBypass) return int(i);
    return -1;
}

std::vector<double> noise(size_t n, uint32_t seed, double amp) {
    std::vector<double> v(n);
    uint32_t x = seed ? seed : 1;
    for (auto& s : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s = amp * (double(x) / 2147483648.0 - 1.0);
    }
    return v;
}

uint32_t readU32(const std::vector<uint8_t>& b, size_t o) {
    return uint32_t(b.at(o)) | uint32_t(b.at(o + 1)) << 8 | uint32_t(b.at(o + 2)) << 16 |
           uint32_t(b.at(o + 3)) << 24;
}

double readF64(const std::vector<uint8_t>& b, size_t o) {
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = (u << 8) | b.at(o + size_t(i));
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

void writeF64(std::vector<uint8_t>& b, size_t o, double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) b.at(o + size_t(i)) = uint8_t(u >> (8 * i));
}

std::string chunkName(const std::vector<uint8_t>& b) {
    if (b.size() < 72) return {};
    const char* p = reinterpret_cast<const char*>(b.data() + 8);
    return std::string(p, strnlen(p, 64));
}

} // namespace nx::test

// A stand-in for a host process with up to four registry handles, driven line by line over stdin by the
// registry tests (which start it with fork/exec and may kill it with SIGKILL). Usage:
//   nx_registry_peer SEGMENT
// Commands (h = handle 0..3), one reply line each, "ok ..." or "err ...":
//   h open                      -> ok <connected 0|1> <slot> <instanceId>
//   h pub <n> <seed>            -> ok            publishes n samples of peerPattern(seed, k)
//   h gather <n> <link> <linkedId> [muted ids...]
//                               -> ok <n hex floats>
//   h name <text>               -> ok
//   h close                     -> ok            destroys the handle (releases its slot)
//   h leak                      -> ok            drops the handle without its destructor
//   h state                     -> ok <connected 0|1> <slot> <instanceId>
//   lock                        -> ok            takes the registry lock through handle 0's mapping and keeps
//   it pid                         -> ok <pid>
#include "peerlink/NembrixSHM.h"
#include "peerlink/RegistryLock.h"
#include "tests/peerlink/PeerPattern.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kHandles = 4;
const char* gSegment = nullptr;
// Handles live in raw storage so that "leak" can abandon one without running its destructor.
alignas(nx::NembrixSHM) unsigned char gStorage[kHandles][sizeof(nx::NembrixSHM)];
nx::NembrixSHM* gHandle[kHandles] = {};

void reply(const std::string& s) {
    std::fputs(s.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string stateOf(const nx::NembrixSHM* h) {
    char buf[96];
    std::snprintf(buf, sizeof(buf), "ok %d %d %" PRIu64, h && h->isConnected() ? 1 : 0,
                  h ? h->slotIndex() : -1, h ? h->instanceId() : uint64_t(0));
    return buf;
}

std::string run(int h, const std::string& verb, std::istringstream& in) {
    nx::NembrixSHM*& handle = gHandle[h];
    if (verb == "open") {
        if (!handle) handle = new (gStorage[h]) nx::NembrixSHM(gSegment);
        handle->open();
        return stateOf(handle);
    }
    if (verb == "state") return stateOf(handle);
    if (!handle) return "err no handle";
    if (verb == "pub") {
        int n = 0;
        uint32_t seed = 0;
        in >> n >> seed;
        std::vector<float> mono(size_t(n > 0 ? n : 0));
        for (int k = 0; k < n; ++k) mono[size_t(k)] = nx::test::peerPattern(seed, uint32_t(k));
        handle->publish(mono.data(), n);
        return "ok";
    }
    if (verb == "gather") {
        int n = 0, link = 0;
        uint64_t linked = 0, id = 0;
        in >> n >> link >> linked;
        std::atomic<uint64_t> muted[nx::kRegistrySlots] = {};
        for (int j = 0; j < nx::kRegistrySlots && (in >> id); ++j) muted[j] = id;
        std::vector<float> sum(size_t(n > 0 ? n : 0), 0.0f);
        handle->gather(sum.data(), n, link, linked, muted);
        std::string out = "ok";
        char buf[48];
        for (float v : sum) {
            std::snprintf(buf, sizeof(buf), " %a", double(v));
            out += buf;
        }
        return out;
    }
    if (verb == "name") {
        std::string text;
        std::getline(in >> std::ws, text);
        handle->setSlotName(text.c_str());
        return "ok";
    }
    if (verb == "close") {
        handle->~NembrixSHM();
        handle = nullptr;
        return "ok";
    }
    if (verb == "leak") {
        handle = nullptr;
        return "ok";
    }
    return "err unknown command";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: nx_registry_peer SEGMENT\n");
        return 2;
    }
    gSegment = argv[1];
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string first;
        in >> first;
        if (first == "pid") {
            reply("ok " + std::to_string(getpid()));
        } else if (first == "lock") {
            uint8_t* base = gHandle[0] ? gHandle[0]->mapped() : nullptr;
            reply(base && nx::lockRegistryBounded(nx::registryMutex(base)) ? "ok" : "err no lock");
        } else if (first.size() == 1 && first[0] >= '0' && first[0] < '0' + kHandles) {
            std::string verb;
            in >> verb;
            reply(run(first[0] - '0', verb, in));
        } else {
            reply("err unknown command");
        }
    }
    return 0;
}

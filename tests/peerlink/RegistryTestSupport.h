// Support for the registry tests: unique segment names, a raw view of a segment as another process would
// see it, hand-made segment fixtures, and helper processes (nx_registry_peer) started with fork/exec.
#pragma once

#include "peerlink/RegistryLayout.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace nx::test {

// A segment name unique to this process and call; removed (with its guard file) on destruction.
class ScopedSegmentName {
public:
    explicit ScopedSegmentName(const char* tag);
    ~ScopedSegmentName();
    const char* c_str() const { return mName.c_str(); }

private:
    std::string mName;
};

// The inode of /dev/shm/<name>, or 0 when it does not exist.
uint64_t segmentInode(const char* name);
// The permission bits of /dev/shm/<name>, or -1.
int segmentMode(const char* name);
bool segmentExists(const char* name);

// A read-write mapping of an existing segment, independent of any registry handle.
class RawSegment {
public:
    explicit RawSegment(const char* name);
    ~RawSegment();
    RawSegment(const RawSegment&) = delete;
    RawSegment& operator=(const RawSegment&) = delete;
    bool ok() const { return mBase != nullptr; }
    uint8_t* base() const { return mBase; }
    PeerSlot* slot(int i) const { return registrySlot(mBase, i); }
    RegistryHeader* header() const { return registryHeader(mBase); }

private:
    uint8_t* mBase = nullptr;
    size_t mSize = 0;
};

// One slot of a hand-made segment.
struct FixtureSlot {
    uint32_t state = 0;
    uint64_t instanceId = 0;
    int32_t pid = 0;
    int64_t heartbeat = 0;
};

// Creates the object /<name> of sizeBytes bytes. When it has the registry's size: version 2, the given
// magic, an initialised robust lock and the listed slots. False on failure.
bool makeFixtureSegment(const char* name, size_t sizeBytes, uint32_t magic,
                        const std::vector<FixtureSlot>& slots);

// A helper process on one segment: by default nx_registry_peer with up to four registry handles (see
// RegistryPeer.cpp); program names another helper taking the segment as its only argument.
class PeerProcess {
public:
    explicit PeerProcess(const char* segment, const char* program = nullptr);
    ~PeerProcess(); // kills it if still running
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool running() const { return mPid > 0; }
    pid_t pid() const { return mPid; }
    // Sends one command line, returns the reply line ("" after a timeout or a dead helper).
    std::string command(const std::string& line, int timeoutMs = 10000);
    // Sends one command line without waiting for its reply; readReply() fetches it.
    bool send(const std::string& line);
    std::string readReply(int timeoutMs = 10000);
    void killHard(); // SIGKILL and reap

    // Parsed replies of "h open" / "h state".
    struct Attach {
        bool connected = false;
        int slot = -1;
        uint64_t id = 0;
    };
    Attach open(int handle = 0);
    Attach state(int handle = 0);
    // "h gather ...": the n gathered samples, empty on error.
    std::vector<float> gather(int handle, int n, int linkSlot = 0, uint64_t linkedId = 0,
                              const std::vector<uint64_t>& muted = {});

private:
    pid_t mPid = -1;
    int mIn = -1;  // helper's stdin
    int mOut = -1; // helper's stdout
    std::string mBuffer;
};

} // namespace nx::test

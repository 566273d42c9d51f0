#include "tests/peerlink/RegistryTestSupport.h"

#include "peerlink/NembrixSHM.h"
#include "peerlink/RegistryLock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef NX_REGISTRY_PEER_PATH
#error "NX_REGISTRY_PEER_PATH must name the helper executable"
#endif

namespace nx::test {

namespace {
std::atomic<int> sNameCounter{0};

std::string shmPath(const char* name) {
    return std::string("/dev/shm/") + name;
}
} // namespace

ScopedSegmentName::ScopedSegmentName(const char* tag) {
    mName =
        std::string("nxtest_") + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(sNameCounter++);
    NembrixSHM::removeSegment(mName.c_str());
}

ScopedSegmentName::~ScopedSegmentName() {
    NembrixSHM::removeSegment(mName.c_str());
}

uint64_t segmentInode(const char* name) {
    struct stat st {};
    return stat(shmPath(name).c_str(), &st) == 0 ? uint64_t(st.st_ino) : 0;
}

int segmentMode(const char* name) {
    struct stat st {};
    return stat(shmPath(name).c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

bool segmentExists(const char* name) {
    return segmentInode(name) != 0;
}

RawSegment::RawSegment(const char* name) {
    const int fd = shm_open(("/" + std::string(name)).c_str(), O_RDWR, 0);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && size_t(st.st_size) >= kRegistryBytes) {
        void* p = mmap(nullptr, kRegistryBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) {
            mBase = static_cast<uint8_t*>(p);
            mSize = kRegistryBytes;
        }
    }
    ::close(fd);
}

RawSegment::~RawSegment() {
    if (mBase) munmap(mBase, mSize);
}

bool makeFixtureSegment(const char* name, size_t sizeBytes, uint32_t magic,
                        const std::vector<FixtureSlot>& slots) {
    const std::string path = "/" + std::string(name);
    const int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    bool ok = ftruncate(fd, off_t(sizeBytes)) == 0;
    if (ok && sizeBytes == kRegistryBytes) {
        void* p = mmap(nullptr, kRegistryBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ok = p != MAP_FAILED;
        if (ok) {
            auto* base = static_cast<uint8_t*>(p);
            registryHeader(base)->version = kRegistryVersion;
            ok = initRegistryMutex(registryMutex(base));
            for (size_t i = 0; i < slots.size() && i < size_t(kRegistrySlots); ++i) {
                PeerSlot* s = registrySlot(base, int(i));
                s->state = slots[i].state;
                s->instanceId = slots[i].instanceId;
                s->pid = slots[i].pid;
                s->heartbeat = slots[i].heartbeat;
            }
            registryHeader(base)->magic = magic;
            munmap(p, kRegistryBytes);
        }
    }
    ::close(fd);
    return ok;
}

PeerProcess::PeerProcess(const char* segment, const char* program) {
    if (!program) program = NX_REGISTRY_PEER_PATH;
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        execl(program, program, segment, static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (pid < 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return;
    }
    mPid = pid;
    mIn = toChild[1];
    mOut = fromChild[0];
}

PeerProcess::~PeerProcess() {
    if (mIn >= 0) ::close(mIn);
    if (mPid > 0) {
        // Closing stdin ends the helper normally (its handles release their slots); kill it if it hangs.
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mPid = -1;
                break;
            }
            usleep(10000);
        }
        if (mPid > 0) killHard();
    }
    if (mOut >= 0) ::close(mOut);
}

void PeerProcess::killHard() {
    if (mPid <= 0) return;
    ::kill(mPid, SIGKILL);
    int status = 0;
    while (waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
    }
    mPid = -1;
}

bool PeerProcess::send(const std::string& line) {
    if (mPid <= 0 || mIn < 0) return false;
    const std::string data = line + "\n";
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t w = ::write(mIn, data.data() + done, data.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += size_t(w);
    }
    return true;
}

std::string PeerProcess::readReply(int timeoutMs) {
    while (true) {
        const size_t nl = mBuffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = mBuffer.substr(0, nl);
            mBuffer.erase(0, nl + 1);
            return line;
        }
        pollfd pfd{mOut, POLLIN, 0};
        const int r = poll(&pfd, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return "";
        char buf[65536];
        const ssize_t n = ::read(mOut, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "";
        mBuffer.append(buf, size_t(n));
    }
}

std::string PeerProcess::command(const std::string& line, int timeoutMs) {
    if (!send(line)) return "";
    return readReply(timeoutMs);
}

namespace {
PeerProcess::Attach parseAttach(const std::string& reply) {
    PeerProcess::Attach a;
    std::istringstream in(reply);
    std::string ok;
    int connected = 0;
    if (in >> ok >> connected >> a.slot >> a.id && ok == "ok") a.connected = connected != 0;
    return a;
}
} // namespace

PeerProcess::Attach PeerProcess::open(int handle) {
    return parseAttach(command(std::to_string(handle) + " open"));
}

PeerProcess::Attach PeerProcess::state(int handle) {
    return parseAttach(command(std::to_string(handle) + " state"));
}

std::vector<float> PeerProcess::gather(int handle, int n, int linkSlot, uint64_t linkedId,
                                       const std::vector<uint64_t>& muted) {
    std::ostringstream cmd;
    cmd << handle << " gather " << n << " " << linkSlot << " " << linkedId;
    for (uint64_t id : muted) cmd << " " << id;
    std::istringstream in(command(cmd.str()));
    std::string ok;
    std::vector<float> out;
    if (!(in >> ok) || ok != "ok") return out;
    std::string tok;
    while (in >> tok) out.push_back(std::strtof(tok.c_str(), nullptr));
    return out;
}

} // namespace nx::test

// Child processes for the render tests (see Subprocess.h).
#include "tests/formats/Subprocess.h"

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nx::test {

Subprocess::Subprocess(const std::vector<std::string>& argv, const char* unsetEnv) {
    int out[2], err[2];
    if (pipe(out) != 0) return;
    if (pipe(err) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    mPid = fork();
    if (mPid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        if (unsetEnv) unsetenv(unsetEnv);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    mOut = out[0];
    mErr = err[0];
}

Subprocess::~Subprocess() {
    if (mPid > 0 && !mWaited) {
        kill(mPid, SIGKILL);
        wait();
    }
    if (mOut >= 0) close(mOut);
    if (mErr >= 0) close(mErr);
}

bool Subprocess::waitForLine(const std::string& line) {
    size_t scanned = 0;
    for (;;) {
        size_t nl;
        while ((nl = mOutText.find('\n', scanned)) != std::string::npos) {
            if (mOutText.compare(scanned, nl - scanned, line) == 0) return true;
            scanned = nl + 1;
        }
        char buf[512];
        const ssize_t n = read(mOut, buf, sizeof buf);
        if (n <= 0) return false;
        mOutText.append(buf, size_t(n));
    }
}

ProcessResult Subprocess::wait() {
    ProcessResult r;
    if (mPid <= 0) return r;
    // Drain both pipes while the child runs, so that a chatty child never blocks on a full pipe.
    pollfd fds[2] = {{mOut, POLLIN, 0}, {mErr, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? mOutText : r.err).append(buf, size_t(n));
            }
        }
    }
    int status = 0;
    waitpid(mPid, &status, 0);
    mWaited = true;
    r.out = mOutText;
    r.exited = WIFEXITED(status);
    r.exitCode = r.exited ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return r;
}

ProcessResult runProcess(const std::vector<std::string>& argv) {
    Subprocess p(argv);
    return p.wait();
}

} // namespace nx::test

// Runs a test helper or tool as a real child process and collects its exit status and output.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace nx::test {

struct ProcessResult {
    bool exited = false; // ended through exit() (not a signal)
    int exitCode = -1;
    int signal = 0;
    std::string out, err;
};

class Subprocess {
public:
    // Starts argv[0] with argv; unsetEnv names a variable removed from the child's environment.
    explicit Subprocess(const std::vector<std::string>& argv, const char* unsetEnv = nullptr);
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    bool started() const { return mPid > 0; }
    pid_t pid() const { return mPid; }
    // Reads stdout until a line equal to line arrives (true) or the stream ends (false).
    bool waitForLine(const std::string& line);
    // Waits for the end; collects the rest of stdout and all of stderr.
    ProcessResult wait();

private:
    pid_t mPid = -1;
    int mOut = -1, mErr = -1;
    std::string mOutText;
    bool mWaited = false;
};

// Starts, waits, returns.
ProcessResult runProcess(const std::vector<std::string>& argv);

} // namespace nx::test

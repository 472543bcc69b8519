// Runs a program as a child process with given standard input, collecting its standard output,
// standard error and exit code; for tests of the command-line tools.
#pragma once

#include <string>
#include <vector>

struct TProcessResult {
    int exitCode = -1; // the exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs argv[0] with the arguments; `input` is written to its standard input, which is then closed.
// A child still running after `timeoutMs` is killed (exit code 128 + SIGKILL).
TProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = {}, int timeoutMs = 60000);

// A child process running in the background, its standard output and error going to files.
class TChildProcess {
public:
    explicit TChildProcess(const std::vector<std::string>& argv);
    ~TChildProcess(); // kills the child if it is still running
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Standard output so far.
    std::string Output() const;
    // Sends `signal`, waits for the end (killing it after `timeoutMs`) and returns what it wrote.
    TProcessResult Stop(int signal, int timeoutMs = 10000);

private:
    int pid_ = -1;
    std::string outPath_, errPath_;
};

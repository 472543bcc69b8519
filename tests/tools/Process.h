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

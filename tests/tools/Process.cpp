// Child-process runner over posix_spawn and poll(), feeding stdin and draining stdout/stderr
// together so that no pipe fills up and blocks either side.
#include "Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
void CheckSys(int rc, const char* what) {
    if (rc != 0)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}
} // namespace

TProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input, int timeoutMs) {
    int in[2], out[2], err[2];
    CheckSys(pipe2(in, O_CLOEXEC), "pipe");
    CheckSys(pipe2(out, O_CLOEXEC), "pipe");
    CheckSys(pipe2(err, O_CLOEXEC), "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    TProcessResult result;
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3];
        int n = 0;
        if (outOpen)
            fds[n++] = {out[0], POLLIN, 0};
        if (errOpen)
            fds[n++] = {err[0], POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, static_cast<nfds_t>(n), static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == inFd) {
                const ssize_t w = write(inFd, input.data() + written, input.size() - written);
                if (w > 0)
                    written += static_cast<std::size_t>(w);
                if (w < 0 && errno != EAGAIN) {
                    close(inFd);
                    inFd = -1;
                } else if (written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            char buffer[65536];
            const ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
            if (r > 0) {
                (fds[i].fd == out[0] ? result.out : result.err).append(buffer, static_cast<std::size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                (fds[i].fd == out[0] ? outOpen : errOpen) = false;
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

namespace {
std::string ReadFile(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
}

// The suffix is part of the name mkstemps makes, so the file made is the one the destructor removes.
std::string TempPath(const char* tag) {
    std::string path = std::string("/tmp/tracer-test-XXXXXX") + tag;
    const int fd = mkstemps(path.data(), static_cast<int>(std::strlen(tag)));
    if (fd < 0)
        throw std::runtime_error("mkstemps failed");
    close(fd);
    return path;
}
} // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& argv)
    : outPath_(TempPath(".out")), errPath_(TempPath(".err")) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

TChildProcess::~TChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
}

std::string TChildProcess::Output() const {
    return ReadFile(outPath_);
}

TProcessResult TChildProcess::Stop(int signal, int timeoutMs) {
    TProcessResult result;
    if (pid_ > 0) {
        kill(pid_, signal);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            usleep(5000);
        }
        pid_ = -1;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.out = ReadFile(outPath_);
    result.err = ReadFile(errPath_);
    return result;
}

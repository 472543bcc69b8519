// A POSIX descriptor with one owner, closed when the owner goes (or earlier, with the result, where
// a late write error may show only at the close).
#pragma once
#ifndef _WIN32

#include <utility>

#include <unistd.h>

class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int Fd) : FFd(Fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}
    TUniqueFd& operator=(TUniqueFd&& Other) noexcept {
        if (this != &Other) {
            Reset();
            FFd = std::exchange(Other.FFd, -1);
        }
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Reset() {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }
    // Gives the descriptor to a new owner.
    int Release() { return std::exchange(FFd, -1); }
    // Closes now and gives close()'s result.
    int Close() { return ::close(std::exchange(FFd, -1)); }

private:
    int FFd = -1;
};

#endif

// A temporary folder playing /dev, and the lock another program holds on an open line: the
// surroundings of a port list under test (POSIX).
#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace test_support {

// Holds the lock the serial port takes on an open line, as another program using it would.
class TLineLock {
public:
    explicit TLineLock(const std::string& path) : FFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (FFd < 0 || ::flock(FFd, LOCK_EX | LOCK_NB) != 0)
            throw std::runtime_error("cannot lock " + path);
    }
    ~TLineLock() { ::close(FFd); }
    TLineLock(const TLineLock&) = delete;
    TLineLock& operator=(const TLineLock&) = delete;

private:
    int FFd;
};

// A temporary folder playing /dev.
class TDeviceFolder {
public:
    TDeviceFolder() {
        if (!FDir.isValid())
            throw std::runtime_error("no temporary folder");
    }
    std::string Path() const { return FDir.path().toStdString(); }
    std::string PathOf(const std::string& name) const { return Path() + "/" + name; }

    // `name` (may contain a sub-folder, which is created) as a symlink to `target`; its full path.
    std::string Link(const std::string& name, const std::string& target) {
        const std::string path = PathOf(name);
        const std::string::size_type slash = name.rfind('/');
        if (slash != std::string::npos && !QDir().mkpath(QString::fromStdString(PathOf(name.substr(0, slash)))))
            throw std::runtime_error("cannot create folder for " + path);
        if (::symlink(target.c_str(), path.c_str()) != 0)
            throw std::runtime_error("cannot link " + path);
        return path;
    }
    std::string File(const std::string& name, const std::string& content) {
        const std::string path = PathOf(name);
        std::ofstream(path) << content;
        return path;
    }

private:
    QTemporaryDir FDir;
};

} // namespace test_support

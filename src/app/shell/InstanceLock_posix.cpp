// POSIX: flock on an open lock file in the user's runtime folder. The kernel drops the lock when
// the last descriptor of the holder closes, which its death does.
#include "app/shell/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Folder() {
    // The runtime folder is the user's own; without one the shared temporary folder serves, where
    // the user id in the key keeps users apart.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

QString LockFileName(const QString& key) {
    return QDir(Folder()).filePath(key + QStringLiteral(".lock"));
}

} // namespace

TInstanceLock::TInstanceLock(const QString& key) : FKey(key) {}

TInstanceLock::~TInstanceLock() {
    if (FHandle < 0)
        return;
    // Removed while still held: a process waiting on the old file finds it gone once it gets the
    // lock, and tries again on a new one (see TryLock).
    if (FHeld)
        ::unlink(QFile::encodeName(LockFileName(FKey)).constData());
    ::close(static_cast<int>(FHandle));
}

bool TInstanceLock::TryLock() {
    if (FHeld)
        return true;
    QDir().mkpath(Folder());
    const QByteArray path = QFile::encodeName(LockFileName(FKey));
    // A few rounds at most: each one only repeats when the file was removed under us.
    for (int round = 0; round < 100; ++round) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            FError = QStringLiteral("The instance lock %1 cannot be created: %2")
                         .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK || error == EINTR)
                return false;
            FError = QStringLiteral("The instance lock %1 cannot be taken: %2")
                         .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(error)));
            return false;
        }
        // The lock holds only if the file is still the one under the name: an ending holder removes
        // its file before it lets go.
        struct stat opened = {}, named = {};
        if (::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino) {
            FHandle = fd;
            FHeld = true;
            return true;
        }
        ::close(fd);
    }
    return false;
}

QString TInstanceLock::ServerName() const {
    return QDir(Folder()).filePath(FKey);
}

QString TInstanceLock::UserId() {
    return QString::number(::getuid());
}

// The single-instance guard over a lock file and a local socket in the user's runtime folder.
//
// The lock file decides who is first: the first instance takes it and holds it for its whole
// life, so the name stays taken exactly as long as that process lives (a lock left by a crashed
// or killed process is stale and taken over). The first instance then listens on a local socket;
// a later start that finds the lock taken connects there, knocks, waits until the first one has
// handled the knock, and goes away.
#include "app/shell/InstanceManager.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
const QByteArray kKnock = QByteArrayLiteral("restore\n");
const QByteArray kAnswer = QByteArrayLiteral("restored\n");
constexpr qint64 kLongestKnock = 64;
constexpr int kConnectMsecs = 250;
constexpr int kRetryMsecs = 20;

QString UserId() {
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME");
#endif
}
} // namespace

TInstanceManager::TInstanceManager(const QString& name, QObject* parent)
    : QObject(parent), FBaseName(name + QLatin1Char('-') + UserId()) {
    // The runtime folder is the user's own; the user id in the name keeps users apart also in the
    // shared temporary folder used when there is no runtime folder.
    FFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (FFolder.isEmpty())
        FFolder = QDir::tempPath();
}

TInstanceManager::~TInstanceManager() {
    // Stop listening before the lock goes: once the lock is free a new first instance may create
    // its own socket under the same name, which closing ours afterwards would remove.
    delete FServer;
    FServer = nullptr;
    FLock.reset();
}

QString TInstanceManager::LockFileName() const {
    return QDir(FFolder).filePath(FBaseName + QStringLiteral(".lock"));
}

QString TInstanceManager::ServerName() const {
    return QDir(FFolder).filePath(FBaseName);
}

bool TInstanceManager::Guarded() const {
    return FLock && FServer && FServer->isListening();
}

bool TInstanceManager::Claim() {
    if (FLock)
        return true;
    QDir().mkpath(FFolder);
    auto lock = std::make_unique<QLockFile>(LockFileName());
    // Held for the whole run: only a dead owner makes the lock stale, never its age.
    lock->setStaleLockTime(0);

    const QDeadlineTimer deadline(kWaitMsecs);
    for (;;) {
        if (lock->tryLock(0)) {
            FLock = std::move(lock);
            Listen();
            return true;
        }
        if (lock->error() != QLockFile::LockFailedError) {
            // No lock can be made here at all. Ending quietly would look like a program that
            // never starts; running unguarded is the lesser evil.
            FError = QStringLiteral("The instance lock %1 cannot be created.").arg(LockFileName());
            qWarning("%s", qPrintable(FError));
            return true;
        }
        // Taken: by a running first instance (which may not listen yet) or one that is ending.
        if (deadline.hasExpired() || Knock(static_cast<int>(deadline.remainingTime())))
            return false;
        QThread::msleep(kRetryMsecs);
    }
}

bool TInstanceManager::Knock(int msecsLeft) {
    const QDeadlineTimer deadline(msecsLeft);
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(qMin(msecsLeft, kConnectMsecs)))
        return false;
    socket.write(kKnock);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return false;
    // The first instance answers once it has handled the knock; hanging up counts as well.
    while (socket.state() == QLocalSocket::ConnectedState && !socket.canReadLine() && !deadline.hasExpired())
        socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    return true;
}

void TInstanceManager::Listen() {
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a crashed instance would refuse the name; the lock says none is alive.
    QLocalServer::removeServer(ServerName());
    if (!FServer->listen(ServerName())) {
        FError = QStringLiteral("Later starts cannot reach this instance: %1").arg(FServer->errorString());
        qWarning("%s", qPrintable(FError));
        return;
    }
    connect(FServer, &QLocalServer::newConnection, this, &TInstanceManager::AcceptKnocks);
}

void TInstanceManager::AcceptKnocks() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadKnock(socket); });
        // A caller that never says anything does not keep its connection for ever.
        QTimer::singleShot(kWaitMsecs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            ReadKnock(socket);
    }
}

void TInstanceManager::ReadKnock(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kLongestKnock)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kLongestKnock + 1);
    if (line == kKnock) {
        if (OnSecondInstance)
            OnSecondInstance();
        socket->write(kAnswer);
        socket->flush();
    }
    socket->disconnectFromServer();
}

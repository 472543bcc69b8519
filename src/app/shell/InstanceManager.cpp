// The single-instance guard over a system lock and a local socket.
//
// The lock decides who is first: the first instance takes it and holds it for its whole life, and
// the system lets go of it when that process ends, however it ends. The first instance then
// listens on a local socket; a later start that finds the lock taken connects there, knocks,
// waits until the first one has handled the knock, and goes away.
#include "app/shell/InstanceManager.h"

#include "app/shell/InstanceLock.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

namespace {
const QByteArray kKnock = QByteArrayLiteral("restore\n");
const QByteArray kAnswer = QByteArrayLiteral("restored\n");
constexpr qint64 kLongestKnock = 64;
constexpr int kConnectMsecs = 250;
constexpr int kRetryMsecs = 20;

// One folder, however it is written: a link, a trailing slash or (where the file system ignores
// it) letter case make no second instance for it.
QString FolderTag(const QString& folder) {
    QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(QDir(folder).absolutePath());
    if (QFileInfo(canonical).exists() && QFileInfo(canonical.toUpper()).exists() &&
        QFileInfo(canonical.toLower()).exists())
        canonical = canonical.toLower();
    return QString::fromLatin1(
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}
} // namespace

TInstanceManager::TInstanceManager(const QString& folder, const QString& name, QObject* parent)
    : QObject(parent), FKey(name + QLatin1Char('-') + TInstanceLock::UserId()) {
    if (!folder.isEmpty())
        FKey += QLatin1Char('-') + FolderTag(folder);
}

TInstanceManager::~TInstanceManager() {
    // Stop listening before the lock goes: once the lock is free a new first instance may create
    // its own socket under the same name, which closing ours afterwards would remove.
    delete FServer;
    FServer = nullptr;
    FLock.reset();
}

bool TInstanceManager::Guarded() const {
    return FLock && FLock->Held() && FServer && FServer->isListening();
}

TInstanceManager::TClaim TInstanceManager::Claim() {
    if (FLock)
        return TClaim::First;
    auto lock = std::make_unique<TInstanceLock>(FKey);
    const QDeadlineTimer deadline(kWaitMsecs);
    for (;;) {
        if (lock->TryLock()) {
            FLock = std::move(lock);
            Listen();
            return TClaim::First;
        }
        if (!lock->ErrorString().isEmpty()) {
            // No lock can be made here at all. Ending quietly would look like a program that
            // never starts; running unguarded is the lesser evil.
            FError = lock->ErrorString();
            qWarning("%s", qPrintable(FError));
            FLock = std::move(lock);
            return TClaim::First;
        }
        // Taken: by a running first instance (which may not listen yet) or one that is ending.
        if (deadline.hasExpired())
            return TClaim::NoAnswer;
        if (Knock(static_cast<int>(deadline.remainingTime())))
            return TClaim::HandedOver;
        QThread::msleep(kRetryMsecs);
    }
}

bool TInstanceManager::Knock(int msecsLeft) {
    const QDeadlineTimer deadline(msecsLeft);
    QLocalSocket socket;
    socket.connectToServer(TInstanceLock(FKey).ServerName());
    if (!socket.waitForConnected(qMin(msecsLeft, kConnectMsecs)))
        return false;
    socket.write(kKnock);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return false;
    // The first instance answers once it has handled the knock. One that hangs up without an
    // answer is ending: the lock is tried again, and this start may become the first.
    while (socket.state() == QLocalSocket::ConnectedState && !socket.canReadLine() && !deadline.hasExpired())
        socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    return socket.canReadLine() && socket.readLine(kLongestKnock + 1) == kAnswer;
}

void TInstanceManager::Listen() {
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a crashed instance would refuse the name; the lock says none is alive.
    const QString serverName = FLock->ServerName();
    QLocalServer::removeServer(serverName);
    if (!FServer->listen(serverName)) {
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
    if (line != kKnock) {
        socket->abort();
        return;
    }
    if (OnSecondInstance)
        OnSecondInstance();
    // The caller hangs up once it has the answer. Hanging up here could lose the answer on the
    // way (a Windows pipe closed with data still in it), and the caller would knock a second time.
    socket->write(kAnswer);
    socket->flush();
}

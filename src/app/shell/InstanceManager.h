// The single-instance guard: the first start of the program claims the instance name for the
// user and listens; a later start knocks on the first one's door (which restores its main
// window) and ends quietly.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

inline constexpr const char* kInstanceName = "ZandrelOstmaraTracer2006";

class TInstanceManager : public QObject {
    Q_OBJECT
public:
    // How long a later start waits for the first one (to take its lock, to listen, to answer).
    static constexpr int kWaitMsecs = 5000;

    explicit TInstanceManager(const QString& name = QString::fromLatin1(kInstanceName), QObject* parent = nullptr);
    ~TInstanceManager() override;

    // Call once, after the application object exists (listening needs its event dispatcher).
    // true: this process is the first instance and now listens for later starts (also when the
    // guard could not be set up at all: see Guarded()).
    // false: another instance runs; it has been asked to restore its main window (or did not
    // answer within kWaitMsecs); the caller ends quietly with exit code 0 without touching the
    // settings.
    bool Claim();

    // Whether this first instance holds the name and listens; false after a Claim that had to let
    // the program run unguarded because the runtime folder was unusable (ErrorString says why).
    bool Guarded() const;
    QString ErrorString() const { return FError; }

    // Where the lock file and the listening socket live (inside the per-user runtime folder).
    QString LockFileName() const;
    QString ServerName() const;

    std::function<void()> OnSecondInstance; // called on the UI thread when a later start knocks

private:
    bool Knock(int msecsLeft);
    void Listen();
    void AcceptKnocks();
    void ReadKnock(QLocalSocket* socket);

    QString FBaseName;
    QString FFolder;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer* FServer = nullptr;
    QString FError;
};

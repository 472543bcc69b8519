// The single-instance guard, one instance per folder in use: the first start of the program for a
// folder claims the instance name for that folder and listens; a later start for the same folder
// knocks on the first one's door (which restores its main window) and ends quietly. A start for
// another folder runs beside it.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class TInstanceLock;

inline constexpr const char* kInstanceName = "ZandrelOstmaraTracer2006";

class TInstanceManager : public QObject {
    Q_OBJECT
public:
    // How long a later start waits for the first one (to take its lock, to listen, to answer).
    static constexpr int kWaitMsecs = 5000;

    enum class TClaim {
        First,      // this process is the first instance for its folder and listens for later starts
        HandedOver, // another instance runs for the folder and has restored its main window
        NoAnswer,   // another instance holds the folder but did not answer within kWaitMsecs
    };

    // folder: the folder the program works in, or empty for the default one (which keeps the plain
    // instance name, so that any start without a folder of its own meets the same guard). name:
    // the instance name, changed only by tests.
    explicit TInstanceManager(const QString& folder = QString(),
                              const QString& name = QString::fromLatin1(kInstanceName), QObject* parent = nullptr);
    ~TInstanceManager() override;

    // Call once, after the application object exists (listening needs its event dispatcher).
    // First also when the guard could not be set up at all (see Guarded()): a program that never
    // starts would be worse than one running unguarded. Otherwise the caller ends with exit code 0
    // without touching the settings.
    TClaim Claim();

    // Whether this first instance holds the name and listens; false after a Claim that had to let
    // the program run unguarded (ErrorString says why).
    bool Guarded() const;
    QString ErrorString() const { return FError; }

    // The name of the lock and the local socket for this user and folder.
    QString Key() const { return FKey; }

    std::function<void()> OnSecondInstance; // called on the UI thread when a later start knocks

private:
    bool Knock(int msecsLeft);
    void Listen();
    void AcceptKnocks();
    void ReadKnock(QLocalSocket* socket);

    QString FKey;
    std::unique_ptr<TInstanceLock> FLock;
    QLocalServer* FServer = nullptr;
    QString FError;
};

// The part of the single-instance guard that each system does its own way: a lock the system
// itself gives up when its holder ends, however it ends (a killed or crashed holder included),
// and the name of the local socket the holder listens on. Nothing here stores a process id: a
// new process may be given the id of a dead one, and must not take it for a running copy.
#pragma once

#include <QString>

#include <cstdint>

class TInstanceLock {
public:
    // key: names the lock for this user; letters, digits and '-' only.
    explicit TInstanceLock(const QString& key);
    ~TInstanceLock(); // releases the lock and removes what it made
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // true: this process now holds the lock until it ends or the object goes. false: another
    // process holds it, or no lock can be made here at all (ErrorString not empty then).
    bool TryLock();
    bool Held() const { return FHeld; }
    QString ErrorString() const { return FError; }

    // The local socket the holder listens on (a socket file beside the lock on POSIX, a named
    // pipe on Windows).
    QString ServerName() const;

    // Tells users apart where the names are shared by all of them.
    static QString UserId();

private:
    QString FKey;
    QString FError;
    bool FHeld = false;
    std::intptr_t FHandle = -1; // the open file (POSIX) or the mutex (Windows)
};

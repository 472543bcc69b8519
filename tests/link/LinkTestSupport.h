// Helpers of the link tests on POSIX: the pseudo-terminal pair whose master side plays the tracer,
// beside the portable waits and payloads of LinkWaits.h.
#pragma once

#include "LinkWaits.h"
#include "PtyPair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace link_test {

// The tracer's end of the cable and the port's device.
using TPtyPair = test_support::TPtyPair;

} // namespace link_test

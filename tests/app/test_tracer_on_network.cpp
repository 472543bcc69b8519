// The tracer on the network: the window listens for it, or connects to a host (a serial-device
// server in TCP server mode) and connects again after the host restarts; the status, the log and
// the retries treat the connection as they treat a serial line.
#include "FormTestSupport.h"

#include "handler/OMATracer.h"

#include <QFile>
#include <QGroupBox>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <deque>

using namespace form_test;

namespace {

// The tracer's end of a TCP connection: sends packets, reads the program's replies.
class TNetTracer {
public:
    explicit TNetTracer(QTcpSocket* socket) : FSocket(socket) {}

    bool Connected() {
        return WaitUntil([this] { return FSocket && FSocket->state() == QAbstractSocket::ConnectedState; });
    }
    void Send(const std::vector<std::string>& lines) {
        const std::string bytes = FramePacket(lines);
        FSocket->write(bytes.data(), static_cast<qint64>(bytes.size()));
        FSocket->flush();
    }
    // The next reply packet of the program (its ACK, FS ... GS), or empty.
    std::string AwaitReply() {
        std::string reply;
        WaitUntil([&] {
            if (!FSocket)
                return false;
            const QByteArray bytes = FSocket->readAll();
            FReceived.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            return TakeReply(FReceived, reply);
        });
        return reply;
    }

private:
    QPointer<QTcpSocket> FSocket;
    std::string FReceived;
};

// A port nobody listens on: taken from the system, then given back.
uint16_t FreePort() {
    QTcpServer server;
    server.listen(QHostAddress::AnyIPv4, 0);
    return server.serverPort();
}

QColor StatusColour(const TForm1& form) {
    return Control<QLabel>(form, "StatusLabel")->palette().color(QPalette::WindowText);
}

bool Logged(const std::string& line) {
    const std::deque<std::string> lines = CommLog().Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class TracerOnNetwork : public TFormFixture {
protected:
    void TakeJob(TNetTracer& tracer) {
        tracer.Send(JobLines());
        EXPECT_EQ(tracer.AwaitReply().substr(0, 2), "\x06\x1c");
        EXPECT_TRUE(WaitUntil([&] { return QFile::exists(TracePath(QStringLiteral("123.txt"))); }));
        EXPECT_TRUE(WaitUntil([&] { return StatusText(*FForm).startsWith(QStringLiteral("The trace filename")); }));
    }
};

} // namespace

TEST_F(TracerOnNetwork, TheWindowListensForTheTracer) {
    const uint16_t port = FreePort();
    StartForm({{"TracerPortType", "TCP"}, {"TracerTCPPort", std::to_string(port)}});
    EXPECT_EQ(StatusText(*FForm), QStringLiteral("Ready on TCP port %1").arg(port));
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::black));
    EXPECT_FALSE(FForm->Reconnecting());

    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    TNetTracer tracer(&socket);
    ASSERT_TRUE(tracer.Connected());
    TakeJob(tracer);
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(TracerOnNetwork, TheWindowConnectsToTheHostAndAgainAfterItRestarts) {
    auto host = std::make_unique<QTcpServer>();
    ASSERT_TRUE(host->listen(QHostAddress(QHostAddress::LocalHost), 0));
    const uint16_t port = host->serverPort();
    const QString name = QStringLiteral("127.0.0.1:%1").arg(port);
    StartForm({{"TracerPortType", "TCP"}, {"TracerTCPPort", std::to_string(port)}, {"TracerTCPHost", "127.0.0.1"}});
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == QStringLiteral("Connected to ") + name; }))
        << StatusText(*FForm).toStdString();
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::black));
    ASSERT_TRUE(WaitUntil([&] { return host->hasPendingConnections(); }));
    TNetTracer tracer(host->nextPendingConnection());
    TakeJob(tracer);
    const QString caption = Control<QGroupBox>(*FForm, "JobGroupBox")->title();

    // The host restarts: the loss is said and logged, the job stays, and the window connects again.
    host.reset();
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm).startsWith(QStringLiteral("Connection lost on ") + name); }))
        << StatusText(*FForm).toStdString();
    EXPECT_TRUE(StatusText(*FForm).endsWith(QStringLiteral(".  Trying again every 3 seconds.")));
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));
    EXPECT_TRUE(FForm->Reconnecting());
    EXPECT_TRUE(Logged("Connection lost on " + name.toStdString() + ": The remote host closed the connection"));
    EXPECT_EQ(Control<QGroupBox>(*FForm, "JobGroupBox")->title(), caption);

    QTcpServer restarted;
    ASSERT_TRUE(restarted.listen(QHostAddress(QHostAddress::LocalHost), port));
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == QStringLiteral("Connected to ") + name; }))
        << StatusText(*FForm).toStdString();
    EXPECT_FALSE(FForm->Reconnecting());
    ASSERT_TRUE(WaitUntil([&] { return restarted.hasPendingConnections(); }));
    TNetTracer again(restarted.nextPendingConnection());
    again.Send({"REQ=INI"});
    EXPECT_EQ(again.AwaitReply().substr(0, 2), "\x06\x1c");
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(TracerOnNetwork, ALinkThatDoesNotOpenSaysWhyAndIsTriedAgain) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::AnyIPv4, 0));
    const std::string takenPort = std::to_string(taken.serverPort());
    const std::string refusing = std::to_string(FreePort());
    const struct {
        std::vector<std::pair<std::string, std::string>> Settings;
        std::string Status;
        bool Retrying;
    } cases[] = {
        {{{"TracerPortType", "TCP"}, {"TracerTCPPort", refusing}, {"TracerTCPHost", "127.0.0.1"}},
         "Cannot connect to 127.0.0.1:" + refusing + ": Connection refused.  Trying again every 3 seconds.",
         true},
        {{{"TracerPortType", "TCP"}, {"TracerTCPPort", takenPort}},
         "Cannot listen on TCP port " + takenPort +
             ": The bound address is already in use.  Trying again every 3 seconds.",
         true},
        {{{"TracerPortType", "TCP"}}, "Cannot open tracer TCP port.  Please see Settings.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Status);
        StartForm(c.Settings);
        EXPECT_TRUE(WaitUntil([&] { return StatusText(*FForm) == QString::fromStdString(c.Status); }))
            << StatusText(*FForm).toStdString();
        EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));
        EXPECT_EQ(FForm->Reconnecting(), c.Retrying);
        FForm.reset();
        SettingsList().Clear();
    }
}

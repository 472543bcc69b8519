// Helpers of the main window's tests: waiting on the event loop, a pseudo-terminal pair whose
// master end plays the tracer, job packets, a collector in place of the error box, and a fixture
// that starts the window on its own temporary program folder.
#pragma once

#include "app/Application.h"
#include "app/Unit1.h"
#include "app/core/CommLog.h"
#include "app/core/Settings.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include "PtyPair.h"
#include "Shapes.h"
#include "WhenModal.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace form_test {

// Serves the event loop until `done` holds; false when `timeoutMs` passed first. The deadline is
// generous: it waits for events, it never measures speed.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    return QTest::qWaitFor(done, timeoutMs);
}

// Moves the first whole reply packet (up to its GS) of what the tracer's end received into
// `reply`; false while none has come whole.
inline bool TakeReply(std::string& received, std::string& reply) {
    const std::size_t gs = received.find('\x1d');
    if (gs == std::string::npos)
        return false;
    reply = received.substr(0, gs + 1);
    received.erase(0, gs + 1);
    return true;
}

// Lets the events already queued run (deferred handling included).
inline void Settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The tracer's end of a pseudo-terminal pair: writes packets, reads the program's replies.
class TPty : public test_support::TPtyPair {
public:
    void Write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(Master(), bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    void Send(const std::vector<std::string>& lines) { Write(FramePacket(lines)); }

    // The next reply packet of the program (its ACK, FS ... GS), or empty after `timeoutMs`.
    std::string AwaitReply(int timeoutMs = 10000) {
        std::string reply;
        WaitUntil(
            [&] {
                char buffer[4096];
                ssize_t n;
                while ((n = ::read(Master(), buffer, sizeof buffer)) > 0)
                    FReceived.append(buffer, static_cast<std::size_t>(n));
                return TakeReply(FReceived, reply);
            },
            timeoutMs);
        return reply;
    }

private:
    std::string FReceived;
};

// The error reports of the general error handler, collected instead of shown.
class TErrorLog {
public:
    TErrorLog() {
        FPrevious = SetErrorReporter([this](const QString& message) { Messages.push_back(message.toStdString()); });
    }
    ~TErrorLog() { SetErrorReporter(FPrevious); }
    TErrorLog(const TErrorLog&) = delete;
    TErrorLog& operator=(const TErrorLog&) = delete;

    std::vector<std::string> Messages;

private:
    TErrorReporter FPrevious;
};

// The radii of an ellipse of 50 × 40 mm at 16 points (every radius between 20 and 25 mm, so each
// travels as four digits), and its mirror image for the other eye.
inline sim::TRadii RightRadii() {
    return sim::OutlineRadii(sim::skEllipse, 50, 40, 16);
}
inline sim::TRadii LeftRadii() {
    return sim::MirroredRadii(RightRadii());
}

// "R=" records of format 1, 15 values to a record, values as four digits.
inline std::vector<std::string> RadiiRecords(const sim::TRadii& radii) {
    std::vector<std::string> records;
    std::string record;
    for (std::size_t i = 0; i < radii.size(); ++i) {
        if (i % 15 == 0) {
            if (!record.empty())
                records.push_back(record);
            record = "R=";
        } else {
            record += ';';
        }
        char value[8];
        std::snprintf(value, sizeof value, "%04d", radii[i]);
        record += value;
    }
    if (!record.empty())
        records.push_back(record);
    return records;
}

struct TJobPacket {
    std::string Job = "000123A";
    std::string Vendor = "TAKUBO"; // empty: no VEN record
    std::string DBL = "17.50";
    std::string FrameType = "1";
    std::string EdgeType = "1";
};

// A job packet of format 1 with both eyes, the tracer's measurements and one record of its own.
inline std::vector<std::string> JobLines(const TJobPacket& job = {}) {
    std::vector<std::string> lines{"REQ=TRC", "JOB=" + job.Job};
    // A tracer that named itself when it initialised need not say so again with each job.
    if (!job.Vendor.empty())
        lines.push_back("VEN=" + job.Vendor);
    for (std::string line : std::vector<std::string>{"MODEL=T1", "DBL=" + job.DBL, "HBOX=50.00;50.00",
                                                     "VBOX=40.00;40.00", "CIRC=142.00;142.00", "FTYP=" + job.FrameType,
                                                     "ETYP=" + job.EdgeType, "XTRA=kept", "note=lower case"})
        lines.push_back(std::move(line));
    lines.push_back("TRCFMT=1;16;E;R;F");
    for (const std::string& r : RadiiRecords(RightRadii()))
        lines.push_back(r);
    lines.push_back("TRCFMT=1;16;E;L;F");
    for (const std::string& r : RadiiRecords(LeftRadii()))
        lines.push_back(r);
    return lines;
}

// The radii text of a shape; empty for none.
inline std::string Radii(const TEyeShapePtr& shape) {
    return shape ? shape->Radii() : std::string();
}

inline std::string ReadFileText(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of the first LABEL= line of a CR LF text; "<none>" when there is none.
inline std::string FileRecord(const std::string& text, const std::string& label) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(label + "=", 0) == 0)
            return line.substr(label.size() + 1);
    }
    return "<none>";
}

template <class T> T* Control(const TForm1& form, const char* name) {
    T* control = form.findChild<T*>(QString::fromLatin1(name));
    if (!control)
        throw std::runtime_error(std::string("no control ") + name);
    return control;
}

inline QString StatusText(const TForm1& form) {
    return Control<QLabel>(form, "StatusLabel")->text();
}

// The window on its own program folder and tracer line, with the settings it is started with.
class TFormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FFolder.isValid());
        SettingsList().Clear();
        CommLog().Clear();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }
    void TearDown() override {
        FForm.reset();
        SettingsList().Clear();
    }

    // Starts the window with the tracer port on this test's pty (unless the settings name one).
    void StartForm(const std::vector<std::pair<std::string, std::string>>& settings = {{"AllowMod", "Y"}}) {
        SettingsList().SetValue(setting::TracerCOMPort, FPty.SlavePath());
        for (const auto& [key, value] : settings)
            SettingsList().SetValue(key, value);
        FForm = std::make_unique<TForm1>(FFolder.path());
        FForm->SetFallbackFolders({FallbackFolder()});
    }
    QString FallbackFolder() const { return FFolder.path() + QStringLiteral("/fallback"); }

    // Sends a job packet, waits for its reply and for the deferred job handling.
    std::string DeliverJob(const TJobPacket& job = {}) {
        FPty.Send(JobLines(job));
        const std::string reply = FPty.AwaitReply();
        Settle();
        return reply;
    }

    QString TracePath(const QString& name) const { return FFolder.path() + QStringLiteral("/traces/") + name; }

    QTemporaryDir FFolder;
    TPty FPty;
    TErrorLog FErrors;
    std::unique_ptr<TForm1> FForm;
};

} // namespace form_test

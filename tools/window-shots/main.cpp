#include "FakeCorvane.h"
#include "settings/LoginSource.h"
#include "station/Station.h"
#include "status/StatusModel.h"
#include "ui/About.h"
#include "ui/KeyboardStyle.h"
#include "ui/Prompter.h"
#include "ui/RecentContactsView.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtCore/qtestsupport_core.h>

#include <cstdio>
#include <functional>

namespace {

// Every box is answered at once with its positive answer, so nothing waits for a click.
class AnsweringPrompter final : public Prompter
{
public:
    Answer message(QWidget*, const QString&, const QString&, Buttons buttons, Icon, Answer) override
    {
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    void openUrl(const QUrl&) override {}
    void requestAttention(QWidget*) override {}
};

struct Contact
{
    const char* call;
    const char* frequency; // in tens of hertz, as the logger sends it
    const char* mode;
};

// Made-up calls on different bands and modes, so the rows are told apart at a glance.
const Contact Contacts[] = {{"Q9XYZ", "1402500", "CW"},
                            {"Q7ABC", "710500", "SSB"},
                            {"Q5KLM", "2102000", "CW"},
                            {"Q2DEF", "2820000", "SSB"},
                            {"Q9ZZZ", "355000", "CW"}};

QByteArray datagram(int index)
{
    const Contact& c = Contacts[index];
    const bool phone = QByteArray(c.mode) == "SSB";
    return QStringLiteral("<contactinfo><timestamp>%1</timestamp><txfreq>%2</txfreq><rxfreq>%2</rxfreq>"
                          "<mode>%3</mode><call>%4</call><snt>%5</snt><rcv>%5</rcv><sntnr>%6</sntnr>"
                          "<rcvnr>%7</rcvnr><exchange1>14</exchange1><wpxprefix>%8</wpxprefix>"
                          "<extra>1</extra></contactinfo>")
        .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             QLatin1String(c.frequency), QLatin1String(c.mode), QLatin1String(c.call),
             phone ? QStringLiteral("59") : QStringLiteral("599"))
        .arg(101 + index)
        .arg(17 * (index + 3))
        .arg(QLatin1String(c.call).left(2))
        .toUtf8();
}

QPalette darkPalette()
{
    const QColor window(53, 53, 53), base(35, 35, 35), text(Qt::white), accent(42, 130, 218);
    QPalette p;
    for (auto [role, colour] :
         std::initializer_list<std::pair<QPalette::ColorRole, QColor>>{{QPalette::Window, window},
                                                                       {QPalette::WindowText, text},
                                                                       {QPalette::Base, base},
                                                                       {QPalette::AlternateBase, window},
                                                                       {QPalette::ToolTipBase, base},
                                                                       {QPalette::ToolTipText, text},
                                                                       {QPalette::Text, text},
                                                                       {QPalette::Button, window},
                                                                       {QPalette::ButtonText, text},
                                                                       {QPalette::BrightText, Qt::red},
                                                                       {QPalette::Link, accent},
                                                                       {QPalette::Highlight, accent},
                                                                       {QPalette::HighlightedText, Qt::black},
                                                                       {QPalette::PlaceholderText, Qt::gray}})
        p.setColor(role, colour);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, Qt::gray);
    return p;
}

bool waitFor(const char* what, const std::function<bool()>& done)
{
    if (QTest::qWaitFor(done, 15000))
        return true;
    std::fprintf(stderr, "window-shots: gave up waiting for %s\n", what);
    return false;
}

} // namespace

// window-shots STATE OUTPUT.png: a window in a scratch folder against an
// in-process stand-in service, brought to STATE and saved as a picture.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvex"));
    const QStringList states{"window", "not-listening", "waiting", "refused", "recent", "about"};
    const QStringList args = QApplication::arguments();
    // "dark" is the window in a dark palette, "narrow" at its narrowest; "dark-STATE" and
    // "narrow-STATE" any other state so.
    QString state = args.value(1);
    const bool dark = state.startsWith(QLatin1String("dark"));
    const bool narrow = state.startsWith(QLatin1String("narrow"));
    if (dark || narrow)
        state = state.section(QLatin1Char('-'), 1).isEmpty() ? states[0] : state.section(QLatin1Char('-'), 1);
    if (args.size() != 3 || !states.contains(state)) {
        std::fprintf(stderr, "usage: window-shots [dark-|narrow-]{%s}|dark|narrow OUTPUT.png\n",
                     qPrintable(states.join('|')));
        return 2;
    }
    // Fusion whatever the desktop around, so the pictures do not depend on who takes them.
    QApplication::setStyle(new KeyboardStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    if (dark)
        QApplication::setPalette(darkPalette());

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/Tarvex-XXXXXX"));
    FakeCorvane service;
    // Holds the port first: for "not-listening" it stays held, so Tarvex finds it taken. The
    // default port when it is free (a running Tarvex may have it), so the pictures show it.
    QUdpSocket holder;
    if (!dir.isValid() || !service.listen() ||
        !(holder.bind(QHostAddress::Any, 12060, QUdpSocket::DontShareAddress) ||
          holder.bind(QHostAddress::Any, 0, QUdpSocket::DontShareAddress)))
        return 1;
    const quint16 port = holder.localPort();
    if (state != QLatin1String("not-listening"))
        holder.close();
    QFile ini(dir.filePath(QStringLiteral("Tarvex.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write(
        "[Settings]\r\nUDPPort=" + QByteArray::number(port) +
        "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() +
        "\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n");
    ini.close();

    AnsweringPrompter prompter;
    Station station{AppPaths(dir.path())};
    station.start();
    const StatusModel& status = station.status();
    frmMain w(station, prompter);
    w.Form_Load();
    if (narrow)
        w.resize(w.minimumSizeHint().width(), w.sizeHint().height());
    w.show();
    const auto send = [&status](int index) {
        QUdpSocket().writeDatagram(datagram(index), QHostAddress::LocalHost, status.state().port);
    };
    const auto counts = [&status](const char* start) {
        return [&status, start] { return status.countsText().startsWith(QString::fromUtf8(start)); };
    };
    const auto trigger = [&w](const char* action) { w.findChild<QAction*>(QString::fromLatin1(action))->trigger(); };

    bool ready = waitFor("the listener", [&status] { return status.state().listening || !status.state().notListening.isEmpty(); });
    QWidget* target = &w;
    if (state == QLatin1String("window")) {
        for (int i = 0; i < 3; ++i)
            send(i);
        ready = ready && waitFor("three accepted", counts("Accepted 3 · Waiting 0"));
    } else if (state == QLatin1String("not-listening")) {
        ready = ready && waitFor("the warning", [&status] { return !status.state().notListening.isEmpty(); });
    } else if (state == QLatin1String("refused")) {
        service.setReply(QStringLiteral("/realtime.php"), {200, "Invalid Callsign - the call sign Q9XYZ is not valid for this contest"});
        send(0);
        ready = ready && waitFor("a refusal", counts("Accepted 0 · Waiting 0 · Refused 1"));
    } else if (state == QLatin1String("waiting") || state == QLatin1String("recent")) {
        const bool recent = state == QLatin1String("recent");
        if (recent)
            trigger("mnuRecent");
        send(0);
        send(1);
        ready = ready && waitFor("two accepted", counts("Accepted 2 · Waiting 0"));
        if (recent) {
            service.setReply(QStringLiteral("/realtime.php"), {200, "Error: exchange missing"});
            send(2);
            ready = ready && waitFor("a refusal", counts("Accepted 2 · Waiting 0 · Refused 1"));
        }
        service.stopListening();
        send(3);
        send(4);
        ready = ready && waitFor("the waiting line", [&status] {
                    return status.waitingText().startsWith("2 contacts waiting for Corvane: ") &&
                           status.waitingText().contains("; next try at ");
                });
        if (recent)
            target = w.recentWindow();
    } else if (state == QLatin1String("about")) {
        trigger("mnuAbout");
        target = w.aboutWindow();
        ready = ready && target && waitFor("the About window", [target] { return target->isVisible(); });
    }
    // One more refresh of the window and its layouts before the picture.
    QTest::qWait(2 * frmMain::RefreshInterval.count() + 100);
    const bool saved = ready && target->grab().save(args[2], "PNG");
    if (saved)
        std::printf("window-shots: %s -> %s\n", qPrintable(args[1]), qPrintable(args[2]));
    w.close();
    return saved ? 0 : 1;
}

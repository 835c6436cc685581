#include "BenchSupport.h"
#include "FakeCorvane.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace {

// ---------------------------------------------------------------------------
// Helper processes: this program started again in another role.

// Keeps one core busy until it is stopped, the harness ends, or the time is up.
int spin(int seconds)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    volatile unsigned long counter = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (int i = 0; i < 1'000'000; ++i)
            counter = counter + 1;
    }
    return 0;
}

// The floor's form body: what Tarvex posts for the benchmark's contact, byte
// for byte. Only the call sign changes from contact to contact; the rest of
// the record is ready-made, so nothing is converted.
constexpr std::string_view FloorBodyHead =
    "email=op%40example.org&password=secret&callsign=Q9ABC&api=7d41c9a0be3358f2a6e0d17c4b92f85e306aa1cd"
    "&adif=%3CCALL%3A";
constexpr std::string_view FloorBodyTail =
    "+%3CRST_RCVD%3A3%3E579+%3CRST_SENT%3A3%3E599+%3CFREQ%3A8%3E14.20012+%3CBAND%3A3%3E20M+%3CMODE%3A2%3ECW+"
    "%3CQSO_DATE%3A8%3E20111126+%3CTIME_ON%3A6%3E140533+%3CSTX%3A2%3E12+%3CSRX%3A3%3E345+"
    "%3CSRX_STRING%3A2%3E14+%3CPFX%3A2%3EQ9+%3CTX_PWR%3A2%3E-1+%3CFREQ_RX%3A8%3E14.20012+%3CEOR%3E";

// Form-encodes as Tarvex does: unreserved bytes as they are, a blank as "+".
void appendFormEncoded(std::string& out, std::string_view text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (const char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '*') {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += Hex[static_cast<unsigned char>(c) >> 4];
            out += Hex[static_cast<unsigned char>(c) & 0x0F];
        }
    }
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Reads one whole reply (headers, then Content-Length bytes of body). False
// when the connection ended first or the reply has no length; `keepOpen`
// says whether the service lets the connection be used again.
bool readReply(int fd, bool& keepOpen)
{
    std::string reply;
    char chunk[4096];
    std::size_t needed = std::string::npos;
    while (needed == std::string::npos || reply.size() < needed) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        reply.append(chunk, static_cast<std::size_t>(got));
        if (needed != std::string::npos)
            continue;
        const std::size_t end = reply.find("\r\n\r\n");
        if (end == std::string::npos)
            continue;
        std::string head = reply.substr(0, end + 2);
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const std::size_t length = head.find("\r\ncontent-length:");
        if (length == std::string::npos)
            return false;
        needed = end + 4 + std::strtoul(head.c_str() + length + 17, nullptr, 10);
        keepOpen = head.find("\r\nconnection: close") == std::string::npos;
    }
    return true;
}

int connectTo(const addrinfo& address)
{
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0)
        return -1;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The least any bridge could do for a contact: a bare UDP socket read with
// blocking calls, and for each datagram one ready-made request written on a
// kept-alive TCP connection, its reply read before the next datagram.
int floorBridge(int argc, char* argv[])
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_bridges --floor UDP-PORT URL\n");
        return 2;
    }
    const QUrl url(QString::fromLocal8Bit(argv[3]));
    const std::string host = url.host().toStdString();
    const std::string port = std::to_string(url.port(80));
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* service = nullptr;
    if (url.scheme() != QLatin1String("http") ||
        ::getaddrinfo(host.c_str(), port.c_str(), &hints, &service) != 0) {
        std::fprintf(stderr, "bench_bridges: cannot reach %s\n", argv[3]);
        return 2;
    }

    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    if (udp < 0 || ::bind(udp, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return 1;

    const std::string hostHeader = url.port(80) == 80 ? host : host + ':' + port;
    const std::string head = "POST " + url.path().toStdString() + " HTTP/1.1\r\nHost: " + hostHeader +
                             "\r\nContent-Type:application/x-www-form-urlencoded\r\nContent-Length: ";
    constexpr std::string_view Tail = "\r\nUser-Agent: Tarvex/1.0.0\r\nConnection: keep-alive\r\n\r\n";
    std::string datagram(65536, '\0');
    std::string body;
    std::string request;
    int tcp = -1;
    for (;;) {
        const ssize_t size = ::recv(udp, datagram.data(), datagram.size(), 0);
        if (size < 0)
            continue;
        const std::string_view text(datagram.data(), static_cast<std::size_t>(size));
        const std::size_t callStart = text.find("<call>");
        const std::size_t callEnd = text.find("</call>");
        if (callStart == std::string_view::npos || callEnd == std::string_view::npos ||
            callEnd < callStart + 6)
            continue;
        const std::string_view call = text.substr(callStart + 6, callEnd - callStart - 6);

        body.assign(FloorBodyHead);
        body += std::to_string(call.size());
        body += "%3E";
        appendFormEncoded(body, call);
        body += FloorBodyTail;
        request.assign(head);
        request += std::to_string(body.size());
        request += Tail;
        request += body;

        // A kept-alive connection the service has closed is reopened once; a
        // failure on a fresh one drops the contact.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool reused = tcp >= 0;
            if (tcp < 0)
                tcp = connectTo(*service);
            bool keepOpen = false;
            if (tcp >= 0 && writeAll(tcp, request) && readReply(tcp, keepOpen)) {
                if (!keepOpen) {
                    ::close(tcp);
                    tcp = -1;
                }
                break;
            }
            if (tcp >= 0)
                ::close(tcp);
            tcp = -1;
            if (!reused)
                break;
        }
    }
}

// ---------------------------------------------------------------------------
// The harness.

enum class Kind
{
    Floor,
    Tarvex,
    Script
};

struct Setup
{
    QString self;
    QString tarvex;
    QString sender;
    QString script;
    QString python;
    bool haveScript = false;
    int burstRuns = 3;
};

QString nameOf(Kind kind)
{
    switch (kind) {
    case Kind::Floor:
        return QStringLiteral("floor: bare sockets, ready-made POST");
    case Kind::Tarvex:
        return QStringLiteral("tarvex");
    case Kind::Script:
        return QStringLiteral("naive script");
    }
    return {};
}

// The contact a request carries: the call sign of its ADIF record.
QString callIn(const QString& adif)
{
    static const QRegularExpression record(QStringLiteral("<CALL:\\d+>([^ <]+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    return record.match(adif).captured(1);
}

// The stand-in service in this process, answering OK at once, with the time
// each contact first reached it.
class Service final
{
public:
    explicit Service(const QElapsedTimer& clock) : m_clock(clock)
    {
        QObject::connect(&m_fake, &FakeCorvane::requestReceived, &m_fake,
                         [this](const FakeCorvane::Request& request) {
                             ++requests;
                             lastAtNs = m_clock.nsecsElapsed();
                             const QString call =
                                 callIn(FakeCorvane::formFields(request.body).value(QStringLiteral("adif")));
                             if (call.isEmpty() || firstAtNs.contains(call))
                                 return;
                             firstAtNs.insert(call, lastAtNs);
                             if (onContact)
                                 onContact(call);
                         });
    }
    bool listen() { return m_fake.listen(); }
    QString url() const { return m_fake.baseUrl().toString(); }

    QHash<QString, qint64> firstAtNs;
    int requests = 0;
    qint64 lastAtNs = 0;
    std::function<void(const QString&)> onContact;

private:
    const QElapsedTimer& m_clock;
    FakeCorvane m_fake;
};

// One bridge in a temporary directory of its own, listening on a free port.
class Bridge final
{
public:
    Bridge(Kind kind, const Setup& setup, QString serviceUrl, QStringList extraArguments = {})
        : m_kind(kind), m_setup(setup), m_serviceUrl(std::move(serviceUrl)),
          m_extraArguments(std::move(extraArguments))
    {
    }
    ~Bridge() { stop(); }

    bool start()
    {
        m_port = Bench::freeUdpPort();
        const QString directory = m_directory.path();
        // Their output goes to a file: a bridge that reports every contact
        // must not be held up by a pipe, nor flood the tables.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(output());
        const QByteArray settings = Bench::bridgeSettings(m_serviceUrl, m_port);
        bool started = false;
        switch (m_kind) {
        case Kind::Floor:
            m_process.start(m_setup.self, {QStringLiteral("--floor"), QString::number(m_port),
                                           m_serviceUrl + QStringLiteral("/realtime.php")});
            started = m_process.waitForStarted();
            break;
        case Kind::Tarvex:
            started = Bench::startTarvex(m_process, m_setup.tarvex, directory, settings, m_extraArguments);
            break;
        case Kind::Script:
            started = Bench::startPeer(m_process, m_setup.python, m_setup.script, directory, settings);
            break;
        }
        if (started && Bench::waitFor([this] { return Bench::udpPortBound(m_port); }, 10000))
            return true;
        stop();
        QFile file(output());
        file.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "bench_bridges: %s did not start listening on UDP port %u; its output:\n%s\n",
                     qPrintable(nameOf(m_kind)), m_port, file.readAll().right(2000).constData());
        return false;
    }

    void stop() { Bench::stopProcess(m_process); }
    qint64 pid() const { return m_process.processId(); }
    quint16 port() const { return m_port; }
    Kind kind() const { return m_kind; }

private:
    QString output() const { return QDir(m_directory.path()).filePath(QStringLiteral("output.txt")); }

    Kind m_kind;
    const Setup& m_setup;
    QString m_serviceUrl;
    QStringList m_extraArguments;
    QTemporaryDir m_directory;
    QProcess m_process;
    quint16 m_port = 0;
};

// The other core kept busy by a process of our own while it lives.
class BusyCore final
{
public:
    BusyCore(const Setup& setup, bool busy)
    {
        if (!busy)
            return;
        // A session of its own: with autogrouping on, the scheduler shares
        // the CPU between sessions first, and a busy loop in ours would take
        // its share from the bridges rather than from the machine.
        m_process.setChildProcessModifier([] { setsid(); });
        m_process.start(setup.self, {QStringLiteral("--spin"), QStringLiteral("600")});
        m_process.waitForStarted();
        Bench::waitFor([] { return false; }, 200);
    }
    ~BusyCore() { Bench::stopProcess(m_process); }

private:
    QProcess m_process;
};

// The call sign Bench::contactDatagram gives a serial.
QString callOf(int serial)
{
    return QStringLiteral("Q9L%1").arg(serial, 6, 10, QLatin1Char('0'));
}

void pause(qint64 milliseconds)
{
    Bench::waitFor([] { return false; }, milliseconds);
}

// Sends each (port, serial) of the plan `gapUs` apart, on a schedule kept
// against the clock so one late tick does not delay the rest; records when
// each left.
void sendPaced(const QList<std::pair<quint16, int>>& plan, qint64 gapUs, const QElapsedTimer& clock,
               QHash<QString, qint64>* sentAtNs = nullptr)
{
    QUdpSocket socket;
    QElapsedTimer since;
    since.start();
    qsizetype next = 0;
    const auto due = [&] {
        while (next < plan.size() && since.nsecsElapsed() >= next * gapUs * 1000) {
            const auto& [port, serial] = plan[next];
            const QByteArray datagram = Bench::contactDatagram(serial);
            if (sentAtNs)
                sentAtNs->insert(callOf(serial), clock.nsecsElapsed());
            socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
            ++next;
        }
        return next == plan.size();
    };
    Bench::waitFor(due, plan.size() * gapUs / 1000 + 5000);
}

QString micro(double ns)
{
    return Bench::fixed(ns / 1000.0, 0);
}

QString ms(double milliseconds)
{
    return Bench::fixed(milliseconds, 3);
}

// Serials are never reused within a run, so a late request is never taken
// for a later contact.
int g_nextSerial = 1;

QList<Kind> kindsFor(const Setup& setup, bool withFloor)
{
    QList<Kind> kinds;
    if (withFloor)
        kinds.append(Kind::Floor);
    kinds.append(Kind::Tarvex);
    if (setup.haveScript)
        kinds.append(Kind::Script);
    return kinds;
}

QString scriptNote(const Setup& setup)
{
    return QStringLiteral("naive script: skipped, %1 is not there").arg(setup.script);
}

// ---------------------------------------------------------------------------
// CPU per contact.

struct CpuRun
{
    bool ran = false;
    int received = 0;
    double nsPerContact = 0;
    int threadsEnded = 0;
};

CpuRun measureCpu(const Setup& setup, Kind kind, bool busy, int count, const QElapsedTimer& clock)
{
    constexpr int WarmUp = 10;
    constexpr int GapUs = 5000;
    CpuRun run;
    BusyCore core(setup, busy);
    Service service(clock);
    if (!service.listen())
        return run;
    Bridge bridge(kind, setup, service.url());
    if (!bridge.start())
        return run;
    pause(500);

    // First contacts pay for connecting and first use; they are not counted.
    QList<std::pair<quint16, int>> plan;
    for (int i = 0; i < WarmUp; ++i)
        plan.append({bridge.port(), g_nextSerial++});
    sendPaced(plan, GapUs, clock);
    Bench::waitFor([&] { return service.firstAtNs.size() >= WarmUp; }, 5000);
    pause(300);

    plan.clear();
    QSet<QString> measured;
    for (int i = 0; i < count; ++i) {
        plan.append({bridge.port(), g_nextSerial});
        measured.insert(callOf(g_nextSerial++));
    }
    Bench::ThreadMeter meter;
    meter.start(bridge.pid());
    QTimer poller;
    QObject::connect(&poller, &QTimer::timeout, [&] { meter.poll(); });
    poller.start(50);
    service.onContact = [&](const QString& call) {
        if (measured.contains(call) && ++run.received == count)
            meter.poll(); // the moment the last contact arrived
    };
    sendPaced(plan, GapUs, clock);
    Bench::waitFor([&] { return run.received == count; }, 15000);
    if (run.received < count)
        meter.poll();
    poller.stop();
    service.onContact = nullptr;

    run.ran = true;
    run.nsPerContact = run.received > 0 ? static_cast<double>(meter.cpuNs()) / run.received : 0;
    run.threadsEnded = meter.threadsEnded();
    return run;
}

bool cpuTable(const Setup& setup, const QElapsedTimer& clock)
{
    constexpr int Count = 1000;
    QHash<Kind, std::pair<CpuRun, CpuRun>> runs;
    bool ok = true;
    for (const Kind kind : kindsFor(setup, true)) {
        runs[kind].first = measureCpu(setup, kind, false, Count, clock);
        ok = ok && runs[kind].first.ran;
    }
    for (const Kind kind : kindsFor(setup, true)) {
        runs[kind].second = measureCpu(setup, kind, true, Count, clock);
        ok = ok && runs[kind].second.ran;
    }

    Bench::Table table(
        QStringLiteral(
            "CPU per contact (%1 contacts at 200/s after 10 uncounted; service answers OK at once; "
            "CPU of all the bridge's threads from the first send until the service has the last "
            "contact; target: tarvex at most the script's, idle and busy)")
            .arg(Count),
        {"bridge", "idle: received", "idle: us/contact", "other core busy: received", "busy: us/contact",
         "target"});
    int ended = 0;
    for (const Kind kind : kindsFor(setup, true)) {
        const auto& [idle, busy] = runs[kind];
        QString target;
        if (kind == Kind::Tarvex && !setup.haveScript) {
            target = QStringLiteral("n/a (no script)");
        } else if (kind == Kind::Tarvex) {
            const auto& [scriptIdle, scriptBusy] = runs[Kind::Script];
            const bool met = idle.received == Count && busy.received == Count &&
                             idle.nsPerContact <= scriptIdle.nsPerContact &&
                             busy.nsPerContact <= scriptBusy.nsPerContact;
            target = met ? QStringLiteral("met") : QStringLiteral("MISSED");
        }
        table.addRow({nameOf(kind), QStringLiteral("%1/%2").arg(idle.received).arg(Count),
                      micro(idle.nsPerContact), QStringLiteral("%1/%2").arg(busy.received).arg(Count),
                      micro(busy.nsPerContact), target});
        ended += idle.threadsEnded + busy.threadsEnded;
    }
    if (ended > 0)
        table.addNote(
            QStringLiteral("%1 thread(s) ended during the runs; their CPU is counted up to the last "
                           "50 ms poll before they ended")
                .arg(ended));
    if (!setup.haveScript)
        table.addNote(scriptNote(setup));
    table.addNote(Bench::loadNote());
    table.print();
    return ok;
}

// ---------------------------------------------------------------------------
// Latency from send to the POST at the service.

struct LatencyRun
{
    bool ran = false;
    int sent = 0;
    QList<double> ms;
};

QHash<Kind, LatencyRun> measureLatency(const Setup& setup, bool busy, int count, const QElapsedTimer& clock)
{
    constexpr int GapUs = 10000;
    constexpr int WarmUp = 5;
    QHash<Kind, LatencyRun> runs;
    BusyCore core(setup, busy);
    Service service(clock);
    if (!service.listen())
        return runs;
    // All run at once, their contacts interleaved, so load from elsewhere
    // falls on each alike.
    std::vector<std::unique_ptr<Bridge>> bridges;
    for (const Kind kind : kindsFor(setup, true)) {
        bridges.push_back(std::make_unique<Bridge>(kind, setup, service.url()));
        if (!bridges.back()->start())
            return runs;
    }
    pause(1000);

    const qint64 gapUs = GapUs / static_cast<qint64>(bridges.size());
    QList<std::pair<quint16, int>> plan;
    for (int i = 0; i < WarmUp; ++i) {
        for (const auto& bridge : bridges)
            plan.append({bridge->port(), g_nextSerial++});
    }
    sendPaced(plan, gapUs, clock);
    Bench::waitFor([&] { return service.firstAtNs.size() >= plan.size(); }, 5000);
    pause(300);

    plan.clear();
    QHash<QString, Kind> kindOf;
    for (int i = 0; i < count; ++i) {
        for (const auto& bridge : bridges) {
            kindOf.insert(callOf(g_nextSerial), bridge->kind());
            plan.append({bridge->port(), g_nextSerial++});
            ++runs[bridge->kind()].sent;
        }
    }
    QHash<QString, qint64> sentAtNs;
    sendPaced(plan, gapUs, clock, &sentAtNs);
    Bench::waitFor(
        [&] {
            return std::all_of(kindOf.keyBegin(), kindOf.keyEnd(),
                               [&](const QString& call) { return service.firstAtNs.contains(call); });
        },
        10000);
    for (auto it = kindOf.cbegin(); it != kindOf.cend(); ++it) {
        if (service.firstAtNs.contains(it.key()))
            runs[it.value()].ms.append(
                static_cast<double>(service.firstAtNs.value(it.key()) - sentAtNs.value(it.key())) / 1e6);
    }
    for (LatencyRun& run : runs)
        run.ran = true;
    return runs;
}

bool latencyTable(const Setup& setup, const QElapsedTimer& clock)
{
    constexpr int Count = 300;
    const QHash<Kind, LatencyRun> idle = measureLatency(setup, false, Count, clock);
    const QHash<Kind, LatencyRun> busy = measureLatency(setup, true, Count, clock);

    Bench::Table table(
        QStringLiteral("Latency, send -> POST received by the service (%1 contacts to each, 10 ms apart, "
                       "interleaved; target: tarvex's p99 within 2 ms of the floor and at most the "
                       "script's, idle and busy)")
            .arg(Count),
        {"path", "idle: received", "p50 ms", "p99 ms", "max ms", "other core busy: received", "p50 ms",
         "p99 ms", "max ms", "target"});
    const auto p = [](const QHash<Kind, LatencyRun>& runs, Kind kind, double percent) {
        return Bench::percentile(runs.value(kind).ms, percent);
    };
    const auto complete = [](const QHash<Kind, LatencyRun>& runs, Kind kind) {
        return runs.value(kind).ran && runs.value(kind).ms.size() == runs.value(kind).sent;
    };
    for (const Kind kind : kindsFor(setup, true)) {
        QString target;
        if (kind == Kind::Tarvex) {
            QStringList missed;
            for (const auto& [label, runs] :
                 {std::pair{QStringLiteral("idle"), &idle}, std::pair{QStringLiteral("busy"), &busy}}) {
                const double p99 = p(*runs, Kind::Tarvex, 99);
                if (!complete(*runs, Kind::Tarvex) || !complete(*runs, Kind::Floor))
                    missed << label + QStringLiteral(" incomplete");
                else if (p99 > p(*runs, Kind::Floor, 99) + 2.0)
                    missed << label + QStringLiteral(" floor+") +
                                  Bench::fixed(p99 - p(*runs, Kind::Floor, 99), 1);
                if (setup.haveScript && p99 > p(*runs, Kind::Script, 99))
                    missed << label + QStringLiteral(" > script");
            }
            target =
                missed.isEmpty() ? QStringLiteral("met") : QStringLiteral("MISSED: ") + missed.join(", ");
        }
        const auto cells = [&](const QHash<Kind, LatencyRun>& runs) {
            const LatencyRun run = runs.value(kind);
            return QStringList{QStringLiteral("%1/%2").arg(run.ms.size()).arg(run.sent),
                               ms(p(runs, kind, 50)), ms(p(runs, kind, 99)), ms(p(runs, kind, 100))};
        };
        table.addRow(QStringList{nameOf(kind)} + cells(idle) + cells(busy) + QStringList{target});
    }
    const auto difference = [&](const QHash<Kind, LatencyRun>& runs) {
        return QStringList{QString(), ms(p(runs, Kind::Tarvex, 50) - p(runs, Kind::Floor, 50)),
                           ms(p(runs, Kind::Tarvex, 99) - p(runs, Kind::Floor, 99)), QString()};
    };
    table.addRow(QStringList{QStringLiteral("tarvex - floor")} + difference(idle) + difference(busy) +
                 QStringList{QString()});
    table.addNote(QStringLiteral("5 contacts to each bridge before the measured ones are not counted (first "
                                 "connection)"));
    if (!setup.haveScript)
        table.addNote(scriptNote(setup));
    table.addNote(Bench::loadNote());
    table.print();
    return complete(idle, Kind::Tarvex) && complete(busy, Kind::Tarvex);
}

// ---------------------------------------------------------------------------
// Burst.

struct BurstRun
{
    bool ran = false;
    int received = 0;
    int requests = 0;
    qint64 senderMs = -1;
    qint64 lastMs = -1;
    qint64 drops = -1;
    qint64 receiveBuffer = -1;
};

BurstRun measureBurst(const Setup& setup, Kind kind, const QStringList& extraArguments, int count,
                      const QElapsedTimer& clock)
{
    constexpr qint64 QuietMs = 5000;
    BurstRun run;
    BusyCore core(setup, true);
    Service service(clock);
    if (!service.listen())
        return run;
    Bridge bridge(kind, setup, service.url(), extraArguments);
    if (!bridge.start())
        return run;
    pause(500);
    run.receiveBuffer = Bench::udpReceiveBuffer(bridge.port());
    const qint64 dropsBefore = Bench::udpDrops(bridge.port());

    QProcess sender;
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 startNs = clock.nsecsElapsed();
    sender.start(setup.sender,
                 {QStringLiteral("--port"), QString::number(bridge.port()), QStringLiteral("--count"),
                  QString::number(count), QStringLiteral("--gap"), QStringLiteral("0")});
    if (!sender.waitForStarted() || !sender.waitForFinished(60000)) {
        std::fprintf(stderr, "bench_bridges: send-contact did not run\n");
        return run;
    }
    run.senderMs = (clock.nsecsElapsed() - startNs) / 1'000'000;
    sender.readAllStandardOutput();

    // Drained: every contact in, or nothing new for a while.
    const qint64 senderEndNs = clock.nsecsElapsed();
    Bench::waitFor(
        [&] {
            const qint64 quietSince = std::max(senderEndNs, service.lastAtNs);
            return service.firstAtNs.size() == count ||
                   clock.nsecsElapsed() - quietSince > QuietMs * 1'000'000;
        },
        300'000);
    const qint64 dropsAfter = Bench::udpDrops(bridge.port());
    run.drops = dropsBefore >= 0 && dropsAfter >= 0 ? dropsAfter - dropsBefore : -1;
    run.received = static_cast<int>(service.firstAtNs.size());
    run.requests = service.requests;
    run.lastMs = service.lastAtNs > startNs ? (service.lastAtNs - startNs) / 1'000'000 : -1;
    run.ran = true;
    return run;
}

bool burstTable(const Setup& setup, const QElapsedTimer& clock)
{
    constexpr int Count = 10000;
    struct Row
    {
        Kind kind;
        QString name;
        QString asked;
        QStringList arguments;
        QList<BurstRun> runs;
    };
    QList<Row> rows{{Kind::Tarvex, QStringLiteral("tarvex"), QStringLiteral("its own"), {}, {}},
                    {Kind::Tarvex,
                     QStringLiteral("tarvex --receive-buffer 212992"),
                     QStringLiteral("208 KiB"),
                     {QStringLiteral("--receive-buffer"), QStringLiteral("212992")},
                     {}}};
    if (setup.haveScript)
        rows.append({Kind::Script, nameOf(Kind::Script), QStringLiteral("system default"), {}, {}});

    // Whether the reader gets the CPU while the burst lasts decides the
    // losses, so one burst proves little: each bridge gets several, taking
    // turns so that load from elsewhere falls on each alike.
    bool ok = true;
    for (int round = 0; round < setup.burstRuns; ++round) {
        for (Row& row : rows) {
            row.runs.append(measureBurst(setup, row.kind, row.arguments, Count, clock));
            ok = ok && row.runs.last().ran;
        }
    }

    Bench::Table table(
        QStringLiteral("Burst (%1 datagrams from send-contact --gap 0, the other core busy, %2 bursts each; "
                       "service answers OK at once; lost = not received by the service after the drain; "
                       "target: 0 lost for tarvex with its own buffer, in every burst)")
            .arg(Count)
            .arg(setup.burstRuns),
        {"bridge", "receive buffer asked", "granted (kernel)", "sender took ms", "lost",
         "dropped at the socket", "last received after ms (longest)", "target"});
    const auto known = [](qint64 value) { return value >= 0 ? QString::number(value) : QStringLiteral("?"); };
    for (const Row& row : rows) {
        QStringList granted;
        QStringList senderMs;
        QStringList lost;
        QStringList drops;
        qint64 longest = -1;
        qint64 repeated = 0;
        bool allIn = true;
        for (const BurstRun& run : row.runs) {
            const QString buffer = run.receiveBuffer >= 0
                                       ? Bench::fixed(static_cast<double>(run.receiveBuffer) / 1024.0, 0) +
                                             QStringLiteral(" KiB")
                                       : QStringLiteral("?");
            if (!granted.contains(buffer))
                granted << buffer;
            senderMs << known(run.senderMs);
            lost << (run.ran ? QString::number(Count - run.received) : QStringLiteral("?"));
            drops << known(run.drops);
            longest = std::max(longest, run.lastMs);
            repeated += run.requests - run.received;
            allIn = allIn && run.ran && run.received == Count;
        }
        QString target;
        if (row.kind == Kind::Tarvex)
            target = !row.arguments.isEmpty() ? QStringLiteral("(reported)")
                     : allIn                  ? QStringLiteral("met")
                                              : QStringLiteral("MISSED");
        table.addRow({row.name, row.asked, granted.join(", "), senderMs.join(" / "), lost.join(" / "),
                      drops.join(" / "), known(longest), target});
        if (repeated > 0)
            table.addNote(QStringLiteral("%1: %2 request(s) repeated a contact already received")
                              .arg(row.name)
                              .arg(repeated));
    }
    table.addNote(QStringLiteral("granted: rb of `ss -m` before the burst (the kernel doubles what a program "
                                 "asks for, up to twice net.core.rmem_max = %1)")
                      .arg(QString::fromLatin1([] {
                          QFile file(QStringLiteral("/proc/sys/net/core/rmem_max"));
                          return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("?");
                      }())));
    if (!setup.haveScript)
        table.addNote(scriptNote(setup));
    table.addNote(Bench::loadNote());
    table.print();
    return ok;
}

// ---------------------------------------------------------------------------
// Idle wake-ups.

bool idleTable(const Setup& setup, const QElapsedTimer& clock)
{
    constexpr int SettleMs = 3000;
    constexpr int Seconds = 10;
    Service service(clock);
    if (!service.listen())
        return false;
    std::vector<std::unique_ptr<Bridge>> bridges;
    for (const Kind kind : kindsFor(setup, true)) {
        bridges.push_back(std::make_unique<Bridge>(kind, setup, service.url()));
        if (!bridges.back()->start())
            return false;
    }
    pause(SettleMs);
    std::vector<Bench::ThreadMeter> meters(bridges.size());
    for (std::size_t i = 0; i < bridges.size(); ++i)
        meters[i].start(bridges[i]->pid());
    // Polled now and then, so a thread that ends is still counted; reading
    // another process's /proc entries does not wake it.
    QTimer poller;
    QObject::connect(&poller, &QTimer::timeout, [&] {
        for (Bench::ThreadMeter& meter : meters)
            meter.poll();
    });
    poller.start(500);
    pause(Seconds * 1000);
    poller.stop();
    for (Bench::ThreadMeter& meter : meters)
        meter.poll();

    Bench::Table table(
        QStringLiteral(
            "Idle wake-ups (%1 s after start-up settled for %2 s, nothing arriving; context switches "
            "of all threads, voluntary + nonvoluntary; target: tarvex 0 of its own)")
            .arg(Seconds)
            .arg(SettleMs / 1000),
        {"bridge", "threads", "switches", "per s", "by thread", "target"});
    for (std::size_t i = 0; i < bridges.size(); ++i) {
        QStringList byThread;
        const QList<std::pair<QString, qint64>> threads = meters[i].switchesByThread();
        for (const auto& [name, count] : threads)
            byThread << QStringLiteral("%1 %2").arg(name).arg(count);
        QString target;
        if (bridges[i]->kind() == Kind::Tarvex) {
            // Qt names its helper threads Q... or "Thread (pooled)"; the main
            // thread and every thread the program names itself are its own.
            qint64 own = 0;
            for (const auto& [name, count] : threads) {
                if (!name.startsWith(QLatin1Char('Q')) && name != QLatin1String("Thread (pooled)"))
                    own += count;
            }
            target = own == 0 ? QStringLiteral("met (own threads 0)")
                              : QStringLiteral("MISSED (own threads %1)").arg(own);
        }
        table.addRow({nameOf(bridges[i]->kind()), QString::number(threads.size()),
                      QString::number(meters[i].switches()),
                      Bench::fixed(static_cast<double>(meters[i].switches()) / Seconds, 1),
                      byThread.join(", "), target});
    }
    table.addNote(QStringLiteral("the floor waits in a blocking recv(): it wakes only for a datagram"));
    if (!setup.haveScript)
        table.addNote(scriptNote(setup));
    table.addNote(Bench::loadNote());
    table.print();
    return true;
}

} // namespace

// Tarvex beside a naive single-threaded script doing the same job, and beside
// the least any program could do for a contact: CPU per contact, latency,
// a burst, and wake-ups while idle. Each bridge is a black box: a process of
// its own in a directory of its own, posting to the stand-in service here.
int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--spin") == 0)
        return spin(std::atoi(argv[2]));
    if (argc > 1 && qstrcmp(argv[1], "--floor") == 0)
        return floorBridge(argc, argv);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"tarvex", "Built program.", "PATH"},
                       {"sender", "send-contact program.", "PATH"},
                       {"peer", "The naive script.", "PATH", QStringLiteral(TARVEX_BENCH_PEER_SCRIPT)},
                       {"python", "Python interpreter for the script.", "PATH", "python3"},
                       {"burst-runs", "Bursts for each bridge.", "N", "3"},
                       {"only", "Only these measures: cpu, latency, burst, idle (comma-separated).", "LIST",
                        "cpu,latency,burst,idle"}});
    parser.process(app);

    Setup setup;
    setup.self = QCoreApplication::applicationFilePath();
    setup.tarvex = parser.value("tarvex");
    setup.sender = parser.value("sender");
    setup.script = QFileInfo(parser.value("peer")).absoluteFilePath();
    setup.python = parser.value("python");
    setup.haveScript = QFileInfo::exists(setup.script);
    setup.burstRuns = std::max(1, parser.value("burst-runs").toInt());

    QTextStream out(stdout);
    out << "\nBridges: " << setup.tarvex << "; ";
    if (setup.haveScript) {
        QProcess version;
        version.setProcessChannelMode(QProcess::MergedChannels);
        version.start(setup.python, {QStringLiteral("--version")});
        if (version.waitForFinished(10000) && version.exitStatus() == QProcess::NormalExit &&
            version.exitCode() == 0) {
            const QString found = QStandardPaths::findExecutable(setup.python);
            out << setup.script << " with " << QString::fromUtf8(version.readAll()).trimmed() << " ("
                << (found.isEmpty() ? setup.python : found) << ")\n";
        } else {
            out << setup.python << " does not run: the naive script's rows are skipped\n";
            setup.haveScript = false;
        }
    } else {
        out << "naive script not found at " << setup.script << ": its rows are skipped\n";
    }
    out.flush();

    QElapsedTimer clock;
    clock.start();
    const QStringList only = parser.value("only").split(QLatin1Char(','));
    bool ok = true;
    if (only.contains(QStringLiteral("cpu")))
        ok = cpuTable(setup, clock) && ok;
    if (only.contains(QStringLiteral("latency")))
        ok = latencyTable(setup, clock) && ok;
    if (only.contains(QStringLiteral("burst")))
        ok = burstTable(setup, clock) && ok;
    if (only.contains(QStringLiteral("idle")))
        ok = idleTable(setup, clock) && ok;
    return ok ? 0 : 1;
}

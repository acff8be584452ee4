// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovamessagehandler.h>

#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <glib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {
// Set when this executable runs as the child process of the cases that end or
// configure a whole process.
bool inChild = false;
} // namespace

// The library's system log calls land here instead (the executable's definitions take
// precedence over the C library's): the in-process cases write tens of thousands of
// lines and keep them out of the machine's log; the child writes them to standard
// error as "openlog <ident> <option> <facility>" and "syslog <priority> <text>".
extern "C" {
void openlog(const char* ident, int option, int facility)
{
    if (inChild)
        std::fprintf(stderr, "openlog %s %d %d\n", ident, option, facility);
}

static void writeSyslog(int priority, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    if (inChild)
        std::fprintf(stderr, "syslog %d %s\n", priority, text);
}

void syslog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeSyslog(priority, format, args);
    va_end(args);
}

// What syslog() becomes when the library is built with _FORTIFY_SOURCE.
void __syslog_chk(int priority, int, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeSyslog(priority, format, args);
    va_end(args);
}
} // extern "C"

namespace {

// The child: the case named by \a scenario, logged to standard error by the library's handler.
int runChild(int argc, char** argv, const char* scenario)
{
    inChild = true;
    if (!std::strcmp(scenario, "levels")) {
        // Every level once, without an application object.
        RovaMessageHandler::initRovaLogging(true);
        qDebug("a debug line");
        qInfo("an info line");
        qWarning("a warning line");
        qCritical("a critical line");
        return 0;
    }
    if (!std::strcmp(scenario, "fatal")) {
        RovaMessageHandler::initRovaLogging(true);
        qFatal("the end");
    }
    if (!std::strcmp(scenario, "glib-error")) {
        RovaMessageHandler::initRovaLogging(true);
        g_error("store %s", "corrupt");
    }
    QCoreApplication app(argc, argv);
    RovaMessageHandler::initRovaLogging(true);
    RovaMessageHandler::initRovaLogging(true); // the second restorer finds logging off
    if (!std::strcmp(scenario, "glib-twice")) {
        // GLib messages of two domains after setting up twice.
        g_log("Tracker", G_LOG_LEVEL_WARNING, "store is %s", "busy");
        g_log("GLib-GIO", G_LOG_LEVEL_CRITICAL, "bus gone");
        return 0;
    }
    qWarning("before quit");
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int rc = app.exec();
    qWarning("after quit");
    return rc;
}

// A stream that reports its own deletion, to check who owns it.
struct WatchedStream : QTextStream
{
    WatchedStream(QString* target, bool* deleted) : QTextStream(target), deleted(deleted) {}
    ~WatchedStream() override { *deleted = true; }
    bool* deleted;
};

const QString timeStamp = QStringLiteral(R"(\d\d:\d\d:\d\d:\d\d\d)");

// Logged text with the time stamps replaced by "T", the lines joined by '|'.
QString withoutTimes(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.replaceInStrings(QRegularExpression(QLatin1Char('^') + timeStamp + QLatin1Char(' ')), QStringLiteral("T "));
    return lines.join(QLatin1Char('|'));
}

// A line the child writes, followed by the same text sent to the system log.
QString written(const char* level, const char* text)
{
    static const QHash<QString, int> priorities{{QStringLiteral("Fatal"), 0}, {QStringLiteral("Critical"), 2},
                                                {QStringLiteral("Warning"), 4}, {QStringLiteral("Info"), 6},
                                                {QStringLiteral("Debug"), 7}};
    return QStringLiteral("T %1: %2|syslog %3 %2|").arg(QLatin1String(level), QLatin1String(text))
            .arg(priorities.value(QLatin1String(level)));
}

} // namespace

class tst_RovaMessageHandler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_testHandler = qInstallMessageHandler(nullptr); // Qt Test's own, put back after each case
        qInstallMessageHandler(m_testHandler);
    }
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void cleanup()
    {
        RovaMessageHandler::initRovaLogging(false);
        qInstallMessageHandler(m_testHandler);
    }

    void shouldWriteQtAndGlibMessagesToSuppliedStreamItOwns()
    {
        qputenv("QROVA_LOG", "3"); // not consulted: a supplied stream gets everything
        QString text;
        QString second;
        bool firstDeleted = false;
        bool secondDeleted = false;
        RovaMessageHandler::initRovaLogging(true, new WatchedStream(&text, &firstDeleted));
        qunsetenv("QROVA_LOG");
        qDebug("d");
        qInfo("i");
        qWarning("disk %s", "full");
        qCritical() << "no" << QStringLiteral("room");
        // GLib's messages of every domain; only criticals and warnings keep their level.
        g_log("Tracker", G_LOG_LEVEL_CRITICAL, "store %s", "gone");
        g_log("GLib-GIO", G_LOG_LEVEL_WARNING, "bus slow");
        g_log(nullptr, G_LOG_LEVEL_WARNING, "no domain");
        g_log("GStreamer", G_LOG_LEVEL_MESSAGE, "message");
        g_log("Tracker", G_LOG_LEVEL_INFO, "info");
        g_log("Tracker", G_LOG_LEVEL_DEBUG, "debug");

        // The clock in a line is the time of writing.
        const QTime written = QTime::fromString(text.left(12), QStringLiteral("hh:mm:ss:zzz"));
        QVERIFY2(written.isValid(), qPrintable(text));
        QVERIFY(qAbs(written.msecsTo(QTime::currentTime())) < 60000);
        QCOMPARE(withoutTimes(text), QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|T Debug: d|T Info: i|"
                                                    "T Warning: disk full|T Critical: no \"room\"|T Critical: store gone|"
                                                    "T Warning: bus slow|T Warning: no domain|T Debug: message|"
                                                    "T Debug: info|T Debug: debug"));

        // The next set-up deletes the stream, and so does switching logging off.
        RovaMessageHandler::initRovaLogging(true, new WatchedStream(&second, &secondDeleted));
        QVERIFY(firstDeleted);
        QVERIFY(!secondDeleted);
        qWarning("two");
        RovaMessageHandler::initRovaLogging(false);
        QVERIFY(secondDeleted);
        QVERIFY(withoutTimes(second).endsWith(QLatin1String("|T Warning: two")));
    }

    void shouldKeepLinesWholeWhenThreadsLogTogether()
    {
        QString text;
        RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
        constexpr int threadCount = 6;
        constexpr int perThread = 5000;
        QSemaphore start;
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([t, &start] {
                start.acquire(); // all threads log at once
                // Straight into the handler: the lock under test is its own, not Qt's.
                for (int i = 0; i < perThread; ++i)
                    rovaMessageHandler(QtWarningMsg, QMessageLogContext(), QStringLiteral("thread %1 message %2 with padding").arg(t).arg(i));
            });
        }
        start.release(threadCount);
        for (auto& thread : threads)
            thread.join();
        RovaMessageHandler::initRovaLogging(false);

        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), threadCount * perThread + 1);
        const QRegularExpression wellFormed(QLatin1Char('^') + timeStamp + QStringLiteral(" Warning: thread (\\d) message (\\d+) with padding$"));
        std::vector<int> next(threadCount, 0);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QRegularExpressionMatch match = wellFormed.match(lines.at(i));
            QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
            QCOMPARE(match.captured(2).toInt(), next[match.captured(1).toInt()]++); // each thread's lines in its order
        }
    }

    void shouldLogInChildProcess_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("environment"); // one "NAME=value" or nothing
        QTest::addColumn<bool>("aborts");
        QTest::addColumn<QString>("lines");

        const QString open = QStringLiteral("openlog ROVA 1 8|"); // LOG_PID, LOG_USER
        const QString init = written("Debug", "RovaMessageHandler::initRovaLogging 0");
        const QString critical = written("Critical", "a critical line");
        const QString criticals = open + critical;
        const QString warnings = open + written("Warning", "a warning line") + critical;
        const QString all = open + init + written("Debug", "a debug line") + written("Info", "an info line")
                + written("Warning", "a warning line") + critical;
        const QString fatalWarning = open + written("Fatal", "a warning line");
        const QString glibTwice = open + open + written("Warning", "store is busy") + written("Critical", "bus gone");

        QTest::newRow("QROVA_LOG unset: warnings and up") << "levels" << QString() << false << warnings;
        QTest::newRow("QROVA_LOG 1: debug and up") << "levels" << "QROVA_LOG=1" << false << all;
        QTest::newRow("QROVA_LOG 2: warnings and up") << "levels" << "QROVA_LOG=2" << false << warnings;
        QTest::newRow("QROVA_LOG 3 and up: criticals") << "levels" << "QROVA_LOG=3" << false << criticals;
        QTest::newRow("QROVA_LOG 0 falls back") << "levels" << "QROVA_LOG=0" << false << warnings;
        QTest::newRow("QROVA_LOG word falls back") << "levels" << "QROVA_LOG=verbose" << false << warnings;
        QTest::newRow("QROVA_LOG hex is not decimal") << "levels" << "QROVA_LOG=0x1" << false << warnings;
        QTest::newRow("qFatal aborts after writing") << "fatal" << QString() << true << open + written("Fatal", "the end");
        QTest::newRow("QT_FATAL_WARNINGS: warning is fatal") << "levels" << "QT_FATAL_WARNINGS=1" << true << fatalWarning;
        QTest::newRow("QT_FATAL_WARNINGS with any value") << "levels" << "QT_FATAL_WARNINGS=" << true << fatalWarning;
        QTest::newRow("second set-up, GLib domains bridged once") << "glib-twice" << QString() << false << glibTwice;
        // GLib aborts by itself after a fatal message; the line saying why is out before.
        QTest::newRow("GLib critical made fatal is written as critical") << "glib-twice" << "G_DEBUG=fatal-criticals" << true << glibTwice;
        QTest::newRow("GLib error is written as critical") << "glib-error" << QString() << true
                                                           << open + written("Critical", "store corrupt");
        // The second restorer logs through Qt's own handler (the message pattern set for the child).
        const char* const restoring = "MessageHandlerRestorer: restoring default message handler.";
        QTest::newRow("aboutToQuit restores Qt's handler")
                << "quit" << "QROVA_LOG=1" << false
                << open + init + open + init + written("Warning", "before quit") + written("Debug", restoring)
                        + QLatin1String(restoring) + QStringLiteral("|after quit|");
    }

    void shouldLogInChildProcess()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, environment);
        QFETCH(bool, aborts);
        QFETCH(QString, lines);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QROVA_LOG"));
        env.remove(QStringLiteral("QT_FATAL_WARNINGS"));
        env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{message}"));
        // The abort is expected; a sanitizer build should not turn it into a report.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("handle_abort=0:detect_leaks=0"));
        if (!environment.isEmpty())
            env.insert(environment.section(QLatin1Char('='), 0, 0), environment.section(QLatin1Char('='), 1));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), scenario});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), aborts ? QProcess::CrashExit : QProcess::NormalExit);
        if (!aborts)
            QCOMPARE(child.exitCode(), 0);
        QCOMPARE(withoutTimes(QString::fromLocal8Bit(child.readAllStandardError())) + QLatin1Char('|'), lines);
    }

private:
    QtMessageHandler m_testHandler = nullptr;
};

int main(int argc, char** argv)
{
    if (argc == 3 && !std::strcmp(argv[1], "--child"))
        return runChild(argc, argv, argv[2]);
    QCoreApplication app(argc, argv);
    tst_RovaMessageHandler test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rovamessagehandler.moc"

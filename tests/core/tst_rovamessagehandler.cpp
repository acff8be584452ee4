// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovamessagehandler.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <glib.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {
// Set when this executable runs as the child process of the cases that end or configure a whole process.
bool inChild = false;
} // namespace

// The library's system log calls land here instead (the executable's definitions take precedence over the
// C library's): the in-process cases keep their lines out of the machine's log; the child writes them to
// standard error as "openlog <ident> <option> <facility>" and "syslog <priority> <text>".
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
int runChild(int argc, char** argv, const QByteArray& scenario)
{
    inChild = true;
    if (scenario == "quit") {
        QCoreApplication app(argc, argv);
        RovaMessageHandler::initRovaLogging(true);
        RovaMessageHandler::initRovaLogging(true); // the second restorer finds logging off
        qWarning("before quit");
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        const int rc = app.exec();
        qWarning("after quit");
        return rc;
    }
    RovaMessageHandler::initRovaLogging(true); // without an application object
    if (scenario == "glib") {
        g_log("GLib-GIO", G_LOG_LEVEL_CRITICAL, "bus gone");
        g_error("store %s", "corrupt");
    }
    if (scenario == "fatal")
        qFatal("the end");
    qDebug("a debug line");
    qInfo("an info line");
    qWarning("a warning line");
    qCritical("a critical line");
    return 0;
}

// A stream that reports its own deletion, to check who owns it.
struct WatchedStream : QTextStream
{
    WatchedStream(QString* target, bool* deleted) : QTextStream(target), deleted(deleted) {}
    ~WatchedStream() override { *deleted = true; }
    bool* deleted;
};

const QString timeStamp = uR"(\d\d:\d\d:\d\d:\d\d\d)"_s;

// Logged text with the time stamps replaced by "T", the lines joined by '|'.
QString withoutTimes(const QString& text)
{
    QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    lines.replaceInStrings(QRegularExpression(u'^' + timeStamp + u' '), u"T "_s);
    return lines.join(u'|');
}

// A line the child writes at syslog \a priority, followed by the same text sent to the system log.
QString written(int priority, const char* text)
{
    const char* const levels[] = {"Fatal", "", "Critical", "", "Warning", "", "Info", "Debug"};
    return u"T %1: %2|syslog %3 %2|"_s.arg(QLatin1String(levels[priority]), QLatin1String(text)).arg(priority);
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
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }
    void cleanup()
    {
        RovaMessageHandler::initRovaLogging(false);
        qInstallMessageHandler(m_testHandler);
    }

    void shouldWriteQtAndGlibMessagesToSuppliedStreamItOwns()
    {
        qputenv("QROVA_LOG", "3"); // not consulted: a supplied stream gets everything
        QString text, second;
        bool firstDeleted = false, secondDeleted = false;
        RovaMessageHandler::initRovaLogging(true, new WatchedStream(&text, &firstDeleted));
        qunsetenv("QROVA_LOG");
        qCritical() << "no" << u"room"_s;
        // GLib's messages of every domain; only criticals and warnings keep their level.
        g_log("Tracker", G_LOG_LEVEL_CRITICAL, "store %s", "gone");
        g_log("GLib-GIO", G_LOG_LEVEL_WARNING, "bus slow");
        g_log(nullptr, G_LOG_LEVEL_WARNING, "no domain");
        g_log("GStreamer", G_LOG_LEVEL_MESSAGE, "message");
        g_log("Tracker", G_LOG_LEVEL_INFO, "info");
        g_log("Tracker", G_LOG_LEVEL_DEBUG, "debug");

        // The clock in a line is the time of writing.
        const QTime written = QTime::fromString(text.left(12), u"hh:mm:ss:zzz"_s);
        QVERIFY2(written.isValid() && qAbs(written.msecsTo(QTime::currentTime())) < 60000, qPrintable(text));
        QCOMPARE(withoutTimes(text), u"T Debug: RovaMessageHandler::initRovaLogging 0|T Critical: no \"room\"|T Critical: store gone|"
                                     "T Warning: bus slow|T Warning: no domain|T Debug: message|T Debug: info|T Debug: debug"_s);

        // The next set-up deletes the stream, and so does switching logging off.
        RovaMessageHandler::initRovaLogging(true, new WatchedStream(&second, &secondDeleted));
        QVERIFY(firstDeleted && !secondDeleted);
        qWarning("two");
        g_log("Tracker", G_LOG_LEVEL_WARNING, "once"); // the second set-up bridges GLib once
        RovaMessageHandler::initRovaLogging(false);
        QVERIFY(secondDeleted);
        QVERIFY(withoutTimes(second).endsWith(QLatin1String("|T Warning: two|T Warning: once")));
    }

    void shouldKeepLinesWholeWhenThreadsLogTogether()
    {
        QString text;
        RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
        std::vector<std::thread> threads(6);
        for (std::thread& thread : threads) {
            // Straight into the handler: the lock under test is its own, not Qt's.
            thread = std::thread([] {
                for (int i = 0; i < 5000; ++i)
                    rovaMessageHandler(QtWarningMsg, QMessageLogContext(), u"a message with padding"_s);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        RovaMessageHandler::initRovaLogging(false);

        const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6 * 5000 + 1); // and the set-up's own
        QCOMPARE(lines.filter(QRegularExpression(u'^' + timeStamp + u" Warning: a message with padding$"_s)).size(), 6 * 5000);
    }

    void shouldLogInChildProcess_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("environment"); // one "NAME=value" or nothing
        QTest::addColumn<int>("signal"); // that ends the child: qFatal() aborts, GLib traps
        QTest::addColumn<QString>("lines");

        const QString open = u"openlog ROVA 1 8|"_s; // LOG_PID, LOG_USER
        const QString init = written(7, "RovaMessageHandler::initRovaLogging 0");
        const QString critical = written(2, "a critical line");
        const QString warnings = open + written(4, "a warning line") + critical;
        const QString all = open + init + written(7, "a debug line") + written(6, "an info line") + written(4, "a warning line") + critical;
        const QString fatalWarning = open + written(0, "a warning line");

        QTest::newRow("QROVA_LOG unset: warnings and up") << "levels" << QString() << 0 << warnings;
        QTest::newRow("QROVA_LOG 1: debug and up") << "levels" << "QROVA_LOG=1" << 0 << all;
        QTest::newRow("QROVA_LOG 2: warnings and up") << "levels" << "QROVA_LOG=2" << 0 << warnings;
        QTest::newRow("QROVA_LOG 3 and up: criticals") << "levels" << "QROVA_LOG=3" << 0 << open + critical;
        QTest::newRow("QROVA_LOG 0 falls back") << "levels" << "QROVA_LOG=0" << 0 << warnings;
        QTest::newRow("QROVA_LOG word falls back") << "levels" << "QROVA_LOG=verbose" << 0 << warnings;
        QTest::newRow("QROVA_LOG hex is not decimal") << "levels" << "QROVA_LOG=0x1" << 0 << warnings;
        QTest::newRow("qFatal aborts after writing") << "fatal" << QString() << SIGABRT << open + written(0, "the end");
        QTest::newRow("QT_FATAL_WARNINGS: warning is fatal") << "levels" << "QT_FATAL_WARNINGS=1" << SIGABRT << fatalWarning;
        QTest::newRow("QT_FATAL_WARNINGS with any value") << "levels" << "QT_FATAL_WARNINGS=" << SIGABRT << fatalWarning;
        // GLib ends the process by itself after a fatal message; the line saying why is out before.
        QTest::newRow("GLib error is written as critical") << "glib" << QString() << SIGTRAP
                                                           << open + written(2, "bus gone") + written(2, "store corrupt");
        QTest::newRow("GLib critical made fatal") << "glib" << "G_DEBUG=fatal-criticals" << SIGTRAP << open + written(2, "bus gone");
        // The second restorer logs through Qt's own handler (the message pattern set for the child).
        const char* const restoring = "MessageHandlerRestorer: restoring default message handler.";
        QTest::newRow("aboutToQuit restores Qt's handler")
                << "quit" << "QROVA_LOG=1" << 0
                << open + init + open + init + written(4, "before quit") + written(7, restoring) + QLatin1String(restoring) + u"|after quit|"_s;
    }

    void shouldLogInChildProcess()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, environment);
        QFETCH(int, signal);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"QROVA_LOG"_s);
        env.remove(u"QT_FATAL_WARNINGS"_s);
        env.insert(u"QT_MESSAGE_PATTERN"_s, u"%{message}"_s);
        // The abort is expected; a sanitizer build should not turn it into a report.
        env.insert(u"ASAN_OPTIONS"_s, u"handle_abort=0:detect_leaks=0"_s);
        if (!environment.isEmpty())
            env.insert(environment.section(u'=', 0, 0), environment.section(u'=', 1));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {u"--child"_s, scenario});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), signal ? QProcess::CrashExit : QProcess::NormalExit);
        QCOMPARE(child.exitCode(), signal);
        QTEST(QString(withoutTimes(QString::fromLocal8Bit(child.readAllStandardError())) + u'|'), "lines");
    }

private:
    QtMessageHandler m_testHandler = nullptr;
};

int main(int argc, char** argv)
{
    if (argc == 3 && argv[1] == QByteArrayView("--child"))
        return runChild(argc, argv, argv[2]);
    QCoreApplication app(argc, argv);
    tst_RovaMessageHandler test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rovamessagehandler.moc"

// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovamessagehandler.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTest>
#include <QTextStream>
#include <QThread>

#include <glib.h>

#include <memory>
#include <vector>

// The in-process cases write tens of thousands of lines; keep them out of the
// machine's system log. These definitions take precedence over the C library's;
// the child process checks what really reaches the system log.
extern "C" {
void openlog(const char*, int, int) {}
void syslog(int, const char*, ...) {}
}

namespace {

// A stream that reports its own deletion, to check who owns it.
class WatchedStream : public QTextStream
{
public:
    WatchedStream(QString* target, bool* deleted)
        : QTextStream(target, QIODevice::WriteOnly), m_deleted(deleted)
    {
    }
    ~WatchedStream() override { *m_deleted = true; }

private:
    bool* m_deleted;
};

const QString timeStamp = QStringLiteral(R"(\d\d:\d\d:\d\d:\d\d\d)");

// Lines of logged text with the time stamp replaced by "T", so they compare as one string.
QStringList withoutTimes(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QRegularExpression stamp(QLatin1Char('^') + timeStamp + QLatin1Char(' '));
    for (QString& line : lines) {
        const QRegularExpressionMatch match = stamp.match(line);
        if (match.hasMatch())
            line.replace(0, match.capturedLength(), QStringLiteral("T "));
    }
    return lines;
}

} // namespace

class tst_RovaMessageHandler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void shouldWriteTimeLevelAndMessageToSuppliedStreamItOwns();
    void shouldKeepLinesWholeWhenThreadsLogTogether();
    void shouldBridgeGlibMessagesOfEveryDomain();
    void shouldLogInChildProcess_data();
    void shouldLogInChildProcess();

private:
    QtMessageHandler m_testHandler = nullptr;
};

void tst_RovaMessageHandler::initTestCase()
{
    // Qt Test's own handler, put back after each case.
    m_testHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(m_testHandler);
}

void tst_RovaMessageHandler::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void tst_RovaMessageHandler::cleanup()
{
    RovaMessageHandler::initRovaLogging(false);
    qInstallMessageHandler(m_testHandler);
}

void tst_RovaMessageHandler::shouldWriteTimeLevelAndMessageToSuppliedStreamItOwns()
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

    const QString line = text.split(QLatin1Char('\n')).at(3);
    QVERIFY2(QRegularExpression(QLatin1Char('^') + timeStamp + QStringLiteral(" Warning: disk full$")).match(line).hasMatch(),
             qPrintable(line));
    // The clock in the line is the time of writing.
    const QTime written = QTime::fromString(line.left(12), QStringLiteral("hh:mm:ss:zzz"));
    QVERIFY(written.isValid());
    QVERIFY(qAbs(written.msecsTo(QTime::currentTime())) < 60000);
    QCOMPARE(withoutTimes(text).join(QLatin1Char('|')),
             QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|T Debug: d|T Info: i|"
                            "T Warning: disk full|T Critical: no \"room\""));

    // The next set-up deletes the stream, and so does switching logging off.
    RovaMessageHandler::initRovaLogging(true, new WatchedStream(&second, &secondDeleted));
    QVERIFY(firstDeleted);
    QVERIFY(!secondDeleted);
    qWarning("two");
    RovaMessageHandler::initRovaLogging(false);
    QVERIFY(secondDeleted);
    QCOMPARE(withoutTimes(second).last(), QStringLiteral("T Warning: two"));
}

void tst_RovaMessageHandler::shouldKeepLinesWholeWhenThreadsLogTogether()
{
    QString text;
    RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
    constexpr int threadCount = 6;
    constexpr int perThread = 5000;
    QSemaphore start;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t, &start] {
            start.acquire(); // all threads log at once
            // Straight into the handler: the lock under test is its own, not Qt's.
            for (int i = 0; i < perThread; ++i)
                rovaMessageHandler(QtWarningMsg, QMessageLogContext(),
                        QStringLiteral("thread %1 message %2 with some padding to make the line longer").arg(t).arg(i));
        }));
        threads.back()->start();
    }
    start.release(threadCount);
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));
    RovaMessageHandler::initRovaLogging(false);

    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), threadCount * perThread + 1);
    const QRegularExpression wellFormed(QLatin1Char('^') + timeStamp
            + QStringLiteral(" Warning: thread (\\d) message (\\d+) with some padding to make the line longer$"));
    std::vector<int> next(threadCount, 0);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = wellFormed.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        const int t = match.captured(1).toInt();
        QCOMPARE(match.captured(2).toInt(), next[t]++); // each thread's lines in its order
    }
}

void tst_RovaMessageHandler::shouldBridgeGlibMessagesOfEveryDomain()
{
    QString text;
    RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
    g_log("Tracker", G_LOG_LEVEL_CRITICAL, "store %s", "gone");
    g_log("GLib-GIO", G_LOG_LEVEL_WARNING, "bus slow");
    g_log(nullptr, G_LOG_LEVEL_WARNING, "no domain");
    g_log("GStreamer", G_LOG_LEVEL_MESSAGE, "message");
    g_log("Tracker", G_LOG_LEVEL_INFO, "info");
    g_log("Tracker", G_LOG_LEVEL_DEBUG, "debug");
    QCOMPARE(withoutTimes(text).join(QLatin1Char('|')),
             QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|T Critical: store gone|T Warning: bus slow|"
                            "T Warning: no domain|T Debug: message|T Debug: info|T Debug: debug"));
}

void tst_RovaMessageHandler::shouldLogInChildProcess_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("environment"); // one "NAME=value" or nothing
    QTest::addColumn<bool>("aborts");
    QTest::addColumn<QString>("lines");

    // Each written line is followed by the same text sent to the system log with its priority.
    const QString open = QStringLiteral("openlog ROVA 1 8|"); // LOG_PID, LOG_USER
    const QString all = open + QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|"
            "syslog 7 RovaMessageHandler::initRovaLogging 0|T Debug: a debug line|syslog 7 a debug line|"
            "T Info: an info line|syslog 6 an info line|T Warning: a warning line|syslog 4 a warning line|"
            "T Critical: a critical line|syslog 2 a critical line");
    const QString warnings = open + QStringLiteral("T Warning: a warning line|syslog 4 a warning line|"
                                                   "T Critical: a critical line|syslog 2 a critical line");
    const QString criticals = open + QStringLiteral("T Critical: a critical line|syslog 2 a critical line");
    const QString levels = QStringLiteral("levels");

    QTest::newRow("QROVA_LOG unset: warnings and up") << levels << QString() << false << warnings;
    QTest::newRow("QROVA_LOG 1: debug and up") << levels << "QROVA_LOG=1" << false << all;
    QTest::newRow("QROVA_LOG 2: warnings and up") << levels << "QROVA_LOG=2" << false << warnings;
    QTest::newRow("QROVA_LOG 3: criticals") << levels << "QROVA_LOG=3" << false << criticals;
    QTest::newRow("QROVA_LOG 9: criticals") << levels << "QROVA_LOG=9" << false << criticals;
    QTest::newRow("QROVA_LOG 0 falls back") << levels << "QROVA_LOG=0" << false << warnings;
    QTest::newRow("QROVA_LOG -1 falls back") << levels << "QROVA_LOG=-1" << false << warnings;
    QTest::newRow("QROVA_LOG word falls back") << levels << "QROVA_LOG=verbose" << false << warnings;
    QTest::newRow("QROVA_LOG hex is not decimal") << levels << "QROVA_LOG=0x1" << false << warnings;

    QTest::newRow("qFatal aborts after writing") << "fatal" << QString() << true
                                                 << open + QStringLiteral("T Fatal: the end|syslog 0 the end");
    QTest::newRow("QT_FATAL_WARNINGS: warning is fatal") << levels << "QT_FATAL_WARNINGS=1" << true
                                                         << open + QStringLiteral("T Fatal: a warning line|syslog 0 a warning line");
    QTest::newRow("QT_FATAL_WARNINGS with any value") << levels << "QT_FATAL_WARNINGS=" << true
                                                      << open + QStringLiteral("T Fatal: a warning line|syslog 0 a warning line");

    const QString glibTwice = open + open + QStringLiteral("T Warning: store is busy|syslog 4 store is busy|"
                                                          "T Critical: bus gone|syslog 2 bus gone");
    QTest::newRow("second set-up, GLib domains bridged once") << "glib-twice" << QString() << false << glibTwice;
    // GLib aborts by itself after a fatal message; the line saying why is out before.
    QTest::newRow("GLib critical made fatal is written as critical")
            << "glib-twice" << "G_DEBUG=fatal-criticals" << true << glibTwice;
    QTest::newRow("GLib error is written as critical")
            << "glib-error" << QString() << true << open + QStringLiteral("T Critical: store corrupt|syslog 2 store corrupt");
    // The second restorer logs through Qt's own handler (the message pattern set for the child).
    QTest::newRow("aboutToQuit restores Qt's handler")
            << "quit" << "QROVA_LOG=1" << false
            << QStringLiteral("openlog ROVA 1 8|T Debug: RovaMessageHandler::initRovaLogging 0|"
                              "syslog 7 RovaMessageHandler::initRovaLogging 0|"
                              "openlog ROVA 1 8|T Debug: RovaMessageHandler::initRovaLogging 0|"
                              "syslog 7 RovaMessageHandler::initRovaLogging 0|"
                              "T Warning: before quit|syslog 4 before quit|"
                              "T Debug: MessageHandlerRestorer: restoring default message handler.|"
                              "syslog 7 MessageHandlerRestorer: restoring default message handler.|"
                              "MessageHandlerRestorer: restoring default message handler.|after quit");
}

void tst_RovaMessageHandler::shouldLogInChildProcess()
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
    child.start(QStringLiteral(ROVA_LOG_CHILD), {scenario});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), aborts ? QProcess::CrashExit : QProcess::NormalExit);
    if (!aborts)
        QCOMPARE(child.exitCode(), 0);
    QCOMPARE(withoutTimes(QString::fromLocal8Bit(child.readAllStandardError())).join(QLatin1Char('|')), lines);
}

QTEST_GUILESS_MAIN(tst_RovaMessageHandler)
#include "tst_rovamessagehandler.moc"

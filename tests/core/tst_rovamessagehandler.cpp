// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovamessagehandler.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTextStream>
#include <QThread>

#include <glib.h>

#include <memory>
#include <vector>

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

struct ChildResult {
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1;
    QStringList lines;
};

ChildResult runChild(const QString& scenario, const QStringList& environment = {})
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QROVA_LOG"));
    env.remove(QStringLiteral("QT_FATAL_WARNINGS"));
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{message}"));
    // The abort is expected; a sanitizer build should not turn it into a report.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("handle_abort=0:detect_leaks=0"));
    for (const QString& entry : environment) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        env.insert(entry.left(eq), entry.mid(eq + 1));
    }
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QStringLiteral(ROVA_LOG_CHILD), {scenario});
    ChildResult result;
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
        return result;
    }
    result.status = child.exitStatus();
    result.code = child.exitCode();
    result.lines = withoutTimes(QString::fromLocal8Bit(child.readAllStandardError()));
    return result;
}

} // namespace

class tst_RovaMessageHandler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void shouldWriteTimeLevelAndMessage();
    void shouldWriteEverythingToASuppliedStream();
    void shouldDeleteSuppliedStreamOnNextSetUpAndOnSwitchingOff();
    void shouldStopWritingWhenSwitchedOff();
    void shouldKeepLinesWholeWhenThreadsLogTogether();
    void shouldBridgeGlibMessagesOfEveryDomain_data();
    void shouldBridgeGlibMessagesOfEveryDomain();
    void shouldTakeThresholdFromEnvironment_data();
    void shouldTakeThresholdFromEnvironment();
    void shouldAbortAfterWritingFatalMessage_data();
    void shouldAbortAfterWritingFatalMessage();
    void shouldSurviveSecondSetUpAndBridgeGlibOnce();
    void shouldRestoreDefaultHandlerWhenApplicationQuits();

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

void tst_RovaMessageHandler::shouldWriteTimeLevelAndMessage()
{
    QString text;
    RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
    qWarning("disk %s", "full");
    qCritical() << "no" << QStringLiteral("room");

    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4); // set-up line, two messages, the end of the last line
    QVERIFY2(QRegularExpression(QLatin1Char('^') + timeStamp + QStringLiteral(" Warning: disk full$"))
                     .match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
    // The clock in the line is the time of writing.
    const QTime written = QTime::fromString(lines.at(1).left(12), QStringLiteral("hh:mm:ss:zzz"));
    QVERIFY(written.isValid());
    QVERIFY(qAbs(written.msecsTo(QTime::currentTime())) < 60000);
    QCOMPARE(withoutTimes(text).join(QLatin1Char('|')),
             QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|T Warning: disk full|"
                            "T Critical: no \"room\""));
}

void tst_RovaMessageHandler::shouldWriteEverythingToASuppliedStream()
{
    qputenv("QROVA_LOG", "3"); // not consulted for a supplied stream
    QString text;
    RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
    qunsetenv("QROVA_LOG");
    qDebug("d");
    qInfo("i");
    qWarning("w");
    qCritical("c");
    QCOMPARE(withoutTimes(text).join(QLatin1Char('|')),
             QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|T Debug: d|T Info: i|"
                            "T Warning: w|T Critical: c"));
}

void tst_RovaMessageHandler::shouldDeleteSuppliedStreamOnNextSetUpAndOnSwitchingOff()
{
    QString first;
    QString second;
    bool firstDeleted = false;
    bool secondDeleted = false;
    RovaMessageHandler::initRovaLogging(true, new WatchedStream(&first, &firstDeleted));
    qWarning("one");
    RovaMessageHandler::initRovaLogging(true, new WatchedStream(&second, &secondDeleted));
    QVERIFY(firstDeleted);
    QVERIFY(!secondDeleted);
    qWarning("two");
    RovaMessageHandler::initRovaLogging(false);
    QVERIFY(secondDeleted);

    QCOMPARE(withoutTimes(first).last(), QStringLiteral("T Warning: one"));
    QCOMPARE(withoutTimes(second).last(), QStringLiteral("T Warning: two"));
}

void tst_RovaMessageHandler::shouldStopWritingWhenSwitchedOff()
{
    QString text;
    RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
    RovaMessageHandler::initRovaLogging(false);
    qInstallMessageHandler(m_testHandler);
    QTest::ignoreMessage(QtWarningMsg, "after");
    qWarning("after");
    QCOMPARE(withoutTimes(text), QStringList{QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0")});
}

void tst_RovaMessageHandler::shouldKeepLinesWholeWhenThreadsLogTogether()
{
    QString text;
    RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
    constexpr int threadCount = 6;
    constexpr int perThread = 400;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t] {
            for (int i = 0; i < perThread; ++i)
                qWarning("thread %d message %d with some padding to make the line longer", t, i);
        }));
        threads.back()->start();
    }
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

void tst_RovaMessageHandler::shouldBridgeGlibMessagesOfEveryDomain_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("line");

    QTest::newRow("critical, Tracker") << "Tracker" << int(G_LOG_LEVEL_CRITICAL) << "T Critical: glib says hi";
    QTest::newRow("warning, GLib-GIO") << "GLib-GIO" << int(G_LOG_LEVEL_WARNING) << "T Warning: glib says hi";
    QTest::newRow("warning, no domain") << QString() << int(G_LOG_LEVEL_WARNING) << "T Warning: glib says hi";
    QTest::newRow("message is debug") << "GStreamer" << int(G_LOG_LEVEL_MESSAGE) << "T Debug: glib says hi";
    QTest::newRow("info is debug") << "Tracker" << int(G_LOG_LEVEL_INFO) << "T Debug: glib says hi";
    QTest::newRow("debug is debug") << "Tracker" << int(G_LOG_LEVEL_DEBUG) << "T Debug: glib says hi";
}

void tst_RovaMessageHandler::shouldBridgeGlibMessagesOfEveryDomain()
{
    QFETCH(QString, domain);
    QFETCH(int, level);
    QFETCH(QString, line);

    QString text;
    RovaMessageHandler::initRovaLogging(true, new QTextStream(&text));
    const QByteArray domainName = domain.toUtf8();
    g_log(domain.isNull() ? nullptr : domainName.constData(), GLogLevelFlags(level), "glib says %s", "hi");
    QCOMPARE(withoutTimes(text).join(QLatin1Char('|')),
             QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|") + line);
}

void tst_RovaMessageHandler::shouldTakeThresholdFromEnvironment_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("lines");

    const QString all = QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|T Debug: a debug line|"
                                       "T Info: an info line|T Warning: a warning line|T Critical: a critical line");
    const QString warnings = QStringLiteral("T Warning: a warning line|T Critical: a critical line");
    const QString criticals = QStringLiteral("T Critical: a critical line");

    QTest::newRow("unset") << QStringList() << warnings;
    QTest::newRow("1: debug and up") << QStringList{QStringLiteral("QROVA_LOG=1")} << all;
    QTest::newRow("2: warnings and up") << QStringList{QStringLiteral("QROVA_LOG=2")} << warnings;
    QTest::newRow("3: criticals") << QStringList{QStringLiteral("QROVA_LOG=3")} << criticals;
    QTest::newRow("9: criticals") << QStringList{QStringLiteral("QROVA_LOG=9")} << criticals;
    QTest::newRow("0 falls back") << QStringList{QStringLiteral("QROVA_LOG=0")} << warnings;
    QTest::newRow("-1 falls back") << QStringList{QStringLiteral("QROVA_LOG=-1")} << warnings;
    QTest::newRow("word falls back") << QStringList{QStringLiteral("QROVA_LOG=verbose")} << warnings;
    QTest::newRow("hex is not decimal") << QStringList{QStringLiteral("QROVA_LOG=0x1")} << warnings;
}

void tst_RovaMessageHandler::shouldTakeThresholdFromEnvironment()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, lines);

    const ChildResult child = runChild(QStringLiteral("levels"), environment);
    QCOMPARE(child.status, QProcess::NormalExit);
    QCOMPARE(child.code, 0);
    QCOMPARE(child.lines.join(QLatin1Char('|')), lines);
}

void tst_RovaMessageHandler::shouldAbortAfterWritingFatalMessage_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<bool>("aborts");
    QTest::addColumn<QString>("lines");

    QTest::newRow("qFatal") << "fatal" << QStringList() << true << "T Fatal: the end";
    QTest::newRow("warning with QT_FATAL_WARNINGS") << "warning" << QStringList{QStringLiteral("QT_FATAL_WARNINGS=1")}
                                                    << true << "T Fatal: careful";
    QTest::newRow("QT_FATAL_WARNINGS with any value") << "warning" << QStringList{QStringLiteral("QT_FATAL_WARNINGS=")}
                                                      << true << "T Fatal: careful";
    QTest::newRow("warning without it") << "warning" << QStringList() << false << "T Warning: careful";
}

void tst_RovaMessageHandler::shouldAbortAfterWritingFatalMessage()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, environment);
    QFETCH(bool, aborts);
    QFETCH(QString, lines);

    const ChildResult child = runChild(scenario, environment);
    QCOMPARE(child.status, aborts ? QProcess::CrashExit : QProcess::NormalExit);
    if (!aborts)
        QCOMPARE(child.code, 0);
    QCOMPARE(child.lines.join(QLatin1Char('|')), lines);
}

void tst_RovaMessageHandler::shouldSurviveSecondSetUpAndBridgeGlibOnce()
{
    const ChildResult child = runChild(QStringLiteral("glib-twice"));
    QCOMPARE(child.status, QProcess::NormalExit);
    QCOMPARE(child.code, 0);
    QCOMPARE(child.lines.join(QLatin1Char('|')), QStringLiteral("T Warning: store is busy|T Critical: bus gone"));
}

void tst_RovaMessageHandler::shouldRestoreDefaultHandlerWhenApplicationQuits()
{
    const ChildResult child = runChild(QStringLiteral("quit"), {QStringLiteral("QROVA_LOG=1")});
    QCOMPARE(child.status, QProcess::NormalExit);
    QCOMPARE(child.code, 0);
    // The second restorer logs through Qt's own handler (the message pattern set for the child).
    QCOMPARE(child.lines.join(QLatin1Char('|')),
             QStringLiteral("T Debug: RovaMessageHandler::initRovaLogging 0|"
                            "T Debug: RovaMessageHandler::initRovaLogging 0|"
                            "T Warning: before quit|"
                            "T Debug: MessageHandlerRestorer: restoring default message handler.|"
                            "MessageHandlerRestorer: restoring default message handler.|"
                            "after quit"));
}

QTEST_GUILESS_MAIN(tst_RovaMessageHandler)
#include "tst_rovamessagehandler.moc"

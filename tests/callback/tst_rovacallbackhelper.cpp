// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovacallbackhelper.h>
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovamediainfo.h>
#include <rovarenderer.h>

#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

class MinimalRenderer : public RovaRenderer
{
    Q_OBJECT
public:
    MinimalRenderer()
        : RovaRenderer(QStringLiteral("r-1"), QStringLiteral("plugin"), nullptr)
    {
    }
    using RovaRenderer::play;
    bool play() override { return false; }
    bool play(const QUrl&, uint) override { return false; }
    bool stop() override { return false; }
    bool pause() override { return false; }
    bool pauseAt(uint) override { return false; }
    bool resume() override { return false; }
    bool next() override { return false; }
    bool previous() override { return false; }
    bool gotoIndex(uint) override { return false; }
    bool setPosition(int, RovaRenderer::SeekMode) override { return false; }
    bool getStatus(QObject*, const char*) override { return false; }
    bool assignPlaylist(RovaPlaylist*) override { return false; }
    bool getPosition(QObject*, const char*) override { return false; }
};

// One slot per accepted and rejected shape of each result kind. Each call is
// written down as text; "@<uuid>" marks the renderer it received.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList calls;
    QThread* calledOn = nullptr;
    std::atomic<int> count{0};

    QString text() const { return calls.join(QLatin1Char(';')); }

Q_SIGNALS:
    void positionSignal(uint position);

public Q_SLOTS:
    void nothing() { note(QStringLiteral("nothing")); }

    void positionResults(uint position) { note(QStringLiteral("position %1").arg(position)); }
    void positionWithRenderer(uint position, RovaRenderer& renderer)
    {
        note(QStringLiteral("position %1 @%2").arg(position).arg(renderer.uuid()));
    }
    void positionAsInt(int position) { note(QStringLiteral("int %1").arg(position)); }
    void positionAsText(const QString& position) { note(position); }

    void errorResult(const RovaError& error)
    {
        note(QStringLiteral("error %1 %2").arg(int(error.code())).arg(error.message()));
    }
    void errorWithRenderer(const RovaError& error, RovaRenderer& renderer)
    {
        note(QStringLiteral("error %1 %2 @%3").arg(int(error.code())).arg(error.message(), renderer.uuid()));
    }
    void errorAsText(const QString& text) { note(text); }

    void mediaInfoResults(const RovaMediaInfo& info)
    {
        note(QStringLiteral("media %1 %2").arg(info.uuid(), info.firstMetaData(QStringLiteral("uri")).toString()));
    }
    void mediaInfoWithRenderer(const RovaMediaInfo& info, RovaRenderer& renderer)
    {
        note(QStringLiteral("media %1 @%2").arg(info.uuid(), renderer.uuid()));
    }
    void mediaAsContent(const RovaContent&) { note(QStringLiteral("content")); }

    void statusResults(QString playlistId, uint index, int state, QString itemId)
    {
        note(QStringLiteral("status %1 %2 %3 %4").arg(playlistId).arg(index).arg(state).arg(itemId));
    }
    void statusWithRenderer(const QString& playlistId, uint index, int state, const QString& itemId,
                            RovaRenderer& renderer)
    {
        note(QStringLiteral("status %1 %2 %3 %4 @%5").arg(playlistId).arg(index).arg(state).arg(itemId, renderer.uuid()));
    }
    void statusPlaylistOnly(const QString& playlistId) { note(QStringLiteral("status %1").arg(playlistId)); }
    void statusWrongOrder(QString playlistId, int state) { note(QStringLiteral("%1 %2").arg(playlistId).arg(state)); }
    void statusRendererTooEarly(QString playlistId, uint index, RovaRenderer& renderer)
    {
        note(QStringLiteral("%1 %2 @%3").arg(playlistId).arg(index).arg(renderer.uuid()));
    }

private:
    void note(const QString& call)
    {
        calls << call;
        calledOn = QThread::currentThread();
        ++count;
    }
};

enum Kind { Position, Error, MediaInfo, Status };

bool check(Kind kind, QObject* receiver, const char* slot)
{
    switch (kind) {
    case Position: return RovaCallbackHelper::checkGetPositionCallback(receiver, slot);
    case Error: return RovaCallbackHelper::checkErrorCallback(receiver, slot);
    case MediaInfo: return RovaCallbackHelper::checkGetMediaInfoCallback(receiver, slot);
    case Status: return RovaCallbackHelper::checkGetStatusCallback(receiver, slot);
    }
    return false;
}

// Answers a request of \a kind with fixed values: position 42, error
// RendererNoMedia "gone", media info "m-1" with uri file:///a.ogg, status
// ("pl", 3, Playing, "src::7").
void answer(Kind kind, RovaRenderer* renderer, QObject* receiver, const char* slot)
{
    switch (kind) {
    case Position:
        RovaCallbackHelper::invokeGetPositionCallback(renderer, 42, receiver, slot);
        break;
    case Error: {
        RovaError error(RovaError::RendererNoMedia, QStringLiteral("gone"));
        RovaCallbackHelper::invokeErrorCallback(renderer, error, receiver, slot);
        break;
    }
    case MediaInfo: {
        RovaMediaInfo info(QStringLiteral("m-1"));
        info.appendMetaData(QStringLiteral("uri"), {QUrl(QStringLiteral("file:///a.ogg"))});
        RovaCallbackHelper::invokeGetMediaInfoCallback(renderer, info, receiver, slot);
        break;
    }
    case Status:
        RovaCallbackHelper::invokeGetStatusCallback(renderer, QStringLiteral("pl"), 3, RovaRenderer::Playing,
                                                    QStringLiteral("src::7"), receiver, slot);
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class tst_RovaCallbackHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldCompareParameterLists_data();
    void shouldCompareParameterLists();
    void shouldCheckSlotForResultKind_data();
    void shouldCheckSlotForResultKind();
    void shouldRefuseNullReceiverOrSlotInChecks_data();
    void shouldRefuseNullReceiverOrSlotInChecks();
    void shouldFindSlotsAndSignals_data();
    void shouldFindSlotsAndSignals();
    void shouldCallSlotDirectlyWithResult_data();
    void shouldCallSlotDirectlyWithResult();
    void shouldTraceErrorWithoutRendererParameter();
    void shouldEmitSignalGivenAsCallback();
    void shouldRefuseUnfitCallbacksWithoutCalling_data();
    void shouldRefuseUnfitCallbacksWithoutCalling();
    void shouldQueueAnswerToReceiverOnAnotherThread_data();
    void shouldQueueAnswerToReceiverOnAnotherThread();
    void shouldDropQueuedAnswerForDeletedReceiver_data();
    void shouldDropQueuedAnswerForDeletedReceiver();
    void shouldDropQueuedAnswerForDeletedRenderer();
};

void tst_RovaCallbackHelper::shouldCompareParameterLists_data()
{
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<bool>("accepted");

    const QByteArray status("2statusResults(QString, uint, int, QString)");
    QTest::newRow("same list") << status << QByteArray("1other(QString,uint,int,QString)") << true;
    QTest::newRow("same list after normalising") << status << QByteArray("1x(const QString&, unsigned int, int, QString)")
                                                 << true;
    QTest::newRow("leading part") << status << QByteArray("1x(QString, uint)") << true;
    QTest::newRow("no parameters") << status << QByteArray("1x()") << true;
    QTest::newRow("longer list") << QByteArray("2positionResults(uint)") << QByteArray("1x(uint, int)") << false;
    QTest::newRow("other type") << QByteArray("2positionResults(uint)") << QByteArray("1x(int)") << false;
    QTest::newRow("prefix of a type name is not a leading part")
        << QByteArray("2positionResults(uint, RovaRenderer&)") << QByteArray("1x(ui)") << false;
    QTest::newRow("const reference equals value") << QByteArray("2errorResult(const RovaError&)")
                                                  << QByteArray("1x(RovaError)") << true;
    QTest::newRow("no parentheses in slot") << status << QByteArray("1statusResults") << false;
    QTest::newRow("no parentheses in signal") << QByteArray("2statusResults") << QByteArray("1x()") << false;
    QTest::newRow("empty slot") << status << QByteArray("") << false;
    QTest::newRow("unclosed slot") << status << QByteArray("1x(QString") << false;
    QTest::newRow("null slot") << status << QByteArray() << false;
}

void tst_RovaCallbackHelper::shouldCompareParameterLists()
{
    QFETCH(QByteArray, signal);
    QFETCH(QByteArray, slot);
    QFETCH(bool, accepted);
    QCOMPARE(RovaCallbackHelper::checkCallbackSignature(signal.constData(), slot.isNull() ? nullptr : slot.constData()),
             accepted);
}

void tst_RovaCallbackHelper::shouldCheckSlotForResultKind_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("warnings");

    const auto wrong = [](const char* slot) {
        return QStringLiteral("Provided slot has incorrect signature ( %1 ).").arg(QLatin1String(slot));
    };
    const auto missing = [](const char* slot) {
        return QStringLiteral("Provided slot does not exist ( %1 ).").arg(QLatin1String(slot));
    };

    QTest::newRow("position: uint") << Position << QByteArray(SLOT(positionResults(uint))) << true << QStringList();
    QTest::newRow("position: uint, renderer")
        << Position << QByteArray(SLOT(positionWithRenderer(uint, RovaRenderer&))) << true << QStringList();
    QTest::newRow("position: no parameters") << Position << QByteArray(SLOT(nothing())) << true << QStringList();
    QTest::newRow("position: int") << Position << QByteArray(SLOT(positionAsInt(int))) << false
                                   << QStringList{wrong("1positionAsInt(int)")};
    QTest::newRow("position: right signature, no such slot")
        << Position << QByteArray(SLOT(absent(uint))) << false << QStringList{missing("1absent(uint)")};
    QTest::newRow("position: wrong signature, no such slot")
        << Position << QByteArray(SLOT(absent(int))) << false
        << QStringList{wrong("1absent(int)"), missing("1absent(int)")};
    QTest::newRow("position: without method code")
        << Position << QByteArray("positionResults(uint)") << false
        << QStringList{missing("positionResults(uint)")};
    QTest::newRow("position: signal") << Position << QByteArray(SIGNAL(positionSignal(uint))) << false
                                      << QStringList{missing("2positionSignal(uint)")};
    QTest::newRow("position: empty string") << Position << QByteArray("") << false
                                            << QStringList{wrong(""), missing("")};

    QTest::newRow("error: error") << Error << QByteArray(SLOT(errorResult(RovaError))) << true << QStringList();
    QTest::newRow("error: error, renderer")
        << Error << QByteArray(SLOT(errorWithRenderer(const RovaError&, RovaRenderer&))) << true << QStringList();
    QTest::newRow("error: string") << Error << QByteArray(SLOT(errorAsText(QString))) << false
                                   << QStringList{wrong("1errorAsText(QString)")};
    QTest::newRow("error: position slot with renderer")
        << Error << QByteArray(SLOT(positionWithRenderer(uint, RovaRenderer&))) << false
        << QStringList{wrong("1positionWithRenderer(uint, RovaRenderer&)")};

    QTest::newRow("media info: media info") << MediaInfo << QByteArray(SLOT(mediaInfoResults(RovaMediaInfo))) << true
                                            << QStringList();
    QTest::newRow("media info: media info, renderer")
        << MediaInfo << QByteArray(SLOT(mediaInfoWithRenderer(RovaMediaInfo, RovaRenderer&))) << true
        << QStringList();
    QTest::newRow("media info: content") << MediaInfo << QByteArray(SLOT(mediaAsContent(RovaContent))) << false
                                         << QStringList{wrong("1mediaAsContent(RovaContent)")};

    QTest::newRow("status: four values") << Status << QByteArray(SLOT(statusResults(QString, uint, int, QString)))
                                         << true << QStringList();
    QTest::newRow("status: four values, renderer")
        << Status << QByteArray(SLOT(statusWithRenderer(QString, uint, int, QString, RovaRenderer&))) << true
        << QStringList();
    QTest::newRow("status: playlist id only") << Status << QByteArray(SLOT(statusPlaylistOnly(QString))) << true
                                              << QStringList();
    QTest::newRow("status: wrong order") << Status << QByteArray(SLOT(statusWrongOrder(QString, int))) << false
                                         << QStringList{wrong("1statusWrongOrder(QString, int)")};
    QTest::newRow("status: renderer too early")
        << Status << QByteArray(SLOT(statusRendererTooEarly(QString, uint, RovaRenderer&))) << false
        << QStringList{wrong("1statusRendererTooEarly(QString, uint, RovaRenderer&)")};
}

void tst_RovaCallbackHelper::shouldCheckSlotForResultKind()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, slot);
    QFETCH(bool, accepted);
    QFETCH(QStringList, warnings);

    Receiver receiver;
    for (const QString& warning : warnings)
        QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());
    QCOMPARE(check(kind, &receiver, slot.constData()), accepted);
    QVERIFY(receiver.calls.isEmpty());
}

void tst_RovaCallbackHelper::shouldRefuseNullReceiverOrSlotInChecks_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("nullReceiver");

    QTest::newRow("position, null receiver") << Position << true;
    QTest::newRow("position, null slot") << Position << false;
    QTest::newRow("error, null receiver") << Error << true;
    QTest::newRow("error, null slot") << Error << false;
    QTest::newRow("media info, null receiver") << MediaInfo << true;
    QTest::newRow("media info, null slot") << MediaInfo << false;
    QTest::newRow("status, null receiver") << Status << true;
    QTest::newRow("status, null slot") << Status << false;
}

void tst_RovaCallbackHelper::shouldRefuseNullReceiverOrSlotInChecks()
{
    QFETCH(Kind, kind);
    QFETCH(bool, nullReceiver);

    Receiver receiver;
    QTest::ignoreMessage(QtWarningMsg, "Argument object or slot was NULL.");
    QVERIFY(!check(kind, nullReceiver ? nullptr : &receiver, nullReceiver ? SLOT(positionResults(uint)) : nullptr));
}

void tst_RovaCallbackHelper::shouldFindSlotsAndSignals_data()
{
    QTest::addColumn<bool>("withReceiver");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("found");
    QTest::addColumn<QString>("warning");

    QTest::newRow("slot") << true << QByteArray(SLOT(statusResults(const QString&, uint, int, const QString&)))
                          << "statusResults(QString,uint,int,QString)" << QString();
    QTest::newRow("signal") << true << QByteArray(SIGNAL(positionSignal(uint))) << "positionSignal(uint)"
                            << QString();
    QTest::newRow("any method code") << true << QByteArray("xpositionResults(uint)") << "positionResults(uint)"
                                     << QString();
    QTest::newRow("no parameters") << true << QByteArray(SLOT(nothing())) << "nothing()"
                                   << "RovaCallbackHelper::getCallbackMethod: Parameter list of callback method "
                                      "empty.";
    QTest::newRow("unknown") << true << QByteArray(SLOT(absent(uint))) << QString()
                             << "RovaCallbackHelper::getCallbackMethod: Invalid slot/signal( 1absent(uint) )";
    QTest::newRow("empty string") << true << QByteArray("") << QString()
                                  << "RovaCallbackHelper::getCallbackMethod: Invalid slot/signal(  )";
    QTest::newRow("null slot") << true << QByteArray() << QString()
                               << "RovaCallbackHelper::getCallbackMethod: slot signature is null.";
    QTest::newRow("null receiver") << false << QByteArray(SLOT(positionResults(uint))) << QString()
                                   << "RovaCallbackHelper::getCallbackMethod: Target object is null for slot:  "
                                      "1positionResults(uint)";
}

void tst_RovaCallbackHelper::shouldFindSlotsAndSignals()
{
    QFETCH(bool, withReceiver);
    QFETCH(QByteArray, slot);
    QFETCH(QString, found);
    QFETCH(QString, warning);

    Receiver receiver;
    QMetaMethod method;
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());
    const bool ok = RovaCallbackHelper::getCallbackMethod(withReceiver ? &receiver : nullptr,
                                                          slot.isNull() ? nullptr : slot.constData(), method);
    QCOMPARE(ok, warning.isEmpty());
    // A parameterless method is still handed out, though refused.
    QCOMPARE(QString::fromLatin1(method.methodSignature()), found);
}

void tst_RovaCallbackHelper::shouldCallSlotDirectlyWithResult_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("call");

    QTest::newRow("position") << Position << QByteArray(SLOT(positionResults(uint))) << "position 42";
    QTest::newRow("position, renderer") << Position << QByteArray(SLOT(positionWithRenderer(uint, RovaRenderer&)))
                                        << "position 42 @r-1";
    QTest::newRow("error") << Error << QByteArray(SLOT(errorResult(RovaError))) << "error 300 gone";
    QTest::newRow("error, renderer") << Error << QByteArray(SLOT(errorWithRenderer(RovaError, RovaRenderer&)))
                                     << "error 300 gone @r-1";
    QTest::newRow("media info") << MediaInfo << QByteArray(SLOT(mediaInfoResults(RovaMediaInfo)))
                                << "media m-1 file:///a.ogg";
    QTest::newRow("media info, renderer")
        << MediaInfo << QByteArray(SLOT(mediaInfoWithRenderer(RovaMediaInfo, RovaRenderer&))) << "media m-1 @r-1";
    QTest::newRow("status") << Status << QByteArray(SLOT(statusResults(QString, uint, int, QString)))
                            << "status pl 3 1 src::7";
    QTest::newRow("status, renderer as fifth")
        << Status << QByteArray(SLOT(statusWithRenderer(QString, uint, int, QString, RovaRenderer&)))
        << "status pl 3 1 src::7 @r-1";
    QTest::newRow("status, leading part") << Status << QByteArray(SLOT(statusPlaylistOnly(QString))) << "status pl";
}

void tst_RovaCallbackHelper::shouldCallSlotDirectlyWithResult()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, slot);
    QFETCH(QString, call);

    MinimalRenderer renderer;
    Receiver receiver;
    answer(kind, &renderer, &receiver, slot.constData());
    // Same thread: the slot has run before the invoke function returns.
    QCOMPARE(receiver.text(), call);
    QCOMPARE(receiver.calledOn, QThread::currentThread());
}

void tst_RovaCallbackHelper::shouldTraceErrorWithoutRendererParameter()
{
    MinimalRenderer renderer;
    Receiver receiver;
    QTest::ignoreMessage(QtDebugMsg, "RovaRenderer, invoking  code=300 message=\"gone\"");
    answer(Error, &renderer, &receiver, SLOT(errorResult(RovaError)));
    QCOMPARE(receiver.text(), QStringLiteral("error 300 gone"));
}

void tst_RovaCallbackHelper::shouldEmitSignalGivenAsCallback()
{
    MinimalRenderer renderer;
    Receiver receiver;
    QSignalSpy spy(&receiver, &Receiver::positionSignal);
    answer(Position, &renderer, &receiver, SIGNAL(positionSignal(uint)));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toUInt(), 42u);
}

void tst_RovaCallbackHelper::shouldRefuseUnfitCallbacksWithoutCalling_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("withReceiver");
    QTest::addColumn<bool>("withRenderer");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("null receiver") << Position << false << true << QByteArray(SLOT(positionResults(uint)))
                                   << QStringList{QStringLiteral("RovaCallbackHelper::getCallbackMethod: Target "
                                                                 "object is null for slot:  1positionResults(uint)")};
    QTest::newRow("null slot") << Status << true << true << QByteArray()
                               << QStringList{QStringLiteral("RovaCallbackHelper::getCallbackMethod: slot "
                                                             "signature is null.")};
    QTest::newRow("malformed slot") << MediaInfo << true << true << QByteArray("1mediaInfoResults")
                                    << QStringList{QStringLiteral("RovaCallbackHelper::getCallbackMethod: Invalid "
                                                                  "slot/signal( 1mediaInfoResults )")};
    QTest::newRow("slot without parameters")
        << Position << true << true << QByteArray(SLOT(nothing()))
        << QStringList{QStringLiteral("RovaCallbackHelper::getCallbackMethod: Parameter list of callback method "
                                      "empty.")};
    QTest::newRow("slot of another type") << Position << true << true << QByteArray(SLOT(positionAsText(QString)))
                                          << QStringList{QStringLiteral("Provided slot has incorrect signature ( "
                                                                        "1positionAsText(QString) ).")};
    QTest::newRow("renderer before the last value")
        << Status << true << true << QByteArray(SLOT(statusRendererTooEarly(QString, uint, RovaRenderer&)))
        << QStringList{QStringLiteral("Provided slot has incorrect signature ( "
                                      "1statusRendererTooEarly(QString, uint, RovaRenderer&) ).")};
    QTest::newRow("renderer wanted, none given")
        << Position << true << false << QByteArray(SLOT(positionWithRenderer(uint, RovaRenderer&)))
        << QStringList{QStringLiteral("RovaCallbackHelper: no renderer to hand to the callback ( "
                                      "1positionWithRenderer(uint, RovaRenderer&) )."),
                       QStringLiteral("Invoking the callback method failed!")};
}

void tst_RovaCallbackHelper::shouldRefuseUnfitCallbacksWithoutCalling()
{
    QFETCH(Kind, kind);
    QFETCH(bool, withReceiver);
    QFETCH(bool, withRenderer);
    QFETCH(QByteArray, slot);
    QFETCH(QStringList, warnings);

    MinimalRenderer renderer;
    Receiver receiver;
    for (const QString& warning : warnings)
        QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());
    answer(kind, withRenderer ? &renderer : nullptr, withReceiver ? &receiver : nullptr,
           slot.isNull() ? nullptr : slot.constData());
    QCoreApplication::processEvents();
    QCOMPARE(receiver.text(), QString());

    // The receiver still gets a well-formed answer afterwards.
    answer(Position, &renderer, &receiver, SLOT(positionResults(uint)));
    QCOMPARE(receiver.text(), QStringLiteral("position 42"));
}

void tst_RovaCallbackHelper::shouldQueueAnswerToReceiverOnAnotherThread_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("call");

    QTest::newRow("media info") << MediaInfo << QByteArray(SLOT(mediaInfoResults(RovaMediaInfo)))
                                << "media m-1 file:///a.ogg";
    QTest::newRow("error") << Error << QByteArray(SLOT(errorResult(RovaError))) << "error 300 gone";
    QTest::newRow("status") << Status << QByteArray(SLOT(statusResults(QString, uint, int, QString)))
                            << "status pl 3 1 src::7";
    QTest::newRow("status, leading part")
        << Status << QByteArray(SLOT(statusPlaylistOnly(QString))) << "status pl";
    QTest::newRow("media info, renderer")
        << MediaInfo << QByteArray(SLOT(mediaInfoWithRenderer(RovaMediaInfo, RovaRenderer&))) << "media m-1 @r-1";
    QTest::newRow("error, renderer") << Error << QByteArray(SLOT(errorWithRenderer(RovaError, RovaRenderer&)))
                                     << "error 300 gone @r-1";
}

void tst_RovaCallbackHelper::shouldQueueAnswerToReceiverOnAnotherThread()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, slot);
    QFETCH(QString, call);

    MinimalRenderer renderer;
    QThread thread;
    Receiver receiver;
    receiver.moveToThread(&thread);
    thread.start();
    answer(kind, &renderer, &receiver, slot.constData());
    QTRY_COMPARE(receiver.count.load(), 1);
    thread.quit();
    QVERIFY(thread.wait());
    QCOMPARE(receiver.text(), call);
    QCOMPARE(receiver.calledOn, &thread);
}

void tst_RovaCallbackHelper::shouldDropQueuedAnswerForDeletedReceiver_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::newRow("copied values") << QByteArray(SLOT(mediaInfoResults(RovaMediaInfo)));
    QTest::newRow("renderer by reference") << QByteArray(SLOT(mediaInfoWithRenderer(RovaMediaInfo, RovaRenderer&)));
}

void tst_RovaCallbackHelper::shouldDropQueuedAnswerForDeletedReceiver()
{
    QFETCH(QByteArray, slot);

    MinimalRenderer renderer;
    QThread thread;
    auto receiver = std::make_unique<Receiver>();
    receiver->moveToThread(&thread);
    // The thread's event loop is not running yet: the answer stays queued.
    answer(MediaInfo, &renderer, receiver.get(), slot.constData());
    receiver.reset();

    QObject probe;
    probe.moveToThread(&thread);
    std::atomic<bool> loopRan{false};
    QMetaObject::invokeMethod(&probe, [&loopRan] { loopRan = true; }, Qt::QueuedConnection);
    thread.start();
    QTRY_VERIFY(loopRan.load());
    thread.quit();
    QVERIFY(thread.wait());
}

void tst_RovaCallbackHelper::shouldDropQueuedAnswerForDeletedRenderer()
{
    auto renderer = std::make_unique<MinimalRenderer>();
    QThread thread;
    Receiver receiver;
    receiver.moveToThread(&thread);
    answer(Position, renderer.get(), &receiver, SLOT(positionWithRenderer(uint, RovaRenderer&)));
    QTest::ignoreMessage(QtDebugMsg, "~RovaRenderer()");
    renderer.reset();

    QTest::ignoreMessage(QtWarningMsg, "RovaCallbackHelper: the renderer was deleted before the callback ( "
                                       "1positionWithRenderer(uint, RovaRenderer&) ) could run.");
    QObject probe;
    probe.moveToThread(&thread);
    std::atomic<bool> loopRan{false};
    QMetaObject::invokeMethod(&probe, [&loopRan] { loopRan = true; }, Qt::QueuedConnection);
    thread.start();
    QTRY_VERIFY(loopRan.load());
    thread.quit();
    QVERIFY(thread.wait());
    QCOMPARE(receiver.count.load(), 0);
}

QTEST_GUILESS_MAIN(tst_RovaCallbackHelper)
#include "tst_rovacallbackhelper.moc"

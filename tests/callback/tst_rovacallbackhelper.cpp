// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovacallbackhelper.h>
#include <rovaerror.h>
#include <rovamediainfo.h>
#include <rovarenderer.h>

#include "rovatestobjects.h"

#include <QMetaMethod>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// Slots of every accepted and rejected shape. Each call is written down as text,
// "@<uuid>" marking the renderer received; slots that no answer may reach write "unfit".
class Receiver : public QObject
{
    Q_OBJECT
public:
    Receiver() { connect(this, &Receiver::positionSignal, this, &Receiver::positionResults); }
    QStringList calls;
    QThread* calledOn = nullptr;

Q_SIGNALS:
    void positionSignal(uint position);

public Q_SLOTS:
    void positionResults(uint position) { note(QString::number(position)); }
    void positionWithRenderer(uint position, RovaRenderer& r) { note(QString::number(position), &r); }
    void errorResult(const RovaError& error) { note(errorText(error)); }
    void errorWithRenderer(const RovaError& error, RovaRenderer& r) { note(errorText(error), &r); }
    void mediaInfoResults(const RovaMediaInfo& info) { note(info.uuid() + u' ' + info.firstMetaData(QStringLiteral("uri")).toString()); }
    void mediaInfoWithRenderer(const RovaMediaInfo& info, RovaRenderer& r) { note(info.uuid(), &r); }
    void statusResults(QString playlistId, uint index, int state, QString itemId)
    {
        note(QStringLiteral("%1 %2 %3 %4").arg(playlistId).arg(index).arg(state).arg(itemId));
    }
    void statusWithRenderer(const QString& playlistId, uint index, int state, const QString& itemId, RovaRenderer& r)
    {
        note(QStringLiteral("%1 %2 %3 %4").arg(playlistId).arg(index).arg(state).arg(itemId), &r);
    }
    void statusPlaylistOnly(const QString& playlistId) { note(playlistId); }

    void nothing() { note(QStringLiteral("unfit")); }
    void positionAsInt(int) { note(QStringLiteral("unfit")); }
    void statusRendererTooEarly(QString, uint, RovaRenderer&) { note(QStringLiteral("unfit")); }

private:
    static QString errorText(const RovaError& error) { return QString::number(error.code()) + u' ' + error.message(); }
    void note(const QString& call, RovaRenderer* renderer = nullptr)
    {
        calls << (renderer ? QString(call + QStringLiteral(" @") + renderer->uuid()) : call);
        calledOn = QThread::currentThread();
    }
};

enum Kind { Position, Error, MediaInfo, Status };

// Where the answer goes: a receiver on this thread or on another one (which
// may be deleted, or whose renderer may be, before the answer arrives), or a
// request lacking its receiver or its renderer.
enum Setup { Here, OtherThread, ReceiverGone, RendererGone, NoReceiver, NoRenderer };

const char* slotOrNull(const QByteArray& slot) { return slot.isNull() ? nullptr : slot.constData(); }

// An empty slot string with a fitting signature right behind its end, which
// only a read past the end would find.
QByteArray emptyBeforeSlot() { return QByteArray("\0positionResults(uint)", 22); }

// The check of each kind, by Kind.
bool (*const check[])(QObject*, const char*) = {&RovaCallbackHelper::checkGetPositionCallback, &RovaCallbackHelper::checkErrorCallback,
                                               &RovaCallbackHelper::checkGetMediaInfoCallback, &RovaCallbackHelper::checkGetStatusCallback};

// Answers a request of \a kind with fixed values: position 42, error 300
// (RendererNoMedia) "gone", media info "m-1" with uri file:///a.ogg, status
// ("pl", 3, Playing, "src::7").
void answer(Kind kind, RovaRenderer* renderer, QObject* receiver, const char* slot)
{
    RovaError error(RovaError::RendererNoMedia, QStringLiteral("gone"));
    RovaMediaInfo info(QStringLiteral("m-1"));
    info.appendMetaData(QStringLiteral("uri"), {QUrl(QStringLiteral("file:///a.ogg"))});
    switch (kind) {
    case Position: return RovaCallbackHelper::invokeGetPositionCallback(renderer, 42, receiver, slot);
    case Error: return RovaCallbackHelper::invokeErrorCallback(renderer, error, receiver, slot);
    case MediaInfo: return RovaCallbackHelper::invokeGetMediaInfoCallback(renderer, info, receiver, slot);
    case Status:
        return RovaCallbackHelper::invokeGetStatusCallback(renderer, QStringLiteral("pl"), 3, RovaRenderer::Playing,
                                                           QStringLiteral("src::7"), receiver, slot);
    }
}

// Runs \a thread until its event loop has worked through what was queued for it so far.
bool runQueuedOn(QThread& thread)
{
    QObject probe;
    probe.moveToThread(&thread);
    thread.start();
    const bool ran = QMetaObject::invokeMethod(&probe, [] {}, Qt::BlockingQueuedConnection);
    thread.quit();
    return thread.wait() && ran;
}

QString wrongSignature(const char* slot) { return QStringLiteral("Provided slot has incorrect signature ( %1 ).").arg(QLatin1String(slot)); }
QString missingSlot(const char* slot) { return QStringLiteral("Provided slot does not exist ( %1 ).").arg(QLatin1String(slot)); }
QString lookupFailure(const char* what) { return QStringLiteral("RovaCallbackHelper::getCallbackMethod: ") + QLatin1String(what); }
QString invalidSlot(const char* slot) { return lookupFailure("Invalid slot/signal( ") + QLatin1String(slot) + QStringLiteral(" )"); }
// What the check and then the call say about a slot of the wrong type.
QStringList refused(const char* slot)
{
    return {wrongSignature(slot), wrongSignature(slot), QStringLiteral("Invoking the callback method failed!")};
}

} // namespace

class tst_RovaCallbackHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldCompareParameterLists_data()
    {
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<bool>("accepted");

        const auto row = [](const char* title, const char* signal, const char* slot, bool accepted) {
            QTest::newRow(title) << QByteArray(signal) << QByteArray(slot) << accepted;
        };
        const char* const status = "2statusResults(QString, uint, int, QString)";
        row("longer list", "2positionResults(uint)", "1x(uint, int)", false);
        row("prefix of a type name is not a leading part", "2positionResults(uint, RovaRenderer&)", "1x(ui)", false);
        row("no parentheses in slot", status, "1statusResults", false);
        row("no parentheses in signal", "2statusResults", "1x()", false);
        row("unclosed slot", status, "1x(QString", false);
        row("null slot", status, nullptr, false);
    }

    void shouldCompareParameterLists()
    {
        QFETCH(QByteArray, signal);
        QFETCH(QByteArray, slot);
        QFETCH(bool, accepted);
        QCOMPARE(RovaCallbackHelper::checkCallbackSignature(signal.constData(), slotOrNull(slot)), accepted);
    }

    void shouldCheckAndAnswerFittingCallbacksOnly_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<bool>("accepted"); // by the check of the kind
        QTest::addColumn<QString>("call"); // empty when the callback must not be called
        QTest::addColumn<QStringList>("warnings"); // of the check, then of the call

        const auto row = [](const char* title, Kind kind, Setup setup, const char* slot, bool accepted, const char* call,
                            const QStringList& warnings = {}) {
            QTest::newRow(title) << kind << setup << QByteArray(slot) << accepted << QString::fromLatin1(call) << warnings;
        };
        const char* const mediaInfo = SLOT(mediaInfoResults(RovaMediaInfo));
        const char* const mediaInfoWithRenderer = SLOT(mediaInfoWithRenderer(RovaMediaInfo, RovaRenderer&));
        const char* const error = SLOT(errorResult(RovaError));
        const char* const status = SLOT(statusResults(QString, uint, int, QString));
        const QString nullArgument = QStringLiteral("Argument object or slot was NULL.");

        row("position", Position, Here, SLOT(positionResults(uint)), true, "42");
        row("position, renderer", Position, Here, SLOT(positionWithRenderer(uint, RovaRenderer&)), true, "42 @r-1");
        row("position, signal emitted", Position, Here, SIGNAL(positionSignal(uint)), false, "42",
            {missingSlot("2positionSignal(uint)")});
        row("position, any method code", Position, Here, "xpositionResults(uint)", true, "42");
        row("position without method code", Position, Here, "positionResults(uint)", false, "",
            {missingSlot("positionResults(uint)"), invalidSlot("positionResults(uint)")});
        row("slot without parameters", Position, Here, SLOT(nothing()), true, "",
            {lookupFailure("Parameter list of callback method empty.")});
        row("slot of another type", Position, Here, SLOT(positionAsInt(int)), false, "", refused("1positionAsInt(int)"));
        row("right signature, no such slot", Position, Here, SLOT(absent(uint)), false, "",
            {missingSlot("1absent(uint)"), invalidSlot("1absent(uint)")});
        QTest::newRow("empty slot") << Position << Here << emptyBeforeSlot() << false << QString()
                                    << QStringList{wrongSignature(""), missingSlot(""), invalidSlot("")};
        row("null receiver", Position, NoReceiver, SLOT(positionResults(uint)), false, "",
            {nullArgument, lookupFailure("Target object is null for slot:  1positionResults(uint)")});
        row("renderer wanted, none given", Position, NoRenderer, SLOT(positionWithRenderer(uint, RovaRenderer&)), true, "",
            {QStringLiteral("RovaCallbackHelper: no renderer to hand to the callback ( 1positionWithRenderer(uint, RovaRenderer&) )."),
             QStringLiteral("Invoking the callback method failed!")});

        row("error", Error, Here, error, true, "300 gone");
        row("error, renderer", Error, Here, SLOT(errorWithRenderer(const RovaError&, RovaRenderer&)), true, "300 gone @r-1");
        row("error to a string", Error, Here, SLOT(statusPlaylistOnly(QString)), false, "", refused("1statusPlaylistOnly(QString)"));
        row("queued error", Error, OtherThread, error, true, "300 gone");

        row("media info", MediaInfo, Here, mediaInfo, true, "m-1 file:///a.ogg");
        row("media info, renderer", MediaInfo, Here, mediaInfoWithRenderer, true, "m-1 @r-1");
        row("media info to an error", MediaInfo, Here, error, false, "", refused("1errorResult(RovaError)"));
        row("queued media info", MediaInfo, OtherThread, mediaInfo, true, "m-1 file:///a.ogg");
        row("queued media info, renderer", MediaInfo, OtherThread, mediaInfoWithRenderer, true, "m-1 @r-1");
        row("receiver gone, values copied", MediaInfo, ReceiverGone, mediaInfo, true, "");
        row("receiver gone, renderer by reference", MediaInfo, ReceiverGone, mediaInfoWithRenderer, true, "");
        row("renderer gone", MediaInfo, RendererGone, mediaInfoWithRenderer, true, "",
            {QStringLiteral("RovaCallbackHelper: the renderer was deleted before the callback ( "
                            "1mediaInfoWithRenderer(RovaMediaInfo, RovaRenderer&) ) could run.")});

        row("status", Status, Here, status, true, "pl 3 1 src::7");
        row("status, renderer as fifth", Status, Here, SLOT(statusWithRenderer(QString, uint, int, QString, RovaRenderer&)), true,
            "pl 3 1 src::7 @r-1");
        row("status, leading part", Status, Here, SLOT(statusPlaylistOnly(QString)), true, "pl");
        row("renderer before the last value", Status, Here, SLOT(statusRendererTooEarly(QString, uint, RovaRenderer&)), false, "",
            refused("1statusRendererTooEarly(QString, uint, RovaRenderer&)"));
        row("null slot", Status, Here, nullptr, false, "", {nullArgument, lookupFailure("slot signature is null.")});
    }

    void shouldCheckAndAnswerFittingCallbacksOnly()
    {
        QFETCH(Kind, kind);
        QFETCH(Setup, setup);
        QFETCH(QByteArray, slot);
        QFETCH(bool, accepted);
        QFETCH(QString, call);
        QFETCH(QStringList, warnings);

        auto renderer = std::make_unique<RovaTestRenderer>(QStringLiteral("r-1"));
        QThread thread;
        auto receiver = std::make_unique<Receiver>();
        const bool queued = setup == OtherThread || setup == ReceiverGone || setup == RendererGone;
        if (queued)
            receiver->moveToThread(&thread); // its event loop does not run yet
        for (const QString& warning : warnings)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        // An error handed to a slot without the renderer is traced first.
        if (kind == Error && !call.isEmpty() && !call.contains(QLatin1Char('@')))
            QTest::ignoreMessage(QtDebugMsg, "RovaRenderer, invoking  code=300 message=\"gone\"");

        QObject* const target = setup == NoReceiver ? nullptr : receiver.get();
        QCOMPARE(check[kind](target, slotOrNull(slot)), accepted);
        QVERIFY(receiver->calls.isEmpty());
        answer(kind, setup == NoRenderer ? nullptr : renderer.get(), target, slotOrNull(slot));
        if (setup == ReceiverGone)
            receiver.reset();
        if (setup == RendererGone) {
            QTest::ignoreMessage(QtDebugMsg, "~RovaRenderer()");
            renderer.reset();
        }
        // A direct call is done when the invoke function returns, a queued one
        // when the receiver's thread has run.
        if (queued)
            QVERIFY(runQueuedOn(thread));
        if (!receiver)
            return; // a call reaching the deleted receiver would have crashed
        QCOMPARE(receiver->calls.join(QLatin1Char(';')), call);
        QCOMPARE(receiver->calledOn, call.isEmpty() ? nullptr : queued ? &thread : QThread::currentThread());

        if (call.isEmpty() && !queued) {
            // Misuse leaves nothing behind: no late call, and a fitting answer still arrives.
            QCoreApplication::processEvents();
            answer(Position, renderer.get(), receiver.get(), SLOT(positionResults(uint)));
            QCOMPARE(receiver->calls.join(QLatin1Char(';')), QStringLiteral("42"));
        }
    }

};

QTEST_GUILESS_MAIN(tst_RovaCallbackHelper)
#include "tst_rovacallbackhelper.moc"

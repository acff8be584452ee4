// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovacallbackhelper.h>
#include <rovaerror.h>
#include <rovamediainfo.h>
#include <rovarenderer.h>

#include "rovatestobjects.h"

#include <QTest>
#include <QThread>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Slots of every accepted and rejected shape. Each call is written down as its values,
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
    void positionResults(uint position) { note({position}); }
    void positionWithRenderer(uint position, RovaRenderer& r) { note({position}, &r); }
    void errorResult(const RovaError& error) { note({int(error.code()), error.message()}); }
    void errorWithRenderer(const RovaError& error, RovaRenderer& r) { note({int(error.code()), error.message()}, &r); }
    void mediaInfoResults(const RovaMediaInfo& info) { note({info.uuid(), info.firstMetaData(u"uri"_s)}); }
    void mediaInfoWithRenderer(const RovaMediaInfo& info, RovaRenderer& r) { note({info.uuid()}, &r); }
    void statusResults(QString playlistId, uint index, int state, QString itemId) { note({playlistId, index, state, itemId}); }
    void statusWithRenderer(QString playlistId, uint index, int state, QString itemId, RovaRenderer& r) { note({playlistId, index, state, itemId}, &r); }
    void statusPlaylistOnly(const QString& playlistId) { note({playlistId}); }

    void nothing() { note({u"unfit"_s}); }
    void positionAsInt(int) { note({u"unfit"_s}); }
    void statusRendererTooEarly(QString, uint, RovaRenderer&) { note({u"unfit"_s}); }

private:
    void note(const QVariantList& values, RovaRenderer* renderer = nullptr)
    {
        QStringList texts;
        for (const QVariant& value : values)
            texts << value.toString();
        if (renderer)
            texts << QLatin1Char('@') + renderer->uuid();
        calls << texts.join(QLatin1Char(' '));
        calledOn = QThread::currentThread();
    }
};

enum Kind { Position, Error, MediaInfo, Status };

// Where the answer goes: a receiver on this thread or on another one (which may be deleted, or whose
// renderer may be, before the answer arrives), or a request lacking its receiver or its renderer.
enum Setup { Here, OtherThread, ReceiverGone, RendererGone, NoReceiver, NoRenderer };

const char* slotOrNull(const QByteArray& slot) { return slot.isNull() ? nullptr : slot.constData(); }

bool (*const check[])(QObject*, const char*) = {&RovaCallbackHelper::checkGetPositionCallback, &RovaCallbackHelper::checkErrorCallback,
                                               &RovaCallbackHelper::checkGetMediaInfoCallback, &RovaCallbackHelper::checkGetStatusCallback};

// Answers a request of \a kind with fixed values: position 42, error 300 (RendererNoMedia) "gone",
// media info "m-1" with uri file:///a.ogg, status ("pl", 3, Playing, "src::7").
void answer(Kind kind, RovaRenderer* renderer, QObject* receiver, const char* slot)
{
    RovaError error(RovaError::RendererNoMedia, u"gone"_s);
    RovaMediaInfo info(u"m-1"_s);
    info.appendMetaData(u"uri"_s, {QUrl(u"file:///a.ogg"_s)});
    switch (kind) {
    case Position: return RovaCallbackHelper::invokeGetPositionCallback(renderer, 42, receiver, slot);
    case Error: return RovaCallbackHelper::invokeErrorCallback(renderer, error, receiver, slot);
    case MediaInfo: return RovaCallbackHelper::invokeGetMediaInfoCallback(renderer, info, receiver, slot);
    case Status: return RovaCallbackHelper::invokeGetStatusCallback(renderer, u"pl"_s, 3, RovaRenderer::Playing, u"src::7"_s, receiver, slot);
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

QString wrongSignature(const char* slot) { return u"Provided slot has incorrect signature ( %1 )."_s.arg(QLatin1String(slot)); }
QString missingSlot(const char* slot) { return u"Provided slot does not exist ( %1 )."_s.arg(QLatin1String(slot)); }
QString lookupFailure(const char* what) { return u"RovaCallbackHelper::getCallbackMethod: "_s + QLatin1String(what); }
QString invalidSlot(const char* slot) { return lookupFailure("Invalid slot/signal( ") + QLatin1String(slot) + u" )"_s; }
// What the check and then the call say about a slot that does not exist.
QStringList missing(const char* slot) { return {missingSlot(slot), invalidSlot(slot)}; }
// What the check and then the call say about a slot of the wrong type.
QStringList refused(const char* slot) { return {wrongSignature(slot), wrongSignature(slot), u"Invoking the callback method failed!"_s}; }

} // namespace

class tst_RovaCallbackHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldRefuseParameterListsThatDoNotCompare()
    {
        const char* const status = "2statusResults(QString, uint, int, QString)";
        // A longer list, a prefix of a type name, no parentheses in the slot or the signal, an unclosed or a null slot.
        const char* const pairs[][2] = {{"2positionResults(uint)", "1x(uint, int)"}, {"2positionResults(uint, RovaRenderer&)", "1x(ui)"},
                                        {status, "1statusResults"}, {"2statusResults", "1x()"}, {status, "1x(QString"}, {status, nullptr}};
        for (const auto& [signal, slot] : pairs)
            QVERIFY2(!RovaCallbackHelper::checkCallbackSignature(signal, slot), slot ? slot : "null slot");
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
        const QString nullArgument = u"Argument object or slot was NULL."_s;

        row("position", Position, Here, SLOT(positionResults(uint)), true, "42");
        row("position, renderer", Position, Here, SLOT(positionWithRenderer(uint, RovaRenderer&)), true, "42 @r-1");
        row("position, signal emitted", Position, Here, SIGNAL(positionSignal(uint)), false, "42", {missingSlot("2positionSignal(uint)")});
        row("position, any method code", Position, Here, "xpositionResults(uint)", true, "42");
        row("position without method code", Position, Here, "positionResults(uint)", false, "", missing("positionResults(uint)"));
        row("slot without parameters", Position, Here, SLOT(nothing()), true, "", {lookupFailure("Parameter list of callback method empty.")});
        row("slot of another type", Position, Here, SLOT(positionAsInt(int)), false, "", refused("1positionAsInt(int)"));
        row("right signature, no such slot", Position, Here, SLOT(absent(uint)), false, "", missing("1absent(uint)"));
        // An empty slot string with a fitting signature right behind its end, which only a read past the end would find.
        QTest::newRow("empty slot") << Position << Here << QByteArray("\0positionResults(uint)", 22) << false << QString()
                                    << QStringList{wrongSignature(""), missingSlot(""), invalidSlot("")};
        row("null receiver", Position, NoReceiver, SLOT(positionResults(uint)), false, "",
            {nullArgument, lookupFailure("Target object is null for slot:  1positionResults(uint)")});
        row("renderer wanted, none given", Position, NoRenderer, SLOT(positionWithRenderer(uint, RovaRenderer&)), true, "",
            {u"RovaCallbackHelper: no renderer to hand to the callback ( 1positionWithRenderer(uint, RovaRenderer&) )."_s,
             u"Invoking the callback method failed!"_s});

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
            {u"RovaCallbackHelper: the renderer was deleted before the callback ( 1mediaInfoWithRenderer(RovaMediaInfo, RovaRenderer&) ) could run."_s});

        row("status", Status, Here, SLOT(statusResults(QString, uint, int, QString)), true, "pl 3 1 src::7");
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
        QFETCH(QString, call);
        QFETCH(QStringList, warnings);

        auto renderer = std::make_unique<RovaTestRenderer>(u"r-1"_s);
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
        QTEST(check[kind](target, slotOrNull(slot)), "accepted");
        QVERIFY(receiver->calls.isEmpty());
        answer(kind, setup == NoRenderer ? nullptr : renderer.get(), target, slotOrNull(slot));
        if (setup == ReceiverGone)
            receiver.reset();
        if (setup == RendererGone) {
            QTest::ignoreMessage(QtDebugMsg, "~RovaRenderer()");
            renderer.reset();
        }
        // A direct call is done when the invoke function returns (nothing may come later), a queued one
        // when the receiver's thread has run.
        if (queued)
            QVERIFY(runQueuedOn(thread));
        else
            QCoreApplication::processEvents();
        if (!receiver)
            return; // a call reaching the deleted receiver would have crashed
        QCOMPARE(receiver->calls.join(QLatin1Char(';')), call);
        QCOMPARE(receiver->calledOn, call.isEmpty() ? nullptr : queued ? &thread : QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(tst_RovaCallbackHelper)
#include "tst_rovacallbackhelper.moc"

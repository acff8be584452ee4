// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovarenderer.h>
#include <rovarendererevent.h>

#include "rovatestobjects.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// Records the play and seek commands that reach it, so meta-object calls can be checked
// against the virtual operations they must dispatch to.
class RecordingRenderer : public RovaTestRenderer
{
public:
    RecordingRenderer()
        : RovaTestRenderer(QStringLiteral("uuid-1"))
    {
    }
    QStringList calls;

    using RovaRenderer::play;
    bool play() override { return record(QStringLiteral("play()")); }
    bool play(const QUrl& url, uint start) override
    {
        return record(QStringLiteral("play(%1,%2)").arg(url.toString()).arg(start));
    }
    bool setPosition(int seconds, RovaRenderer::SeekMode mode) override
    {
        return record(QStringLiteral("setPosition(%1,%2)").arg(seconds).arg(int(mode)));
    }

private:
    bool record(const QString& call) { calls << call; return true; }
};

class PropertyReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList answers;
public Q_SLOTS:
    void propertyResult(const QString& name, const QVariant& value)
    {
        answers << name + QLatin1Char('=') + (value.isValid() ? value.toString() : QStringLiteral("<invalid>"));
    }
    void nameOnly(QString name) { answers << name; }
    void wrongTypes(int, const QVariant&) { answers << QStringLiteral("unfit"); }
    void moreParameters(const QString&, const QVariant&, int) { answers << QStringLiteral("unfit"); }
};

// The class's own part of a meta-object, one line per method and property.
QString metaObjectToText(const QMetaObject& mo)
{
    QStringList lines;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        const QString kind = m.methodType() == QMetaMethod::Signal ? QStringLiteral("signal")
            : m.access() == QMetaMethod::Public                   ? QStringLiteral("public slot")
                                                                   : QStringLiteral("other");
        lines << QStringLiteral("%1 %2 %3 %4")
                     .arg(kind, QLatin1String(m.typeName()), QString::fromLatin1(m.methodSignature()),
                          QString::fromLatin1(m.parameterNames().join(',')))
                     .trimmed();
    }
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
        const QMetaProperty p = mo.property(i);
        const bool readOnly = p.isReadable() && !p.isWritable() && !p.hasNotifySignal();
        lines << QStringLiteral("property %1 %2%3")
                     .arg(QLatin1String(p.typeName()), QLatin1String(p.name()),
                          readOnly ? QStringLiteral(" read-only") : QString());
    }
    lines << QStringLiteral("enumerators %1").arg(mo.enumeratorCount() - mo.enumeratorOffset());
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class tst_RovaRenderer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldKeepInterfaceAndIdentity();
    void shouldDispatchCommandsToOverridesOrDefaults();
    void shouldStorePropertyAndAnswerFittingCallbackOnly_data();
    void shouldStorePropertyAndAnswerFittingCallbackOnly();
    void shouldUseTypeNumbersAsEventTypes();
};

void tst_RovaRenderer::shouldKeepInterfaceAndIdentity()
{
    // The meta-object indexes signals and slots, so their order is interface.
    QCOMPARE(metaObjectToText(RovaRenderer::staticMetaObject),
             QStringLiteral("signal void stateChanged(RovaRenderer::State) state\n"
                            "signal void playbackCompleted()\n"
                            "signal void mediaChanged(int,RovaContent) index,content\n"
                            "signal void playlistChanged(RovaPlaylist*) playlist\n"
                            "signal void metadataChanged(QString,QVariantList) metadata,values\n"
                            "signal void bufferingInfo(float) status\n"
                            "signal void scanningInfo(float) status\n"
                            "signal void nameChanged(QString) name\n"
                            "signal void rovaPropertyChanged(QString,QVariant) name,value\n"
                            "signal void error(RovaError) error\n"
                            "public slot bool play()\n"
                            "public slot bool play(QUrl,uint) url,startPosition\n"
                            "public slot bool play(QUrl) url\n"
                            "public slot bool play(QUrl,QString) url,contentType\n"
                            "public slot bool stop()\n"
                            "public slot bool pause()\n"
                            "public slot bool pauseAt(uint) position\n"
                            "public slot bool resume()\n"
                            "public slot bool next()\n"
                            "public slot bool previous()\n"
                            "public slot bool gotoIndex(uint) index\n"
                            "public slot bool setPosition(int,RovaRenderer::SeekMode) seconds,mode\n"
                            "public slot bool setPosition(int) seconds\n"
                            "property QString uuid read-only\n"
                            "property QString pluginName read-only\n"
                            "property QString name read-only\n"
                            "enumerators 0"));
    // Queued stateChanged() connections need the type by its name.
    QVERIFY(QMetaType::fromName("RovaRenderer::State").isValid());
    // Status answers carry the state as a plain int.
    QCOMPARE((QList<int>{RovaRenderer::Stopped, RovaRenderer::Playing, RovaRenderer::Paused,
                         RovaRenderer::Transitioning, RovaRenderer::SeekDefault}),
             (QList<int>{0, 1, 2, 3, 0}));
    QCOMPARE(RovaRenderer::ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE, QStringLiteral("rova_policy_override"));
    QCOMPARE(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, QStringLiteral("rova_auto_advance"));

    RecordingRenderer renderer;
    QCOMPARE(renderer.property("uuid").toString(), QStringLiteral("uuid-1"));
    QCOMPARE(renderer.property("pluginName").toString(), QStringLiteral("test-plugin"));
    QCOMPARE(renderer.property("name"), QVariant(QString()));
}

void tst_RovaRenderer::shouldDispatchCommandsToOverridesOrDefaults()
{
    RecordingRenderer renderer;
    const QUrl url(QStringLiteral("file:///a.ogg"));
    // The one-argument slots are meta-object clones that fill in the default.
    QVERIFY(QMetaObject::invokeMethod(&renderer, "play", Q_ARG(QUrl, url)));
    QVERIFY(QMetaObject::invokeMethod(&renderer, "setPosition", Q_ARG(int, 5)));
    // The content-type variant, not overridden here, only warns.
    QTest::ignoreMessage(QtWarningMsg, "virtual bool RovaRenderer::play(const QUrl&, const QString&)  not implemented.");
    QVERIFY(renderer.play(url, QStringLiteral("audio/ogg")));
    QCOMPARE(renderer.calls.join(QLatin1Char(';')), QStringLiteral("play(file:///a.ogg,0);setPosition(5,0)"));
    // The media-info query, not overridden either, answers nothing.
    PropertyReceiver receiver;
    QVERIFY(!renderer.getCurrentMediaInfo(&receiver, SLOT(nameOnly(QString)), QString()));
    QVERIFY(receiver.answers.isEmpty());

    // Queued calls copy their arguments, the seek mode included.
    renderer.calls.clear();
    QVERIFY(QMetaObject::invokeMethod(&renderer, "play", Qt::QueuedConnection));
    QVERIFY(QMetaObject::invokeMethod(&renderer, "play", Qt::QueuedConnection, Q_ARG(QUrl, url), Q_ARG(uint, 7)));
    QVERIFY(QMetaObject::invokeMethod(&renderer, "setPosition", Qt::QueuedConnection, Q_ARG(int, 5),
                                      Q_ARG(RovaRenderer::SeekMode, RovaRenderer::SeekKeyFrame)));
    QVERIFY(renderer.calls.isEmpty());
    QTRY_COMPARE(renderer.calls.join(QLatin1Char(';')),
                 QStringLiteral("play();play(file:///a.ogg,7);setPosition(5,2)"));
}

void tst_RovaRenderer::shouldStorePropertyAndAnswerFittingCallbackOnly_data()
{
    QTest::addColumn<bool>("withReceiver");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("warnings"); // none when the callback is accepted

    const auto row = [](const char* title, bool withReceiver, const char* name, const char* slot, const char* answer,
                        const QStringList& warnings = {}) {
        QTest::newRow(title) << withReceiver << QString::fromLatin1(name) << QByteArray(slot)
                             << QString::fromLatin1(answer) << warnings;
    };
    const auto unfit = [](const char* slot) {
        return QStringList{QStringLiteral("Provided slot has incorrect signature ( %1 ).").arg(QLatin1String(slot)),
                           QStringLiteral("Invoking the callback method failed!")};
    };
    const char* const fit = SLOT(propertyResult(QString, QVariant));
    row("set value", true, "rova_auto_advance", fit, "rova_auto_advance=true");
    row("never set gives invalid value", true, "volume", SLOT(propertyResult(const QString&, const QVariant&)),
        "volume=<invalid>");
    row("slot taking the name only", true, "rova_auto_advance", SLOT(nameOnly(QString)), "rova_auto_advance");
    row("null receiver", false, "volume", fit, "",
        {QStringLiteral("RovaCallbackHelper::getCallbackMethod: Target object is null for slot:  "
                        "1propertyResult(QString, QVariant)")});
    row("slot with other types", true, "volume", SLOT(wrongTypes(int, QVariant)), "", unfit(SLOT(wrongTypes(int, QVariant))));
    row("slot needing more parameters", true, "volume", SLOT(moreParameters(QString, QVariant, int)), "",
        unfit(SLOT(moreParameters(QString, QVariant, int))));
}

void tst_RovaRenderer::shouldStorePropertyAndAnswerFittingCallbackOnly()
{
    QFETCH(bool, withReceiver);
    QFETCH(QString, name);
    QFETCH(QByteArray, slot);
    QFETCH(QString, answer);
    QFETCH(QStringList, warnings);

    RecordingRenderer renderer;
    PropertyReceiver receiver;
    QSignalSpy spy(&renderer, &RovaRenderer::rovaPropertyChanged);
    QVERIFY(renderer.setRovaProperty(QStringLiteral("rova_auto_advance"), true));
    QCOMPARE(spy, (QList<QVariantList>{{QStringLiteral("rova_auto_advance"), true}}));
    for (const QString& warning : warnings)
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QCOMPARE(renderer.rovaProperty(name, withReceiver ? &receiver : nullptr, slot.isNull() ? nullptr : slot.constData()),
             warnings.isEmpty());
    QCOMPARE(receiver.answers.join(QLatin1Char(';')), answer);
}

void tst_RovaRenderer::shouldUseTypeNumbersAsEventTypes()
{
    using E = RovaRendererEvent;
    const QList<E::RovaRendererEventType> types = {
        E::Play, E::PlayURI, E::Stop, E::Pause, E::Resume, E::Next, E::Previous, E::GotoIndex, E::SetPosition,
        E::PauseAt, E::PrepareNext, E::RefreshNext, E::NextMetadataReady, E::WaitTimeout, E::MetadataReady,
        E::ItemPlaying, E::Eos};
    for (int i = 0; i < types.size(); ++i) {
        const RovaRendererEvent event(types.at(i));
        QCOMPARE(int(event.type()), 1000 + i);
        QVERIFY(!event.data.isValid());
    }

    const QVariantList payload{QUrl(QStringLiteral("file:///a.ogg")), 30u};
    const std::unique_ptr<QEvent> copy(RovaRendererEvent(E::PlayURI, payload).clone());
    QCOMPARE(int(copy->type()), 1001);
    QCOMPARE(static_cast<RovaRendererEvent*>(copy.get())->data.toList(), payload);
}

QTEST_GUILESS_MAIN(tst_RovaRenderer)
#include "tst_rovarenderer.moc"

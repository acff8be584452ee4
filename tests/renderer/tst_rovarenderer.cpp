// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovarenderer.h>
#include <rovarendererevent.h>

#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

namespace {

// Records which command reached it, so meta-object calls can be checked
// against the virtual operations they must dispatch to.
class RecordingRenderer : public RovaRenderer
{
    Q_OBJECT
public:
    explicit RecordingRenderer(QObject* parent = nullptr)
        : RovaRenderer(QStringLiteral("uuid-1"), QStringLiteral("test-plugin"), parent)
    {
    }

    void rename(const QString& name) { setName(name); }

    QStringList calls;

    using RovaRenderer::play;
    bool play() override { return record(QStringLiteral("play()")); }
    bool play(const QUrl& url, uint startPosition) override
    {
        return record(QStringLiteral("play(%1,%2)").arg(url.toString()).arg(startPosition));
    }
    bool stop() override { return record(QStringLiteral("stop()")); }
    bool pause() override { return record(QStringLiteral("pause()")); }
    bool pauseAt(uint position) override { return record(QStringLiteral("pauseAt(%1)").arg(position)); }
    bool resume() override { return record(QStringLiteral("resume()")); }
    bool next() override { return record(QStringLiteral("next()")); }
    bool previous() override { return record(QStringLiteral("previous()")); }
    bool gotoIndex(uint index) override { return record(QStringLiteral("gotoIndex(%1)").arg(index)); }
    bool setPosition(int seconds, RovaRenderer::SeekMode mode) override
    {
        return record(QStringLiteral("setPosition(%1,%2)").arg(seconds).arg(int(mode)));
    }
    bool getStatus(QObject*, const char*) override { return false; }
    bool assignPlaylist(RovaPlaylist*) override { return false; }
    bool getPosition(QObject*, const char*) override { return false; }

private:
    bool record(const QString& call)
    {
        calls << call;
        return true;
    }
};

class PropertyReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList answers;
public Q_SLOTS:
    void propertyResult(const QString& name, const QVariant& value)
    {
        answers << name + QLatin1Char('=')
                + (value.isValid() ? value.toString() : QStringLiteral("<invalid>"));
    }
    void nameOnly(QString name) { answers << name; }
    void nothing() { answers << QStringLiteral("nothing"); }
    void wrongTypes(int number, const QVariant&) { answers << QString::number(number); }
};

QString methodsToText(const QMetaObject& mo)
{
    QStringList lines;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        const char* kind = m.methodType() == QMetaMethod::Signal ? "signal" : "slot";
        QStringList names;
        for (const QByteArray& n : m.parameterNames())
            names << QString::fromLatin1(n);
        lines << QStringLiteral("%1 %2 %3 %4")
                     .arg(i - mo.methodOffset())
                     .arg(QLatin1String(kind), QString::fromLatin1(m.methodSignature()), names.join(QLatin1Char(',')));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class tst_RovaRenderer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldKeepSignalsAndSlotsInInterfaceOrder();
    void shouldExposeReadOnlyIdentityProperties();
    void shouldKeepIdentityAndStartWithEmptyName();
    void shouldNamePropertiesAndStateValues();
    void shouldDispatchMetaCallsToOverrides_data();
    void shouldDispatchMetaCallsToOverrides();
    void shouldStoreAndAnnouncePropertyOnce();
    void shouldAnswerPropertyThroughCallback_data();
    void shouldAnswerPropertyThroughCallback();
    void shouldRefuseUnfitPropertyCallbacks_data();
    void shouldRefuseUnfitPropertyCallbacks();
    void shouldWarnForPlayWithContentTypeWhenNotOverridden();

    void shouldUseTypeNumbersAsEventTypes_data();
    void shouldUseTypeNumbersAsEventTypes();
    void shouldCarryPayloadIntoClone();
};

void tst_RovaRenderer::shouldKeepSignalsAndSlotsInInterfaceOrder()
{
    const QString expected = QStringLiteral(
        "0 signal stateChanged(RovaRenderer::State) state\n"
        "1 signal playbackCompleted() \n"
        "2 signal mediaChanged(int,RovaContent) index,content\n"
        "3 signal playlistChanged(RovaPlaylist*) playlist\n"
        "4 signal metadataChanged(QString,QVariantList) metadata,values\n"
        "5 signal bufferingInfo(float) status\n"
        "6 signal scanningInfo(float) status\n"
        "7 signal nameChanged(QString) name\n"
        "8 signal rovaPropertyChanged(QString,QVariant) name,value\n"
        "9 signal error(RovaError) error\n"
        "10 slot play() \n"
        "11 slot play(QUrl,uint) url,startPosition\n"
        "12 slot play(QUrl) url\n"
        "13 slot play(QUrl,QString) url,contentType\n"
        "14 slot stop() \n"
        "15 slot pause() \n"
        "16 slot pauseAt(uint) position\n"
        "17 slot resume() \n"
        "18 slot next() \n"
        "19 slot previous() \n"
        "20 slot gotoIndex(uint) index\n"
        "21 slot setPosition(int,RovaRenderer::SeekMode) seconds,mode\n"
        "22 slot setPosition(int) seconds");
    QCOMPARE(methodsToText(RovaRenderer::staticMetaObject), expected);

    for (int i = 10; i <= 22; ++i) {
        const QMetaMethod m = RovaRenderer::staticMetaObject.method(RovaRenderer::staticMetaObject.methodOffset() + i);
        QCOMPARE(m.access(), QMetaMethod::Public);
        QCOMPARE(m.returnMetaType(), QMetaType::fromType<bool>());
    }
}

void tst_RovaRenderer::shouldExposeReadOnlyIdentityProperties()
{
    const QMetaObject& mo = RovaRenderer::staticMetaObject;
    QStringList names;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
        const QMetaProperty p = mo.property(i);
        names << QString::fromLatin1(p.name());
        QCOMPARE(p.metaType(), QMetaType::fromType<QString>());
        QVERIFY(p.isReadable());
        QVERIFY(!p.isWritable());
        QVERIFY(!p.hasNotifySignal());
        QVERIFY(p.isDesignable());
        QVERIFY(p.isScriptable());
        QVERIFY(p.isStored());
    }
    QCOMPARE(names.join(QLatin1Char(',')), QStringLiteral("uuid,pluginName,name"));
    QCOMPARE(mo.enumeratorCount() - mo.enumeratorOffset(), 0);
}

void tst_RovaRenderer::shouldKeepIdentityAndStartWithEmptyName()
{
    RecordingRenderer renderer;
    QCOMPARE(renderer.uuid(), QStringLiteral("uuid-1"));
    QCOMPARE(renderer.pluginName(), QStringLiteral("test-plugin"));
    QVERIFY(renderer.name().isEmpty());
    QCOMPARE(renderer.property("name"), QVariant(QString()));
    QCOMPARE(renderer.property("uuid").toString(), QStringLiteral("uuid-1"));

    renderer.rename(QStringLiteral("Speakers"));
    QCOMPARE(renderer.property("name").toString(), QStringLiteral("Speakers"));
    // Read-only through the property system.
    QVERIFY(!renderer.setProperty("uuid", QStringLiteral("other")));
    QCOMPARE(renderer.uuid(), QStringLiteral("uuid-1"));
}

void tst_RovaRenderer::shouldNamePropertiesAndStateValues()
{
    QCOMPARE(RovaRenderer::ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE, QStringLiteral("rova_policy_override"));
    QCOMPARE(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, QStringLiteral("rova_auto_advance"));
    QCOMPARE(int(RovaRenderer::Stopped), 0);
    QCOMPARE(int(RovaRenderer::Playing), 1);
    QCOMPARE(int(RovaRenderer::Paused), 2);
    QCOMPARE(int(RovaRenderer::Transitioning), 3);
    QCOMPARE(int(RovaRenderer::SeekDefault), 0);
    QCOMPARE(sizeof(RovaRenderer::State), size_t(4));
    QVERIFY(QMetaType::fromName("RovaRenderer::State").isValid());
    QVERIFY(QMetaType::fromName("RovaRenderer::SeekMode").isValid());
}

void tst_RovaRenderer::shouldDispatchMetaCallsToOverrides_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<QString>("call");

    const QUrl url(QStringLiteral("file:///a.ogg"));
    QTest::newRow("play()") << QByteArray("play") << QVariantList() << "play()";
    QTest::newRow("play(url) is play(url, 0)") << QByteArray("play") << QVariantList{url} << "play(file:///a.ogg,0)";
    QTest::newRow("play(url, start)") << QByteArray("play") << QVariantList{url, QVariant::fromValue(7u)}
                                      << "play(file:///a.ogg,7)";
    QTest::newRow("pauseAt") << QByteArray("pauseAt") << QVariantList{QVariant::fromValue(12u)} << "pauseAt(12)";
    QTest::newRow("gotoIndex") << QByteArray("gotoIndex") << QVariantList{QVariant::fromValue(3u)} << "gotoIndex(3)";
    QTest::newRow("setPosition(s) is setPosition(s, SeekDefault)")
        << QByteArray("setPosition") << QVariantList{5} << "setPosition(5,0)";
    QTest::newRow("setPosition(s, mode)")
        << QByteArray("setPosition") << QVariantList{5, QVariant::fromValue(RovaRenderer::SeekKeyFrame)}
        << "setPosition(5,2)";
}

void tst_RovaRenderer::shouldDispatchMetaCallsToOverrides()
{
    QFETCH(QByteArray, slot);
    QFETCH(QVariantList, arguments);
    QFETCH(QString, call);

    RecordingRenderer renderer;
    // Build the signature from the argument types and call through the meta-object.
    QByteArrayList types;
    for (const QVariant& v : arguments)
        types << QByteArray(v.metaType().name());
    const QByteArray signature = slot + '(' + types.join(',') + ')';
    const int index = renderer.metaObject()->indexOfSlot(QMetaObject::normalizedSignature(signature).constData());
    QVERIFY2(index >= 0, signature.constData());
    const QMetaMethod method = renderer.metaObject()->method(index);

    bool result = false;
    QList<QGenericArgument> args;
    for (const QVariant& v : arguments)
        args << QGenericArgument(v.metaType().name(), v.constData());
    while (args.size() < 2)
        args << QGenericArgument();
    QVERIFY(method.invoke(&renderer, Qt::DirectConnection, Q_RETURN_ARG(bool, result), args[0], args[1]));
    QVERIFY(result);
    QCOMPARE(renderer.calls.join(QLatin1Char(';')), call);

    // A queued call reaches the same override.
    renderer.calls.clear();
    QVERIFY(method.invoke(&renderer, Qt::QueuedConnection, args[0], args[1]));
    QTRY_COMPARE(renderer.calls.join(QLatin1Char(';')), call);
}

void tst_RovaRenderer::shouldStoreAndAnnouncePropertyOnce()
{
    RecordingRenderer renderer;
    QSignalSpy spy(&renderer, &RovaRenderer::rovaPropertyChanged);
    QVERIFY(renderer.setRovaProperty(QStringLiteral("volume"), 42));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("volume"));
    QCOMPARE(spy.at(0).at(1), QVariant(42));
    QCOMPARE(renderer.property("volume"), QVariant(42));
    QVERIFY(renderer.dynamicPropertyNames().contains("volume"));
}

void tst_RovaRenderer::shouldAnswerPropertyThroughCallback_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("answer");

    QTest::newRow("set value") << true << QByteArray(SLOT(propertyResult(QString, QVariant))) << "rova_auto_advance=true";
    QTest::newRow("never set gives invalid value")
        << false << QByteArray(SLOT(propertyResult(const QString&, const QVariant&))) << "rova_auto_advance=<invalid>";
    QTest::newRow("slot taking the name only") << true << QByteArray(SLOT(nameOnly(QString))) << "rova_auto_advance";
}

void tst_RovaRenderer::shouldAnswerPropertyThroughCallback()
{
    QFETCH(bool, set);
    QFETCH(QByteArray, slot);
    QFETCH(QString, answer);

    RecordingRenderer renderer;
    PropertyReceiver receiver;
    QString name = RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE;
    if (set)
        renderer.setRovaProperty(name, true);
    QVERIFY(renderer.rovaProperty(name, &receiver, slot.constData()));
    QCOMPARE(receiver.answers.join(QLatin1Char(';')), answer);
}

void tst_RovaRenderer::shouldRefuseUnfitPropertyCallbacks_data()
{
    QTest::addColumn<bool>("withReceiver");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("warning");

    QTest::newRow("null receiver") << false << QByteArray(SLOT(propertyResult(QString, QVariant)))
                                   << "RovaCallbackHelper::getCallbackMethod: Target object is null for slot:  "
                                      "1propertyResult(QString, QVariant)";
    QTest::newRow("null slot") << true << QByteArray()
                               << "RovaCallbackHelper::getCallbackMethod: slot signature is null.";
    QTest::newRow("no such slot") << true << QByteArray(SLOT(missing(QString, QVariant)))
                                  << "RovaCallbackHelper::getCallbackMethod: Invalid slot/signal( "
                                     "1missing(QString, QVariant) )";
    QTest::newRow("slot without parameters") << true << QByteArray(SLOT(nothing()))
                                             << "RovaCallbackHelper::getCallbackMethod: Parameter list of "
                                                "callback method empty.";
    QTest::newRow("slot with other types") << true << QByteArray(SLOT(wrongTypes(int, QVariant)))
                                           << "Provided slot has incorrect signature ( 1wrongTypes(int, QVariant) ).";
}

void tst_RovaRenderer::shouldRefuseUnfitPropertyCallbacks()
{
    QFETCH(bool, withReceiver);
    QFETCH(QByteArray, slot);
    QFETCH(QString, warning);

    RecordingRenderer renderer;
    PropertyReceiver receiver;
    QString name = QStringLiteral("volume");
    QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());
    QVERIFY(!renderer.rovaProperty(name, withReceiver ? &receiver : nullptr,
                                   slot.isNull() ? nullptr : slot.constData()));
    QVERIFY(receiver.answers.isEmpty());

    // Still works afterwards.
    QVERIFY(renderer.rovaProperty(name, &receiver, SLOT(nameOnly(QString))));
    QCOMPARE(receiver.answers, QStringList{name});
}

void tst_RovaRenderer::shouldWarnForPlayWithContentTypeWhenNotOverridden()
{
    RecordingRenderer renderer;
    QTest::ignoreMessage(QtWarningMsg,
                         "virtual bool RovaRenderer::play(const QUrl&, const QString&)  not implemented.");
    QVERIFY(renderer.play(QUrl(QStringLiteral("file:///a.ogg")), QStringLiteral("audio/ogg")));
    QVERIFY(renderer.calls.isEmpty());
}

void tst_RovaRenderer::shouldUseTypeNumbersAsEventTypes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("number");
    const QList<QPair<const char*, RovaRendererEvent::RovaRendererEventType>> rows = {
        {"Play", RovaRendererEvent::Play}, {"PlayURI", RovaRendererEvent::PlayURI},
        {"Stop", RovaRendererEvent::Stop}, {"Pause", RovaRendererEvent::Pause},
        {"Resume", RovaRendererEvent::Resume}, {"Next", RovaRendererEvent::Next},
        {"Previous", RovaRendererEvent::Previous}, {"GotoIndex", RovaRendererEvent::GotoIndex},
        {"SetPosition", RovaRendererEvent::SetPosition}, {"PauseAt", RovaRendererEvent::PauseAt},
        {"PrepareNext", RovaRendererEvent::PrepareNext}, {"RefreshNext", RovaRendererEvent::RefreshNext},
        {"NextMetadataReady", RovaRendererEvent::NextMetadataReady},
        {"WaitTimeout", RovaRendererEvent::WaitTimeout}, {"MetadataReady", RovaRendererEvent::MetadataReady},
        {"ItemPlaying", RovaRendererEvent::ItemPlaying}, {"Eos", RovaRendererEvent::Eos}};
    int number = 1000;
    for (const auto& row : rows)
        QTest::newRow(row.first) << int(row.second) << number++;
}

void tst_RovaRenderer::shouldUseTypeNumbersAsEventTypes()
{
    QFETCH(int, type);
    QFETCH(int, number);
    QCOMPARE(type, number);
    const RovaRendererEvent event(static_cast<RovaRendererEvent::RovaRendererEventType>(type));
    QCOMPARE(int(event.type()), number);
    QVERIFY(!event.data.isValid());
    QVERIFY(event.type() >= QEvent::User);
}

void tst_RovaRenderer::shouldCarryPayloadIntoClone()
{
    const QVariantList payload{QUrl(QStringLiteral("file:///a.ogg")), QVariant::fromValue(30u)};
    const RovaRendererEvent event(RovaRendererEvent::PlayURI, payload);
    QCOMPARE(event.data.toList(), payload);
    std::unique_ptr<QEvent> copy(event.clone());
    QCOMPARE(int(copy->type()), int(RovaRendererEvent::PlayURI));
    QCOMPARE(static_cast<RovaRendererEvent*>(copy.get())->data.toList(), payload);
}

QTEST_GUILESS_MAIN(tst_RovaRenderer)
#include "tst_rovarenderer.moc"

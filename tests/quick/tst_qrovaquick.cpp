// SPDX-License-Identifier: LGPL-2.1-or-later
// The Qrova QML module against a store of its own: tones made with GStreamer's
// encoders, indexed as qrova-play indexes them, played to a fakesink in real time.
#include "playertest.h"
#include "rovamusicindexer.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

class Setup : public QObject, public PlayerFolder
{
    Q_OBJECT

public Q_SLOTS:
    // Before the module (and with it the library) is loaded: the plugin folder and the store are fixed then.
    void applicationAvailable()
    {
        const auto tone = [this](const QString& name, const QString& tags, int seconds) {
            return encode(name, u"flacenc"_s, tags, seconds * 8000 / 1024 + 1);
        };
        const bool made = addPlugins(u"plugins"_s) && copy(QStringLiteral(QROVA_POLICY_PLUGIN), path(u"plugins/policy"_s))
            && tone(u"music/t1.flac"_s, u"title=Tone-1,artist=Cee,album=Tones,track-number=(uint)1"_s, 4)
            && tone(u"music/t2.flac"_s, u"title=Tone-2,artist=Bee,album=Tones,track-number=(uint)2"_s, 5)
            && tone(u"music/t3.flac"_s, u"title=Tone-3,artist=Ay,album=Tones,track-number=(uint)3"_s, 6)
            && tone(u"music/gone.flac"_s, u"title=Zed,artist=Gone,album=Lost,track-number=(uint)4"_s, 1);
        RovaMusicIndexer indexer(path(u"store"_s));
        const RovaIndexResult indexed = indexer.index({path(u"music"_s)});
        if (!made || indexed.indexed != 4 || !QFile::remove(path(u"music/gone.flac"_s)))
            qFatal("cannot make the test's songs: %s", qPrintable(indexed.failed.join(u", "_s) + indexed.storeError));
        qputenv("QROVA_PLUGIN_DIR", QFile::encodeName(path(u"plugins"_s)));
        qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(path(u"store"_s)));
        qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // the audio focus policy grants everything without a bus
    }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->addImportPath(QStringLiteral(QROVA_QML_DIR));
        engine->rootContext()->setContextProperty(u"musicFolder"_s, QUrl::fromLocalFile(path(u"music"_s)).toString());
        engine->rootContext()->setContextProperty(u"pluginFolder"_s, path(u"plugins"_s));
        engine->rootContext()->setContextProperty(u"guidePlayer"_s, QUrl::fromLocalFile(QStringLiteral(QROVA_GUIDE_PLAYER)));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(qrovaquick, Setup)

#include "tst_qrovaquick.moc"

// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-play --resume: runs ended in every way, then continued; states written by hand,
// damaged, or naming files gone since. What a resumed run plays is rendered into a file.
#include "playertest.h"
#include "rovawavgaps.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>

class tst_QrovaPlayResume : public QObject, PlayerFolder
{
    Q_OBJECT

    const qint64 rate = 44100;
    QList<qint64> frames; // of the tones 1 to 3: 4, 5 and 6 s

    QString url(const QString& folder, int item) const { return QString::fromUtf8(QUrl::fromLocalFile(path(u"%1/t%2.flac"_s.arg(folder).arg(item))).toEncoded()); }
    QString stateFile(const QString& data) const { return path(data + u"/qrova-play/state.json"_s); }
    // qrova-play keeping its state in \a data, on the files of \a folder indexed into a store of their own.
    QProcessEnvironment env(const QString& data, const QString& folder) const
    {
        QProcessEnvironment env = alone(folder + u"/cache"_s);
        env.insert(u"XDG_DATA_HOME"_s, path(data));
        return env;
    }
    std::pair<QString, int> play(const QString& data, const QString& folder, const QStringList& args) const { return run(QStringLiteral(QROVA_PLAY), args, env(data, folder)); }
    // A folder with the three tones, indexed.
    void prepare(const QString& folder)
    {
        for (int i = 1; i <= 3; ++i)
            QVERIFY(copy(path(u"t%1.flac"_s.arg(i)), path(folder)));
        QCOMPARE(play(folder, folder, {u"--list"_s, path(folder)}).second, 0);
    }
    static QJsonObject read(const QString& file) { QFile state(file); return state.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(state.readAll()).object() : QJsonObject(); }
    // The item numbers of \a state in the order they play.
    static QList<int> order(const QJsonObject& state)
    {
        const QJsonArray items = state.value(u"items"_s).toArray(), shuffled = state.value(u"shuffled"_s).toArray();
        QList<int> order;
        for (int i = 0; i < items.size(); ++i)
            order.append(items.at(shuffled.isEmpty() ? i : shuffled.at(i).toInt()).toString().section(u"/t"_s, -1).left(1).toInt());
        return order;
    }
    // Renders what --resume plays: its frames, and what it said.
    std::pair<RovaWav, QString> render(const QString& data, const QString& folder)
    {
        const auto [text, code] = play(data, folder, {u"--resume"_s, u"--repeat"_s, u"none"_s, u"--output"_s, path(data + u"/out.wav"_s)});
        return {RovaWav::read(path(data + u"/out.wav"_s)), text + u"\ncode "_s + QString::number(code)};
    }
    static int peak(const RovaWav& wav) { return wav.samples.isEmpty() ? 0 : int(*std::max_element(wav.samples.cbegin(), wav.samples.cend())); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(addPlugins(u"plugins"_s));
        for (int i = 1; i <= 3; ++i) {
            frames.append(((3 + i) * rate / 1024 + 1) * 1024);
            QVERIFY(encode(u"t%1.flac"_s.arg(i), u"flacenc"_s, u"title=Tone-%1,artist=Band,album=Tones"_s.arg(i), int(frames.last() / 1024),
                           u"format=S16LE,rate=44100,channels=2"_s, 220 * i));
        }
        prepare(u"music"_s);
    }

    // A run ended by a signal, killed, or played to its end; --resume continues with its
    // songs in their order, its repeat mode, its item and position (within a second).
    void shouldContinueTheLastRun_data()
    {
        QTest::addColumn<int>("signal"); // 0: played to its end; -1: "q" on a terminal
        QTest::newRow("quit with q") << -1;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGKILL") << int(SIGKILL);
        QTest::newRow("played to its end") << 0;
    }

    void shouldContinueTheLastRun()
    {
        QFETCH(int, signal);
        const QString data = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        if (signal < 0 && !QFile::exists(u"/dev/pts/ptmx"_s))
            QSKIP("no pseudo-terminals here (/dev/pts), so the player cannot run on a terminal");
        QProcess player;
        player.setProcessEnvironment(env(data, u"music"_s));
        const QStringList args = signal ? QStringList{u"--shuffle"_s, u"--repeat"_s, u"all"_s, u"--audio-sink"_s, u"fakesink sync=true"_s}
                                        : QStringList{u"--audio-sink"_s, u"fakesink"_s};
        signal < 0 ? player.start(u"script"_s, {u"-qec"_s, QStringLiteral(QROVA_PLAY " '") + args.join(u"' '"_s) + u'\'', u"/dev/null"_s})
                   : player.start(QStringLiteral(QROVA_PLAY), args);
        QElapsedTimer playing;
        QVERIFY(player.waitForReadyRead(30000)); // "Playing 1/3: ...", or the status line
        playing.start();
        QJsonObject written;
        qint64 stopped = 0;
        if (signal) { // once a state was written while it played
            QVERIFY(QTest::qWaitFor([&] { return (written = read(stateFile(data))).value(u"position"_s).toInt() >= 1500; }, 30000));
            stopped = playing.elapsed();
            signal < 0 ? void(player.write("q")) : void(::kill(pid_t(player.processId()), signal));
        }
        QVERIFY(player.waitForFinished(30000));
        QCOMPARE(signal == SIGKILL ? 0 : player.exitCode(), signal > 0 && signal != SIGKILL ? 128 + signal : 0);
        const QJsonObject state = read(stateFile(data));
        QCOMPARE(state.value(u"items"_s).toArray().size(), 3);
        QCOMPARE(state.value(u"repeat"_s).toInt(), signal ? 2 : 0);
        QCOMPARE(state.value(u"shuffled"_s).toArray().size(), signal ? 3 : 0);
        QCOMPARE(state.value(u"current"_s).toInt(), 0);
        const qint64 position = state.value(u"position"_s).toInteger();
        if (signal == SIGKILL || signal < 0) // the last one written; the status line comes before the sound
            QVERIFY2(position >= written.value(u"position"_s).toInteger(), qPrintable(u"%1 %2"_s.arg(position).arg(written.value(u"position"_s).toInteger())));
        else if (signal)
            QVERIFY2(qAbs(position - stopped) <= 1000, qPrintable(u"%1 ms kept, %2 ms played"_s.arg(position).arg(stopped)));
        else
            QCOMPARE(position, 0); // played through: it starts over
        // The same order, from the same item and second.
        const QList<int> items = order(state);
        const QByteArray output = player.readAllStandardOutput();
        QCOMPARE(output.mid(output.indexOf("Tone-") + 5, 1).toInt(), items[0]); // the order it played in
        const auto [list, code] = play(data, u"music"_s, {u"--resume"_s, u"--list"_s});
        QCOMPARE(code, 0);
        QCOMPARE(list, u"1. Tone-%1 - Band (Tones) 0:0%2\n2. Tone-%3 - Band (Tones) 0:0%4\n3. Tone-%5 - Band (Tones) 0:0%6"_s.arg(items[0]).arg(items[0] + 3).arg(items[1]).arg(items[1] + 3).arg(items[2]).arg(items[2] + 3));
        const auto [wav, said] = render(data, u"music"_s);
        const qint64 expected = frames[items[0] - 1] + frames[items[1] - 1] + frames[items[2] - 1] - (position + 500) / 1000 * rate;
        QVERIFY2(qAbs(wav.samples.size() - expected) <= 2048, qPrintable(u"%1 frames, %2 expected; "_s.arg(wav.samples.size()).arg(expected) + said));
    }

    // A state as it is written, or damaged; files gone since it was written.
    void shouldResumeFromWhatIsKept_data()
    {
        QTest::addColumn<QByteArray>("state"); // %1 to %3: the tones' addresses, %4 one never indexed
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<QList<int>>("played"); // the tones, the first from "second" on
        QTest::addColumn<int>("second");
        QTest::addColumn<double>("volume");
        QTest::addColumn<QStringList>("said"); // parts of what it says, {folder} and {file} filled in
        const QByteArray kept = R"({"version": 1, "store": "", "items": ["%1", "%2", "%3"], "shuffled": [2, 0, 1], "repeat": 0, "current": 1, "position": 2400, "volume": 0.5})";
        QTest::newRow("shuffled, the second at 0:02") << kept << QStringList() << QList<int>{1, 2} << 2 << 0.5 << QStringList();
        QTest::newRow("the item it was at gone") << kept << QStringList{u"t1.flac"_s} << QList<int>{2} << 0 << 0.5 << QStringList{u"qrova-play: skipped {folder}/t1.flac: "_s};
        QTest::newRow("an item no longer in the store") << QByteArray(kept).replace("%3", "%4") << QStringList() << QList<int>{1, 2} << 2 << 0.5 << QStringList{u"qrova-play: skipped {folder}/t9.flac: no longer in the store"_s};
        QTest::newRow("nothing left") << QByteArray(R"({"version": 1, "store": "", "items": ["%4"], "shuffled": [], "repeat": 0, "current": 0, "position": 0})") << QStringList() << QList<int>() << 0 << 1.0 << QStringList{u"qrova-play: nothing the last run played is in the store"_s};
        const QStringList damaged{u"qrova-play: cannot resume from {file} ("_s, u"); it is kept as {file}.damaged, playing afresh"_s};
        QTest::newRow("truncated") << kept.left(80) << QStringList() << QList<int>{1, 2, 3} << 0 << 1.0 << damaged;
        QTest::newRow("empty") << QByteArray() << QStringList() << QList<int>{1, 2, 3} << 0 << 1.0 << damaged;
        QTest::newRow("not a state") << QByteArray("[1, 2, 3]") << QStringList() << QList<int>{1, 2, 3} << 0 << 1.0 << damaged;
        QTest::newRow("order not of its items") << QByteArray(kept).replace("[2, 0, 1]", "[2, 0, 0]") << QStringList() << QList<int>{1, 2, 3} << 0 << 1.0 << damaged;
        QTest::newRow("volume out of range") << QByteArray(kept).replace("0.5}", "7}") << QStringList() << QList<int>{1, 2, 3} << 0 << 1.0 << damaged;
    }

    void shouldResumeFromWhatIsKept()
    {
        QFETCH(QByteArray, state);
        QFETCH(QStringList, gone);
        QFETCH(QList<int>, played);
        QFETCH(int, second);
        QFETCH(double, volume);
        QFETCH(QStringList, said);
        const QString data = u"kept/"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString folder = gone.isEmpty() ? u"music"_s : data + u"/music"_s;
        if (!gone.isEmpty())
            prepare(folder);
        for (const QString& name : gone)
            QVERIFY(QFile::remove(path(folder + u'/' + name)));
        const QString file = stateFile(data);
        for (int i = 1; i <= 3; ++i)
            state.replace(QByteArray("%").append(QByteArray::number(i)), url(folder, i).toUtf8());
        state.replace("%4", url(folder, 9).toUtf8());
        QFile written(file);
        QVERIFY(QDir().mkpath(QFileInfo(file).path()) && written.open(QIODevice::WriteOnly) && written.write(state) == state.size());
        written.close();
        const auto [wav, text] = render(data, folder);
        for (QString part : said) // each said once
            QVERIFY2(text.count(part.replace(u"{folder}"_s, path(folder)).replace(u"{file}"_s, file)) == 1, qPrintable(text));
        QVERIFY2(text.endsWith(played.isEmpty() ? u"code 1"_s : u"code 0"_s), qPrintable(text));
        qint64 expected = -second * rate;
        for (const int item : played)
            expected += frames[item - 1];
        QVERIFY2(qAbs(wav.samples.size() - expected) <= 2048, qPrintable(u"%1 frames, %2 expected; "_s.arg(wav.samples.size()).arg(expected) + text));
        if (!played.isEmpty()) // audiotestsrc makes tones at 0.8 of the full scale
            QVERIFY2(qAbs(peak(wav) - 0.8 * 32767 * volume) < 1000, qPrintable(QString::number(peak(wav))));
        QFile aside(file + u".damaged"_s); // kept as it was, and a fresh state is not written by a render
        if (said.size() > 1)
            QVERIFY(aside.open(QIODevice::ReadOnly) && aside.readAll() == state);
        else
            QVERIFY(!aside.exists());
    }
};

QTEST_GUILESS_MAIN(tst_QrovaPlayResume)
#include "tst_qrovaplayresume.moc"

// SPDX-License-Identifier: LGPL-2.1-or-later
// What the qrova-play tests share: a folder of their own, tones made there with GStreamer's
// encoders, and qrova-play run to its end on them with the plugins of the build tree.
#ifndef PLAYERTEST_H
#define PLAYERTEST_H

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

struct PlayerFolder
{
    QTemporaryDir dir;
    const QString root = QFileInfo(dir.path()).canonicalFilePath(); // as the player names files

    QString path(const QString& name) const { return QDir(root).filePath(name); }
    static bool copy(const QString& file, const QString& folder) { return QDir().mkpath(folder) && QFile::copy(file, folder + u'/' + QFileInfo(file).fileName()); }
    bool addPlugins(const QString& folder) const { return copy(QStringLiteral(QROVA_RENDERER_PLUGIN), path(folder)) && copy(QStringLiteral(QROVA_SOURCE_PLUGIN), path(folder)); }

    // \a buffers of 1024 frames of a sine of \a frequency Hz as \a caps, tagged with \a tags
    // (title="A b",artist=C...) when given, encoded by \a encoder into \a name.
    bool encode(const QString& name, const QString& encoder, const QString& tags = {}, int buffers = 10,
                const QString& caps = u"rate=8000,channels=1"_s, int frequency = 440) const
    {
        QStringList args = u"-q audiotestsrc freq=%1 num-buffers=%2 samplesperbuffer=1024 ! audio/x-raw,%3"_s.arg(frequency).arg(buffers).arg(caps).split(u' ');
        if (!tags.isEmpty())
            args << u"!"_s << u"taginject"_s << u"tags=\""_s + QString(tags).replace(u'"', u"\\\""_s) + u'"';
        args << u"!"_s << encoder.split(u' ') << u"!"_s << u"filesink"_s << u"location="_s + path(u"encoded"_s);
        // made under a plain name, as the launcher's syntax takes no newline in it
        return QDir().mkpath(QFileInfo(path(name)).path()) && QProcess::execute(u"gst-launch-1.0"_s, args) == 0
            && QFile::rename(path(u"encoded"_s), path(name));
    }

    // Runs \a program to its end: what it printed on either channel, and its exit code (-1 if it crashed or hung).
    static std::pair<QString, int> run(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, args);
        const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
        return {QString::fromUtf8(process.readAll()).trimmed(), ended ? process.exitCode() : -1};
    }
    // qrova-play without a session bus, with the plugins in \a plugins and a store of its own in \a cache.
    QProcessEnvironment alone(const QString& cache, const QString& plugins = u"plugins"_s) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        env.insert(u"XDG_CACHE_HOME"_s, path(cache));
        env.insert(u"XDG_DATA_HOME"_s, path(cache)); // where a run keeps its state
        env.insert(u"QROVA_PLUGIN_DIR"_s, path(plugins));
        return env;
    }
    std::pair<QString, int> play(const QStringList& args, const QString& cache, const QString& plugins = u"plugins"_s, bool terminal = false) const
    {
        QStringList command{QStringLiteral(QROVA_PLAY)};
        for (const QString& arg : args)
            command.append(u'\'' + arg + u'\'');
        return terminal ? run(u"script"_s, {u"-qec"_s, command.join(u' '), u"/dev/null"_s}, alone(cache, plugins))
                        : run(command.first(), args, alone(cache, plugins));
    }
};

#endif

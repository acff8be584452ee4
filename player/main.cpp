// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-play: a command-line music player on libqrova. It indexes the files it
// is given into a Tracker store, lists the songs of the store through the
// Tracker source plugin, and plays them with the renderer plugin, gaplessly.
#include "rovamusicindexer.h"
#include "rovampris.h"

#include <rovabasicrenderer.h>
#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>
#include <rovainternalregistry.h>
#include <rovamessagehandler.h>
#include <rovaplugincontrolinterface.h>
#include <rovarendererpolicyplugin.h>
#include <rovasource.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QStandardItemModel>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

const QString sourceUuid = QStringLiteral("RovaTrackerSource");
const QString rendererControl = QStringLiteral("qrova-gstreamer-renderer");
const QString desktopStore = QStringLiteral("org.freedesktop.Tracker3.Miner.Files");

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString& text, int code = 1)
{
    std::fprintf(stderr, "qrova-play: %s\n", text.toLocal8Bit().constData());
    std::exit(code);
}

QString clock(int seconds)
{
    seconds = qMax(0, seconds);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString describe(const RovaContent& song)
{
    const QString artist = song.metaData(QStringLiteral("artist")).toString();
    const QString album = song.metaData(QStringLiteral("album")).toString();
    QString text = song.metaData(QStringLiteral("title")).toString();
    if (!artist.isEmpty())
        text += QStringLiteral(" - ") + artist;
    if (!album.isEmpty())
        text += QStringLiteral(" (") + album + QLatin1Char(')');
    return text;
}

// Keys arrive one by one without echo while the player runs on a terminal.
class RawTerminal
{
public:
    RawTerminal()
    {
        if (tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios raw = m_saved;
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        m_active = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawTerminal()
    {
        if (m_active)
            tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }

private:
    termios m_saved {};
    bool m_active = false;
};

} // namespace

class Player : public QObject
{
    Q_OBJECT

public:
    Player(bool interactive, bool listOnly, int repeat, bool shuffle)
        : m_interactive(interactive)
        , m_listOnly(listOnly)
        , m_repeat(repeat)
        , m_shuffle(shuffle)
    {
    }

    void start(RovaSource* source, RovaBasicRenderer* renderer, const QString& search)
    {
        m_source = source;
        m_renderer = renderer;
        m_source->query(search, QString(), this, SLOT(queryResults(QList<RovaContent>, uint)),
                        SLOT(errorResult(RovaError)));
    }

public Q_SLOTS:
    void queryResults(const QList<RovaContent>& songs, uint)
    {
        if (songs.isEmpty())
            fail(QStringLiteral("no music found in the store"));
        m_songs = songs;
        if (m_listOnly) {
            for (int i = 0; i < songs.size(); ++i)
                say(QStringLiteral("%1. %2 %3").arg(i + 1).arg(describe(songs.at(i)), clock(songs.at(i).metaData(QStringLiteral("duration")).toInt())));
            QCoreApplication::exit(0);
            return;
        }
        // The playlist's rows are the songs' object ids within the source.
        m_model.setColumnCount(1);
        for (const RovaContent& song : songs)
            m_model.appendRow(new QStandardItem(song.uuid().section(QStringLiteral("::"), 1)));
        m_playlist = new RovaGeneralSourcePlaylist(RovaPlaylist::getNewPlaylistId(), QStringLiteral("qrova-play"), sourceUuid);
        m_playlist->setUnderlyingModel(&m_model);
        RovaInternalRegistry::internalInstance()->addPlaylist(m_playlist);
        m_playlist->setRepeat(RovaPlaylist::RovaRepeatMode(m_repeat));
        if (m_shuffle)
            m_playlist->shuffle();

        connect(m_renderer, &RovaRenderer::mediaChanged, this, &Player::mediaChanged);
        connect(m_renderer, &RovaRenderer::stateChanged, this, [this](RovaRenderer::State state) {
            m_state = state;
            showStatus();
        });
        connect(m_renderer, &RovaRenderer::error, this, &Player::rendererError);
        connect(m_renderer, &RovaRenderer::rovaPropertyChanged, this, &Player::propertyChanged);
        connect(m_renderer, &RovaRenderer::playbackCompleted, this, [this]() {
            if (m_interactive)
                std::fputs("\n", stdout);
            QCoreApplication::exit(m_errors ? 1 : 0);
        });
        m_renderer->assignPlaylist(m_playlist);
        // The registry deletes the playlist at exit; let go of it before that.
        connect(qApp, &QCoreApplication::aboutToQuit, m_renderer, [this]() { m_renderer->assignPlaylist(nullptr); });
        m_renderer->gotoIndex(0);
        m_renderer->play();
        // Desktop media controls: without a session bus the player plays on without them.
        auto* mpris = new RovaMpris(m_renderer, m_playlist, m_songs, RovaRegistry::instance()->pluginControlInterface(rendererControl), this);
        if (const QString problem = mpris->registerService(); !problem.isEmpty())
            std::fprintf(stderr, "qrova-play: %s\n", problem.toLocal8Bit().constData());

        if (m_interactive) {
            m_keys = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
            connect(m_keys, &QSocketNotifier::activated, this, &Player::readKey);
            auto* ticker = new QTimer(this);
            connect(ticker, &QTimer::timeout, this, [this]() {
                m_renderer->getPosition(this, SLOT(positionResults(uint)));
            });
            ticker->start(500);
        }
    }

    void errorResult(const RovaError& error) { fail(QStringLiteral("cannot read the store: ") + error.message()); }

    void positionResults(uint position)
    {
        m_position = int(position);
        showStatus();
    }

private Q_SLOTS:
    void mediaChanged(int index, const RovaContent& content)
    {
        if (index < 0)
            return;
        // The song as the source described it, found by its id.
        m_current = RovaContent(content.uuid());
        for (const RovaContent& song : std::as_const(m_songs)) {
            if (song.uuid() == content.uuid())
                m_current = song;
        }
        m_position = 0;
        if (m_interactive)
            showStatus();
        else
            say(QStringLiteral("Playing %1/%2: %3").arg(index + 1).arg(m_playlist->size()).arg(describe(m_current)));
    }

    void rendererError(const RovaError& error)
    {
        ++m_errors;
        if (!m_interactive)
            fail(error.message());
        m_message = error.message();
        showStatus();
    }

    // Another player took the audio focus: the renderer pauses and says so in "rova_policy_override".
    void propertyChanged(const QString& name, const QVariant& value)
    {
        if (name != RovaRenderer::ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE || m_overridden == value.toBool())
            return;
        m_overridden = value.toBool();
        if (m_interactive)
            showStatus();
        else if (m_overridden)
            say(QStringLiteral("paused by another player"));
    }

    void readKey()
    {
        char keys[8];
        const ssize_t count = ::read(STDIN_FILENO, keys, sizeof keys);
        if (count <= 0) {
            m_keys->setEnabled(false);
            return;
        }
        const QByteArray key(keys, int(count));
        m_message.clear();
        if (key == " ")
            m_state == RovaRenderer::Paused ? m_renderer->resume() : m_renderer->pause();
        else if (key == "n")
            m_renderer->next();
        else if (key == "p")
            m_renderer->previous();
        else if (key == "\x1b[C" || key == "\x1b[D")
            m_renderer->setPosition(qMax(0, m_position + (key == "\x1b[C" ? 10 : -10)));
        else if (key == "s")
            toggleShuffle();
        else if (key == "r")
            m_playlist->setRepeat(RovaPlaylist::RovaRepeatMode((int(m_playlist->repeatMode()) + 1) % 3));
        else if (key == "q")
            QCoreApplication::exit(0);
        showStatus();
    }

private:
    void toggleShuffle()
    {
        m_playlist->isShuffled() ? m_playlist->unShuffle() : m_playlist->shuffle();
    }

    void showStatus()
    {
        if (!m_interactive || !m_playlist)
            return;
        static const char* const states[] = {"stopped", "playing", "paused", "..."};
        static const char* const repeats[] = {"", " [repeat one]", " [repeat all]"};
        const int duration = m_current.metaData(QStringLiteral("duration")).toInt();
        const int width = 20;
        const int filled = duration > 0 ? qBound(0, m_position * width / duration, width) : 0;
        QString line = QStringLiteral("\r\x1b[K%1 %2 [%3%4] %5 / %6%7%8")
                           .arg(m_overridden && m_state == RovaRenderer::Paused ? QStringLiteral("paused by another player")
                                             : QLatin1String(m_state >= 0 && m_state <= 3 ? states[m_state] : ""))
                           .arg(describe(m_current).left(50))
                           .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
                           .arg(clock(m_position), clock(duration))
                           .arg(QLatin1String(repeats[int(m_playlist->repeatMode()) % 3]))
                           .arg(m_playlist->isShuffled() ? QStringLiteral(" [shuffle]") : QString());
        if (!m_message.isEmpty())
            line += QStringLiteral("  ! ") + m_message;
        std::fputs(line.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    }

    bool m_interactive;
    bool m_listOnly;
    int m_repeat;
    bool m_shuffle;
    RovaSource* m_source = nullptr;
    RovaBasicRenderer* m_renderer = nullptr;
    RovaGeneralSourcePlaylist* m_playlist = nullptr;
    QStandardItemModel m_model;
    QList<RovaContent> m_songs;
    RovaContent m_current;
    QSocketNotifier* m_keys = nullptr;
    QString m_message;
    int m_state = -1;
    int m_position = 0;
    int m_errors = 0;
    bool m_overridden = false;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qrova-play"));
    RovaMessageHandler::initRovaLogging(true); // warnings and up unless QROVA_LOG says otherwise
    if (qgetenv("QROVA_LOG") != "1") // also once Qt's own handler is back, at exit
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Plays music with libqrova. With paths, indexes them into a local store first; without, plays from the "
        "store the environment names, the desktop's store when it runs, or the local store.\n"
        "Keys while playing: space pause/resume, n next, p previous, left/right seek 10 s, s shuffle, r repeat, q quit."));
    options.addHelpOption();
    options.addPositionalArgument(QStringLiteral("paths"), QStringLiteral("Music files or folders to index and play."),
                                  QStringLiteral("[DIR|FILE...]"));
    const QCommandLineOption search(QStringLiteral("search"), QStringLiteral("Play songs whose title, artist or album contains TEXT."), QStringLiteral("TEXT"));
    const QCommandLineOption shuffle(QStringLiteral("shuffle"), QStringLiteral("Shuffle the songs."));
    const QCommandLineOption repeat(QStringLiteral("repeat"), QStringLiteral("Repeat mode: none, one or all."), QStringLiteral("MODE"), QStringLiteral("none"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("Render into a WAV file, as fast as the machine allows."), QStringLiteral("FILE.wav"));
    const QCommandLineOption sink(QStringLiteral("audio-sink"), QStringLiteral("A GStreamer sink description, e.g. \"fakesink sync=true\"."), QStringLiteral("DESCRIPTION"));
    const QCommandLineOption list(QStringLiteral("list"), QStringLiteral("Print the playlist and exit."));
    const QCommandLineOption background(QStringLiteral("background"),
        QStringLiteral("Play as background sound: alongside other players, never pausing them or paused by them."));
    options.addOptions({search, shuffle, repeat, output, sink, list, background});
    options.process(app);

    const int repeatMode = QStringList{QStringLiteral("none"), QStringLiteral("one"), QStringLiteral("all")}.indexOf(options.value(repeat));
    if (repeatMode < 0)
        fail(QStringLiteral("--repeat takes none, one or all"), 2);

    // The store: the renderer's own lookups must reach the one filled here, so
    // it is named in the environment before the plugins create the renderer.
    const bool storeNamed = qEnvironmentVariableIsSet("QSPARQL_TRACKER_DATABASE") || qEnvironmentVariableIsSet("QSPARQL_TRACKER_BUS_NAME");
    const QStringList paths = options.positionalArguments();
    if (!storeNamed) {
        const bool desktop = paths.isEmpty() && QDBusConnection::sessionBus().isConnected()
            && QDBusConnection::sessionBus().interface()->isServiceRegistered(desktopStore);
        if (!desktop)
            qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(RovaMusicIndexer::defaultStorePath()));
    }
    if (!paths.isEmpty()) {
        RovaMusicIndexer indexer(QString::fromLocal8Bit(qgetenv("QSPARQL_TRACKER_DATABASE")));
        // On a terminal, a live line while files are read: done of found, the rate, the time left.
        RovaMusicIndexer::Progress progress;
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        qint64 shown = -1;
        if (isatty(STDERR_FILENO)) {
            progress = [&](int done, int found) {
                const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - start;
                if (done < found && elapsed - shown < 100)
                    return;
                shown = elapsed;
                const double rate = done * 1000.0 / qMax<qint64>(elapsed, 1);
                std::fprintf(stderr, "\r\x1b[Kindexing %d of %d files, %.0f files/s, %s left", done, found, rate,
                             clock(int((found - done) / qMax(rate, 1.0) + 0.5)).toLocal8Bit().constData());
                std::fflush(stderr);
            };
        }
        const RovaIndexResult result = indexer.index(paths, progress);
        if (shown >= 0)
            std::fputs("\r\x1b[K", stderr);
        for (const QString& problem : result.failed)
            std::fprintf(stderr, "qrova-play: skipped %s\n", problem.toLocal8Bit().constData());
        if (!result.ok())
            fail(QStringLiteral("cannot write the store: ") + result.storeError);
        if (result.indexed + result.unchanged == 0)
            fail(QStringLiteral("no audio files in %1").arg(paths.join(QStringLiteral(", "))));
        if (!options.isSet(list))
            std::fprintf(stderr, "qrova-play: %d files indexed, %d unchanged%s\n", result.indexed, result.unchanged,
                         result.removed ? QStringLiteral(", %1 removed").arg(result.removed).toLocal8Bit().constData() : "");
    }

    RovaRegistry* registry = RovaRegistry::instance();
    registry->loadPlugins();
    RovaSource* source = registry->source(sourceUuid);
    if (!source)
        fail(QStringLiteral("the Tracker source plugin is not in %1").arg(RovaRegistry::pluginDirectory()));
    RovaBasicRenderer* renderer = nullptr;
    for (RovaRenderer* candidate : registry->renderers()) {
        if (!renderer)
            renderer = qobject_cast<RovaBasicRenderer*>(candidate);
    }
    if (!renderer && !options.isSet(list))
        fail(QStringLiteral("no renderer plugin in %1").arg(RovaRegistry::pluginDirectory()));

    QString sinkDescription = options.value(sink);
    if (options.isSet(output)) {
        QString file = QFileInfo(options.value(output)).absoluteFilePath();
        file.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        sinkDescription = QStringLiteral("wavenc ! filesink location=\"%1\"").arg(file);
    }
    if (!sinkDescription.isEmpty()) {
        RovaPluginControlInterface* control = registry->pluginControlInterface(rendererControl);
        if (!control || !control->setSetting(QStringLiteral("audio-sink"), sinkDescription))
            fail(QStringLiteral("the renderer does not take the audio sink \"%1\"").arg(sinkDescription), 2);
    }

    // Audio focus: a player started later pauses this one, unless either plays in
    // the background group. Without the default policy plugin the renderer keeps its
    // built-in policy, which grants everything. A file is no audio output, so
    // rendering into one takes no focus.
    const QString policyPlugin = RovaRendererPolicyPlugin::defaultPolicyPluginPath();
    const auto group = options.isSet(background) ? RovaRendererPolicy::DefaultGroup : RovaRendererPolicy::PlayerGroup;
    if (renderer && !options.isSet(list) && !options.isSet(output) && QFile::exists(policyPlugin)
        && !renderer->setDefaultRendererPolicy(group))
        std::fprintf(stderr, "qrova-play: %s does not load, playing without audio focus\n", policyPlugin.toLocal8Bit().constData());

    const bool interactive = !options.isSet(list) && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    std::unique_ptr<RawTerminal> terminal;
    if (interactive)
        terminal = std::make_unique<RawTerminal>();
    Player player(interactive, options.isSet(list), repeatMode, options.isSet(shuffle));
    player.start(source, renderer, options.value(search));
    return app.exec();
}

#include "main.moc"

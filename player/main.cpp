// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-play: a command-line music player on libqrova. It indexes the files it
// is given into a Tracker store, lists the songs of the store through the
// Tracker source plugin, and plays them with the renderer plugin, gaplessly.
#include "rovamusicindexer.h"
#include "rovampris.h"
#include "rovaplayerstate.h"
#include "rovaplayerqueue.h"
#include "rovaskiprule.h"

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
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QSocketNotifier>
#include <QStandardItemModel>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString sourceUuid = QStringLiteral("RovaTrackerSource");
const QString rendererControl = QStringLiteral("qrova-gstreamer-renderer");
const QString desktopStore = QStringLiteral("org.freedesktop.Tracker3.Miner.Files");

// The status line shown on a terminal, kept so that a line written above it can
// clear it first and draw it again after; any thread may log.
QMutex terminalMutex;
QByteArray statusLine;

void showLine(const QByteArray& line)
{
    const QMutexLocker lock(&terminalMutex);
    statusLine = line;
    std::fputs(line.constData(), stdout);
    std::fflush(stdout);
}

// Writes \a text as a line of its own on \a stream, above the status line if there is one.
void writeLine(FILE* stream, const QByteArray& text)
{
    const QMutexLocker lock(&terminalMutex);
    if (!statusLine.isEmpty()) {
        std::fputs("\r\x1b[K", stdout);
        std::fflush(stdout);
    }
    std::fprintf(stream, "%s\n", text.constData());
    std::fflush(stream);
    if (!statusLine.isEmpty()) {
        std::fputs(statusLine.constData(), stdout);
        std::fflush(stdout);
    }
}

void say(const QString& text)
{
    writeLine(stdout, text.toLocal8Bit());
}

void complain(const QString& text)
{
    writeLine(stderr, "qrova-play: " + text.toLocal8Bit());
}

// The library's diagnostics. Conditions the player reports in its own words are not
// said twice; on a terminal the rest appear above the status line, without time stamps.
QtMessageHandler libraryHandler = nullptr;
bool onTerminal = false;

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    static const QLatin1String saidByThePlayer[] = {
        QLatin1String("RovaAudioFocusPolicy: no session bus"), // with "no D-Bus session bus"
        QLatin1String("RovaTrackerSource::query:"), // a refused search
    };
    for (const QLatin1String& known : saidByThePlayer) {
        if (type == QtWarningMsg && message.startsWith(known))
            return;
    }
    if (onTerminal && type != QtFatalMsg && (type != QtDebugMsg || qgetenv("QROVA_LOG") == "1"))
        writeLine(stderr, message.toLocal8Bit());
    else if (libraryHandler)
        libraryHandler(type, context, message);
}

// SIGINT and SIGTERM end the event loop like "q": the renderer goes, the terminal is restored.
int signalPipe[2] = {-1, -1};

void signalHandler(int signal)
{
    const int savedErrno = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// The --output file: the player writes the header, the renderer appends 16-bit
// stereo frames behind it (also when it starts its pipeline again after an error),
// and the sizes are set from what the file holds once the renderer has gone.
QByteArray wavHeader(int rate, quint32 bytes)
{
    QByteArray header(44, '\0');
    char* at = header.data();
    std::memcpy(at, "RIFF", 4);
    qToLittleEndian<quint32>(36 + bytes, at + 4);
    std::memcpy(at + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, at + 16);
    qToLittleEndian<quint16>(1, at + 20); // PCM
    qToLittleEndian<quint16>(2, at + 22);
    qToLittleEndian<quint32>(quint32(rate), at + 24);
    qToLittleEndian<quint32>(quint32(rate) * 4, at + 28);
    qToLittleEndian<quint16>(4, at + 32);
    qToLittleEndian<quint16>(16, at + 34);
    std::memcpy(at + 36, "data", 4);
    qToLittleEndian<quint32>(bytes, at + 40);
    return header;
}

bool closeWav(const QString& path, int rate)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const qint64 bytes = qMax<qint64>(0, file.size() - 44) / 4 * 4; // whole frames
    if (file.size() != 44 + bytes && !file.resize(44 + bytes))
        return false;
    return file.write(wavHeader(rate, quint32(qMin<qint64>(bytes, 0xffffffffLL - 36 - 3) / 4 * 4))) == 44;
}

// Before the event loop runs: nothing to tear down yet.
[[noreturn]] void fail(const QString& text, int code = 1)
{
    complain(text);
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

// Songs of a media server carry their own location: the playlist hands it to the renderer with each item.
class ServerPlaylist : public RovaGeneralSourcePlaylist
{
public:
    ServerPlaylist(const QString& sourceUuid, const QList<RovaContent>& songs)
        : RovaGeneralSourcePlaylist(RovaPlaylist::getNewPlaylistId(), QStringLiteral("qrova-play"), sourceUuid)
    {
        for (const RovaContent& song : songs)
            m_songs.insert(song.uuid(), song);
    }
    RovaMediaInfo getItemMediaInfo(int index) override
    {
        const RovaMediaInfo info = RovaGeneralSourcePlaylist::getItemMediaInfo(index);
        const auto song = m_songs.constFind(info.uuid());
        return song == m_songs.constEnd() ? info : RovaMediaInfo(*song);
    }

private:
    QHash<QString, RovaContent> m_songs;
};

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
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
            auto* signals = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
            connect(signals, &QSocketNotifier::activated, this, [this]() {
                char signal = 0;
                if (::read(signalPipe[0], &signal, 1) == 1)
                    finish(128 + signal);
            });
            std::signal(SIGINT, signalHandler);
            std::signal(SIGTERM, signalHandler);
        }
        // A refused query answers with 0, and may also answer the error slot.
        m_search = search;
        if (!m_source->query(search, QString(), this, SLOT(queryResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))))
            errorResult(RovaError(RovaError::SourceInvalidSearchString, QString()));
    }

    int exitCode() const { return m_exitCode; }

    // Every run that plays keeps its state in \a file (none: not kept); \a resumed is the
    // last run's, to continue with, its repeat mode unless \a repeatGiven.
    void keepState(RovaPlayerStateFile* file, const std::optional<RovaPlayerState>& resumed, bool repeatGiven)
    {
        m_stateFile = file;
        m_resumed = resumed;
        m_repeatGiven = repeatGiven;
    }

    // Playlist files given as paths, and --save-playlist (with --play: written when playback ends).
    void setQueue(const RovaPlayerQueue* queue, const QString& savePath, bool play)
    {
        m_queue = queue;
        m_savePath = savePath;
        m_saveAndPlay = play;
    }

public Q_SLOTS:
    void queryResults(const QList<RovaContent>& found, uint)
    {
        if (m_finished)
            return;
        const QList<RovaContent> songs = m_queue && m_queue->active() ? m_queue->order(found, m_search) : found;
        if (songs.isEmpty())
            return finish(1, QStringLiteral("no music found in the store"));
        m_songs = songs;
        if (m_resumed && !takeResumed())
            return;
        if (m_listOnly) {
            for (int i = 0; i < m_songs.size(); ++i) {
                const RovaContent& song = m_songs.at(m_resumed && !m_resumed->shuffled.isEmpty() ? m_resumed->shuffled.at(i) : i);
                say(QString::number(i + 1) + QStringLiteral(". ") + describe(song) + QLatin1Char(' ')
                    + clock(song.metaData(QStringLiteral("duration")).toInt()));
            }
            return finish(0);
        }
        // The playlist's rows are the songs' object ids within the source.
        m_model.setColumnCount(1);
        for (const RovaContent& song : std::as_const(m_songs))
            m_model.appendRow(new QStandardItem(song.uuid().section(QStringLiteral("::"), 1)));
        if (m_source->uuid() != sourceUuid) { // a media server's songs carry their locations
            m_playlist = new ServerPlaylist(m_source->uuid(), m_songs);
        } else {
            QSet<QString> streams; // played from their location
            for (const RovaContent& song : std::as_const(m_songs)) {
                if (song.uuid().startsWith(RovaPlaylistFile::ROVA_PLAYLIST_FILE_SOURCE + QStringLiteral("::")))
                    streams.insert(objectId(song.uuid()));
            }
            m_playlist = new RovaPlayerPlaylist(RovaPlaylist::getNewPlaylistId(), QStringLiteral("qrova-play"), sourceUuid, streams);
        }
        m_playlist->setUnderlyingModel(&m_model);
        RovaInternalRegistry::internalInstance()->addPlaylist(m_playlist);
        m_playlist->setRepeat(RovaPlaylist::RovaRepeatMode(m_resumed && !m_repeatGiven ? m_resumed->repeat : m_repeat));
        if (m_shuffle)
            m_playlist->shuffle();
        // Only written out: this run plays nothing, so it keeps no state either.
        if (!m_savePath.isEmpty() && !m_saveAndPlay)
            return finish(saveQueue() ? 0 : 1);
        QStringList uris;
        for (const RovaContent& song : std::as_const(m_songs))
            uris.append(uriText(song));
        m_keeper = new RovaPlayerStateKeeper(m_stateFile, m_renderer, m_playlist, uris, RovaRegistry::instance()->pluginControlInterface(rendererControl), this);
        connect(m_keeper, &RovaPlayerStateKeeper::problem, this, [](const QString& text) { complain(text); });
        if (m_resumed)
            m_keeper->restore(*m_resumed);

        connect(m_renderer, &RovaRenderer::mediaChanged, this, &Player::mediaChanged);
        connect(m_renderer, &RovaRenderer::stateChanged, this, &Player::stateChanged);
        connect(m_renderer, &RovaRenderer::error, this, &Player::rendererError);
        connect(m_renderer, &RovaRenderer::rovaPropertyChanged, this, &Player::propertyChanged);
        connect(m_renderer, &RovaRenderer::playbackCompleted, this, &Player::playbackCompleted);
        m_renderer->assignPlaylist(m_playlist);
        // The registry deletes the playlist at exit; let go of it before that.
        connect(qApp, &QCoreApplication::aboutToQuit, m_renderer, [this]() { m_renderer->assignPlaylist(nullptr); });
        m_keeper->start(m_resumed ? m_resumed->current : 0, m_resumed ? m_resumed->position : 0);
        // Desktop media controls: without a session bus the player plays on without them.
        auto* mpris = new RovaMpris(m_renderer, m_playlist, m_songs, RovaRegistry::instance()->pluginControlInterface(rendererControl), this);
        connect(mpris, &RovaMpris::uriOpened, this, [this](const QUrl& url) { m_directUri = url; });
        if (const QString problem = mpris->registerService(); !problem.isEmpty())
            complain(problem);

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

    void errorResult(const RovaError& error)
    {
        if (m_finished)
            return;
        if (error.code() == RovaError::SourceInvalidSearchString)
            finish(2, QStringLiteral("the store refuses the search \"%1\": it holds control characters").arg(printable(m_search)));
        else if (error.code() == RovaError::SourceInvalidSortString)
            finish(2, QStringLiteral("the store refuses the order of the songs: ") + error.message());
        else
            finish(1, QStringLiteral("cannot read the store: ") + error.message());
    }

    void positionResults(uint position)
    {
        m_position = int(position);
        showStatus();
    }

private Q_SLOTS:
    void mediaChanged(int index, const RovaContent& content)
    {
        m_lastWasUri = index < 0;
        if (index < 0)
            return;
        m_directUri.clear();
        // The song as the source described it, found by its id.
        m_current = RovaContent(content.uuid());
        for (const RovaContent& song : std::as_const(m_songs)) {
            if (song.uuid() == content.uuid())
                m_current = song;
        }
        m_position = 0;
        // Said once the item plays: one that cannot be played is skipped instead.
        m_announce = QStringLiteral("Playing %1/%2: ").arg(index + 1).arg(m_playlist->size()) + describe(m_current);
        if (m_state == RovaRenderer::Playing)
            announce();
        showStatus();
    }

    void stateChanged(RovaRenderer::State state)
    {
        m_state = state;
        if (state == RovaRenderer::Playing) {
            m_played = true;
            m_unplayable.clear();
            announce();
        }
        // A failed item is left once the renderer has stopped on it (the one playing may play on).
        if (state == RovaRenderer::Stopped && m_skipFrom >= 0)
            QTimer::singleShot(0, this, &Player::skip);
        showStatus();
    }

    // An item that cannot be played is reported with its path and skipped; the run goes on.
    void rendererError(const RovaError& error)
    {
        if (m_finished)
            return;
        const int code = error.code();
        if (!rovaIsItemError(code)) {
            if (!m_interactive || code == RovaError::RendererDeviceUnavailable)
                return finish(1, error.message());
            m_message = error.message();
            return showStatus();
        }
        // The item named in the message, else the item the renderer is at.
        int failed = -1;
        qsizetype named = 0;
        QString uri;
        for (int i = 0; i < m_songs.size(); ++i) {
            const QString text = uriText(m_songs.at(i));
            if (text.size() > named && error.message().contains(text)) {
                failed = i;
                named = text.size();
                uri = text;
            }
        }
        if (failed >= 0) {
            failed = indexOf(m_songs.at(failed));
        } else if (!m_directUri.isEmpty() && error.message().contains(QString::fromUtf8(m_directUri.toEncoded()))) {
            uri = QString::fromUtf8(m_directUri.toEncoded());
        } else if (m_directUri.isEmpty()) {
            failed = m_playlist->getCurrentIndex();
            if (failed >= 0)
                uri = uriText(songAt(failed));
        }
        QString reason = error.message();
        if (const qsizetype at = uri.isEmpty() ? -1 : reason.indexOf(uri + QStringLiteral(": ")); at >= 0)
            reason = reason.mid(at + uri.size() + 2);
        const QString path = uri.isEmpty() ? QString() : QUrl::fromEncoded(uri.toUtf8()).toLocalFile();
        const QString line = QStringLiteral("skipped ") + (path.isEmpty() ? uri : path) + QStringLiteral(": ") + reason;
        if (line != m_lastSkipped)
            complain(line);
        m_lastSkipped = line;
        if (failed < 0 && !m_directUri.isEmpty()) { // the file opened directly
            m_directUri.clear();
            m_skipFrom = -1;
            if (m_state == RovaRenderer::Stopped)
                QTimer::singleShot(0, this, &Player::playbackCompleted);
            else
                m_afterUri = true;
            return;
        }
        m_skipFrom = qMax(0, failed);
        if (m_state == RovaRenderer::Stopped)
            QTimer::singleShot(0, this, &Player::skip);
    }

    void skip()
    {
        const int failed = std::exchange(m_skipFrom, -1);
        if (failed < 0 || m_finished || m_state != RovaRenderer::Stopped)
            return;
        if (std::exchange(m_afterUri, false))
            return playbackCompleted();
        m_unplayable.insert(failed);
        const int next = rovaIndexAfterFailed(m_playlist, failed, m_unplayable);
        if (next < 0)
            return end();
        m_renderer->gotoIndex(uint(next));
        m_renderer->play();
    }

    // The playlist ended, or a file opened directly did: that is no end of the playlist.
    void playbackCompleted()
    {
        m_afterUri = false;
        if (m_directUri.isEmpty() && !m_lastWasUri)
            return end();
        m_directUri.clear();
        m_lastWasUri = false;
        m_renderer->stop(); // leaves the opened file for the playlist
        if (m_interactive)
            return; // and waits for a key
        const int next = m_playlist->getNext(m_playlist->getCurrentIndex());
        if (next < 0)
            return end();
        m_renderer->gotoIndex(uint(next));
        m_renderer->play();
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
            m_state == RovaRenderer::Paused ? m_renderer->resume() : m_state == RovaRenderer::Stopped ? m_renderer->play() : m_renderer->pause();
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
            return finish(0);
        showStatus();
    }

private:
    static QString uriText(const RovaContent& song)
    {
        const QVariant uri = song.metaData(QStringLiteral("uri"));
        return uri.typeId() == QMetaType::QUrl ? QString::fromUtf8(uri.toUrl().toEncoded()) : uri.toString();
    }
    static QString printable(QString text)
    {
        for (QChar& c : text) {
            if (c.category() == QChar::Other_Control)
                c = QChar(0xfffd);
        }
        return text;
    }
    static QString objectId(const QString& uuid) { return uuid.section(QStringLiteral("::"), 1); }
    // The playlist's index of the song \a song, or -1.
    int indexOf(const RovaContent& song) const
    {
        for (int i = 0; i < m_playlist->size(); ++i) {
            const std::unique_ptr<RovaContent> item(m_playlist->getItem(i));
            if (item && objectId(item->uuid()) == objectId(song.uuid()))
                return i;
        }
        return -1;
    }
    RovaContent songAt(int index) const
    {
        const std::unique_ptr<RovaContent> item(m_playlist->getItem(index));
        for (const RovaContent& song : m_songs) {
            if (item && objectId(item->uuid()) == objectId(song.uuid()))
                return song;
        }
        return RovaContent();
    }

    void announce()
    {
        if (!m_interactive && !m_announce.isEmpty())
            say(m_announce);
        m_announce.clear();
    }

    // Exit code 0 when something played, 1 when nothing could.
    void end()
    {
        if (m_keeper)
            m_keeper->ended();
        finish(m_played ? 0 : 1);
    }

    // The songs of the last run in its order; those no longer in the store are skipped.
    bool takeResumed()
    {
        QStringList uris, dropped;
        for (const RovaContent& song : std::as_const(m_songs))
            uris.append(uriText(song));
        m_resumed = m_resumed->keeping(uris, &dropped);
        for (const QString& uri : std::as_const(dropped))
            complain(QStringLiteral("skipped %1: no longer in the store").arg(QUrl::fromEncoded(uri.toUtf8()).toLocalFile()));
        if (m_resumed->items.isEmpty()) {
            finish(1, QStringLiteral("nothing the last run played is in the store"));
            return false;
        }
        QList<RovaContent> songs;
        for (const QString& uri : std::as_const(m_resumed->items))
            songs.append(m_songs.at(uris.indexOf(uri)));
        m_songs = songs;
        return true;
    }

    void finish(int code, const QString& message = QString())
    {
        if (m_finished)
            return;
        m_finished = true;
        if (m_saveAndPlay && m_playlist && !saveQueue() && code == 0)
            code = 1;
        m_exitCode = code;
        if (m_interactive && !statusLine.isEmpty()) {
            const QMutexLocker lock(&terminalMutex);
            statusLine.clear();
            std::fputs("\n", stdout);
        }
        if (!message.isEmpty())
            complain(message);
        QCoreApplication::exit(code);
    }

    // Writes the playlist in its order into the --save-playlist file.
    bool saveQueue()
    {
        QHash<QString, RovaContent> byId;
        for (const RovaContent& song : std::as_const(m_songs))
            byId.insert(objectId(song.uuid()), song);
        QList<RovaContent> queue;
        for (int i = 0; i < m_playlist->size(); ++i)
            queue.append(byId.value(objectId(m_playlist->getItemMediaInfo(i).uuid())));
        QString error;
        if (RovaPlayerQueue::save(m_savePath, queue, &error))
            return true;
        complain(QStringLiteral("cannot write %1: %2").arg(m_savePath, error));
        return false;
    }

    void toggleShuffle()
    {
        m_playlist->isShuffled() ? m_playlist->unShuffle() : m_playlist->shuffle();
    }

    void showStatus()
    {
        if (!m_interactive || !m_playlist || m_finished)
            return;
        static const char* const states[] = {"stopped", "playing", "paused", "..."};
        static const char* const repeats[] = {"", " [repeat one]", " [repeat all]"};
        const int duration = m_current.metaData(QStringLiteral("duration")).toInt();
        const int width = 20;
        const int filled = duration > 0 ? qBound(0, m_position * width / duration, width) : 0;
        // Pieces joined as they are: a title may hold "%1".
        QString line = QStringLiteral("\r\x1b[K")
            + (m_overridden && m_state == RovaRenderer::Paused ? QStringLiteral("paused by another player")
                                                               : QLatin1String(m_state >= 0 && m_state <= 3 ? states[m_state] : ""))
            + QLatin1Char(' ') + describe(m_current).left(50) + QStringLiteral(" [") + QString(filled, QLatin1Char('#'))
            + QString(width - filled, QLatin1Char('.')) + QStringLiteral("] ") + clock(m_position) + QStringLiteral(" / ")
            + clock(duration) + QLatin1String(repeats[int(m_playlist->repeatMode()) % 3])
            + (m_playlist->isShuffled() ? QStringLiteral(" [shuffle]") : QString());
        if (!m_message.isEmpty())
            line += QStringLiteral("  ! ") + m_message;
        showLine(line.toLocal8Bit());
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
    QString m_lastSkipped;
    QString m_announce;
    QString m_search;
    QUrl m_directUri; // a file opened through the desktop control, until it ends
    QSet<int> m_unplayable; // items failed since the renderer last played
    int m_state = -1;
    int m_position = 0;
    int m_skipFrom = -1; // the failed item to skip once the renderer has stopped
    int m_exitCode = 0;
    bool m_played = false;
    bool m_afterUri = false;
    bool m_lastWasUri = false;
    bool m_finished = false;
    bool m_overridden = false;
    RovaPlayerStateFile* m_stateFile = nullptr;
    RovaPlayerStateKeeper* m_keeper = nullptr;
    std::optional<RovaPlayerState> m_resumed;
    bool m_repeatGiven = false;
    const RovaPlayerQueue* m_queue = nullptr;
    QString m_savePath;
    bool m_saveAndPlay = false;
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
    const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("The sample rate of the --output file (44100 unless given)."), QStringLiteral("HZ"), QStringLiteral("44100"));
    options.addOptions({search, shuffle, repeat, output, rate, sink, list, background});
    const QCommandLineOption resume(QStringLiteral("resume"),
        QStringLiteral("Continue the last run where it stopped: its songs in its order, repeat mode, song, position and volume."));
    options.addOption(resume);
    const QCommandLineOption savePlaylist(QStringLiteral("save-playlist"),
        QStringLiteral("Write the queue (after --search, --shuffle) into a .m3u, .m3u8, .pls or .xspf file and exit."), QStringLiteral("FILE"));
    const QCommandLineOption play(QStringLiteral("play"), QStringLiteral("With --save-playlist: play too, and write the file when playback ends."));
    options.addOptions({savePlaylist, play});
    const QCommandLineOption servers(QStringLiteral("servers"), QStringLiteral("List the media servers on the network and exit."));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Play from the media server NAME instead of the store."), QStringLiteral("NAME"));
    options.addOptions({servers, server});
    options.process(app);
    onTerminal = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    libraryHandler = qInstallMessageHandler(messageHandler);

    const int repeatMode = QStringList{QStringLiteral("none"), QStringLiteral("one"), QStringLiteral("all")}.indexOf(options.value(repeat));
    if (repeatMode < 0)
        fail(QStringLiteral("--repeat takes none, one or all"), 2);
    if (repeatMode > 0 && options.isSet(output))
        fail(QStringLiteral("--repeat %1 never ends, so it cannot render into a file").arg(options.value(repeat)), 2);
    bool rateOk = false;
    const int sampleRate = options.value(rate).toInt(&rateOk);
    if (!rateOk || sampleRate < 1000 || sampleRate > 768000)
        fail(QStringLiteral("--rate takes a sample rate from 1000 to 768000 Hz"), 2);
    if (options.isSet(rate) && !options.isSet(output))
        fail(QStringLiteral("--rate is the sample rate of --output"), 2);

    // --resume: the last run's state, and its store unless the environment names one. A state
    // that cannot be read is kept aside and the run starts afresh.
    RovaPlayerStateFile stateFile;
    std::optional<RovaPlayerState> resumed;
    if (options.isSet(resume)) {
        if (!options.positionalArguments().isEmpty() || options.isSet(search) || options.isSet(shuffle))
            fail(QStringLiteral("--resume continues the last run: it takes no paths, --search or --shuffle"), 2);
        QString problem;
        resumed = stateFile.load(&problem);
        if (!problem.isEmpty())
            complain(problem);
        if (resumed && resumed->repeat > 0 && options.isSet(output) && !options.isSet(repeat))
            fail(QStringLiteral("the last run repeats, so it never ends in a file: add --repeat none"), 2);
        if (resumed && !qEnvironmentVariableIsSet("QSPARQL_TRACKER_DATABASE") && !qEnvironmentVariableIsSet("QSPARQL_TRACKER_BUS_NAME")
            && !resumed->store.isEmpty() && QFileInfo::exists(resumed->store))
            qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(resumed->store));
    }

    // The store: the renderer's own lookups must reach the one filled here, so
    // it is named in the environment before the plugins create the renderer.
    const bool storeNamed = qEnvironmentVariableIsSet("QSPARQL_TRACKER_DATABASE") || qEnvironmentVariableIsSet("QSPARQL_TRACKER_BUS_NAME");
    const QStringList paths = options.positionalArguments();
    // Playlist files among the paths: their local entries are indexed, and the queue follows them.
    QStringList indexPaths, skippedEntries;
    const RovaPlayerQueue queue(paths, &indexPaths, &skippedEntries);
    for (const QString& entry : std::as_const(skippedEntries))
        std::fprintf(stderr, "qrova-play: skipped %s\n", entry.toLocal8Bit().constData());
    if (options.isSet(play) && !options.isSet(savePlaylist))
        fail(QStringLiteral("--play goes with --save-playlist"), 2);
    const bool saveOnly = options.isSet(savePlaylist) && !options.isSet(play);
    if (!storeNamed) {
        const bool desktop = paths.isEmpty() && QDBusConnection::sessionBus().isConnected()
            && QDBusConnection::sessionBus().interface()->isServiceRegistered(desktopStore);
        if (!desktop)
            qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(RovaMusicIndexer::defaultStorePath()));
    }
    if (!indexPaths.isEmpty()) {
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
        const RovaIndexResult result = indexer.index(indexPaths, progress);
        if (shown >= 0)
            std::fputs("\r\x1b[K", stderr);
        for (const QString& problem : result.failed)
            std::fprintf(stderr, "qrova-play: skipped %s\n", problem.toLocal8Bit().constData());
        if (!result.ok())
            fail(QStringLiteral("cannot write the store: ") + result.storeError);
        if (result.indexed + result.unchanged == 0 && !queue.hasStreams())
            fail(QStringLiteral("no audio files in %1").arg(paths.join(QStringLiteral(", "))));
        if (!options.isSet(list) && !saveOnly)
            std::fprintf(stderr, "qrova-play: %d files indexed, %d unchanged%s\n", result.indexed, result.unchanged,
                         result.removed ? QStringLiteral(", %1 removed").arg(result.removed).toLocal8Bit().constData() : "");
    }

    RovaRegistry* registry = RovaRegistry::instance();
    registry->loadPlugins();
    RovaSource* source = registry->source(sourceUuid);
    if (options.isSet(servers) || options.isSet(server)) {
        // Media servers answer discovery within moments; a few seconds find them all.
        if (!registry->pluginControlInterface(QStringLiteral("qrova-upnp-source")))
            fail(QStringLiteral("the UPnP source plugin is not in %1").arg(RovaRegistry::pluginDirectory()));
        const auto named = [registry](const QString& name) {
            QList<RovaSource*> found;
            for (RovaSource* candidate : registry->sources()) {
                if (candidate->pluginName() == QLatin1String("qrova-upnp-source") && (name.isNull() || candidate->name() == name))
                    found << candidate;
            }
            return found;
        };
        const QString wanted = options.isSet(server) ? options.value(server) : QString();
        QEventLoop discovery;
        QTimer::singleShot(options.isSet(server) ? 5000 : 3000, &discovery, &QEventLoop::quit);
        QObject::connect(registry, qOverload<const QString&, const QString&>(&RovaRegistry::sourceAdded), &discovery,
                         [&](const QString&, const QString& name) { if (!wanted.isNull() && name == wanted) discovery.quit(); });
        if (wanted.isNull() || named(wanted).isEmpty())
            discovery.exec();
        if (options.isSet(servers)) {
            QStringList names;
            for (RovaSource* found : named(QString()))
                names << found->name();
            names.sort();
            for (const QString& name : std::as_const(names))
                std::printf("%s\n", name.toLocal8Bit().constData());
            return names.isEmpty() ? 1 : 0;
        }
        const QList<RovaSource*> found = named(wanted);
        if (found.isEmpty())
            fail(QStringLiteral("no media server named \"%1\" answers").arg(wanted));
        source = found.first();
    }
    if (!source)
        fail(QStringLiteral("the Tracker source plugin is not in %1").arg(RovaRegistry::pluginDirectory()));
    RovaBasicRenderer* renderer = nullptr;
    for (RovaRenderer* candidate : registry->renderers()) {
        if (!renderer)
            renderer = qobject_cast<RovaBasicRenderer*>(candidate);
    }
    if (!renderer && !options.isSet(list) && !saveOnly)
        fail(QStringLiteral("no renderer plugin in %1").arg(RovaRegistry::pluginDirectory()));

    QString sinkDescription = options.value(sink);
    if (options.isSet(output)) {
        QString file = QFileInfo(options.value(output)).absoluteFilePath();
        file.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        QFile wav(options.value(output));
        if (!wav.open(QIODevice::WriteOnly | QIODevice::Truncate) || wav.write(wavHeader(sampleRate, 0)) != 44)
            fail(QStringLiteral("cannot write %1: %2").arg(options.value(output), wav.errorString()));
        wav.close();
        // Whatever the items are: 16-bit stereo at one rate, mono on both channels.
        sinkDescription = QStringLiteral("audioconvert ! audioresample ! audio/x-raw,format=S16LE,channels=2,rate=%1 ! filesink append=true location=\"%2\"")
                              .arg(sampleRate)
                              .arg(file);
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
    if (renderer && !options.isSet(list) && !saveOnly && !options.isSet(output) && QFile::exists(policyPlugin)
        && !renderer->setDefaultRendererPolicy(group))
        complain(policyPlugin + QStringLiteral(" does not load, playing without audio focus"));

    const bool interactive = !options.isSet(list) && !saveOnly && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    std::unique_ptr<RawTerminal> terminal;
    if (interactive)
        terminal = std::make_unique<RawTerminal>();
    Player player(interactive, options.isSet(list), repeatMode, options.isSet(shuffle));
    player.keepState(options.isSet(list) || options.isSet(output) ? nullptr : &stateFile, resumed, options.isSet(repeat));
    player.setQueue(&queue, options.value(savePlaylist), options.isSet(play));
    QTimer::singleShot(0, &player, [&]() { player.start(source, renderer, options.value(search)); });
    app.exec();
    terminal.reset();
    // The renderer and its pipeline go first; then the file they wrote is complete.
    delete RovaInternalRegistry::internalInstance();
    if (options.isSet(output) && !closeWav(QFileInfo(options.value(output)).absoluteFilePath(), sampleRate))
        fail(QStringLiteral("cannot complete %1").arg(options.value(output)));
    return player.exitCode();
}

#include "main.moc"

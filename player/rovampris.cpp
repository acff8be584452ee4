// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovampris.h"

#include <rovabasicrenderer.h>
#include <rovaplaylist.h>
#include <rovaplugincontrolinterface.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

#include <limits>

const QString RovaMpris::SERVICE = QStringLiteral("org.mpris.MediaPlayer2.qrova");
const QString RovaMpris::OBJECT_PATH = QStringLiteral("/org/mpris/MediaPlayer2");
const QString RovaMpris::PLAYER_INTERFACE = QStringLiteral("org.mpris.MediaPlayer2.Player");

namespace {

const QString noTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString volumeKey = QStringLiteral("volume");
constexpr qint64 second = 1000000; // microseconds

// Microseconds as whole seconds for the renderer, rounded, within what it takes.
int toSeconds(qint64 position)
{
    return int(qBound<qint64>(0, position / second + (position % second >= second / 2 ? 1 : 0), qint64(std::numeric_limits<int>::max())));
}

qint64 saturatedSum(qint64 a, qint64 b)
{
    qint64 sum = 0;
    return qAddOverflow(a, b, &sum) ? (b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min()) : sum;
}

const QStringList& loopStatuses()
{
    // In the order of RovaPlaylist::RovaRepeatMode.
    static const QStringList statuses{QStringLiteral("None"), QStringLiteral("Track"), QStringLiteral("Playlist")};
    return statuses;
}

// "uri" as the store gives it (an encoded URL), or as a URL.
QUrl uriOf(const RovaContent& content)
{
    const QVariant value = content.metaData(QStringLiteral("uri"));
    if (value.typeId() == QMetaType::QUrl)
        return value.toUrl();
    const QString text = value.toString();
    return text.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(text) : QUrl::fromEncoded(text.toUtf8());
}

} // namespace

// org.mpris.MediaPlayer2: the application itself.
class RovaMprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit CONSTANT)
    Q_PROPERTY(bool CanRaise READ canRaise CONSTANT)
    Q_PROPERTY(bool HasTrackList READ hasTrackList CONSTANT)
    Q_PROPERTY(QString Identity READ identity CONSTANT)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry CONSTANT)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes CONSTANT)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes CONSTANT)

public:
    explicit RovaMprisRootAdaptor(RovaMpris* parent)
        : QDBusAbstractAdaptor(parent)
    {
    }

    bool canQuit() const { return true; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    // The program's name is also its desktop entry: qrova-play, qrova-player.
    QString identity() const { return QCoreApplication::applicationName(); }
    QString desktopEntry() const { return QCoreApplication::applicationName(); }
    QStringList supportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList supportedMimeTypes() const
    {
        return {QStringLiteral("audio/flac"), QStringLiteral("audio/mpeg"), QStringLiteral("audio/ogg"),
                QStringLiteral("audio/x-vorbis+ogg"), QStringLiteral("audio/x-opus+ogg"), QStringLiteral("audio/mp4"),
                QStringLiteral("audio/x-wav")};
    }

public Q_SLOTS:
    void Raise() { }
    void Quit() { QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection); }
};

// org.mpris.MediaPlayer2.Player: playback.
class RovaMprisPlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl CONSTANT)

public:
    explicit RovaMprisPlayerAdaptor(RovaMpris* parent)
        : QDBusAbstractAdaptor(parent)
        , m_mpris(parent)
    {
        setAutoRelaySignals(false);
    }

    QString playbackStatus() const { return value("PlaybackStatus").toString(); }
    QString loopStatus() const { return value("LoopStatus").toString(); }
    void setLoopStatus(const QString& status)
    {
        if (!m_mpris->setLoopStatus(status))
            m_mpris->refuse(QStringLiteral("LoopStatus is None, Track or Playlist, not \"%1\"").arg(status));
    }
    double rate() const { return 1.0; }
    void setRate(double rate) { m_mpris->setRate(rate); }
    bool shuffle() const { return value("Shuffle").toBool(); }
    void setShuffle(bool shuffle) { m_mpris->setShuffle(shuffle); }
    QVariantMap metadata() const { return value("Metadata").toMap(); }
    double volume() const { return value("Volume").toDouble(); }
    void setVolume(double volume) { m_mpris->setVolume(volume); }
    qlonglong position() const { return m_mpris->position(); }
    bool canGoNext() const { return value("CanGoNext").toBool(); }
    bool canGoPrevious() const { return value("CanGoPrevious").toBool(); }
    bool canPlay() const { return value("CanPlay").toBool(); }
    bool canPause() const { return value("CanPause").toBool(); }
    bool canSeek() const { return value("CanSeek").toBool(); }
    bool canControl() const { return true; }

public Q_SLOTS:
    void Next() { m_mpris->next(); }
    void Previous() { m_mpris->previous(); }
    void Pause() { m_mpris->pause(); }
    void PlayPause() { m_mpris->playPause(); }
    void Stop() { m_mpris->stop(); }
    void Play() { m_mpris->play(); }
    void Seek(qlonglong Offset) { m_mpris->seek(Offset); }
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) { m_mpris->setPosition(TrackId, Position); }
    void OpenUri(const QString& Uri)
    {
        const QString problem = m_mpris->openUri(Uri);
        if (!problem.isEmpty())
            m_mpris->refuse(problem);
    }

Q_SIGNALS:
    void Seeked(qlonglong Position);

private:
    QVariant value(const char* name) const { return m_mpris->properties().value(QLatin1String(name)); }

    RovaMpris* m_mpris;
};

RovaMpris::RovaMpris(RovaBasicRenderer* renderer, RovaPlaylist* playlist, const QList<RovaContent>& songs,
                     RovaPluginControlInterface* control, QObject* parent)
    : QObject(parent)
    , m_renderer(renderer)
    , m_playlist(playlist)
    , m_songs(songs)
    , m_control(control)
{
    new RovaMprisRootAdaptor(this);
    m_player = new RovaMprisPlayerAdaptor(this);
    m_ticker.setInterval(500);
    connect(&m_ticker, &QTimer::timeout, this, &RovaMpris::requestPosition);
    if (renderer) {
        connect(renderer, &RovaRenderer::stateChanged, this, &RovaMpris::stateChanged);
        connect(renderer, &RovaRenderer::mediaChanged, this, &RovaMpris::mediaChanged);
        connect(renderer, &RovaBasicRenderer::rendererSeeking, this, [this]() {
            m_seekedPending = true;
            requestPosition();
        });
        renderer->getStatus(this, SLOT(statusResults(QString, uint, int, QString)));
    }
    if (playlist) {
        connect(playlist, &RovaPlaylist::repeatModeChanged, this, &RovaMpris::refresh);
        connect(playlist, &RovaPlaylist::playlistUpdated, this, &RovaMpris::refresh);
        connect(playlist, &RovaPlaylist::contentsChanged, this, &RovaMpris::refresh);
        if (QAbstractItemModel* model = playlist->model()) { // shuffling reorders the presented items
            connect(model, &QAbstractItemModel::layoutChanged, this, &RovaMpris::refresh);
            connect(model, &QAbstractItemModel::modelReset, this, &RovaMpris::refresh);
        }
    }
    refresh();
}

RovaMpris::~RovaMpris()
{
    if (m_serviceName.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(m_serviceName);
    bus.unregisterObject(OBJECT_PATH);
}

QString RovaMpris::registerService()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QStringLiteral("no D-Bus session bus, so no desktop media controls");
    if (!bus.registerObject(OBJECT_PATH, this, QDBusConnection::ExportAdaptors))
        return QStringLiteral("cannot serve %1 on the session bus").arg(OBJECT_PATH);
    QString name = SERVICE;
    if (!bus.registerService(name)) { // another player holds the plain name
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name)) {
            bus.unregisterObject(OBJECT_PATH);
            return QStringLiteral("cannot own %1 on the session bus: %2").arg(name, bus.lastError().message());
        }
    }
    m_serviceName = name;
    return QString();
}

QString RovaMpris::serviceName() const
{
    return m_serviceName;
}

void RovaMpris::play()
{
    if (!m_renderer)
        return;
    if (m_state == RovaRenderer::Paused)
        m_renderer->resume();
    else if (m_state == RovaRenderer::Stopped)
        m_renderer->play();
}

void RovaMpris::pause()
{
    if (m_renderer && m_state == RovaRenderer::Playing)
        m_renderer->pause();
}

void RovaMpris::playPause()
{
    m_state == RovaRenderer::Playing ? pause() : play();
}

void RovaMpris::stop()
{
    if (m_renderer)
        m_renderer->stop();
}

void RovaMpris::next()
{
    if (m_renderer && canGo(true))
        m_renderer->next();
}

void RovaMpris::previous()
{
    if (m_renderer && canGo(false))
        m_renderer->previous();
}

void RovaMpris::seek(qint64 offset)
{
    if (!m_published.value(QStringLiteral("CanSeek")).toBool())
        return;
    // Relative to where the renderer is now, which it tells asynchronously.
    m_seekOffset = saturatedSum(m_seekOffset, offset);
    m_seekRequested = true;
    requestPosition();
}

void RovaMpris::setPosition(const QDBusObjectPath& trackId, qint64 position)
{
    const qint64 end = length();
    if (!m_renderer || !m_published.value(QStringLiteral("CanSeek")).toBool() || trackId.path() != this->trackId()
        || position < 0 || (end > 0 && position > end))
        return;
    m_renderer->setPosition(toSeconds(position));
}

QString RovaMpris::openUri(const QString& uri)
{
    const QUrl url(uri);
    if (!url.isLocalFile())
        return QStringLiteral("only file: URIs are played, not \"%1\"").arg(uri);
    const QFileInfo file(url.toLocalFile());
    if (!file.isFile() || !file.isReadable())
        return QStringLiteral("no readable file at \"%1\"").arg(uri);
    if (!QMimeDatabase().mimeTypeForFile(file).name().startsWith(QLatin1String("audio/")))
        return QStringLiteral("not an audio file: \"%1\"").arg(uri);
    if (!m_renderer)
        return QStringLiteral("no renderer");
    // The file checked, and nothing else of the address.
    const QUrl played = QUrl::fromLocalFile(file.absoluteFilePath());
    m_renderer->play(played);
    Q_EMIT uriOpened(played);
    return QString();
}

bool RovaMpris::setLoopStatus(const QString& status)
{
    const int mode = loopStatuses().indexOf(status);
    if (mode < 0)
        return false;
    if (m_playlist)
        m_playlist->setRepeat(RovaPlaylist::RovaRepeatMode(mode));
    refresh();
    return true;
}

void RovaMpris::setShuffle(bool shuffle)
{
    if (m_playlist && m_playlist->size() > 0)
        shuffle ? m_playlist->shuffle() : m_playlist->unShuffle();
    refresh();
}

void RovaMpris::setVolume(double volume)
{
    if (m_control)
        m_control->setSetting(volumeKey, qBound(0.0, volume, 1.0));
    refresh();
}

void RovaMpris::setRate(double rate)
{
    if (rate == 0.0)
        pause();
}

// The adaptors' calls reach this object's D-Bus context.
void RovaMpris::refuse(const QString& message)
{
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, message);
    else
        qWarning("qrova-play: %s", qPrintable(message));
}

void RovaMpris::statusResults(const QString&, uint index, int state, const QString& itemId)
{
    // What the renderer was doing before this object heard of it.
    if (m_current.uuid().isEmpty() && !itemId.isEmpty())
        mediaChanged(int(index), RovaContent(itemId));
    stateChanged(state);
}

void RovaMpris::positionResults(uint seconds)
{
    m_position = qint64(seconds) * second;
    if (std::exchange(m_seekRequested, false) && m_renderer) {
        const qint64 target = qMax<qint64>(0, saturatedSum(m_position, std::exchange(m_seekOffset, 0)));
        const qint64 end = length();
        if (end > 0 && target >= end && canGo(true))
            m_renderer->next(); // past the end of the item
        else
            m_renderer->setPosition(toSeconds(end > 0 ? qMin(target, end) : target));
    }
    if (std::exchange(m_seekedPending, false))
        Q_EMIT m_player->Seeked(m_position);
}

void RovaMpris::mediaChanged(int index, const RovaContent& content)
{
    m_index = index;
    m_current = content;
    if (index >= 0) {
        for (const RovaContent& song : std::as_const(m_songs)) {
            if (song.uuid() == content.uuid())
                m_current = song;
        }
    } else if (!uriOf(content).isEmpty()) {
        ++m_uriCount; // a URI given directly gets an id of its own each time
    }
    m_position = 0;
    refresh();
}

void RovaMpris::stateChanged(int state)
{
    if (state != RovaRenderer::Stopped && state != RovaRenderer::Playing && state != RovaRenderer::Paused)
        return; // between items the last state stands
    m_state = state;
    if (state == RovaRenderer::Playing)
        m_ticker.start();
    else
        m_ticker.stop();
    requestPosition();
    refresh();
}

void RovaMpris::requestPosition()
{
    if (m_renderer)
        m_renderer->getPosition(this, SLOT(positionResults(uint)));
}

QString RovaMpris::trackId() const
{
    if (m_index < 0)
        return m_uriCount > 0 && !uriOf(m_current).isEmpty() ? QStringLiteral("/org/qrova/uri/%1").arg(m_uriCount) : noTrack;
    for (int i = 0; i < m_songs.size(); ++i) {
        if (m_songs.at(i).uuid() == m_current.uuid())
            return QStringLiteral("/org/qrova/track/%1").arg(i);
    }
    return noTrack;
}

qint64 RovaMpris::length() const
{
    qint64 microseconds = 0;
    const qint64 seconds = qMax<qint64>(0, m_current.metaData(QStringLiteral("duration")).toLongLong());
    return qMulOverflow(seconds, second, &microseconds) ? std::numeric_limits<qint64>::max() : microseconds;
}

bool RovaMpris::canGo(bool forward) const
{
    if (!m_playlist || m_index < 0)
        return false;
    const int index = m_playlist->getCurrentIndex();
    return index >= 0 && (forward ? m_playlist->getNext(index) : m_playlist->getPrevious(index)) >= 0;
}

QVariantMap RovaMpris::metadata() const
{
    const QString id = trackId();
    QVariantMap map{{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(id))}};
    if (id == noTrack)
        return map;
    const QUrl url = uriOf(m_current);
    QString title = m_current.metaData(QStringLiteral("title")).toString();
    if (title.isEmpty())
        title = url.fileName();
    map.insert(QStringLiteral("xesam:title"), title);
    map.insert(QStringLiteral("xesam:url"), QString::fromUtf8(url.toEncoded()));
    const QString artist = m_current.metaData(QStringLiteral("artist")).toString();
    if (!artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{artist});
    const QString album = m_current.metaData(QStringLiteral("album")).toString();
    if (!album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), album);
    if (length() > 0)
        map.insert(QStringLiteral("mpris:length"), length());
    return map;
}

// Publishes the properties as they are now; what changed goes out in one PropertiesChanged.
void RovaMpris::refresh()
{
    static const char* const statuses[] = {"Stopped", "Playing", "Paused"};
    const bool haveItems = (m_playlist && m_playlist->size() > 0) || !uriOf(m_current).isEmpty();
    const QVariant volume = m_control ? m_control->setting(volumeKey) : QVariant();
    const QVariantMap now{
        {QStringLiteral("PlaybackStatus"), QLatin1String(statuses[m_state])},
        {QStringLiteral("LoopStatus"), loopStatuses().value(m_playlist ? int(m_playlist->repeatMode()) : 0)},
        {QStringLiteral("Rate"), 1.0},
        {QStringLiteral("Shuffle"), m_playlist && m_playlist->isShuffled()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), volume.isValid() ? volume.toDouble() : 1.0},
        {QStringLiteral("MinimumRate"), 1.0},
        {QStringLiteral("MaximumRate"), 1.0},
        {QStringLiteral("CanGoNext"), canGo(true)},
        {QStringLiteral("CanGoPrevious"), canGo(false)},
        {QStringLiteral("CanPlay"), haveItems},
        {QStringLiteral("CanPause"), haveItems},
        {QStringLiteral("CanSeek"), m_state != RovaRenderer::Stopped},
        {QStringLiteral("CanControl"), true},
    };
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_published.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_published = now;
    if (changed.isEmpty() || m_serviceName.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(OBJECT_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << PLAYER_INTERFACE << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

#include "rovampris.moc"

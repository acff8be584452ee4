// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaplayerstate.h"

#include <rovabasicrenderer.h>
#include <rovaplaylist.h>
#include <rovaplugincontrolinterface.h>
#include <rovaproxysortmodel.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

namespace {

const QString volumeKey = QStringLiteral("volume");
const qint64 largestFile = 64 << 20; // far above a queue of 100,000 items
const int pollInterval = 250; // ms between position requests while playing
const int writeInterval = 2000; // ms between writes while the state changes

// A whole number in \a value from \a low to \a high, or -1.
qint64 number(const QJsonValue& value, qint64 low, qint64 high)
{
    const double n = value.toDouble(-1);
    return value.isDouble() && n == double(qint64(n)) && n >= double(low) && n <= double(high) ? qint64(n) : -1;
}

} // namespace

QByteArray RovaPlayerState::toJson() const
{
    QJsonArray order;
    for (const int row : shuffled)
        order.append(row);
    QJsonObject object{{QStringLiteral("version"), 1},
                       {QStringLiteral("store"), store},
                       {QStringLiteral("items"), QJsonArray::fromStringList(items)},
                       {QStringLiteral("shuffled"), order},
                       {QStringLiteral("repeat"), repeat},
                       {QStringLiteral("current"), current},
                       {QStringLiteral("position"), double(position)}};
    if (volume >= 0)
        object.insert(volumeKey, volume);
    return QJsonDocument(object).toJson();
}

RovaPlayerState RovaPlayerState::fromJson(const QByteArray& json, QString* problem)
{
    RovaPlayerState state;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = error.errorString() + QStringLiteral(" at byte %1").arg(error.offset);
        return state;
    }
    const QJsonObject object = document.object();
    const QJsonValue store = object.value(QStringLiteral("store")), volume = object.value(volumeKey);
    const QJsonArray items = object.value(QStringLiteral("items")).toArray(), order = object.value(QStringLiteral("shuffled")).toArray();
    if (number(object.value(QStringLiteral("version")), 1, 1) != 1)
        *problem = QStringLiteral("not a state this player writes");
    else if (!store.isString() || items.isEmpty() || !object.value(QStringLiteral("shuffled")).isArray())
        *problem = QStringLiteral("a part is missing");
    else if (!volume.isUndefined() && !(volume.isDouble() && volume.toDouble() >= 0 && volume.toDouble() <= 1))
        *problem = QStringLiteral("the volume is not from 0 to 1");
    if (!problem->isEmpty())
        return state;
    state.store = store.toString();
    state.volume = volume.toDouble(-1);
    for (const QJsonValue& item : items) {
        if (!item.isString() || item.toString().isEmpty())
            return *problem = QStringLiteral("an item is no address"), state;
        state.items.append(item.toString());
    }
    QList<bool> seen(items.size(), false);
    for (const QJsonValue& value : order) {
        const qint64 row = number(value, 0, items.size() - 1);
        if (row < 0 || seen.at(row) || order.size() != items.size())
            return *problem = QStringLiteral("the shuffled order does not fit the items"), state;
        seen[row] = true;
        state.shuffled.append(int(row));
    }
    state.repeat = int(number(object.value(QStringLiteral("repeat")), 0, 2));
    state.current = int(number(object.value(QStringLiteral("current")), 0, items.size() - 1));
    state.position = number(object.value(QStringLiteral("position")), 0, std::numeric_limits<int>::max());
    if (state.repeat < 0 || state.current < 0 || state.position < 0)
        *problem = QStringLiteral("the repeat mode, item or position is out of range");
    return state;
}

RovaPlayerState RovaPlayerState::keeping(const QStringList& available, QStringList* dropped) const
{
    RovaPlayerState kept = *this;
    kept.items.clear();
    kept.shuffled.clear();
    const QSet<QString> have(available.cbegin(), available.cend());
    QList<int> rows(items.size(), -1); // the new row of each item
    for (int i = 0; i < items.size(); ++i) {
        if (have.contains(items.at(i))) {
            rows[i] = int(kept.items.size());
            kept.items.append(items.at(i));
        } else {
            dropped->append(items.at(i));
        }
    }
    kept.current = -1;
    int position = 0; // in playing order, among the items kept
    for (int p = 0; p < items.size(); ++p) {
        const int row = rows.at(shuffled.isEmpty() ? p : shuffled.at(p));
        if (row < 0)
            continue;
        if (!shuffled.isEmpty())
            kept.shuffled.append(row);
        if (p >= current && kept.current < 0) {
            kept.current = position;
            if (p != current)
                kept.position = 0;
        }
        ++position;
    }
    if (kept.current < 0) { // nothing left from the current item on
        kept.current = 0;
        kept.position = 0;
    }
    return kept;
}

bool RovaPlayerState::operator==(const RovaPlayerState& other) const
{
    return store == other.store && items == other.items && shuffled == other.shuffled && repeat == other.repeat
        && current == other.current && position == other.position && volume == other.volume;
}

RovaPlayerStateFile::RovaPlayerStateFile(const QString& path)
    : m_path(path)
{
}

QString RovaPlayerStateFile::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1String("/qrova-play/state.json");
}

std::optional<RovaPlayerState> RovaPlayerStateFile::load(QString* problem)
{
    QFile file(m_path);
    if (!file.exists())
        return std::nullopt;
    QString why;
    RovaPlayerState state;
    if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    else if (file.size() > largestFile)
        why = QStringLiteral("larger than any state");
    else
        state = RovaPlayerState::fromJson(file.readAll(), &why);
    file.close();
    if (why.isEmpty())
        return state;
    // Kept beside, under a name no earlier damaged file has.
    QString aside = m_path + QLatin1String(".damaged");
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = m_path + QLatin1String(".damaged.") + QString::number(n);
    if (QFile::rename(m_path, aside)) {
        *problem = QStringLiteral("cannot resume from %1 (%2); it is kept as %3, playing afresh").arg(m_path, why, aside);
    } else {
        m_blocked = true;
        *problem = QStringLiteral("cannot resume from %1 (%2), nor move it aside; playing afresh, and this run is not kept").arg(m_path, why);
    }
    return std::nullopt;
}

bool RovaPlayerStateFile::save(const RovaPlayerState& state, QString* problem)
{
    if (m_blocked)
        return false;
    QSaveFile file(m_path);
    const QByteArray json = state.toJson();
    if (QDir().mkpath(QFileInfo(m_path).path()) && file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit())
        return true;
    *problem = QStringLiteral("cannot keep the state of this run in %1: %2").arg(m_path, file.errorString());
    return false;
}

RovaPlayerStateKeeper::RovaPlayerStateKeeper(RovaPlayerStateFile* file, RovaBasicRenderer* renderer, RovaPlaylist* playlist,
                                             const QStringList& items, RovaPluginControlInterface* control, QObject* parent)
    : QObject(parent)
    , m_file(file)
    , m_renderer(renderer)
    , m_playlist(playlist)
    , m_items(items)
    , m_control(control)
{
    connect(&m_poll, &QTimer::timeout, this, [this]() {
        if (m_renderer)
            m_renderer->getPosition(this, SLOT(positionResults(uint)));
    });
    m_poll.start(pollInterval);
    connect(renderer, &RovaRenderer::stateChanged, this, [this](RovaRenderer::State state) { stateChanged(int(state)); });
    connect(renderer, &RovaRenderer::mediaChanged, this, [this](int index) {
        if (index >= 0 && index == m_startIndex)
            return; // the item it starts at, from its position
        // A file opened from the desktop plays in place of the item: the item is kept from its start.
        m_otherFile = index < 0;
        m_startIndex = -1;
        m_estimate = 0;
        m_answered.invalidate();
    });
    if (m_file) {
        connect(&m_writer, &QTimer::timeout, this, &RovaPlayerStateKeeper::save);
        m_writer.start(writeInterval);
        connect(qApp, &QCoreApplication::aboutToQuit, this, &RovaPlayerStateKeeper::save);
    }
}

bool RovaPlayerStateKeeper::restore(const RovaPlayerState& state)
{
    if (state.volume >= 0 && m_control)
        m_control->setSetting(volumeKey, state.volume);
    auto* proxy = qobject_cast<RovaProxySortModel*>(m_playlist->model());
    return state.shuffled.isEmpty() || (proxy && proxy->setShuffledOrder(state.shuffled));
}

void RovaPlayerStateKeeper::start(int index, qint64 position)
{
    m_renderer->gotoIndex(uint(index));
    const uint seconds = uint((position + 500) / 1000);
    if (seconds == 0)
        return void(m_renderer->play());
    // Started paused there, then resumed: no sound from before the position.
    m_startIndex = index;
    m_estimate = qint64(seconds) * 1000;
    m_renderer->pauseAt(seconds);
}

void RovaPlayerStateKeeper::stateChanged(int state)
{
    m_state = state;
    if (state == RovaRenderer::Paused && m_startIndex >= 0 && m_startIndex == m_playlist->getCurrentIndex())
        m_renderer->resume();
    if (state == RovaRenderer::Paused || state == RovaRenderer::Playing)
        m_startIndex = -1;
}

void RovaPlayerStateKeeper::positionResults(uint seconds)
{
    if (m_startIndex >= 0 || m_otherFile)
        return; // not at the item's position yet, or not at the item
    // The renderer answers in whole seconds: the time played since the last answer, kept
    // within the second it names, finds the moment each second begins.
    const qint64 expected = m_estimate + (m_state == RovaRenderer::Playing && m_answered.isValid() ? m_answered.elapsed() : 0);
    m_estimate = qBound(qint64(seconds) * 1000, expected, qint64(seconds) * 1000 + 999);
    m_answered.start();
}

RovaPlayerState RovaPlayerStateKeeper::state() const
{
    RovaPlayerState state;
    state.store = QString::fromLocal8Bit(qgetenv("QSPARQL_TRACKER_DATABASE"));
    state.items = m_items;
    if (m_playlist->isShuffled()) {
        const QAbstractItemModel* model = m_playlist->model();
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model);
        for (int i = 0; proxy && i < model->rowCount(); ++i)
            state.shuffled.append(proxy->mapToSource(model->index(i, 0)).row());
    }
    state.repeat = int(m_playlist->repeatMode());
    if (!m_ended) {
        state.current = qMax(0, m_playlist->getCurrentIndex());
        state.position = m_estimate;
        if (m_state == RovaRenderer::Playing && m_answered.isValid())
            state.position += qMin<qint64>(m_answered.elapsed(), 1000);
    }
    const QVariant volume = m_control ? m_control->setting(volumeKey) : QVariant();
    state.volume = volume.isValid() ? qBound(0.0, volume.toDouble(), 1.0) : -1;
    return state;
}

void RovaPlayerStateKeeper::save()
{
    const RovaPlayerState now = state();
    if (now == m_written)
        return;
    QString text;
    if (m_file->save(now, &text))
        m_written = now;
    else if (!text.isEmpty() && !std::exchange(m_complained, true))
        Q_EMIT problem(text);
}

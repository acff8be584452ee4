// SPDX-License-Identifier: LGPL-2.1-or-later
// What qrova-play keeps of a run so that a later run continues it (--resume): the
// queue, its order, the repeat mode, the item and the position in it, the volume.
#ifndef ROVAPLAYERSTATE_H
#define ROVAPLAYERSTATE_H

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <optional>

class RovaBasicRenderer;
class RovaPlaylist;
class RovaPluginControlInterface;

struct RovaPlayerState
{
    QString store; // the store database the run used; empty for one on the session bus
    QStringList items; // the queue's item URIs, in their natural order
    QList<int> shuffled; // when shuffled: the rows of items in the order they play
    int repeat = 0; // RovaPlaylist::RovaRepeatMode
    int current = 0; // the position, in playing order, of the item the run was at
    qint64 position = 0; // milliseconds into that item
    double volume = -1; // 0 to 1; below 0 when the renderer did not say

    QByteArray toJson() const;
    // The state in \a json; an empty \a problem when it is whole and consistent.
    static RovaPlayerState fromJson(const QByteArray& json, QString* problem);
    // The state with only the items whose URIs are in \a available; the items dropped go
    // into \a dropped. When the current item is dropped, the run goes on from the start
    // of the next item left.
    RovaPlayerState keeping(const QStringList& available, QStringList* dropped) const;
    bool operator==(const RovaPlayerState& other) const;
};

// The file of the state, in the player's data folder. A file that cannot be read is
// moved aside, never deleted, and then never written over.
class RovaPlayerStateFile
{
public:
    explicit RovaPlayerStateFile(const QString& path = defaultPath());
    static QString defaultPath();
    QString path() const { return m_path; }
    // The state the last run left: none when there is no file; none and a \a problem
    // when it cannot be read (the file is then moved aside, its new name in the problem).
    std::optional<RovaPlayerState> load(QString* problem);
    // Replaces the file atomically with \a state.
    bool save(const RovaPlayerState& state, QString* problem);

private:
    QString m_path;
    bool m_blocked = false; // a damaged file that could not be moved stays untouched
};

// Follows a playing run and keeps the state file up to date: at most every few seconds
// while something changes, and when the application quits.
class RovaPlayerStateKeeper : public QObject
{
    Q_OBJECT

public:
    // \a items are the URIs of the rows of the playlist's underlying model.
    RovaPlayerStateKeeper(RovaPlayerStateFile* file, RovaBasicRenderer* renderer, RovaPlaylist* playlist,
                          const QStringList& items, RovaPluginControlInterface* control, QObject* parent = nullptr);
    // Puts the playlist into the order of \a state and the renderer at its volume; the
    // position is taken up by start(). False when the order does not fit the playlist.
    bool restore(const RovaPlayerState& state);
    // Starts playing the item at \a index, \a position milliseconds into it (to the second).
    void start(int index, qint64 position);
    // The queue was played to its end: the next run starts it over.
    void ended() { m_ended = true; }
    RovaPlayerState state() const;
    void save();

Q_SIGNALS:
    // The state cannot be written; said once a run.
    void problem(const QString& text);

public Q_SLOTS:
    void positionResults(uint seconds);

private:
    void stateChanged(int state);

    RovaPlayerStateFile* m_file; // none: the run is followed but not kept
    QPointer<RovaBasicRenderer> m_renderer;
    RovaPlaylist* m_playlist;
    QStringList m_items;
    RovaPluginControlInterface* m_control;
    QTimer m_poll;
    QTimer m_writer;
    QElapsedTimer m_answered; // since the last position answer
    RovaPlayerState m_written;
    qint64 m_estimate = 0; // ms into the item at the last position answer
    int m_state = -1;
    int m_startIndex = -1; // an item started paused at its position, to be resumed
    bool m_ended = false;
    bool m_otherFile = false; // a file that is no item plays
    bool m_complained = false;
};

#endif

// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPLAYLISTHANDLER_H
#define ROVARENDERERPLAYLISTHANDLER_H

#include "rova_export.h"
#include "rovaerror.h"
#include "rovamediainfo.h"
#include "rovaplaylist.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QSparqlResult;
class QStateMachine;
class RovaRendererPlaylistHandlerPrivate;

/*!
    A renderer's view of its assigned playlist. It holds the media info of the
    current item and of the prepared next item, steps through the playlist with
    the playlist's own getNext() and getPrevious(), follows the playlist's edits,
    announces the item that plays, and looks items up in the metadata store.

    It never plays anything: the renderer's command transitions call it, and it
    feeds the renderer's state machine by posting RovaRendererEvent objects.

    Ownership: owned by its RovaBasicRenderer. The playlist and the state machine
    are not owned; a playlist deleted while assigned counts as unassigned.
    Everything runs on the renderer's thread; store queries never block it.
*/
class ROVA_EXPORT RovaRendererPlaylistHandler : public QObject
{
    Q_OBJECT

public:
    /*!
        The query that looks an item up in the metadata store before it is
        played: its URL, usage counter and duration. Every "%1" is the object
        part of the item's identifier (what follows the first "::").
    */
    static const QString basicMetadataQuery;

    RovaRendererPlaylistHandler();
    ~RovaRendererPlaylistHandler() override;

    /*! The machine every event is posted to; not owned. */
    void setStateMachine(QStateMachine* machine);
    /*! The URI played directly; a null string while playing from the playlist. */
    void setURI(const QString& uri);
    /*! Assigns \a playlist (null unassigns) and loads and looks up its current item. */
    void setPlaylist(RovaPlaylist* playlist);

    /*! The assigned playlist; null when there is none or it was deleted. */
    RovaPlaylist* playlist() const;
    /*! The current item's media info, or null; owned by the handler. */
    RovaMediaInfo* currentContent() const;
    /*! The prepared next item's media info, or null; owned by the handler. */
    RovaMediaInfo* nextContent();
    /*! True when a current item is loaded. */
    bool hasContent();
    /*! The playlist's current index; -1 without a playlist. */
    int currentIndex() const;
    /*! The current item's identifier; a null string without one. */
    QString currentItemID() const;
    /*! The assigned playlist's id; a null string without one. */
    QString currentPlaylistID() const;
    /*! True when a prepared next item is held. */
    bool hasNext();
    /*! True while the current item's lookup runs. */
    bool metadataFetchOngoing();

    /*! Makes item \a index current. True when it was loaded. */
    bool gotoIndex(uint index);
    /*! gotoIndex(0). */
    bool gotoFirst();
    /*!
        Makes the last item current. Without a playlist, false and a deferred
        RovaError::RendererNoPlaylist through playlistHandlingError().
    */
    bool gotoLast();
    /*! Moves forward; one step uses the prepared next item when there is one. */
    bool stepForward(uint steps);
    /*! Moves back; the prepared next item is void afterwards. */
    bool stepBack(uint steps);
    /*! Applies getNext() (or getPrevious() for negative \a steps) and loads the item. */
    bool stepPlaylist(int steps);
    /*! End of stream: ends playback unless the implementation moves on to a prepared item. */
    void handleEos(bool autoAdvance);
    /*! Announces what plays: a RovaBasicRenderer::RovaRendererPlayingUri value. */
    void updateItemPlaying(int playingUri);
    /*! Posts a high-priority Stop to the machine. */
    void issueStopCommand() const;
    /*! Abandons the next item's lookup. */
    void cancelNextPreparation();

    /*! Starts (or queues) the current item's lookup; MetadataReady follows. */
    bool fetchBasicMetadata();
    /*! Looks up the item after the current one; \a keys must be exactly "uri". */
    void prepareNext(QStringList keys);
    /*!
        Writes "uri", "duration" and "play-count" from the finished \a result into
        \a mediaInfo. True when a URL was found.
    */
    bool addResultToMediaInfo(RovaMediaInfo* mediaInfo, QSparqlResult* result);

Q_SIGNALS:
    /*!
        The item at \a index, described by \a mediaInfo, now plays; the renderer re-emits it as
        RovaRenderer::mediaChanged().
    */
    void currentItemChanged(int index, const RovaMediaInfo& mediaInfo);
    /*! The assigned playlist is now \a playlist (null when unassigned). */
    void currentPlaylistChanged(RovaPlaylist* playlist);
    /*!
        Stepping or a lookup failed: no playlist, an index without an item, an item the store does
        not know. The renderer re-emits it as RovaRenderer::error().
    */
    void playlistHandlingError(const RovaError& error);
    /*!
        End of stream with nothing after the current item; the renderer re-emits it as
        RovaRenderer::playbackCompleted().
    */
    void noMoreItemsToPlay();

private Q_SLOTS:
    void playlistCurrentUpdated(RovaPlaylist::RovaPlaylistUpdate update, int newIndex);
    void repeatModeChanged();
    void handleMetadata();
    void handleNextMetadata();
    /*! Starts the lookup of one item; null (no query) for an unusable identifier. Owned by the caller. */
    QSparqlResult* createResultSet(RovaMediaInfo mediaInfo);
    void emitError();

private:
    Q_DISABLE_COPY(RovaRendererPlaylistHandler)
    friend class RovaRendererPlaylistHandlerPrivate;
    std::unique_ptr<RovaRendererPlaylistHandlerPrivate> d;
};

#endif // ROVARENDERERPLAYLISTHANDLER_H

// SPDX-License-Identifier: LGPL-2.1-or-later
// How a player goes on past a song it cannot play: qrova-play and the Qrova QML
// player both follow these two rules.
#ifndef ROVASKIPRULE_H
#define ROVASKIPRULE_H

#include <rovaerror.h>
#include <rovaplaylist.h>

#include <QSet>

/*! Whether the renderer error \a code is about the item (skip it) rather than the renderer or the device. */
inline bool rovaIsItemError(int code)
{
    return (code >= RovaError::RendererUriNotAvailable && code <= RovaError::RendererAudioCodecNotFound
            && code != RovaError::RendererDeviceUnavailable)
        || code == RovaError::RendererCannotPlay;
}

/*!
    The index to play after the item \a failed of \a playlist could not be played,
    or -1 to stop: the next one under the repeat mode (the one after it under
    repeat one), unless that one failed too since something last played.
*/
inline int rovaIndexAfterFailed(RovaPlaylist* playlist, int failed, const QSet<int>& unplayable)
{
    int next = playlist->getNext(failed);
    if (next == failed) // repeat one: the item after it
        next = failed + 1 < playlist->size() ? failed + 1 : -1;
    return next < 0 || unplayable.contains(next) ? -1 : next;
}

#endif // ROVASKIPRULE_H

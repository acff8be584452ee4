// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAERROR_H
#define ROVAERROR_H

#include "rova_export.h"

#include <QMetaType>
#include <QString>

/*!
    The one error value of the library: a code from a fixed table and a free-text
    message. Renderers, sources, playlists and the policy communicator hand it to
    their error signals and error slots. Copies are cheap and independent.
*/
class ROVA_EXPORT RovaError
{
public:
    // Fixed underlying type: any int a caller casts to a Code is a valid value.
    /*!
        The error codes, in groups: general (0-3), result and error slots (40-44), renderer and
        playback (300-331), content sources (400-410). The comment of each code is its description,
        as codeToString() returns it. Applications and plugins may use every code; the library
        itself raises the callback codes, RendererNoMedia, RendererMediaNotFound,
        RendererNoPlaylist, RendererIndexOutOfBounds and RendererDenied.
    */
    enum Code : int {
        // General
        NoError = 0, ///< No error
        NotImplemented = 1, ///< Not implemented
        NotImplementedError = 2, ///< NotImplementedError
        EverythingIsBroken = 3, ///< Everything is broken

        // Result and error slot invocation
        CallbackError = 40, ///< General callback error
        CallbackSlotNotFound = 41, ///< Callback slot not found
        CallbackErrorSlotNotFound = 42, ///< Error callback slot not found
        CallbackCouldNotBeInvoked = 43, ///< Callback could not be invoked
        CallbackArgumentMismatch = 44, ///< Callback does not accept required arguments

        // Renderer and playback
        RendererNoMedia = 300, ///< No Media
        RendererUriNotAvailable = 301, ///< URI Not Available
        RendererInvalidUri = 302, ///< Invalid URI
        RendererMediaNotFound = 303, ///< Media Not Found
        RendererStreamDisconnected = 304, ///< Stream Disconnected
        RendererTypeNotAvailable = 305, ///< Type Not Available
        RendererPlaybackError = 306, ///< Playback
        RendererUnableToPerform = 307, ///< Unable To Perform
        RendererUnsupportedType = 308, ///< Unsupported Type
        RendererUnsupportedResolution = 309, ///< Unsupported Resolution
        RendererUnsupportedFps = 310, ///< Unsupported FPS
        RendererDrmNoLicense = 311, ///< DRM: No license available or license retrieval failed
        RendererDrmNotAllowed = 312, ///< DRM: Operation is not allowed
        RendererDrmFailure = 313, ///< DRM failure
        RendererDeviceUnavailable = 314, ///< Device Unavailable
        RendererCorruptedFile = 315, ///< Corrupted File
        RendererPlaylistParsing = 316, ///< Playlist Parsing
        RendererCodecNotFound = 317, ///< Codec Not Found
        RendererVideoCodecNotFound = 318, ///< Video Codec Not Found
        RendererAudioCodecNotFound = 319, ///< Audio Codec Not Found
        RendererNoPlaylist = 320, ///< No Playlist
        RendererIndexOutOfBounds = 321, ///< Index Out Of Bounds
        RendererCannotPlay = 322, ///< Cannot Play
        RendererCannotStop = 323, ///< Cannot Stop
        RendererCannotPause = 324, ///< Cannot Pause
        RendererCannotSetPosition = 325, ///< Cannot Set Position
        RendererCannotGetPosition = 326, ///< Cannot Get Position
        RendererCannotGetStatus = 327, ///< Cannot Get Status
        RendererCannotSetProperty = 328, ///< Cannot Set Property
        RendererDenied = 329, ///< Denied
        RendererDrmClockNotSet = 330, ///< DRM error, clock not set
        RendererMmcNotAvailable = 331, ///< MMC Not Available

        // Content sources
        SourceInvalidObjectId = 400, ///< Invalid object Id
        SourceObjectIdNotAvailable = 401, ///< Object Id not available
        SourceInvalidSearchString = 402, ///< Invalid search string
        SourceInvalidSortString = 403, ///< Invalid sort string
        SourceInvalidBrowseId = 404, ///< Invalid browse Id
        SourcePeer = 405, ///< Peer
        SourceBrowseResultFailed = 406, ///< Browse result failed
        SourceGetMetadataResultFailed = 407, ///< Get metadata result failed
        SourceUnsupportedMetadataKey = 408, ///< Unsupported metadata key
        SourceDestroyObjectFailed = 409, ///< Destroy object failed
        SourcePlaylistParsingFailed = 410 ///< Playlist parsing failed
    };

    /*! Code NoError and a null message. */
    RovaError();
    /*! An error with \a code and \a message. Any int cast to a Code is kept as it is. */
    RovaError(RovaError::Code code, const QString& message);
    /*! A copy of \a other. */
    RovaError(const RovaError& other);
    /*! Makes this error a copy of \a other. */
    RovaError& operator=(const RovaError& other);
    ~RovaError();

    /*! Replaces the code. */
    void setCode(RovaError::Code code);
    /*! Replaces the message. */
    void setMessage(const QString& message);

    /*! The code. */
    RovaError::Code code() const { return m_code; }
    /*! The free-text message; null for a default-constructed error. */
    QString message() const { return m_message; }

    /*!
        The short English description of \a code, or an empty string for a number
        that is not one of the codes. Safe to call from any thread.
    */
    static QString codeToString(RovaError::Code code);

    /*! One line for logs: "<code> (<description>): <message>". */
    QString toString() const;

    /*! The error domain of content sources: "com.orvel.rova.error.source". */
    static const QString ROVA_SOURCE_ERROR_QUARK;

private:
    RovaError::Code m_code;
    QString m_message;
};

Q_DECLARE_METATYPE(RovaError)

#endif // ROVAERROR_H

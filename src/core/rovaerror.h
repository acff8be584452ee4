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
    enum Code : int {
        // General
        NoError = 0,
        NotImplemented = 1,
        NotImplementedError = 2,
        EverythingIsBroken = 3,

        // Result and error slot invocation
        CallbackError = 40,
        CallbackSlotNotFound = 41,
        CallbackErrorSlotNotFound = 42,
        CallbackCouldNotBeInvoked = 43,
        CallbackArgumentMismatch = 44,

        // Renderer and playback
        RendererNoMedia = 300,
        RendererUriNotAvailable = 301,
        RendererInvalidUri = 302,
        RendererMediaNotFound = 303,
        RendererStreamDisconnected = 304,
        RendererTypeNotAvailable = 305,
        RendererPlaybackError = 306,
        RendererUnableToPerform = 307,
        RendererUnsupportedType = 308,
        RendererUnsupportedResolution = 309,
        RendererUnsupportedFps = 310,
        RendererDrmNoLicense = 311,
        RendererDrmNotAllowed = 312,
        RendererDrmFailure = 313,
        RendererDeviceUnavailable = 314,
        RendererCorruptedFile = 315,
        RendererPlaylistParsing = 316,
        RendererCodecNotFound = 317,
        RendererVideoCodecNotFound = 318,
        RendererAudioCodecNotFound = 319,
        RendererNoPlaylist = 320,
        RendererIndexOutOfBounds = 321,
        RendererCannotPlay = 322,
        RendererCannotStop = 323,
        RendererCannotPause = 324,
        RendererCannotSetPosition = 325,
        RendererCannotGetPosition = 326,
        RendererCannotGetStatus = 327,
        RendererCannotSetProperty = 328,
        RendererDenied = 329,
        RendererDrmClockNotSet = 330,
        RendererMmcNotAvailable = 331,

        // Content sources
        SourceInvalidObjectId = 400,
        SourceObjectIdNotAvailable = 401,
        SourceInvalidSearchString = 402,
        SourceInvalidSortString = 403,
        SourceInvalidBrowseId = 404,
        SourcePeer = 405,
        SourceBrowseResultFailed = 406,
        SourceGetMetadataResultFailed = 407,
        SourceUnsupportedMetadataKey = 408,
        SourceDestroyObjectFailed = 409,
        SourcePlaylistParsingFailed = 410
    };

    /*! Code NoError and a null message. */
    RovaError();
    RovaError(RovaError::Code code, const QString& message);
    RovaError(const RovaError& other);
    RovaError& operator=(const RovaError& other);
    ~RovaError();

    void setCode(RovaError::Code code);
    void setMessage(const QString& message);

    RovaError::Code code() const { return m_code; }
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

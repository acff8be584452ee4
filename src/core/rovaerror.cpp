// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaerror.h"

#include <QHash>

const QString RovaError::ROVA_SOURCE_ERROR_QUARK = QStringLiteral("com.orvel.rova.error.source");

namespace {

struct CodeText {
    RovaError::Code code;
    const char* text;
};

// General, callback, source, renderer.
constexpr CodeText codeTexts[] = {
    {RovaError::NoError, "No error"},
    {RovaError::NotImplemented, "Not implemented"},
    {RovaError::NotImplementedError, "NotImplementedError"},
    {RovaError::EverythingIsBroken, "Everything is broken"},

    {RovaError::CallbackError, "General callback error"},
    {RovaError::CallbackSlotNotFound, "Callback slot not found"},
    {RovaError::CallbackErrorSlotNotFound, "Error callback slot not found"},
    {RovaError::CallbackCouldNotBeInvoked, "Callback could not be invoked"},
    {RovaError::CallbackArgumentMismatch, "Callback does not accept required arguments"},

    {RovaError::SourceInvalidObjectId, "Invalid object Id"},
    {RovaError::SourceObjectIdNotAvailable, "Object Id not available"},
    {RovaError::SourceInvalidSearchString, "Invalid search string"},
    {RovaError::SourceInvalidSortString, "Invalid sort string"},
    {RovaError::SourceInvalidBrowseId, "Invalid browse Id"},
    {RovaError::SourcePeer, "Peer"},
    {RovaError::SourceBrowseResultFailed, "Browse result failed"},
    {RovaError::SourceGetMetadataResultFailed, "Get metadata result failed"},
    {RovaError::SourceUnsupportedMetadataKey, "Unsupported metadata key"},
    {RovaError::SourceDestroyObjectFailed, "Destroy object failed"},
    {RovaError::SourcePlaylistParsingFailed, "Playlist parsing failed"},

    {RovaError::RendererNoMedia, "No Media"},
    {RovaError::RendererUriNotAvailable, "URI Not Available"},
    {RovaError::RendererInvalidUri, "Invalid URI"},
    {RovaError::RendererMediaNotFound, "Media Not Found"},
    {RovaError::RendererStreamDisconnected, "Stream Disconnected"},
    {RovaError::RendererTypeNotAvailable, "Type Not Available"},
    {RovaError::RendererPlaybackError, "Playback"},
    {RovaError::RendererUnableToPerform, "Unable To Perform"},
    {RovaError::RendererUnsupportedType, "Unsupported Type"},
    {RovaError::RendererUnsupportedResolution, "Unsupported Resolution"},
    {RovaError::RendererUnsupportedFps, "Unsupported FPS"},
    {RovaError::RendererDrmNoLicense, "DRM: No license available or license retrieval failed"},
    {RovaError::RendererDrmNotAllowed, "DRM: Operation is not allowed"},
    {RovaError::RendererDrmFailure, "DRM failure"},
    {RovaError::RendererDeviceUnavailable, "Device Unavailable"},
    {RovaError::RendererCorruptedFile, "Corrupted File"},
    {RovaError::RendererPlaylistParsing, "Playlist Parsing"},
    {RovaError::RendererCodecNotFound, "Codec Not Found"},
    {RovaError::RendererVideoCodecNotFound, "Video Codec Not Found"},
    {RovaError::RendererAudioCodecNotFound, "Audio Codec Not Found"},
    {RovaError::RendererNoPlaylist, "No Playlist"},
    {RovaError::RendererIndexOutOfBounds, "Index Out Of Bounds"},
    {RovaError::RendererCannotPlay, "Cannot Play"},
    {RovaError::RendererCannotStop, "Cannot Stop"},
    {RovaError::RendererCannotPause, "Cannot Pause"},
    {RovaError::RendererCannotSetPosition, "Cannot Set Position"},
    {RovaError::RendererCannotGetPosition, "Cannot Get Position"},
    {RovaError::RendererCannotGetStatus, "Cannot Get Status"},
    {RovaError::RendererCannotSetProperty, "Cannot Set Property"},
    {RovaError::RendererDenied, "Denied"},
    {RovaError::RendererDrmClockNotSet, "DRM error, clock not set"},
    {RovaError::RendererMmcNotAvailable, "MMC Not Available"},
};

static_assert(sizeof(codeTexts) / sizeof(codeTexts[0]) == 52, "the code table has 52 rows");

// Filled exactly once, on first use, by whichever thread gets there first;
// only read afterwards, so readers need no lock.
const QHash<int, QString>& codeTable()
{
    static const QHash<int, QString> table = [] {
        QHash<int, QString> t;
        t.reserve(int(std::size(codeTexts)));
        for (const CodeText& row : codeTexts)
            t.insert(row.code, QString::fromLatin1(row.text));
        return t;
    }();
    return table;
}

void registerRovaErrorMetaType()
{
    qRegisterMetaType<RovaError>("RovaError");
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerRovaErrorMetaType)

RovaError::RovaError()
    : m_code(NoError)
{
}

RovaError::RovaError(RovaError::Code code, const QString& message)
    : m_code(code)
    , m_message(message)
{
}

RovaError::RovaError(const RovaError& other) = default;
RovaError& RovaError::operator=(const RovaError& other) = default;
RovaError::~RovaError() = default;

void RovaError::setCode(RovaError::Code code)
{
    m_code = code;
}

void RovaError::setMessage(const QString& message)
{
    m_message = message;
}

QString RovaError::codeToString(RovaError::Code code)
{
    return codeTable().value(int(code));
}

QString RovaError::toString() const
{
    // Substitute all three at once so that a "%1" inside the description or the
    // message is never substituted again.
    return QStringLiteral("%1 (%2): %3").arg(QString::number(int(m_code)), codeToString(m_code), m_message);
}

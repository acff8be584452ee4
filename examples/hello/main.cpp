// SPDX-License-Identifier: LGPL-2.1-or-later
// A first look at the library: makes a playlist id, describes a media item and
// prints an error the way the framework logs it.
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovamediainfo.h>
#include <rovaplaylist.h>
#include <rovasource.h>

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    const QString id = RovaPlaylist::getNewPlaylistId();
    out << "new playlist id:   " << id << '\n';
    out << "as a uuid:         " << RovaPlaylist::convertPlaylistIdtoUuid(id) << '\n';

    RovaContent item(QStringLiteral("local-music::track-42"));
    QMap<QString, QVariant> metadata{{QStringLiteral("uri"), QStringLiteral("file:///music/track-42.ogg")},
                                     {QStringLiteral("title"), QStringLiteral("Track 42")}};
    item.setMetaData(metadata, nullptr, nullptr);

    RovaMediaInfo info(item);
    out << "item:              " << info.uuid() << " from source " << RovaSource::parseSourceId(info.uuid()) << '\n';
    out << "playable:          " << (info.isPlayable() ? "yes" : "no") << " ("
        << info.firstMetaData(QStringLiteral("uri")).toString() << ")\n";

    const RovaError error(RovaError::RendererMediaNotFound, QStringLiteral("track-43 is gone"));
    out << "an error, logged:  " << error.toString() << '\n';
    return 0;
}

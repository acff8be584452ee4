// SPDX-License-Identifier: LGPL-2.1-or-later
// Built out of tree against the installed package; exits 0 when the library works.
#include <rovaerror.h>
#include <rovaplaylist.h>

#include <QtSparql/QSparqlConnection>

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString id = RovaPlaylist::getNewPlaylistId();
    const bool ok = id.startsWith(QLatin1String("rova"))
        && RovaError::codeToString(RovaError::RendererDenied) == QLatin1String("Denied")
        && QMetaType::fromName("RovaError").isValid()
        && QSparqlConnection::drivers().contains(QLatin1String("QTRACKER"));
    return ok ? 0 : 1;
}

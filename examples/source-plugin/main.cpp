// SPDX-License-Identifier: LGPL-2.1-or-later
// Loads the memory source plugin given on the command line, browses it, searches
// it, asks for one item's metadata and for one that does not exist. Exit status
// 0 when every answer is the expected one.
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovainternalregistry.h>
#include <rovasource.h>

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

//! [client]
class Client : public QObject
{
    Q_OBJECT

public:
    QStringList log;

    void note(const QString& line)
    {
        log << line;
        if (log.size() == 4) // every answer is in
            QCoreApplication::quit();
    }

public Q_SLOTS:
    void browseResults(const QList<RovaContent>& items, uint browseId)
    {
        note(QStringLiteral("browse %1: %2 items").arg(browseId).arg(items.size()));
    }
    void queryResults(const QList<RovaContent>& items, uint)
    {
        for (const RovaContent& item : items)
            note(QStringLiteral("found ") + item.metaData(QStringLiteral("title")).toString());
    }
    void metadataResult(const RovaContent& item)
    {
        note(QStringLiteral("uri ") + item.metaData(QStringLiteral("uri")).toString());
    }
    void errorResult(const RovaError& error) { note(QStringLiteral("error %1").arg(int(error.code()))); }
};
//! [client]

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc != 2) {
        out << "usage: qrova-example-source PLUGIN.so\n";
        return 2;
    }
    RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
    if (!registry->loadPlugin(QString::fromLocal8Bit(argv[1])))
        return 1;

//! [use]
    RovaSource* source = RovaRegistry::instance()->source(QStringLiteral("example-memory-source"));
    if (!source)
        return 1;
    Client client;
    source->browse(QString(), 0, 0, &client, SLOT(browseResults(QList<RovaContent>,uint)),
                   SLOT(errorResult(RovaError)));
    source->query(QStringLiteral("no"), QString(), &client, SLOT(queryResults(QList<RovaContent>,uint)),
                  SLOT(errorResult(RovaError)));
    source->getMetadata(source->uuid() + QStringLiteral("::noon"), {QStringLiteral("uri")}, &client,
                        SLOT(metadataResult(RovaContent)), SLOT(errorResult(RovaError)));
    // An object that is not there: false now, the error slot later.
    source->getMetadata(QStringLiteral("nothing"), {}, &client, SLOT(metadataResult(RovaContent)),
                        SLOT(errorResult(RovaError)));
//! [use]

    QTimer::singleShot(10000, &app, &QCoreApplication::quit); // never hang
    app.exec();
    out << client.log.join(QLatin1Char('\n')) << '\n';
    const QStringList expected = {QStringLiteral("browse 1: 3 items"), QStringLiteral("found Noon"), QStringLiteral("uri file:///music/Noon.ogg"),
                                  QStringLiteral("error %1").arg(int(RovaError::SourceObjectIdNotAvailable))};
    return client.log == expected ? 0 : 1;
}

#include "main.moc"

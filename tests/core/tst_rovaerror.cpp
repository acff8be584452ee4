// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovaerror.h>

#include <QMetaMethod>
#include <QObject>
#include <QTest>
#include <QThread>

#include <atomic>
#include <vector>

namespace {

// Receives errors through queued connections and QMetaMethod::invoke.
class ErrorReceiver : public QObject
{
    Q_OBJECT
public:
    RovaError last;
    int calls = 0;
public Q_SLOTS:
    void errorResult(const RovaError& error)
    {
        last = error;
        ++calls;
    }
};

} // namespace

class tst_RovaError : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldFillTheTableOnceUnderConcurrentFirstUse();
    void shouldDescribeEveryCode_data();
    void shouldDescribeEveryCode();
    void shouldGiveEmptyTextForNumbersBetweenGroups_data();
    void shouldGiveEmptyTextForNumbersBetweenGroups();
    void shouldHaveFiftyTwoCodes();
    void shouldStartAsNoErrorWithNullMessage();
    void shouldFormatOneLine_data();
    void shouldFormatOneLine();
    void shouldKeepCopiesIndependent();
    void shouldSetFields();
    void shouldNameTheSourceErrorDomain();
    void shouldTravelUnderItsMetaTypeName();
};

void tst_RovaError::shouldDescribeEveryCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("NoError") << 0 << "No error";
    QTest::newRow("NotImplemented") << 1 << "Not implemented";
    QTest::newRow("NotImplementedError") << 2 << "NotImplementedError";
    QTest::newRow("EverythingIsBroken") << 3 << "Everything is broken";
    QTest::newRow("CallbackError") << 40 << "General callback error";
    QTest::newRow("CallbackSlotNotFound") << 41 << "Callback slot not found";
    QTest::newRow("CallbackErrorSlotNotFound") << 42 << "Error callback slot not found";
    QTest::newRow("CallbackCouldNotBeInvoked") << 43 << "Callback could not be invoked";
    QTest::newRow("CallbackArgumentMismatch") << 44 << "Callback does not accept required arguments";
    QTest::newRow("RendererNoMedia") << 300 << "No Media";
    QTest::newRow("RendererUriNotAvailable") << 301 << "URI Not Available";
    QTest::newRow("RendererInvalidUri") << 302 << "Invalid URI";
    QTest::newRow("RendererMediaNotFound") << 303 << "Media Not Found";
    QTest::newRow("RendererStreamDisconnected") << 304 << "Stream Disconnected";
    QTest::newRow("RendererTypeNotAvailable") << 305 << "Type Not Available";
    QTest::newRow("RendererPlaybackError") << 306 << "Playback";
    QTest::newRow("RendererUnableToPerform") << 307 << "Unable To Perform";
    QTest::newRow("RendererUnsupportedType") << 308 << "Unsupported Type";
    QTest::newRow("RendererUnsupportedResolution") << 309 << "Unsupported Resolution";
    QTest::newRow("RendererUnsupportedFps") << 310 << "Unsupported FPS";
    QTest::newRow("RendererDrmNoLicense") << 311 << "DRM: No license available or license retrieval failed";
    QTest::newRow("RendererDrmNotAllowed") << 312 << "DRM: Operation is not allowed";
    QTest::newRow("RendererDrmFailure") << 313 << "DRM failure";
    QTest::newRow("RendererDeviceUnavailable") << 314 << "Device Unavailable";
    QTest::newRow("RendererCorruptedFile") << 315 << "Corrupted File";
    QTest::newRow("RendererPlaylistParsing") << 316 << "Playlist Parsing";
    QTest::newRow("RendererCodecNotFound") << 317 << "Codec Not Found";
    QTest::newRow("RendererVideoCodecNotFound") << 318 << "Video Codec Not Found";
    QTest::newRow("RendererAudioCodecNotFound") << 319 << "Audio Codec Not Found";
    QTest::newRow("RendererNoPlaylist") << 320 << "No Playlist";
    QTest::newRow("RendererIndexOutOfBounds") << 321 << "Index Out Of Bounds";
    QTest::newRow("RendererCannotPlay") << 322 << "Cannot Play";
    QTest::newRow("RendererCannotStop") << 323 << "Cannot Stop";
    QTest::newRow("RendererCannotPause") << 324 << "Cannot Pause";
    QTest::newRow("RendererCannotSetPosition") << 325 << "Cannot Set Position";
    QTest::newRow("RendererCannotGetPosition") << 326 << "Cannot Get Position";
    QTest::newRow("RendererCannotGetStatus") << 327 << "Cannot Get Status";
    QTest::newRow("RendererCannotSetProperty") << 328 << "Cannot Set Property";
    QTest::newRow("RendererDenied") << 329 << "Denied";
    QTest::newRow("RendererDrmClockNotSet") << 330 << "DRM error, clock not set";
    QTest::newRow("RendererMmcNotAvailable") << 331 << "MMC Not Available";
    QTest::newRow("SourceInvalidObjectId") << 400 << "Invalid object Id";
    QTest::newRow("SourceObjectIdNotAvailable") << 401 << "Object Id not available";
    QTest::newRow("SourceInvalidSearchString") << 402 << "Invalid search string";
    QTest::newRow("SourceInvalidSortString") << 403 << "Invalid sort string";
    QTest::newRow("SourceInvalidBrowseId") << 404 << "Invalid browse Id";
    QTest::newRow("SourcePeer") << 405 << "Peer";
    QTest::newRow("SourceBrowseResultFailed") << 406 << "Browse result failed";
    QTest::newRow("SourceGetMetadataResultFailed") << 407 << "Get metadata result failed";
    QTest::newRow("SourceUnsupportedMetadataKey") << 408 << "Unsupported metadata key";
    QTest::newRow("SourceDestroyObjectFailed") << 409 << "Destroy object failed";
    QTest::newRow("SourcePlaylistParsingFailed") << 410 << "Playlist parsing failed";
}

void tst_RovaError::shouldDescribeEveryCode()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(RovaError::codeToString(RovaError::Code(code)), text);
}

void tst_RovaError::shouldGiveEmptyTextForNumbersBetweenGroups_data()
{
    QTest::addColumn<int>("code");
    for (int code : {4, 39, 45, 299, 332, 399, 411, -1, 100000})
        QTest::addRow("%d", code) << code;
}

void tst_RovaError::shouldGiveEmptyTextForNumbersBetweenGroups()
{
    QFETCH(int, code);
    const auto c = RovaError::Code(code);
    QVERIFY(RovaError::codeToString(c).isEmpty());
    QCOMPARE(RovaError(c, QStringLiteral("m")).toString(), QString::number(code) + QStringLiteral(" (): m"));
}

void tst_RovaError::shouldHaveFiftyTwoCodes()
{
    int described = 0;
    for (int code = -10; code < 1000; ++code)
        described += RovaError::codeToString(RovaError::Code(code)).isEmpty() ? 0 : 1;
    QCOMPARE(described, 52);
}

void tst_RovaError::shouldStartAsNoErrorWithNullMessage()
{
    const RovaError error;
    QCOMPARE(error.code(), RovaError::NoError);
    QVERIFY(error.message().isNull());
    QCOMPARE(error.toString(), QStringLiteral("0 (No error): "));
}

void tst_RovaError::shouldFormatOneLine_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");

    QTest::newRow("media not found") << 303 << "no such file" << "303 (Media Not Found): no such file";
    QTest::newRow("empty message") << 329 << "" << "329 (Denied): ";
    QTest::newRow("placeholders in message are kept") << 306 << "%1 %2 %3" << "306 (Playback): %1 %2 %3";
    QTest::newRow("unknown code") << 12 << "x" << "12 (): x";
    QTest::newRow("negative code") << -5 << "x" << "-5 (): x";
}

void tst_RovaError::shouldFormatOneLine()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, line);
    QCOMPARE(RovaError(RovaError::Code(code), message).toString(), line);
}

void tst_RovaError::shouldKeepCopiesIndependent()
{
    const RovaError original(RovaError::RendererNoMedia, QStringLiteral("original"));
    RovaError copy(original);
    copy.setMessage(QStringLiteral("changed"));
    copy.setCode(RovaError::RendererDenied);
    QCOMPARE(original.message(), QStringLiteral("original"));
    QCOMPARE(original.code(), RovaError::RendererNoMedia);

    RovaError assigned;
    assigned = original;
    assigned.setMessage(QStringLiteral("again"));
    QCOMPARE(original.message(), QStringLiteral("original"));
    QCOMPARE(assigned.code(), RovaError::RendererNoMedia);
}

void tst_RovaError::shouldSetFields()
{
    RovaError error;
    error.setCode(RovaError::SourcePeer);
    error.setMessage(QStringLiteral("peer went away"));
    QCOMPARE(error.code(), RovaError::SourcePeer);
    QCOMPARE(error.toString(), QStringLiteral("405 (Peer): peer went away"));
}

void tst_RovaError::shouldNameTheSourceErrorDomain()
{
    QCOMPARE(RovaError::ROVA_SOURCE_ERROR_QUARK, QStringLiteral("com.orvel.rova.error.source"));
}

void tst_RovaError::shouldTravelUnderItsMetaTypeName()
{
    const QMetaType type = QMetaType::fromName("RovaError");
    QVERIFY(type.isValid());
    QCOMPARE(type, QMetaType::fromType<RovaError>());

    // Through QMetaMethod::invoke, as the callback helper does.
    ErrorReceiver receiver;
    const int index = receiver.metaObject()->indexOfSlot("errorResult(RovaError)");
    QVERIFY(index >= 0);
    const RovaError sent(RovaError::RendererCannotPlay, QStringLiteral("direct"));
    QVERIFY(receiver.metaObject()->method(index).invoke(&receiver, Qt::DirectConnection, Q_ARG(RovaError, sent)));
    QCOMPARE(receiver.last.toString(), sent.toString());

    // Queued to a receiver on another thread.
    QThread thread;
    ErrorReceiver remote;
    remote.moveToThread(&thread);
    thread.start();
    const RovaError queued(RovaError::RendererDenied, QStringLiteral("queued"));
    QVERIFY(QMetaObject::invokeMethod(&remote, "errorResult", Qt::QueuedConnection, Q_ARG(RovaError, queued)));
    QTRY_COMPARE(remote.calls, 1);
    thread.quit();
    thread.wait();
    QCOMPARE(remote.last.code(), RovaError::RendererDenied);
    QCOMPARE(remote.last.message(), QStringLiteral("queued"));
}

void tst_RovaError::shouldFillTheTableOnceUnderConcurrentFirstUse()
{
    // Many threads ask at once; every answer must be complete and right.
    std::atomic<int> wrong{0};
    std::vector<QThread*> threads;
    for (int i = 0; i < 8; ++i) {
        threads.push_back(QThread::create([&wrong] {
            for (int n = 0; n < 2000; ++n) {
                if (RovaError::codeToString(RovaError::RendererDenied) != QLatin1String("Denied")
                    || RovaError::codeToString(RovaError::SourcePeer) != QLatin1String("Peer"))
                    ++wrong;
            }
        }));
    }
    for (QThread* t : threads)
        t->start();
    for (QThread* t : threads) {
        t->wait();
        delete t;
    }
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(tst_RovaError)
#include "tst_rovaerror.moc"

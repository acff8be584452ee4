// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovaerror.h>

#include <QTest>

class tst_RovaError : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldDescribeExactlyTheFourGroupsOfCodes()
    {
        const auto described = [](int code) { return !RovaError::codeToString(RovaError::Code(code)).isEmpty(); };
        QStringList groups;
        for (int code = -10; code <= 1000; ++code) {
            if (described(code) && !described(code - 1))
                groups << QString::number(code);
            else if (!described(code) && described(code - 1))
                groups.last() += QLatin1Char('-') + QString::number(code - 1);
        }
        QCOMPARE(groups.join(QLatin1Char(' ')), QStringLiteral("0-3 40-44 300-331 400-410"));
        // The first and the last of each group, and the texts that break their group's pattern.
        const QStringList texts{QStringLiteral("0 No error"), QStringLiteral("2 NotImplementedError"),
                                QStringLiteral("3 Everything is broken"), QStringLiteral("40 General callback error"),
                                QStringLiteral("44 Callback does not accept required arguments"),
                                QStringLiteral("300 No Media"), QStringLiteral("306 Playback"),
                                QStringLiteral("311 DRM: No license available or license retrieval failed"),
                                QStringLiteral("329 Denied"), QStringLiteral("331 MMC Not Available"),
                                QStringLiteral("400 Invalid object Id"), QStringLiteral("410 Playlist parsing failed")};
        for (const QString& text : texts) {
            const int code = text.section(QLatin1Char(' '), 0, 0).toInt();
            QCOMPARE(RovaError::codeToString(RovaError::Code(code)), text.section(QLatin1Char(' '), 1));
        }
        QCOMPARE(RovaError::ROVA_SOURCE_ERROR_QUARK, QStringLiteral("com.orvel.rova.error.source"));
        // Queued calls and the callback helper pass errors by this name.
        QCOMPARE(QMetaType::fromName("RovaError"), QMetaType::fromType<RovaError>());
    }

    void shouldFormatOneLine_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        QTest::newRow("empty message") << 329 << "" << "329 (Denied): ";
        QTest::newRow("media not found") << 303 << "no such file" << "303 (Media Not Found): no such file";
        QTest::newRow("placeholders in message are kept") << 306 << "%1 %2 %3" << "306 (Playback): %1 %2 %3";
        QTest::newRow("unknown code") << 12 << "x" << "12 (): x";
        QTest::newRow("negative code") << -5 << "x" << "-5 (): x";
    }

    void shouldFormatOneLine()
    {
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, line);
        QCOMPARE(RovaError(RovaError::Code(code), message).toString(), line);
        RovaError set;
        QCOMPARE(set.toString(), QStringLiteral("0 (No error): "));
        set.setCode(RovaError::Code(code));
        set.setMessage(message);
        QCOMPARE(set.toString(), line);
    }
};

QTEST_GUILESS_MAIN(tst_RovaError)
#include "tst_rovaerror.moc"

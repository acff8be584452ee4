// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovaerror.h>

#include <QTest>

using namespace Qt::StringLiterals;

class tst_RovaError : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldDescribeExactlyTheFourGroupsOfCodes()
    {
        const auto described = [](int code) { return !RovaError::codeToString(RovaError::Code(code)).isEmpty(); };
        QStringList groups;
        for (int code = -10; code <= 1000; ++code) {
            if (described(code) && !described(code - 1))
                groups << QString::number(code);
            else if (!described(code) && described(code - 1))
                groups.last() += u'-' + QString::number(code - 1);
        }
        QCOMPARE(groups.join(u' '), u"0-3 40-44 300-331 400-410"_s);
        // The first and the last of each group, and the texts that break their group's pattern.
        const QStringList texts = u"0 No error|2 NotImplementedError|3 Everything is broken|40 General callback error|"
                                  "44 Callback does not accept required arguments|300 No Media|306 Playback|"
                                  "311 DRM: No license available or license retrieval failed|329 Denied|331 MMC Not Available|"
                                  "400 Invalid object Id|410 Playlist parsing failed"_s.split(u'|');
        for (const QString& text : texts) {
            const int code = text.section(u' ', 0, 0).toInt();
            QCOMPARE(RovaError::codeToString(RovaError::Code(code)), text.section(u' ', 1));
        }
        QCOMPARE(RovaError::ROVA_SOURCE_ERROR_QUARK, u"com.orvel.rova.error.source"_s);
    }

    void shouldFormatOneLine()
    {
        QCOMPARE(RovaError(RovaError::RendererMediaNotFound, u"no such file"_s).toString(), u"303 (Media Not Found): no such file"_s);
        QCOMPARE(RovaError(RovaError::RendererPlaybackError, u"%1 %2 %3"_s).toString(), u"306 (Playback): %1 %2 %3"_s);
        // Codes outside the four groups have no description.
        QCOMPARE(RovaError(RovaError::Code(12), u"x"_s).toString(), u"12 (): x"_s);
        QCOMPARE(RovaError(RovaError::Code(-5), u"x"_s).toString(), u"-5 (): x"_s);
        RovaError error;
        QCOMPARE(error.toString(), u"0 (No error): "_s);
        error.setCode(RovaError::RendererDenied);
        error.setMessage(u"no"_s);
        QCOMPARE(error.toString(), u"329 (Denied): no"_s);
    }
};

QTEST_GUILESS_MAIN(tst_RovaError)
#include "tst_rovaerror.moc"

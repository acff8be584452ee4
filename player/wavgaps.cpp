// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-wavgaps FILE.wav FREQUENCY:FRAMES...
// Prints the length of a WAV file of sine tones and the frames lost or inserted
// at each boundary between them.
#include "rovawavgaps.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: qrova-wavgaps FILE.wav FREQUENCY:FRAMES...\n");
        return 2;
    }
    const RovaWav wav = RovaWav::read(args.first());
    if (!wav.error.isEmpty()) {
        std::fprintf(stderr, "qrova-wavgaps: %s: %s\n", qPrintable(args.first()), qPrintable(wav.error));
        return 1;
    }
    QList<RovaTone> tones;
    qint64 total = 0;
    for (const QString& arg : args.mid(1)) {
        tones.append({arg.section(QLatin1Char(':'), 0, 0).toDouble(), arg.section(QLatin1Char(':'), 1).toLongLong()});
        total += tones.last().frames;
    }
    std::printf("%s: %lld frames at %d Hz; the %lld items have %lld frames together (%+lld)\n",
                qPrintable(args.first()), qint64(wav.samples.size()), wav.rate, qint64(tones.size()), total,
                qint64(wav.samples.size()) - total);
    const QList<qint64> gaps = wav.gaps(tones);
    bool clean = qint64(wav.samples.size()) == total;
    for (int i = 0; i < gaps.size(); ++i) {
        std::printf("  boundary %d -> %d: %+lld frames\n", i + 1, i + 2, gaps.at(i));
        clean = clean && gaps.at(i) == 0;
    }
    std::printf("%s\n", clean ? "gapless: no frame lost or inserted" : "NOT gapless");
    return clean ? 0 : 1;
}

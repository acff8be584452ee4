// SPDX-License-Identifier: LGPL-2.1-or-later
// Reads a 16-bit PCM WAV file of sine tones played one after the other, and
// measures at each boundary how many frames were lost (negative) or inserted
// (positive) against the items' own lengths. Each item is a sine of a known
// frequency whose first sample is one step past phase 0, as GStreamer's audiotestsrc makes it.
#ifndef ROVAWAVGAPS_H
#define ROVAWAVGAPS_H

#include <QFile>
#include <QList>
#include <QString>

#include <cmath>
#include <cstring>
#include <limits>

struct RovaTone
{
    double frequency = 0;
    qint64 frames = 0;
};

struct RovaWav
{
    int rate = 0;
    int channels = 0;
    QList<qint16> samples; // the first channel only
    QString error;

    static RovaWav read(const QString& path)
    {
        RovaWav wav;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            wav.error = file.errorString();
            return wav;
        }
        const QByteArray data = file.readAll();
        if (data.size() < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE") {
            wav.error = QStringLiteral("not a WAV file");
            return wav;
        }
        auto u32 = [&data](qsizetype at) { quint32 v = 0; std::memcpy(&v, data.constData() + at, 4); return v; };
        auto u16 = [&data](qsizetype at) { quint16 v = 0; std::memcpy(&v, data.constData() + at, 2); return v; };
        for (qsizetype at = 12; at + 8 <= data.size();) {
            const QByteArray id = data.mid(at, 4);
            const qsizetype size = qsizetype(u32(at + 4));
            if (id == "fmt " && at + 24 <= data.size()) {
                wav.channels = u16(at + 10);
                wav.rate = int(u32(at + 12));
                if (u16(at + 22) != 16) {
                    wav.error = QStringLiteral("not 16-bit PCM");
                    return wav;
                }
            } else if (id == "data" && wav.channels > 0) {
                const qsizetype end = qMin(data.size(), at + 8 + size);
                for (qsizetype s = at + 8; s + 2 * wav.channels <= end; s += 2 * wav.channels)
                    wav.samples.append(qint16(u16(s)));
                return wav;
            }
            at += 8 + size + (size & 1);
        }
        wav.error = QStringLiteral("no audio data");
        return wav;
    }

    // The offset, within +-\a window frames of \a expected, where the tone
    // \a tone starts best: its first samples match a sine one step past phase 0.
    qint64 toneStart(const RovaTone& tone, qint64 expected, int window = 4000) const
    {
        // A sine from phase 0 with the amplitude that fits best (least squares);
        // long enough that a start whole periods later fits clearly worse.
        const int probe = 512;
        double best = std::numeric_limits<double>::max();
        qint64 bestAt = expected;
        const double step = 2 * M_PI * tone.frequency / rate;
        for (qint64 at = qMax<qint64>(0, expected - window); at <= expected + window; ++at) {
            if (at + probe > samples.size())
                break;
            double dot = 0;
            double norm = 0;
            for (int j = 0; j < probe; ++j) {
                dot += samples.at(at + j) * std::sin(step * (j + 1));
                norm += std::sin(step * (j + 1)) * std::sin(step * (j + 1));
            }
            const double amplitude = dot / norm;
            double error = 0;
            for (int j = 0; j < probe; ++j) {
                const double d = samples.at(at + j) - amplitude * std::sin(step * (j + 1));
                error += d * d;
            }
            error /= std::max(1.0, amplitude * amplitude);
            if (error < best) {
                best = error;
                bestAt = at;
            }
        }
        return bestAt;
    }

    // Frames inserted (positive) or lost (negative) at each boundary between the tones.
    QList<qint64> gaps(const QList<RovaTone>& tones) const
    {
        QList<qint64> result;
        qint64 expected = 0;
        for (int i = 0; i + 1 < tones.size(); ++i) {
            expected += tones.at(i).frames;
            const qint64 start = toneStart(tones.at(i + 1), expected);
            result << start - expected;
            expected = start;
        }
        return result;
    }
};

#endif // ROVAWAVGAPS_H

// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaplaylistfile.h"

#include <QAbstractProxyModel>
#include <QAbstractTableModel>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <charconv>
#include <cmath>
#include <cstring>

const QString RovaPlaylistFile::ROVA_PLAYLIST_FILE_SOURCE = QStringLiteral("RovaPlaylistFile");
const int RovaPlaylistFile::MAX_LINE_LENGTH = 65536;
const int RovaPlaylistFile::MAX_ENTRIES = 1000000;

namespace {

using Entry = RovaPlaylistFile::Entry;
using ReadResult = RovaPlaylistFile::ReadResult;

const qint64 maxXmlSize = 256 * 1024 * 1024; // a million tracks fit well below
const int keptSkips = 100;
const qsizetype maxKeptChars = 64 * 1024 * 1024; // of all entries together, whatever their number
const int keptText = 200;
const QLatin1String extinf("#EXTINF:");
const QLatin1String byArtist(" - ");

// Collects the entries of one file, with the skipped ones and their reasons.
class Reader
{
public:
    Reader(const QString& baseDir, RovaPlaylistFile::ReadOptions options, ReadResult& result)
        : m_base(QDir::cleanPath(baseDir))
        , m_options(options)
        , m_result(result)
    {
    }

    bool full() const { return m_result.entries.size() >= RovaPlaylistFile::MAX_ENTRIES || m_chars > maxKeptChars; }

    void skip(int line, const QString& text, const QString& reason)
    {
        if (m_result.skippedCount++ < keptSkips)
            m_result.skipped.append({line, text.left(keptText), reason});
    }

    // Adds \a entry at \a rawText: a path or a URL, or with \a xml a URI reference.
    void add(int line, const QString& rawText, Entry entry, bool xml = false)
    {
        const QString text = rawText.trimmed();
        if (text.isEmpty())
            return skip(line, rawText, QStringLiteral("no location"));
        if (full())
            return skip(line, text, QStringLiteral("too many entries"));
        QString reason;
        entry.location = xml ? resolveReference(text, &reason) : resolve(text, &reason);
        if (!reason.isEmpty())
            return skip(line, text, reason);
        m_chars += text.size() + entry.title.size() + entry.artist.size();
        m_result.entries.append(std::move(entry));
    }

    static bool hasScheme(QStringView text)
    {
        // two characters at least, so that "C:\music" is no URL
        const qsizetype colon = text.indexOf(u':');
        if (colon < 2 || !isAsciiLetter(text.at(0)))
            return false;
        for (qsizetype i = 1; i < colon; ++i) {
            const QChar c = text.at(i);
            if (!isAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
                return false;
        }
        return true;
    }

    static bool isPlaylistName(QStringView path)
    {
        // a short suffix after the last dot of the last segment
        for (qsizetype i = path.size() - 1; i >= 0 && i >= path.size() - 6; --i) {
            if (path.at(i) == u'/')
                return false;
            if (path.at(i) == u'.')
                return RovaPlaylistFile::formatOf(path.mid(i).toString()) != RovaPlaylistFile::UnknownFormat;
        }
        return false;
    }

private:
    static bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

    QUrl resolve(const QString& text, QString* reason)
    {
        // "scheme://..." or "file:...": a folder called "Live:1999" stays a path
        const QStringView afterColon = QStringView(text).mid(text.indexOf(u':') + 1);
        if (hasScheme(text) && (afterColon.startsWith(u"//") || text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)))
            return resolveUrl(QUrl(text, QUrl::TolerantMode), reason);
        if (text.size() > 2 && text.at(1) == u':' && isAsciiLetter(text.at(0)) && (text.at(2) == u'\\' || text.at(2) == u'/')) {
            *reason = QStringLiteral("a Windows path");
            return {};
        }
        QString path = text;
        // written on Windows: backslashes where nothing else separates folders
        if (!path.contains(u'/') && path.contains(u'\\'))
            path.replace(u'\\', u'/');
        return resolvePath(path.startsWith(u'/') ? path : m_base + u'/' + path, reason);
    }

    // An XSPF location: a URI reference, relative ones against the playlist's folder.
    QUrl resolveReference(const QString& text, QString* reason)
    {
        const QUrl reference(text, QUrl::TolerantMode);
        if (!reference.isValid()) {
            *reason = QStringLiteral("not a valid URL");
            return {};
        }
        if (!reference.scheme().isEmpty())
            return resolveUrl(reference, reason);
        return resolveUrl(QUrl::fromLocalFile(m_base + u'/').resolved(reference), reason);
    }

    QUrl resolveUrl(const QUrl& url, QString* reason)
    {
        if (!url.isValid()) {
            *reason = QStringLiteral("not a valid URL");
            return {};
        }
        if (url.scheme().compare(u"file", Qt::CaseInsensitive) == 0) {
            if (!url.host().isEmpty() && url.host() != u"localhost") {
                *reason = QStringLiteral("a file on another machine");
                return {};
            }
            const QString path = url.path(QUrl::FullyDecoded);
            if (!path.startsWith(u'/')) {
                *reason = QStringLiteral("not a valid URL");
                return {};
            }
            return resolvePath(path, reason);
        }
        if (url.host().isEmpty()) {
            *reason = QStringLiteral("unsupported location");
            return {};
        }
        if (isPlaylistName(url.path())) {
            *reason = QStringLiteral("a playlist, not followed");
            return {};
        }
        return url;
    }

    QUrl resolvePath(QString path, QString* reason)
    {
        // "/." or "//" somewhere: a path to clean
        for (const QChar* c = path.constData() + 1, *end = path.constData() + path.size(); c < end; ++c) {
            if (c[-1] == u'/' && (*c == u'.' || *c == u'/')) {
                path = QDir::cleanPath(path);
                break;
            }
        }
        if (isPlaylistName(path)) {
            *reason = QStringLiteral("a playlist, not followed");
            return {};
        }
        if (m_options & RovaPlaylistFile::CheckLocalFiles) {
            QFileInfo info(path);
            // some writers percent-encode plain paths
            if (!info.exists() && path.contains(u'%')) {
                const QString decoded = QUrl::fromPercentEncoding(path.toUtf8());
                if (QFileInfo::exists(decoded))
                    info.setFile(path = decoded);
            }
            if (!info.exists()) {
                *reason = QStringLiteral("no such file");
                return {};
            }
            if (info.isDir()) {
                *reason = QStringLiteral("a folder");
                return {};
            }
        }
        // QUrl::fromLocalFile() without its search for '%' to encode, where there is none
        if (path.contains(u'%'))
            return QUrl::fromLocalFile(path);
        QUrl url;
        url.setScheme(QStringLiteral("file"));
        url.setPath(path, QUrl::TolerantMode);
        return url;
    }

    QString m_base;
    RovaPlaylistFile::ReadOptions m_options;
    ReadResult& m_result;
    qsizetype m_chars = 0;
};

// Reads \a device line by line into \a line (without its line end), never holding more than
// MAX_LINE_LENGTH bytes; a longer line is reported once as too long and passed over.
class LineReader
{
public:
    explicit LineReader(QIODevice& device)
        : m_device(device)
        , m_buffer(RovaPlaylistFile::MAX_LINE_LENGTH + 2, Qt::Uninitialized)
    {
    }

    enum Status { Line, TooLong, End };

    Status next(QByteArrayView* line)
    {
        char* data = m_buffer.data();
        const qint64 read = m_device.readLine(data, m_buffer.size());
        if (read <= 0)
            return End;
        ++m_number;
        qint64 length = read;
        if (data[length - 1] != '\n' && length == m_buffer.size() - 1 && !m_device.atEnd()) {
            // the rest of the line is read and dropped in pieces
            while (true) {
                const qint64 more = m_device.readLine(data, m_buffer.size());
                if (more <= 0 || data[more - 1] == '\n')
                    break;
            }
            return TooLong;
        }
        while (length > 0 && (data[length - 1] == '\n' || data[length - 1] == '\r'))
            --length;
        if (m_number == 1 && length >= 3 && std::memcmp(data, "\xef\xbb\xbf", 3) == 0) {
            data += 3;
            length -= 3;
        }
        *line = QByteArrayView(data, length);
        return Line;
    }

    int number() const { return m_number; }

private:
    QIODevice& m_device;
    QByteArray m_buffer;
    int m_number = 0;
};

// The text of a line: UTF-8, or Latin-1 where \a latin1 allows. False with \a reason set when it is none.
bool decode(QByteArrayView bytes, bool latin1, QString* text, QString* reason)
{
    bool ascii = true;
    for (const char c : bytes) {
        const uchar u = uchar(c);
        if ((u < 0x20 && u != '\t') || u == 0x7f) {
            *reason = QStringLiteral("not text");
            return false;
        }
        ascii = ascii && u < 0x80;
    }
    if (ascii) {
        *text = QString::fromLatin1(bytes);
        return true;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = utf8(bytes);
    if (!utf8.hasError())
        return true;
    if (!latin1) {
        *reason = QStringLiteral("not valid UTF-8");
        return false;
    }
    *text = QString::fromLatin1(bytes);
    return true;
}

QString printable(QByteArrayView bytes)
{
    QString text = QString::fromLatin1(bytes.first(qMin<qsizetype>(bytes.size(), keptText)));
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QChar(0xfffd);
    }
    return text;
}

// "artist - title" of an extended M3U line or a PLS title.
void splitTitle(const QString& text, Entry* entry)
{
    qsizetype by = -1;
    for (qsizetype i = 1; i + 1 < text.size() && by < 0; ++i) {
        if (text.at(i) == u'-' && text.at(i - 1) == u' ' && text.at(i + 1) == u' ')
            by = i - 1;
    }
    if (by > 0) {
        entry->artist = text.left(by).trimmed();
        entry->title = text.mid(by + byArtist.size()).trimmed();
    } else {
        entry->title = text.trimmed();
    }
}

int seconds(const QString& text)
{
    bool ok = false;
    const QStringView number = QStringView(text).trimmed();
    if (const int whole = number.toInt(&ok); ok) // the usual case, and cheaper
        return whole >= 0 && whole < 1000000000 ? whole : -1;
    const double value = number.toDouble(&ok);
    return ok && value >= 0 && value < 1e9 ? int(std::lround(value)) : -1;
}

void readM3u(QIODevice& device, bool latin1, Reader& reader)
{
    LineReader lines(device);
    QByteArrayView bytes;
    Entry pending;
    QString text, reason;
    for (LineReader::Status status; (status = lines.next(&bytes)) != LineReader::End;) {
        if (status == LineReader::TooLong) {
            reader.skip(lines.number(), QString(), QStringLiteral("line too long"));
            pending = Entry();
            continue;
        }
        if (bytes.trimmed().isEmpty())
            continue;
        if (!decode(bytes, latin1, &text, &reason)) {
            // a broken comment is no entry
            if (!bytes.trimmed().startsWith('#'))
                reader.skip(lines.number(), printable(bytes), reason);
            pending = Entry();
            continue;
        }
        if (text.startsWith(u'#')) {
            if (text.startsWith(extinf)) {
                pending = Entry();
                // "#EXTINF:seconds[ attributes],text": the text starts after the first comma outside quotes
                bool quoted = false;
                qsizetype comma = -1;
                for (qsizetype i = extinf.size(); i < text.size() && comma < 0; ++i) {
                    if (text.at(i) == u'"')
                        quoted = !quoted;
                    else if (text.at(i) == u',' && !quoted)
                        comma = i;
                }
                const QString head = text.mid(extinf.size(), comma < 0 ? -1 : comma - extinf.size()).trimmed();
                const qsizetype space = head.indexOf(u' ');
                pending.duration = seconds(space < 0 ? head : head.left(space));
                if (comma >= 0)
                    splitTitle(text.mid(comma + 1), &pending);
            }
            continue;
        }
        if (reader.full()) {
            reader.skip(lines.number(), text, QStringLiteral("too many entries")); // and the rest with it
            break;
        }
        reader.add(lines.number(), text, std::exchange(pending, Entry()));
    }
}

void readPls(QIODevice& device, Reader& reader)
{
    struct Item
    {
        int line = 0;
        QString file;
        QString title;
        int length = -1;
    };
    QMap<int, Item> items; // by their number
    qsizetype chars = 0;
    LineReader lines(device);
    QByteArrayView bytes;
    QString text, reason;
    for (LineReader::Status status; (status = lines.next(&bytes)) != LineReader::End;) {
        if (status == LineReader::TooLong) {
            reader.skip(lines.number(), QString(), QStringLiteral("line too long"));
            continue;
        }
        const qsizetype equals = bytes.indexOf('=');
        if (equals < 0)
            continue;
        if (!decode(bytes, true, &text, &reason)) {
            reader.skip(lines.number(), printable(bytes), reason);
            continue;
        }
        const QString key = text.left(equals).trimmed().toLower();
        const QString value = text.mid(equals + 1);
        static const QLatin1String kinds[] = {QLatin1String("file"), QLatin1String("title"), QLatin1String("length")};
        for (int kind = 0; kind < 3; ++kind) {
            if (!key.startsWith(kinds[kind]))
                continue;
            bool ok = false;
            const int number = key.mid(kinds[kind].size()).toInt(&ok);
            if (!ok || (!items.contains(number) && (items.size() >= RovaPlaylistFile::MAX_ENTRIES || chars > maxKeptChars)))
                break;
            chars += value.size();
            Item& item = items[number];
            if (kind == 0) {
                item.file = value;
                item.line = lines.number();
            } else if (kind == 1) {
                item.title = value;
            } else {
                item.length = seconds(value);
            }
            break;
        }
    }
    for (const Item& item : std::as_const(items)) {
        if (item.line == 0)
            continue; // a title without a file
        if (reader.full()) {
            reader.skip(item.line, item.file, QStringLiteral("too many entries"));
            break;
        }
        Entry entry;
        splitTitle(item.title, &entry);
        entry.duration = item.length;
        reader.add(item.line, item.file, entry);
    }
}

void readXspf(QIODevice& device, Reader& reader)
{
    if (device.size() > maxXmlSize) {
        reader.skip(0, QString(), QStringLiteral("too large for XSPF"));
        return;
    }
    QXmlStreamReader xml(&device);
    bool inTrack = false;
    bool hasLocation = false;
    int line = 0;
    QString location;
    Entry entry;
    while (!xml.atEnd() && !reader.full()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            if (name == u"track") {
                inTrack = true;
                hasLocation = false;
                line = int(xml.lineNumber());
                location.clear();
                entry = Entry();
            } else if (inTrack && name == u"location" && !hasLocation) {
                location = xml.readElementText(QXmlStreamReader::SkipChildElements);
                hasLocation = true;
            } else if (inTrack && name == u"title") {
                entry.title = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (inTrack && name == u"creator") {
                entry.artist = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (inTrack && name == u"duration") {
                const int ms = seconds(xml.readElementText(QXmlStreamReader::SkipChildElements));
                entry.duration = ms < 0 ? -1 : (ms + 500) / 1000;
            }
        } else if (token == QXmlStreamReader::EndElement && xml.name() == u"track" && inTrack) {
            inTrack = false;
            if (location.size() > RovaPlaylistFile::MAX_LINE_LENGTH)
                reader.skip(line, location, QStringLiteral("line too long"));
            else
                reader.add(line, location, entry, true);
        }
    }
    if (reader.full() && !xml.atEnd())
        reader.skip(int(xml.lineNumber()), QString(), QStringLiteral("too many entries"));
    else if (xml.hasError() && !(xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && device.size() == 0))
        reader.skip(int(xml.lineNumber()), QString(), QStringLiteral("not well-formed XML: ") + xml.errorString());
}

// The format the first bytes of \a device tell, else the one of its name \a path, else M3U.
RovaPlaylistFile::Format sniff(QIODevice& device, const QString& path)
{
    QByteArray head = device.peek(512);
    if (head.startsWith("\xef\xbb\xbf"))
        head.remove(0, 3);
    head = head.trimmed();
    const RovaPlaylistFile::Format named = RovaPlaylistFile::formatOf(path);
    if (head.left(10).toLower() == "[playlist]")
        return RovaPlaylistFile::PLS;
    if (head.startsWith("<?xml") || head.startsWith("<playlist"))
        return RovaPlaylistFile::XSPF;
    if (head.startsWith("#EXTM3U") && named != RovaPlaylistFile::M3U8)
        return RovaPlaylistFile::M3U;
    return named == RovaPlaylistFile::UnknownFormat ? RovaPlaylistFile::M3U : named;
}

// The text that names the local file \a path in a playlist in the folder whose path (ending in '/')
// is \a base, or \a canonicalBase in canonical form: relative below it, absolute elsewhere.
QString pathText(const QString& path, const QString& base, const QString& canonicalBase, bool uri)
{
    qsizetype skip = 0;
    if (path.size() > base.size() && path.startsWith(base))
        skip = base.size();
    else if (!canonicalBase.isEmpty() && path.size() > canonicalBase.size() && path.startsWith(canonicalBase))
        skip = canonicalBase.size();
    const QStringView text = QStringView(path).mid(skip);
    const bool relative = skip > 0;
    if (uri) {
        return relative ? QString::fromUtf8(QUrl::toPercentEncoding(text.toString(), "/!$&'()*+,;=@~"))
                        : QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
    }
    // what a line reader would trim or cut, or take for a URL, a drive or a comment
    bool plain = !text.isEmpty() && !text.front().isSpace() && !text.back().isSpace();
    bool slash = false, backslash = false, colon = false;
    for (const QChar* c = text.data(), *end = c + text.size(); plain && c != end; ++c) {
        const char16_t u = c->unicode();
        plain = u >= 0x20 && u != 0x7f;
        slash = slash || u == u'/';
        backslash = backslash || u == u'\\';
        colon = colon || (u == u':' && !slash);
    }
    if (!plain)
        return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
    if (relative && (text.startsWith(u'#') || colon || (backslash && !slash)))
        return QStringLiteral("./") + text;
    return relative ? text.toString() : path;
}

QString oneLine(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            QString line = text;
            for (QChar& d : line) {
                if (d.unicode() < 0x20 || d.unicode() == 0x7f)
                    d = u' ';
            }
            return line;
        }
    }
    return text;
}

void appendNumber(QString& out, qint64 number)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, number);
    out += QLatin1String(digits, end.ptr - digits);
}

// "artist - title" on one line
void appendTitle(QString& out, const Entry& entry)
{
    const qsizetype from = out.size();
    if (!entry.artist.isEmpty())
        out += entry.artist + byArtist;
    out += entry.title;
    for (QChar* c = out.data() + from, *end = out.data() + out.size(); c != end; ++c) {
        if (c->unicode() < 0x20 || c->unicode() == 0x7f)
            *c = u' ';
    }
}

class EntryModel : public QAbstractTableModel
{
public:
    explicit EntryModel(QObject* parent)
        : QAbstractTableModel(parent)
    {
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : int(entries.size()); }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : 4; }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::DisplayRole)
            return QVariant();
        const Entry& entry = entries.at(index.row());
        switch (index.column()) {
        case 0:
            return entry.location.toString();
        case 1:
            return entry.title;
        case 2:
            return entry.artist;
        default:
            return entry.duration < 0 ? QVariant() : QVariant(entry.duration);
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        static const char* const names[] = {"Location", "Title", "Artist", "Duration"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 3)
            return QVariant();
        return QString::fromLatin1(names[section]);
    }

    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override
    {
        if (parent.isValid() || row < 0 || count <= 0 || row + count > entries.size())
            return false;
        beginRemoveRows(QModelIndex(), row, row + count - 1);
        entries.remove(row, count);
        endRemoveRows();
        return true;
    }

    void append(const QList<Entry>& more)
    {
        if (more.isEmpty())
            return;
        beginInsertRows(QModelIndex(), int(entries.size()), int(entries.size() + more.size() - 1));
        entries.append(more);
        endInsertRows();
    }

    QList<Entry> entries;
};

} // namespace

class RovaPlaylistFilePrivate
{
public:
    EntryModel* model; // a child of the playlist, so it outlives the proxy
};

bool RovaPlaylistFile::Entry::operator==(const Entry& other) const
{
    return location == other.location && title == other.title && artist == other.artist && duration == other.duration;
}

RovaPlaylistFile::RovaPlaylistFile(const QString& id, const QString& name)
    : RovaPlaylistBase(id, name)
    , d(new RovaPlaylistFilePrivate{new EntryModel(this)})
{
    setUnderlyingModel(d->model);
}

RovaPlaylistFile::~RovaPlaylistFile()
{
    delete d;
}

RovaPlaylistFile::Format RovaPlaylistFile::formatOf(const QString& path)
{
    static const QLatin1String suffixes[] = {QLatin1String(".m3u"), QLatin1String(".m3u8"), QLatin1String(".pls"), QLatin1String(".xspf")};
    for (int i = 0; i < 4; ++i) {
        if (path.endsWith(suffixes[i], Qt::CaseInsensitive))
            return Format(i + 1);
    }
    return UnknownFormat;
}

RovaPlaylistFile::ReadResult RovaPlaylistFile::read(const QString& path, ReadOptions options)
{
    ReadResult result;
    const QFileInfo info(path);
    if (info.isDir()) {
        result.error = QStringLiteral("a folder");
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = info.exists() ? file.errorString() : QStringLiteral("no such file");
        return result;
    }
    return read(file, info.absolutePath(), sniff(file, path), options);
}

RovaPlaylistFile::ReadResult RovaPlaylistFile::read(QIODevice& device, const QString& baseDir, Format format, ReadOptions options)
{
    ReadResult result;
    result.format = format;
    Reader reader(baseDir, options, result);
    switch (format) {
    case PLS:
        readPls(device, reader);
        break;
    case XSPF:
        readXspf(device, reader);
        break;
    case M3U8:
        readM3u(device, false, reader);
        break;
    default:
        result.format = M3U;
        readM3u(device, true, reader);
        break;
    }
    return result;
}

bool RovaPlaylistFile::write(const QString& path, const QList<Entry>& entries, QString* error, Format format)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (format == UnknownFormat)
        format = formatOf(path);
    if (format == UnknownFormat)
        return fail(QStringLiteral("the name says no playlist format (.m3u, .m3u8, .pls or .xspf)"));
    const QFileInfo info(path);
    QString base = info.absolutePath(), canonicalBase = QFileInfo(base).canonicalFilePath();
    for (QString* folder : {&base, &canonicalBase}) {
        if (!folder->isEmpty() && !folder->endsWith(u'/'))
            folder->append(u'/');
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());

    if (format == XSPF) {
        QXmlStreamWriter xml(&file);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        xml.writeStartElement(QStringLiteral("playlist"));
        xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
        xml.writeDefaultNamespace(QStringLiteral("http://xspf.org/ns/0/"));
        xml.writeStartElement(QStringLiteral("trackList"));
        for (const Entry& entry : entries) {
            xml.writeStartElement(QStringLiteral("track"));
            xml.writeTextElement(QStringLiteral("location"),
                                 entry.location.isLocalFile() ? pathText(entry.location.toLocalFile(), base, canonicalBase, true)
                                                              : QString::fromUtf8(entry.location.toEncoded()));
            if (!entry.title.isEmpty())
                xml.writeTextElement(QStringLiteral("title"), oneLine(entry.title));
            if (!entry.artist.isEmpty())
                xml.writeTextElement(QStringLiteral("creator"), oneLine(entry.artist));
            if (entry.duration >= 0)
                xml.writeTextElement(QStringLiteral("duration"), QString::number(qint64(entry.duration) * 1000));
            xml.writeEndElement();
        }
        xml.writeEndDocument();
        if (xml.hasError())
            return fail(file.errorString());
    } else {
        QString text;
        text.reserve(1 << 16);
        bool ok = true;
        auto flush = [&](bool force) {
            if (ok && (force || text.size() >= (1 << 15))) {
                const QByteArray bytes = text.toUtf8();
                ok = file.write(bytes) == bytes.size();
                text.resize(0); // keeps the room
            }
        };
        text += format == PLS ? QStringLiteral("[playlist]\n") : QStringLiteral("#EXTM3U\n");
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const Entry& entry = entries.at(i);
            const QString location = entry.location.isLocalFile() ? pathText(entry.location.toLocalFile(), base, canonicalBase, false)
                                                                  : QString::fromUtf8(entry.location.toEncoded());
            const bool described = entry.duration >= 0 || !entry.title.isEmpty() || !entry.artist.isEmpty();
            if (format == PLS) {
                text += QLatin1String("File");
                appendNumber(text, i + 1);
                text += u'=' + location + u'\n';
                if (described) {
                    text += QLatin1String("Title");
                    appendNumber(text, i + 1);
                    text += u'=';
                    appendTitle(text, entry);
                    text += QLatin1String("\nLength");
                    appendNumber(text, i + 1);
                    text += u'=';
                    appendNumber(text, entry.duration);
                    text += u'\n';
                }
            } else {
                if (described) {
                    text += extinf;
                    appendNumber(text, entry.duration);
                    text += u',';
                    appendTitle(text, entry);
                    text += u'\n';
                }
                text += location + u'\n';
            }
            flush(false);
        }
        if (format == PLS)
            text += QLatin1String("NumberOfEntries=") + QString::number(entries.size()) + QLatin1String("\nVersion=2\n");
        flush(true);
        if (!ok)
            return fail(file.errorString());
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

bool RovaPlaylistFile::write(const QString& path, RovaPlaylist* playlist, QString* error, Format format)
{
    return write(path, playlist ? entriesOf(playlist) : QList<Entry>(), error, format);
}

QList<RovaPlaylistFile::Entry> RovaPlaylistFile::entriesOf(RovaPlaylist* playlist)
{
    QList<Entry> entries;
    if (auto* file = qobject_cast<RovaPlaylistFile*>(playlist); file && !file->isShuffled() && file->getSortOrder() == SortNone)
        return file->entries();
    const int size = playlist ? playlist->size() : 0;
    entries.reserve(size);
    for (int i = 0; i < size; ++i) {
        const RovaMediaInfo info = playlist->getItemMediaInfo(i);
        const QVariant uri = info.firstMetaData(QStringLiteral("uri"));
        const QUrl location = uri.typeId() == QMetaType::QUrl ? uri.toUrl()
            : uri.toString().startsWith(u'/')                ? QUrl::fromLocalFile(uri.toString())
                                                              : QUrl::fromEncoded(uri.toString().toUtf8());
        if (location.isEmpty())
            continue;
        const QVariant duration = info.firstMetaData(QStringLiteral("duration"));
        entries.append({location, info.firstMetaData(QStringLiteral("title")).toString(),
                        info.firstMetaData(QStringLiteral("artist")).toString(), duration.isValid() ? duration.toInt() : -1});
    }
    return entries;
}

QList<RovaPlaylistFile::Entry> RovaPlaylistFile::entries() const
{
    return d->model->entries;
}

void RovaPlaylistFile::appendEntries(const QList<Entry>& entries)
{
    d->model->append(entries);
}

bool RovaPlaylistFile::import(QFile& file)
{
    if (!file.isOpen() && !file.open(QIODevice::ReadOnly)) {
        qWarning() << "RovaPlaylistFile::import: cannot read" << file.fileName() << file.errorString();
        return false;
    }
    const ReadResult result = read(file, QFileInfo(file.fileName()).absolutePath(), sniff(file, file.fileName()));
    if (result.skippedCount > 0)
        qWarning() << "RovaPlaylistFile::import: unusable entries skipped:" << result.skippedCount << "in" << file.fileName();
    appendEntries(result.entries);
    return true;
}

RovaMediaInfo RovaPlaylistFile::getItemMediaInfo(int index)
{
    RovaMediaInfo info;
    auto* proxy = qobject_cast<QAbstractProxyModel*>(model());
    const int row = proxy ? proxy->mapToSource(proxy->index(index, 0)).row() : -1;
    if (row < 0 || row >= int(d->model->entries.size())) {
        qWarning() << "virtual RovaMediaInfo RovaPlaylistFile::getItemMediaInfo(int)" << index << "invalid index";
        return info;
    }
    const Entry& entry = d->model->entries.at(row);
    info.setUuid(ROVA_PLAYLIST_FILE_SOURCE + QLatin1String("::") + QString::fromUtf8(entry.location.toEncoded()));
    info.appendMetaData(QStringLiteral("uri"), {entry.location});
    if (!entry.title.isEmpty())
        info.appendMetaData(QStringLiteral("title"), {entry.title});
    if (!entry.artist.isEmpty())
        info.appendMetaData(QStringLiteral("artist"), {entry.artist});
    if (entry.duration >= 0)
        info.appendMetaData(QStringLiteral("duration"), {entry.duration});
    return info;
}

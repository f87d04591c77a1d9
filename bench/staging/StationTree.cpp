#include "bench/staging/StationTree.h"

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace vz::bench {

namespace {

constexpr qint64 KB = 1024;
constexpr qint64 MB = 1024 * KB;

class Writer {
public:
    explicit Writer(const QString& root) : root_(root), random_(20261208)
    {
        // Incompressible bytes for audio and databases, printable ones for texts.
        noise_.resize(16 * MB);
        for (qsizetype i = 0; i < noise_.size(); i += 8) {
            const quint64 v = random_();
            std::memcpy(noise_.data() + i, &v, 8);
        }
        text_.resize(64 * KB);
        const char* words[] = {"vinheta ", "comercial ", "musica ", "bloco ", "intervalo ", "locutor ",
                               "09:30:00;", "C:\\Vireo\\Audio\\", ".mp3;", "\r\n"};
        qsizetype at = 0;
        while (at < text_.size()) {
            const char* w = words[random_() % 10];
            for (; *w && at < text_.size(); ++w)
                text_[at++] = *w;
        }
    }

    qint64 between(qint64 low, qint64 high) { return low + static_cast<qint64>(random_() % quint64(high - low + 1)); }

    void file(const QString& relative, qint64 bytes, bool text)
    {
        const QString path = root_ + QLatin1Char('/') + relative;
        const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
        const QString folder = path.left(cut);
        if (folder != lastFolder_) {
            QDir().mkpath(folder);
            lastFolder_ = folder;
            ++shape.folders;
        }
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        const QByteArray& source = text ? text_ : noise_;
        qint64 left = bytes;
        while (left > 0) {
            const qint64 offset = between(0, source.size() / 2);
            const qint64 chunk = std::min<qint64>(left, source.size() - offset);
            f.write(source.constData() + offset, chunk);
            left -= chunk;
        }
        f.close();
        // Times in 2024, odd and even seconds alike.
        hostfs::setModifiedTime(path, 1704103200000LL + between(0, 300LL * 86400) * 1000 + between(0, 999));
        shape.sizeBytes += bytes;
        ++shape.files;
    }

    TreeShape shape;

private:
    QString root_;
    QString lastFolder_;
    std::mt19937_64 random_;
    QByteArray noise_, text_;
};

qint64 scaled(double scale, qint64 count) { return std::max<qint64>(1, std::llround(count * scale)); }

QString two(qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

}  // namespace

TreeShape StationTree::write(const QString& hostFolder) const
{
    Writer w(hostFolder);
    const QString system = QStringLiteral("Vireo Cast/");

    // Files directly in the installation folder.
    for (qint64 i = 0; i < scaled(scale_, 40); ++i)
        w.file(system + QStringLiteral("Config%1.ini").arg(i), w.between(KB / 2, 8 * KB), true);

    // Databases: a few files of 50 to 200 MB.
    const char* databases[] = {"VireoAudio.fdb", "VireoAdm.fdb", "VireoLog.fdb"};
    const qint64 databaseSizes[] = {190 * MB, 60 * MB, 100 * MB};
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && scale_ < 0.34 * i)
            break;
        w.file(system + QStringLiteral("Vireodb/") + QLatin1String(databases[i]),
               std::max<qint64>(MB, std::llround(databaseSizes[i] * std::min(1.0, scale_ * 1.0))), false);
    }

    // Daily programme lists: year/month folders with many small files.
    qint64 lists = scaled(scale_, 11500);
    for (qint64 i = 0; i < lists; ++i) {
        const qint64 month = i / 120;
        w.file(system + QStringLiteral("Listas/%1/%2/Lista %3.lst").arg(2019 + month / 12).arg(two(month % 12 + 1)).arg(i),
               w.between(KB, 8 * KB), true);
    }
    // Loose texts and reports.
    for (qint64 i = 0; i < scaled(scale_, 2500); ++i)
        w.file(system + QStringLiteral("Textos Avulsos/Pasta %1/Texto %2.txt").arg(two(i / 60)).arg(i),
               w.between(KB / 2, 6 * KB), true);
    for (qint64 i = 0; i < scaled(scale_, 3000); ++i)
        w.file(system + QStringLiteral("Relatorios/%1/Relatorio %2.csv").arg(two(i / 100)).arg(i), w.between(KB, 8 * KB),
               true);
    for (qint64 i = 0; i < scaled(scale_, 12); ++i)
        w.file(system + QStringLiteral("Plugins/Plugin%1.dll").arg(i), w.between(100 * KB, MB), false);

    // Short clips of the audio libraries.
    const char* libraries[] = {"Comerciais", "Vinhetas", "Trilhas", "Efeitos", "Locucoes", "Textos"};
    const qint64 clips = scaled(scale_, 2300);
    for (qint64 i = 0; i < clips; ++i)
        w.file(system + QLatin1String(libraries[i % 6]) + QStringLiteral("/Grupo %1/Audio %2.mp3").arg(two(i / 6 % 8)).arg(i),
               w.between(20 * KB, 300 * KB), false);

    // Music: files of 1 to 8 MB in folders of a genre each.
    const qint64 songs = scaled(scale_, 160);
    for (qint64 i = 0; i < songs; ++i)
        w.file(QStringLiteral("Musicas/Genero %1/Faixa %2.mp3").arg(two(i % 16)).arg(i), w.between(MB, 8 * MB), false);
    return w.shape;
}

}  // namespace vz::bench

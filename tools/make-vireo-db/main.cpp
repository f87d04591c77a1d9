// make-vireo-db: creates VireoAdm.fdb or VireoAudio.fdb as the automation
// system has them, for tests and the demo installation.
//
//   make-vireo-db adm FILE [options] [--config CODIGO GUID]... [--config-null CODIGO]...
//   make-vireo-db audio FILE [options] [--folder PATH]... [--folder-null]...
//
// Options: --dialect N (1, the default, or 3); --replace (an existing FILE is
// deleted first); --sql STATEMENT (run after the tables are created, before
// the rows). Values are given in the terminal's encoding and stored as
// Windows-1252 bytes.

#include "VireoDatabaseMaker.h"

#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: make-vireo-db adm|audio FILE [--dialect N] [--replace] [--sql STATEMENT]...\n"
               "         [--config CODIGO GUID]... [--config-null CODIGO]...   (adm)\n"
               "         [--folder PATH]... [--folder-null]...                 (audio)\n",
               stderr);
    return 2;
}

void fail(const QString& message) { std::fprintf(stderr, "make-vireo-db: %s\n", message.toLocal8Bit().constData()); }

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 2)
        return usage();
    const QString kind = args.at(0);
    const bool adm = kind == QLatin1String("adm");
    if (!adm && kind != QLatin1String("audio"))
        return usage();
    const QString file = QFileInfo(args.at(1)).absoluteFilePath();

    int dialect = 1;
    bool replace = false;
    QStringList extra;
    QStringList rows;
    int folderCode = 0;
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString& option = args.at(i);
        auto value = [&]() -> QString {
            if (++i >= args.size())
                throw vz::Error(QStringLiteral("missing value after ") + option);
            return args.at(i);
        };
        auto number = [&]() -> int {
            bool ok = false;
            const int n = value().toInt(&ok);
            if (!ok)
                throw vz::Error(QStringLiteral("not a number after ") + option);
            return n;
        };
        try {
            if (option == QLatin1String("--dialect")) {
                dialect = number();
                if (dialect != 1 && dialect != 3)
                    return usage();
            } else if (option == QLatin1String("--replace")) {
                replace = true;
            } else if (option == QLatin1String("--sql")) {
                extra.append(value());
            } else if (adm && option == QLatin1String("--config")) {
                const int code = number();
                rows.append(QStringLiteral("INSERT INTO TB_CONFIGURACAO (CFG_CODIGO, CFG_EMISSORA, CFG_GUID, "
                                           "CFG_DATA_INSTALACAO) VALUES (%1, 'Rádio Vireo', %2, 'NOW')")
                                .arg(code)
                                .arg(vz::VireoDatabaseMaker::literal(value())));
            } else if (adm && option == QLatin1String("--config-null")) {
                rows.append(QStringLiteral("INSERT INTO TB_CONFIGURACAO (CFG_CODIGO, CFG_EMISSORA) VALUES (%1, "
                                           "'Rádio Vireo')")
                                .arg(number()));
            } else if (!adm && option == QLatin1String("--folder")) {
                rows.append(QStringLiteral("INSERT INTO Tb_Pastas (Pas_Codigo, Pas_Descricao, Pas_Path) VALUES "
                                           "(%1, 'Pasta %1', %2)")
                                .arg(++folderCode)
                                .arg(vz::VireoDatabaseMaker::literal(value())));
            } else if (!adm && option == QLatin1String("--folder-null")) {
                rows.append(QStringLiteral("INSERT INTO Tb_Pastas (Pas_Codigo, Pas_Descricao) VALUES (%1, "
                                           "'Pasta %1')")
                                .arg(++folderCode));
            } else {
                return usage();
            }
        } catch (const vz::Error& e) {
            fail(e.message());
            return usage();
        }
    }

    try {
        if (replace && vz::hostfs::exists(file) && !vz::hostfs::removeFile(file))
            throw vz::Error(QStringLiteral("cannot delete ") + file);
        const vz::VireoDatabaseMaker maker(vz::FirebirdClient::Load());
        QStringList schema = adm ? vz::VireoDatabaseMaker::AdmSchema() : vz::VireoDatabaseMaker::AudioSchema();
        schema += extra;
        maker.create(file, dialect, schema, rows);
    } catch (const vz::Error& e) {
        fail(e.message());
        return 1;
    }
    return 0;
}

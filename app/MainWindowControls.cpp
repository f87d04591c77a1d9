#include "app/MainWindowControls.h"

#include "app/Pictures.h"

namespace vz {

namespace {

template <typename T, typename... Args>
T* make(QWidget* parent, QAnyStringView name, QRect geometry, Args&&... args)
{
    T* widget = new T(std::forward<Args>(args)..., parent);
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    return widget;
}


QPushButton* button(QWidget* page, QAnyStringView name, QRect geometry, const QString& caption, const QIcon& picture)
{
    QPushButton* b = make<QPushButton>(page, name, geometry, picture, caption);
    b->setFont(MainWindowControls::verdana(8));
    b->setIconSize(QSize(24, 24));
    b->setCursor(Qt::PointingHandCursor);
    QPalette black = b->palette();
    black.setColor(QPalette::ButtonText, Qt::black);
    b->setPalette(black);
    return b;
}

StepList* stepList(QWidget* page, QAnyStringView name, const QStringList& steps)
{
    StepList* list = new StepList(steps, page);
    list->setObjectName(name);
    list->setGeometry(4, 88, 429, 89);
    list->setFont(MainWindowControls::verdana(9));
    QPalette black = list->palette();
    black.setColor(QPalette::Text, Qt::black);
    list->setPalette(black);
    return list;
}

// The lower part both pages share: the progress labels and bar, and the buttons.
struct RunArea {
    RunArea(QWidget* page, const char* suffix, const QString& startCaption, const QIcon& startPicture)
    {
        const auto name = [suffix](const char* kind) -> QString { return QLatin1String(kind) + QLatin1String(suffix); };
        // As wide as the page: a text never needs the label to grow.
        progress = make<ProgressLabel>(page, name("lblProgresso"), QRect(4, 180, 429, 15));
        destination = make<ProgressLabel>(page, name("lblDestino"), QRect(4, 196, 429, 15));
        bar = make<ProgressBar>(page, name("pgb"), QRect(4, 212, 429, 16));
        start = button(page, name("btnIniciar"), QRect(4, 243, 150, 41), startCaption, startPicture);
        hide = button(page, name("btnOcultar"), QRect(157, 243, 136, 41), QStringLiteral("Ocultar"),
                      Pictures::hideButton());
        close = button(page, name("btnFechar"), QRect(296, 243, 136, 41), QStringLiteral("Fechar"),
                       Pictures::closeButton());
    }
    ProgressLabel* progress;
    ProgressLabel* destination;
    ProgressBar* bar;
    QPushButton* start;
    QPushButton* hide;
    QPushButton* close;
};

}  // namespace

QFont MainWindowControls::windowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(8);
    return font;
}

QFont MainWindowControls::verdana(int points)
{
    QFont font;
    font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(points);
    return font;
}

MainWindowControls::MainWindowControls(QWidget* window)
{
    window->setFont(windowFont());
    PageControl1 = make<QTabWidget>(window, "PageControl1", QRect(0, 0, ClientWidth, ClientHeight));

    // "Exportar"
    tabExportar = new QWidget;
    tabExportar->setObjectName(QStringLiteral("tabExportar"));
    PageControl1->addTab(tabExportar, QStringLiteral("Exportar"));
    grpExportacao = make<QGroupBox>(tabExportar, "grpExportacao", QRect(4, 0, 429, 86), QStringLiteral("Exportar"));
    chkDados = make<QCheckBox>(grpExportacao, "chkDados", QRect(8, 16, 321, 17),
                               QStringLiteral("Dados (Arquivos do Sistema/Base de Dados/Programações)"));
    chkDados->setChecked(true);
    chkDados->setEnabled(false);
    chkAudios = make<QCheckBox>(grpExportacao, "chkAudios", QRect(8, 32, 297, 17),
                                QStringLiteral("Áudios (Comerciais/Vinhetas/Trilhas/Efeitos/Locuções)"));
    chkAudios->setChecked(true);
    chkMusicas = make<QCheckBox>(grpExportacao, "chkMusicas", QRect(8, 48, 121, 17), QStringLiteral("Músicas"));
    chkGeral = make<QCheckBox>(grpExportacao, "chkGeral", QRect(8, 64, 121, 17), QStringLiteral("Geral"));
    trvExportacao = stepList(tabExportar, "trvExportacao",
                             {QStringLiteral("Dados (Arquivos do Sistema/Base de Dados/Programações)"),
                              QStringLiteral("Áudio (Comerciais/Vinhetas/Efeitos/Locuções)"),
                              QStringLiteral("Músicas"), QStringLiteral("Compactando"),
                              QStringLiteral("Transferindo")});
    const RunArea exportArea(tabExportar, "Exportacao", QStringLiteral("Iniciar Exportação"), Pictures::exportButton());
    lblProgressoExportacao = exportArea.progress;
    lblDestinoExportacao = exportArea.destination;
    pgbExportacao = exportArea.bar;
    btnIniciarExportacao = exportArea.start;
    btnOcultarExportacao = exportArea.hide;
    btnFecharExportacao = exportArea.close;

    // "Importar": the same layout.
    tabImportar = new QWidget;
    tabImportar->setObjectName(QStringLiteral("tabImportar"));
    PageControl1->addTab(tabImportar, QStringLiteral("Importar"));
    grpImportacao = make<QGroupBox>(tabImportar, "grpImportacao", QRect(4, 0, 429, 86), QStringLiteral("Arquivo"));
    rbtRestaurarWeb = make<QRadioButton>(grpImportacao, "rbtRestaurarWeb", QRect(8, 24, 160, 17),
                                         QStringLiteral("Restaurar da web"));
    rbtRestaurarWeb->setChecked(true);
    rbtRestaurarArquivo = make<QRadioButton>(grpImportacao, "rbtRestaurarArquivo", QRect(8, 56, 160, 17),
                                             QStringLiteral("Restaurar de um arquivo"));
    trvImportacao = stepList(tabImportar, "trvImportacao",
                             {QStringLiteral("Baixando alterações"), QStringLiteral("Descompactando"),
                              QStringLiteral("Aplicando alterações")});
    const RunArea importArea(tabImportar, "Importacao", QStringLiteral("Iniciar Importação"), Pictures::importButton());
    lblProgressoImportacao = importArea.progress;
    lblDestinoImportacao = importArea.destination;
    pgbImportacao = importArea.bar;
    btnIniciarImportacao = importArea.start;
    btnOcultarImportacao = importArea.hide;
    btnFecharImportacao = importArea.close;
    PageControl1->setCurrentWidget(tabExportar);
}

}  // namespace vz

#include "app/MainWindowControls.h"

#include "app/Pictures.h"

namespace vz {

namespace {

template <typename T, typename... Args>
T* make(QWidget* parent, const char* name, QRect geometry, Args&&... args)
{
    T* widget = new T(std::forward<Args>(args)..., parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

ProgressLabel* progressLabel(QWidget* page, const char* name, int top)
{
    // As wide as the page: a text never needs the label to grow.
    return make<ProgressLabel>(page, name, QRect(4, top, 429, 15));
}

QPushButton* button(QWidget* page, const char* name, QRect geometry, const QString& caption, const QIcon& picture)
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

StepList* stepList(QWidget* page, const char* name, const QStringList& steps)
{
    StepList* list = new StepList(steps, page);
    list->setObjectName(QLatin1String(name));
    list->setGeometry(4, 88, 429, 89);
    list->setFont(MainWindowControls::verdana(9));
    QPalette black = list->palette();
    black.setColor(QPalette::Text, Qt::black);
    list->setPalette(black);
    return list;
}

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
    lblProgressoExportacao = progressLabel(tabExportar, "lblProgressoExportacao", 180);
    lblDestinoExportacao = progressLabel(tabExportar, "lblDestinoExportacao", 196);
    pgbExportacao = make<ProgressBar>(tabExportar, "pgbExportacao", QRect(4, 212, 429, 16));
    btnIniciarExportacao = button(tabExportar, "btnIniciarExportacao", QRect(4, 243, 150, 41),
                                  QStringLiteral("Iniciar Exportação"), Pictures::exportButton());
    btnOcultarExportacao = button(tabExportar, "btnOcultarExportacao", QRect(157, 243, 136, 41),
                                  QStringLiteral("Ocultar"), Pictures::hideButton());
    btnFecharExportacao = button(tabExportar, "btnFecharExportacao", QRect(296, 243, 136, 41),
                                 QStringLiteral("Fechar"), Pictures::closeButton());

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
    lblProgressoImportacao = progressLabel(tabImportar, "lblProgressoImportacao", 180);
    lblDestinoImportacao = progressLabel(tabImportar, "lblDestinoImportacao", 196);
    pgbImportacao = make<ProgressBar>(tabImportar, "pgbImportacao", QRect(4, 212, 429, 16));
    btnIniciarImportacao = button(tabImportar, "btnIniciarImportacao", QRect(4, 243, 150, 41),
                                  QStringLiteral("Iniciar Importação"), Pictures::importButton());
    btnOcultarImportacao = button(tabImportar, "btnOcultarImportacao", QRect(157, 243, 136, 41),
                                  QStringLiteral("Ocultar"), Pictures::hideButton());
    btnFecharImportacao = button(tabImportar, "btnFecharImportacao", QRect(296, 243, 136, 41),
                                 QStringLiteral("Fechar"), Pictures::closeButton());
    PageControl1->setCurrentWidget(tabExportar);
}

}  // namespace vz

#pragma once
// Every control of the main window, built at its place (pixels at 96 dots per
// inch) and named after its component (objectName), on the two pages of the
// tab control PageControl1.

#include "app/ProgressBar.h"
#include "app/ProgressLabel.h"
#include "app/StepList.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

namespace vz {

struct MainWindowControls {
    static constexpr int ClientWidth = 445;
    static constexpr int ClientHeight = 317;

    // Builds the controls as children of window.
    explicit MainWindowControls(QWidget* window);

    QTabWidget* PageControl1;
    QWidget* tabExportar;
    QWidget* tabImportar;

    QGroupBox* grpExportacao;
    QCheckBox* chkDados;
    QCheckBox* chkAudios;
    QCheckBox* chkMusicas;
    QCheckBox* chkGeral;
    StepList* trvExportacao;
    ProgressLabel* lblProgressoExportacao;
    ProgressLabel* lblDestinoExportacao;
    ProgressBar* pgbExportacao;
    QPushButton* btnIniciarExportacao;
    QPushButton* btnOcultarExportacao;
    QPushButton* btnFecharExportacao;

    QGroupBox* grpImportacao;
    QRadioButton* rbtRestaurarWeb;
    QRadioButton* rbtRestaurarArquivo;
    StepList* trvImportacao;
    ProgressLabel* lblProgressoImportacao;
    ProgressLabel* lblDestinoImportacao;
    ProgressBar* pgbImportacao;
    QPushButton* btnIniciarImportacao;
    QPushButton* btnOcultarImportacao;
    QPushButton* btnFecharImportacao;

    // Faces of the original design when installed, else the closest ones.
    static QFont windowFont();   // "MS Sans Serif", 8 points
    static QFont verdana(int points);
};

}  // namespace vz

// The Qt dialogs, driven as a user would: the program's and the archive
// component's message boxes with their buttons, default and Escape answers,
// the text-input box, and the file dialogs with Windows paths in and out.

#include "app/QtUserDialogs.h"
#include "tests/support/TempPrefix.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace vz;
using namespace vz::test;

namespace {

// Runs `act` on the next modal dialog once it is shown.
void whenModal(std::function<void(QWidget*)> act)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act(modal);
    });
    poll->start();
}

QStringList buttonTexts(QWidget* box)
{
    QStringList texts;
    for (QAbstractButton* b : box->findChild<QDialogButtonBox*>()->buttons())
        texts << b->text();
    return texts;
}

QPushButton* buttonNamed(QWidget* box, const QString& text)
{
    for (QPushButton* b : box->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

class UserDialogsTest : public ::testing::Test {
protected:
    TempPrefix prefix{u"c"_qs};
    DriveMap map = prefix.driveMap();
    QtUserDialogs dialogs{map, u"Vireo Zuvavivevo"_qs};

    MessageRequest component(quint32 buttons)
    {
        MessageRequest r;
        r.caption = u"Confirm"_qs;
        r.text = u"Overwrite file C:\\1A2B.zip?"_qs;
        r.icon = DialogIcon::Question;
        r.buttons = buttons;
        r.style = DialogStyle::Component;
        return r;
    }
};

TEST_F(UserDialogsTest, ComponentBoxesUseTheirCaptionsCentredOnTheScreen)
{
    QStringList texts;
    QString defaultText;
    QPoint centre;
    whenModal([&](QWidget* box) {
        texts = buttonTexts(box);
        defaultText = static_cast<QMessageBox*>(box)->defaultButton()->text();
        centre = box->geometry().center();
        EXPECT_EQ(box->windowTitle(), u"Confirm"_qs);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    const DialogButton answer = dialogs.showMessage(
        component(ButtonYes | ButtonNo | ButtonCancel | ButtonYesToAll | ButtonNoToAll | ButtonCancelAll));
    EXPECT_EQ(texts, (QStringList{u"&Yes"_qs, u"YesToAll"_qs, u"&No"_qs, u"NoToAll"_qs, u"&Cancel"_qs,
                                  u"CancelAll"_qs}));
    EXPECT_EQ(defaultText, u"&Yes"_qs);
    EXPECT_EQ(answer, ButtonCancel);
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((centre - screenCentre).manhattanLength(), 2);
}

TEST_F(UserDialogsTest, ComponentEscapeFallsBackToNoThenOk)
{
    whenModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(dialogs.showMessage(component(ButtonYes | ButtonNo)), ButtonNo);

    whenModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(dialogs.showMessage(component(ButtonOk | ButtonIgnore)), ButtonOk);

    // Abort, Retry and Ignore: Escape answers nothing; Retry is the default.
    QString defaultText;
    whenModal([&](QWidget* box) {
        QTest::keyClick(box, Qt::Key_Escape);
        EXPECT_TRUE(box->isVisible());
        defaultText = static_cast<QMessageBox*>(box)->defaultButton()->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(dialogs.showMessage(component(ButtonAbort | ButtonRetry | ButtonIgnore)), ButtonRetry);
    EXPECT_EQ(defaultText, u"&Retry"_qs);

    // With OK and Yes, OK is the default.
    whenModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(dialogs.showMessage(component(ButtonOk | ButtonYes | ButtonCancel)), ButtonOk);
}

TEST_F(UserDialogsTest, ProgramBoxesSpeakPortugueseAndReportTheButtonPressed)
{
    MessageRequest question;
    question.caption = u"Vireo Zuvavivevo"_qs;
    question.text = u"Não foi possível enviar o arquivo. Deseja salvá-lo em outro local?"_qs;
    question.icon = DialogIcon::Question;
    question.buttons = ButtonYes | ButtonNo;
    QStringList texts;
    QString shownText;
    whenModal([&](QWidget* box) {
        texts = buttonTexts(box);
        shownText = static_cast<QMessageBox*>(box)->text();
        QTest::keyClick(box, Qt::Key_Escape);  // a Yes/No question cannot be escaped
        EXPECT_TRUE(box->isVisible());
        buttonNamed(box, u"&Não"_qs)->click();
    });
    EXPECT_EQ(dialogs.showMessage(question), ButtonNo);
    EXPECT_EQ(texts, (QStringList{u"&Sim"_qs, u"&Não"_qs}));
    EXPECT_EQ(shownText, question.text);

    MessageRequest notice;
    notice.caption = u"Vireo Zuvavivevo"_qs;
    notice.text = u"Arquivo zip não encontrado"_qs;
    whenModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(dialogs.showMessage(notice), ButtonOk);
}

TEST_F(UserDialogsTest, TheInputBoxShowsEveryPromptLineAndCancelGivesBackTheInitialText)
{
    const QString prompt = u"Essa é a primeira execução do Vireo Zuvavivevo.\rInforme a data inicial do backup\r"
                           u"(Para copiar tudo, deixe em branco)"_qs;
    QString label;
    whenModal([&](QWidget* dialog) {
        label = dialog->findChild<QLabel*>()->text();
        EXPECT_EQ(dialog->windowTitle(), u"Vireo Zuvavivevo"_qs);
        dialog->findChild<QLineEdit*>()->setText(u"typed"_qs);
        static_cast<QDialog*>(dialog)->reject();
    });
    EXPECT_EQ(dialogs.inputText(u"Vireo Zuvavivevo"_qs, prompt, u"initial"_qs), u"initial"_qs);
    EXPECT_EQ(label.split(QLatin1Char('\n')).size(), 3);
    EXPECT_TRUE(label.startsWith(u"Essa é a primeira execução"_qs));

    whenModal([](QWidget* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>();
        EXPECT_TRUE(edit->text().isEmpty());
        edit->setText(u"08/12/2026"_qs);
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(dialogs.inputText(u"Vireo Zuvavivevo"_qs, prompt, QString()), u"08/12/2026"_qs);
}

TEST_F(UserDialogsTest, TheOpenDialogListsTheArchiveAndAnswersWithAWindowsPath)
{
    const QString folder = prefix.drive(u"c"_qs) + u"/Backups"_qs;
    writeFile(folder + u"/1A2B.zip"_qs, "PK");
    QStringList filters;
    QString directory;
    whenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        directory = dialog->directory().absolutePath();
        dialog->selectFile(folder + u"/1A2B.zip"_qs);
        static_cast<QDialog*>(dialog)->accept();
    });
    const auto chosen =
        dialogs.openFile({u"Arquivo do Zuvavivevo|1A2B.zip"_qs, QString(), u"C:\\Backups"_qs});
    EXPECT_EQ(filters, QStringList{u"Arquivo do Zuvavivevo (1A2B.zip)"_qs});
    EXPECT_EQ(directory, folder);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, u"C:\\Backups\\1A2B.zip"_qs);

    whenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    EXPECT_FALSE(dialogs.openFile({}).has_value());
}

TEST_F(UserDialogsTest, TheSaveDialogIsPresetAndAsksAgainForAPlaceOutsideEveryDrive)
{
    const QString target = prefix.drive(u"c"_qs) + u"/Destino"_qs;
    QDir().mkpath(target);
    QTemporaryDir outside;
    QString presetName;
    whenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        presetName = dialog->findChild<QLineEdit*>(u"fileNameEdit"_qs)->text();
        dialog->selectFile(outside.path() + u"/1A2B.zip"_qs);
        static_cast<QDialog*>(dialog)->accept();
        // The notice, then the dialog again.
        whenModal([&](QWidget* notice) {
            EXPECT_TRUE(static_cast<QMessageBox*>(notice)->text().contains(u"não pertence a nenhuma unidade"_qs));
            QTest::keyClick(notice, Qt::Key_Return);
            whenModal([&](QWidget* again) {
                auto* second = qobject_cast<QFileDialog*>(again);
                ASSERT_NE(second, nullptr);
                second->selectFile(target + u"/1A2B.zip"_qs);
                static_cast<QDialog*>(second)->accept();
            });
        });
    });
    const auto chosen = dialogs.saveFile({u"Arquivo do Zuvavivevo|1A2B.zip"_qs, u"1A2B.zip"_qs, u"C:\\"_qs});
    EXPECT_EQ(presetName, u"1A2B.zip"_qs);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, u"C:\\Destino\\1A2B.zip"_qs);
}

TEST(QtUserDialogsRules, FiltersAndButtonRules)
{
    EXPECT_EQ(QtUserDialogs::qtNameFilter(u"Arquivo do Zuvavivevo|1A2B.zip"_qs),
              u"Arquivo do Zuvavivevo (1A2B.zip)"_qs);
    EXPECT_EQ(QtUserDialogs::qtNameFilter(u"Zip|*.zip;*.z01|Todos|*.*"_qs), u"Zip (*.zip *.z01);;Todos (*.*)"_qs);
    EXPECT_TRUE(QtUserDialogs::qtNameFilter(QString()).isEmpty());
    EXPECT_EQ(QtUserDialogs::promptLines(u"a\rb\r\nc"_qs), u"a\nb\nc"_qs);
    EXPECT_EQ(QtUserDialogs::componentDefaultButton(ButtonYes | ButtonRetry), ButtonYes);
    EXPECT_EQ(QtUserDialogs::componentDefaultButton(ButtonNo | ButtonCancel), ButtonNone);
    EXPECT_EQ(QtUserDialogs::programEscapeButton(ButtonOk | ButtonCancel), ButtonCancel);
    EXPECT_EQ(QtUserDialogs::programEscapeButton(ButtonYes | ButtonNo), ButtonNone);
}

}  // namespace

#include "platform/qtplatform.h"

#include "registry/cp1252.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QTranslator>
#include <QLineEdit>
#include <QValidator>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QWindow>

namespace {

// A box that knows whether it was closed (Escape, its close button) rather
// than answered with one of its buttons.
class ClosableBox final : public QMessageBox {
public:
    using QMessageBox::QMessageBox;
    bool closed = false;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!event->matches(QKeySequence::Cancel))
            return QMessageBox::keyPressEvent(event);
        closed = true;
        reject();
    }
    // The toolkit's box would refuse to close, or count it as its No.
    void closeEvent(QCloseEvent *event) override
    {
        closed = true;
        QDialog::closeEvent(event);
    }
};

class Windows1252 final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override { return cp1252::holds(input) ? Acceptable : Invalid; }
};

Messages::Answer safeAnswer(Messages::Buttons buttons)
{
    switch (buttons) {
    case Messages::Buttons::Ok:
        return Messages::Answer::Ok;
    case Messages::Buttons::YesNo:
    case Messages::Buttons::YesNoDefaultNo:
        return Messages::Answer::No;
    case Messages::Buttons::RetryCancel:
        return Messages::Answer::Retry;
    case Messages::Buttons::YesNoOrBack:
    case Messages::Buttons::OkCancel:
        break;
    }
    return Messages::Answer::Cancel;
}

}

Messages::Answer QtMessages::show(const QString &text, Buttons buttons, Icon icon)
{
    ClosableBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::NoIcon, QStringLiteral("Climalog"),
             text, QMessageBox::NoButton, QApplication::activeWindow());
    // The toolkit's own buttons would read in English; these are the program's.
    QPushButton *first = nullptr;
    QPushButton *preferred = nullptr;
    switch (buttons) {
    case Buttons::Ok:
        first = box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
        break;
    case Buttons::YesNo:
    case Buttons::YesNoOrBack:
        first = box.addButton(QStringLiteral("&Sí"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        break;
    case Buttons::YesNoDefaultNo:
        first = box.addButton(QStringLiteral("&Sí"), QMessageBox::YesRole);
        preferred = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        break;
    case Buttons::OkCancel:
        first = box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
        break;
    case Buttons::RetryCancel:
        first = box.addButton(QStringLiteral("Reintentar"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
        break;
    }
    box.setDefaultButton(preferred ? preferred : first);
    box.exec();
    if (box.closed)
        return safeAnswer(buttons);
    const bool firstPressed = box.clickedButton() == first;
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::YesNo:
    case Buttons::YesNoOrBack:
    case Buttons::YesNoDefaultNo:
        return firstPressed ? Answer::Yes : Answer::No;
    case Buttons::OkCancel:
        return firstPressed ? Answer::Ok : Answer::Cancel;
    case Buttons::RetryCancel:
        return firstPressed ? Answer::Retry : Answer::Cancel;
    }
    return Answer::Ok;
}

void QtExplorer::open(const QString &folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

void pintaAhora(QWidget *window)
{
    QElapsedTimer waited;
    waited.start();
    while (window->isVisible() && window->windowHandle() && !window->windowHandle()->isExposed() && waited.elapsed() < 1000) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    window->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void applyProgramFont(QWidget *window)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    window->setFont(font);
}

void soloWindows1252(QLineEdit *box) { box->setValidator(new Windows1252(box)); }

bool cargaTraducciones()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    const QString language = QStringLiteral("qtbase_es");
    for (const QString &folder : {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)})
        if (translator->load(language, folder))
            return QCoreApplication::installTranslator(translator);
    delete translator;
    return false;
}

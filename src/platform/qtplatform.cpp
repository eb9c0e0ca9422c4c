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
    State validate(QString &input, int &) const override
    {
        return cp1252::holds(input) ? Acceptable : Invalid;
    }
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
    ClosableBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
                    QStringLiteral("Climalog"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    // The toolkit's own buttons would read in English; these are the program's.
    struct Choice {
        const char *label;
        QMessageBox::ButtonRole role;
        Answer answer;
    };
    struct Layout {
        Choice first, second;
        bool secondIsDefault;
    };
    constexpr Choice yes{"&Sí", QMessageBox::YesRole, Answer::Yes};
    constexpr Choice no{"&No", QMessageBox::NoRole, Answer::No};
    constexpr Choice cancel{"Cancelar", QMessageBox::RejectRole, Answer::Cancel};
    constexpr Choice none{nullptr, QMessageBox::NoRole, Answer::Ok};
    Layout layout{{"Aceptar", QMessageBox::AcceptRole, Answer::Ok}, none, false};
    switch (buttons) {
    case Buttons::Ok:
        break;
    case Buttons::YesNo:
    case Buttons::YesNoOrBack:
        layout = {yes, no, false};
        break;
    case Buttons::YesNoDefaultNo:
        layout = {yes, no, true};
        break;
    case Buttons::OkCancel:
        layout.second = cancel;
        break;
    case Buttons::RetryCancel:
        layout = {{"Reintentar", QMessageBox::AcceptRole, Answer::Retry}, cancel, false};
        break;
    }
    QPushButton *first = box.addButton(QString::fromUtf8(layout.first.label), layout.first.role);
    QPushButton *second = layout.second.label
        ? box.addButton(QString::fromUtf8(layout.second.label), layout.second.role)
        : nullptr;
    box.setDefaultButton(layout.secondIsDefault ? second : first);
    box.exec();
    if (box.closed)
        return safeAnswer(buttons);
    return box.clickedButton() == first ? layout.first.answer : layout.second.answer;
}

void QtExplorer::open(const QString &folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void pintaAhora(QWidget *window)
{
    QElapsedTimer waited;
    waited.start();
    while (window->isVisible() && window->windowHandle() && !window->windowHandle()->isExposed() &&
           waited.elapsed() < 1000) {
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
    for (const QString &folder :
         {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
          QLibraryInfo::path(QLibraryInfo::TranslationsPath)})
        if (translator->load(language, folder))
            return QCoreApplication::installTranslator(translator);
    delete translator;
    return false;
}

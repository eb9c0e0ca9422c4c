#include "platform/qtplatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QWindow>

Messages::Answer QtMessages::show(const QString &text, Buttons buttons, Icon icon)
{
    QMessageBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
                    QStringLiteral("Climalog"), text, QMessageBox::NoButton, QApplication::activeWindow());
    // The toolkit's own buttons would read in English; these are the program's.
    QPushButton *first = nullptr;
    QPushButton *second = nullptr;
    switch (buttons) {
    case Buttons::Ok:
        first = box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
        break;
    case Buttons::YesNo:
        first = box.addButton(QStringLiteral("&Sí"), QMessageBox::YesRole);
        second = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        break;
    case Buttons::OkCancel:
        first = box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
        second = box.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
        break;
    case Buttons::RetryCancel:
        first = box.addButton(QStringLiteral("Reintentar"), QMessageBox::AcceptRole);
        second = box.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
        break;
    }
    box.setDefaultButton(first);
    if (second)
        box.setEscapeButton(second);
    box.exec();
    const bool firstPressed = box.clickedButton() == first || !second;
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::YesNo:
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

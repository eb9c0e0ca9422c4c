#include "shell/logo.h"

#include "platform/clock.h"

#include <QApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QThread>
#include <QTimer>

namespace {
int twips(const QWidget *w, int value) { return qRound(value * w->logicalDpiX() / 1440.0); }
}

QPixmap splashPicture()
{
    QPixmap picture(480, 640);
    QPainter p(&picture);
    QLinearGradient sky(0, 0, 0, 640);
    sky.setColorAt(0, QColor(20, 60, 120));
    sky.setColorAt(1, QColor(140, 190, 230));
    p.fillRect(picture.rect(), sky);
    p.setPen(Qt::white);
    QFont title(QStringLiteral("Arial"), 40, QFont::Bold);
    p.setFont(title);
    p.drawText(QRect(0, 220, 480, 80), Qt::AlignCenter, QStringLiteral("Climalog"));
    QFont sub(QStringLiteral("Arial"), 14);
    p.setFont(sub);
    p.drawText(QRect(0, 300, 480, 40), Qt::AlignCenter,
               QStringLiteral("Monitorización de sensores"));
    p.drawText(QRect(0, 580, 480, 40), Qt::AlignCenter, QStringLiteral("v1.1"));
    return picture;
}

logo::logo(Clock &clock, std::function<void()> showMain, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen), clock_(clock), showMain_(std::move(showMain))
{
    setFixedSize(twips(this, 3780), twips(this, 5670));
    Image1 = new QLabel(this);
    Image1->setScaledContents(true);
    Image1->setPixmap(splashPicture());
    estado = new QLabel(this);
    estado->setAlignment(Qt::AlignCenter);
    estado->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    estado->setGeometry(0, height() * 7 / 10, width(), height() / 10);
}

void logo::avance(int k, int n)
{
    // Painting the splash takes far longer than a read of the simulated or
    // a fast network: the counter is painted a few times a second, and at
    // the last read.
    if (k < n && pintado_.isValid() && pintado_.elapsed() < pausaPintadoMs)
        return;
    estado->setText(QStringLiteral("Leyendo dispositivos\u2026 %1 de %2").arg(k).arg(n));
    if (isVisible())
        repaint();
    pintado_.start();
}

void logo::showEvent(QShowEvent *event)
{
    // In the middle of the screen, where a window manager may not put it.
    if (!event->spontaneous())
        move(screen()->availableGeometry().center() - rect().center());
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] { Form_Activate(); });
}

void logo::Form_Activate()
{
    // The splash becomes active once; it only hides afterwards.
    if (activated_)
        return;
    activated_ = true;
    Image1->setGeometry(0, 0, width(), height());
    estado->setGeometry(0, height() * 7 / 10, width(), height() / 10);
    estado->raise();
    // An elapsed-time counter, so a wait across midnight stays one second.
    const double t0 = clock_.elapsed();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    } while (clock_.elapsed() - t0 <= 1.0);
    showMain_();
    hide();
}

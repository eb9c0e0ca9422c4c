// The splash window: a picture for a little over a second, then the main
// window.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>

class Clock;
class QLabel;

class logo : public QWidget {
    Q_OBJECT
public:
    logo(Clock &clock, std::function<void()> showMain, QWidget *parent = nullptr);

    void Form_Activate();
    // Says, over the picture, which read of the first tick runs (the k-th of
    // n devices), and paints it at once.
    void avance(int k, int n);

    QLabel *Image1;
    QLabel *estado; // what the program is doing while the splash is up

protected:
    void showEvent(QShowEvent *event) override;

private:
    static constexpr int pausaPintadoMs = 100;
    Clock &clock_;
    std::function<void()> showMain_;
    bool activated_ = false;
    QElapsedTimer pintado_; // when the counter was last painted
};

// The splash picture, drawn by the program (480 x 640 pixels).
QPixmap splashPicture();

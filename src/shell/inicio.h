// The port selection window: the user picks the port and the window connects
// on it, leaving the outcome in the shared connection state.
#pragma once

#include <QDialog>

class General;
class Messages;
class SondaIO;
class QComboBox;
class QPushButton;

class inicio : public QDialog {
    Q_OBJECT
public:
    inicio(General &g, SondaIO *io, Messages &messages, QWidget *parent = nullptr);

    void RSport_Click();
    void iniciar_Click();

    QComboBox *RSport;
    QPushButton *iniciar;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The list position the box's text names, -1 when none.
    int posicion() const;

    General &g_;
    SondaIO *io_;
    Messages &messages_;
};

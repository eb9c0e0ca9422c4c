// The device search window: every showing searches the port for the three
// kinds of device and lists their serials; a double click takes one into the
// main window's serial box.
#pragma once

#include <QDialog>

class General;
class SondaIO;
class principal;
class QLabel;
class QListWidget;

class buscar : public QDialog {
    Q_OBJECT
public:
    buscar(General &g, SondaIO *io, principal &main);

    // Runs the searches and fills the list; runs on every showing.
    void Form_Activate();
    void sennet_DblClick();

    QListWidget *sennet;
    QLabel *Label1;

protected:
    void showEvent(QShowEvent *event) override;

private:
    General &g_;
    SondaIO *io_;
    principal &main_;
};

// The advanced properties window of the working record: name and serial, the
// type's property slots, the sampling period and the relay action. Accepting
// stores them through the main window's add handler.
#pragma once

#include "dialogs/advanced.h"

#include <QDialog>
#include <array>

class General;
class Messages;
class SondaIO;
class principal;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class avanzado : public QDialog {
    Q_OBJECT
public:
    avanzado(General &g, SondaIO *io, Messages &messages, principal &main);

    // Fills the window from the working record; runs on every showing.
    void Form_Activate();
    void aceptar_Click();
    void cancelar_Click();

    // Relay action list built from the device table, its entry selected.
    void lista();
    // Box texts back into the working record.
    void chtm();
    void chrele();

    QGroupBox *Nsensor;
    QLineEdit *nombre;
    QLineEdit *SN;
    QGroupBox *Frame1;
    QLabel *tm;
    QLineEdit *vtm;
    std::array<QLabel *, kSlots> prop{};
    std::array<QLineEdit *, kSlots> vprop{};
    QLabel *rele;
    QComboBox *listarele;
    QPushButton *aceptar;
    QPushButton *cancelar;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static constexpr int maxTecleo = 5; // characters typed into slots 4..9
    void ponprop(int pr, const QString &text, const QString &valor);
    void mosvtm();
    QString impreso(Serial sn) const;

    General &g_;
    SondaIO *io_;
    Messages &messages_;
    principal &main_;
};

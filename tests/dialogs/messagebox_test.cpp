#include "platform/qtplatform.h"
#include "support/windows.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

namespace {

TEST(MessageBox, SpanishButtons)
{
    struct Row {
        const char *name;
        Messages::Buttons buttons;
        QStringList texts;
        QString press;
        Messages::Answer answer;
    };
    const Row rows[] = {
        {"yesNoNo", Messages::Buttons::YesNo, {"&No", "&Sí"}, "&No", Messages::Answer::No},
        {"okCancelCancel", Messages::Buttons::OkCancel, {"Aceptar", "Cancelar"}, "Cancelar", Messages::Answer::Cancel},
        {"ok", Messages::Buttons::Ok, {"Aceptar"}, "Aceptar", Messages::Answer::Ok},
    };
    application();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QStringList seen;
        QString title;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            QAbstractButton *press = nullptr;
            for (QAbstractButton *b : box->buttons()) {
                seen << b->text();
                if (b->text() == row.press)
                    press = b;
            }
            seen.sort();
            if (press)
                press->click();
        });
        // Should the box not be found, it still closes and the test fails.
        QTimer::singleShot(5000, [] {
            if (QWidget *w = QApplication::activeModalWidget())
                w->close();
        });
        QtMessages messages;
        const auto answer = messages.show(QStringLiteral("Texto"), row.buttons);
        EXPECT_EQ(seen, row.texts);
        EXPECT_EQ(title, QStringLiteral("Climalog"));
        EXPECT_EQ(answer, row.answer);
    }
}

}

// Another program holding a file open, with the sharing it allows: none,
// "lectura" (others may read) or "escritura" (others may read and write).
#pragma once

#include "support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

class Holder {
public:
    Holder(const QString &path, const char *sharing)
    {
        process_.start(QDir(binFolder()).filePath(QStringLiteral("test_windows.exe")),
                       {QStringLiteral("--hold"), QDir::toNativeSeparators(path), QString::fromLatin1(sharing)});
        // The file is held once the holder says so.
        EXPECT_TRUE(process_.waitForReadyRead(30000) && process_.readAll().startsWith("ready"));
    }
    ~Holder()
    {
        process_.closeWriteChannel();
        process_.waitForFinished(30000);
    }

private:
    QProcess process_;
};

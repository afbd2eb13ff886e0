#pragma once
// A scratch folder per test, and whole-file helpers.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

namespace Quillmark {

// Strings that repeat through a document (class names, kinds) read once: the
// first time a string's text is met it is decoded and kept, and every later
// string with the same text shares that copy. Keyed by the text as it is
// written, escapes included, which determines the string. Holds at most
// `capacity` strings; others are decoded each time.
class JsonStringPool {
public:
    explicit JsonStringPool(qsizetype capacity = 4096) : m_capacity(capacity) {}

    // The string kept for `raw`, or null when there is none.
    const QString *find(QByteArrayView raw);
    void insert(QByteArrayView raw, const QString &text);

private:
    QHash<QByteArray, QString> m_strings;
    const QString *m_last = nullptr; // the entry found or inserted last
    QByteArray m_lastRaw;
    qsizetype m_capacity;
};

} // namespace Quillmark

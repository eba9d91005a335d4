#pragma once

// Randomly damaged copies of JSON texts, and the verdict of a strict JSON
// reader (Python's json module, through json_oracle.py) on each.

#include "QmTest.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

#include <QFile>

#include <random>

namespace QmTest {

// `count` copies of the sources in turn, each with one to three random edits
// (a run of bytes removed, a byte from `alphabet` inserted or written over one).
inline QList<QByteArray> damagedCopies(const QList<QByteArray> &sources, int count, quint32 seed,
                                       const QByteArray &alphabet)
{
    std::mt19937 random(seed);
    QList<QByteArray> texts;
    for (int round = 0; round < count; ++round) {
        QByteArray text = sources.at(round % sources.size());
        const int edits = 1 + int(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = qsizetype(random() % text.size());
            switch (random() % 3) {
            case 0:
                text.remove(at, 1 + qsizetype(random() % 4));
                break;
            case 1:
                text.insert(at, alphabet.at(qsizetype(random() % alphabet.size())));
                break;
            default:
                text[at] = alphabet.at(qsizetype(random() % alphabet.size()));
                break;
            }
        }
        texts.append(text);
    }
    return texts;
}

// One line per text: "ok " and the document written back as plain JSON, or
// "bad". Empty when the reader could not be run.
inline QList<QByteArray> strictJsonVerdicts(const QList<QByteArray> &texts)
{
    QTemporaryDir dir;
    QFile input(dir.filePath("texts"));
    if (!input.open(QIODevice::WriteOnly))
        return {};
    for (const QByteArray &text : texts)
        input.write(text.toBase64() + '\n');
    input.close();
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON), {QStringLiteral(QM_TESTS_DIR "/model/json_oracle.py"), input.fileName()});
    if (!python.waitForFinished(QmTest::patienceMs) || python.exitCode() != 0)
        return {};
    QList<QByteArray> verdicts = python.readAllStandardOutput().split('\n');
    return verdicts.size() >= texts.size() ? verdicts.mid(0, texts.size()) : QList<QByteArray>();
}

} // namespace QmTest

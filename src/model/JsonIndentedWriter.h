#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <vector>

class QIODevice;

namespace Quillmark {

// Streams a JSON document in exactly the indented form that QJsonDocument writes
// (four spaces per level, one member per line, "key": value), without building a
// document tree first. Callers emit object members in the key order they want in
// the file. Output is buffered and handed to the device in large chunks.
class JsonIndentedWriter {
public:
    explicit JsonIndentedWriter(QIODevice *device);

    // Continues a document written in pieces: as if `depth` containers were
    // open, each already holding an item, so that what follows is written as
    // further items of the innermost one, each after ",\n". Pieces of one
    // array written apart (on several threads) then join by concatenation,
    // the first piece's leading comma dropped.
    void continueInside(int depth);

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();

    // The key of the next member of the current object: a plain ASCII key, or
    // any text, escaped as a string.
    void key(const char *latin1Key);
    void rawKey(const QString &text);

    void value(const QString &text);
    // A string given as UTF-8; long ASCII texts such as Base64 go straight in.
    void value(QByteArrayView utf8);
    void value(double number);
    void value(int number);
    void nullValue();
    // Any JSON value, objects with their keys in the order QJsonObject keeps
    // them (sorted), as QJsonDocument writes it.
    void value(const QJsonValue &json);

    // Writes what is buffered; false once any write to the device has failed.
    bool finish();

    // The text QJsonDocument writes for a double.
    static void appendDouble(QByteArray &out, double number);
    // The quoted, escaped form QJsonDocument writes for a string.
    static void appendString(QByteArray &out, const QString &text);

private:
    void beginValue();
    void beginMember();
    void open(char bracket);
    void close(char bracket);
    void indent(int level);
    void flushIfLarge();
    static void appendLargeDouble(QByteArray &out, double number);

    QIODevice *m_device;
    QByteArray m_buffer;
    std::vector<bool> m_hasMembers; // one per open container
    bool m_afterKey = false;
    bool m_ok = true;
};

} // namespace Quillmark

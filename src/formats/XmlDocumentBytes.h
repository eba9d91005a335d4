#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QXmlStreamWriter>

namespace Quillmark {

// An XML document built in memory as the XML formats write it: the declaration
// <?xml version="1.0" encoding="utf-8"?>, then what is written through xml(),
// auto-formatted with `indent` spaces a level.
class XmlDocumentBytes {
public:
    explicit XmlDocumentBytes(int indent);

    XmlDocumentBytes(const XmlDocumentBytes &) = delete;
    XmlDocumentBytes &operator=(const XmlDocumentBytes &) = delete;

    QXmlStreamWriter &xml() { return m_xml; }

    // Ends the document (closing the elements still open) and returns it.
    QByteArray finish();

private:
    QByteArray m_bytes;
    QBuffer m_buffer;
    QXmlStreamWriter m_xml;
};

} // namespace Quillmark

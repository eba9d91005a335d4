#include "formats/XmlDocumentBytes.h"

namespace Quillmark {

XmlDocumentBytes::XmlDocumentBytes(int indent) : m_buffer(&m_bytes), m_xml(&m_buffer)
{
    m_buffer.open(QIODevice::WriteOnly);
    m_buffer.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    m_xml.setAutoFormatting(true);
    m_xml.setAutoFormattingIndent(indent);
}

QByteArray XmlDocumentBytes::finish()
{
    m_xml.writeEndDocument();
    return m_bytes;
}

} // namespace Quillmark

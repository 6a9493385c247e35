#include "platform/telephony/modem/DleCodec.h"

namespace telvox::modem {

void DleDecoder::feed(const char *bytes, qsizetype size)
{
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (m_afterDle) {
            m_afterDle = false;
            runStart = i + 1;
            if (c == kDle) {
                if (m_data)
                    m_data(&kDle, 1);
            } else if (c == kSub) {
                static const char twoDle[2] = {kDle, kDle};
                if (m_data)
                    m_data(twoDle, 2);
            } else if (m_event) {
                m_event(c);
            }
            continue;
        }
        if (c == kDle) {
            if (i > runStart && m_data)
                m_data(bytes + runStart, i - runStart);
            m_afterDle = true;
            runStart = i + 1;
        }
    }
    if (!m_afterDle && size > runStart && m_data)
        m_data(bytes + runStart, size - runStart);
}

void appendShielded(QByteArray &out, const char *data, qsizetype size)
{
    out.reserve(out.size() + size + size / 16 + 4);
    for (qsizetype i = 0; i < size; ++i) {
        out.append(data[i]);
        if (data[i] == kDle)
            out.append(kDle);
    }
}

QByteArray shielded(const QByteArray &data)
{
    QByteArray out;
    appendShielded(out, data.constData(), data.size());
    return out;
}

} // namespace telvox::modem

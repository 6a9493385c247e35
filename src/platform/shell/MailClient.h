#pragma once

#include <QString>

namespace telvox {

// Hands a file to the user's mail program as the attachment of a new message, which the user
// completes and sends there. Returns 0 when the mail program took the message, otherwise a
// non-zero code (the mail hand-over's own, shown to the user).
class MailClient
{
public:
    virtual ~MailClient() = default;
    virtual int composeWithAttachment(const QString &subject, const QString &attachmentPath) = 0;
};

// The desktop's mail program through xdg-email ("xdg-email --subject S --attach FILE"). The
// arguments go to the program as a list, never through a shell. Exit codes are xdg-email's;
// a program that cannot be started gives 3 (a required tool was not found).
class XdgEmailClient final : public MailClient
{
public:
    explicit XdgEmailClient(QString program = QStringLiteral("xdg-email"))
        : m_program(std::move(program))
    {
    }
    int composeWithAttachment(const QString &subject, const QString &attachmentPath) override;

private:
    QString m_program;
};

} // namespace telvox

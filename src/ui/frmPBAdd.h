#pragma once

#include <QDialog>
#include <QFile>

class QLineEdit;

namespace telvox {

class Texts;
class UserPrompts;

// The phonebook entry editor: a name and a number stored as the record right after the last
// listed one. PhoneBook.txt is open (created when missing) from the editor's load to its close.
class frmPBAdd final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        UserPrompts &prompts;
        QString failureText; // shown when the file cannot be written
        const Texts *texts = nullptr; // the captions' language; English without
    };

    // `listedCount`: the number of entries the dialler lists; OK writes record listedCount + 1.
    frmPBAdd(Services services, const QString &phoneBookPath, int listedCount, QWidget *parent = nullptr);
    ~frmPBAdd() override;

    QLineEdit *Text1() const { return m_text1; }
    QLineEdit *Text2() const { return m_text2; }

    // OK: stores the entry and closes; false (the editor stays) when the file cannot be written.
    bool OKButton_Click();
    // After OK: the name and the number as stored, padding included, as the lists show them.
    QString storedName() const { return m_storedName; }
    QString storedTele() const { return m_storedTele; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString text(int id, const char *english) const;

    Services m_s;
    QFile m_file;
    int m_listedCount;
    QLineEdit *m_text1;
    QLineEdit *m_text2;
    QString m_storedName;
    QString m_storedTele;
};

} // namespace telvox

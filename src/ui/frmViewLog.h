#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QMenu;
class QPushButton;

namespace telvox {

class Printer;
class StatusLog;
class Texts;
class UserPrompts;

// The log viewer: lists the daily log files, shows one, prints it, deletes files.
class frmViewLog final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        const Texts &texts;
        StatusLog &statusLog;
        UserPrompts &prompts;
        Printer &printer;
    };

    explicit frmViewLog(Services services, QWidget *parent = nullptr);

    QListWidget *File1() const { return m_File1; }
    QListWidget *List1() const { return m_List1; }

    void refreshFiles();
    void Command1_Click(); // Display
    void mmuDelete_Click();
    void cmdPrintLog_Click();

private:
    QString selectedPath() const;

    Services m_s;
    QString m_folder;
    QListWidget *m_File1;
    QPushButton *m_Command1;
    QListWidget *m_List1;
    QPushButton *m_cmdPrintLog;
    QPushButton *m_cmdExit;
    QMenu *m_mmuLog;
};

// Prints `lines` under `title` and says in the status list where a PDF went, or why the
// printing failed (the main window's status list and the log viewer both print this way).
void printToStatusLog(Printer &printer, StatusLog &status, const Texts &texts, const QStringList &lines,
                      const QString &title);

} // namespace telvox

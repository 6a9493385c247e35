#pragma once

#include <QDialog>

class QLineEdit;
class QCheckBox;
class QListWidget;
class QPushButton;

namespace telvox {

class Texts;
class UserPrompts;

// The ring rules of "Rings.txt" in their display form, with Add (the rule editor) and Delete.
// Rules changed here apply from the next start of the program.
class frmSetRings final : public QDialog
{
    Q_OBJECT
public:
    frmSetRings(QString ringsFile, UserPrompts &prompts, const Texts &texts, QWidget *parent = nullptr);

    QListWidget *lstRingEntry() const { return m_lstRingEntry; }
    void ShowRingRules();
    void cmdAddEntry_Click();
    void cmdDeleteEntry_Click();
    // A stored rule line as the list shows it.
    QString ringRuleInWords(const QString &line) const;

private:
    QString m_ringsFile;
    UserPrompts &m_prompts;
    const Texts &m_texts;
    QListWidget *m_lstRingEntry;
};

// The rule editor: ring count (one digit), from and to (hours, minutes), weekdays.
class frmSetTime final : public QDialog
{
    Q_OBJECT
public:
    frmSetTime(QString ringsFile, UserPrompts &prompts, const Texts &texts, QWidget *parent = nullptr);

    QLineEdit *Text(int index) const { return m_text.at(static_cast<std::size_t>(index)); }
    QCheckBox *Check1(int day) const { return m_check.at(static_cast<std::size_t>(day)); }
    // OK: appends the rule to "Rings.txt" and closes; returns whether it was added.
    bool Command1_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString m_ringsFile;
    UserPrompts &m_prompts;
    const Texts &m_texts;
    std::array<QLineEdit *, 6> m_text{};  // Text1..Text5 (index 0 unused)
    std::array<QCheckBox *, 8> m_check{}; // Check1(1)..Check1(7)
};

} // namespace telvox

#pragma once

#include "platform/shell/FolderPicker.h"
#include "ui/DesktopShell.h"
#include "ui/ModalRunner.h"
#include "ui/SystemTray.h"

#include <QDialog>
#include <QList>
#include <QListWidget>
#include <QMenu>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace telvox::test {

// The texts (or another role's data) of a list's items, top to bottom.
inline QStringList itemTexts(const QListWidget *list, int role = Qt::DisplayRole)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->data(role).toString();
    return out;
}

// A notification area that the test clicks.
class FakeTray final : public SystemTray
{
public:
    explicit FakeTray(bool available)
        : m_available(available)
    {
    }
    bool isAvailable() const override { return m_available; }
    void AddTrayIcon(const QIcon &icon, const QString &tipText) override
    {
        shown = true;
        tip = tipText;
        hasIcon = !icon.isNull();
    }
    void RemoveTrayIcon() override { shown = false; }
    bool isIconShown() const override { return shown; }
    void showMessage(const QString &title, const QString &text) override { messages << title + ": " + text; }
    void notify(const QString &title, const QString &text) override { notices << title + ": " + text; }
    void notifyWithActions(const QString &title, const QString &text, const QList<NotificationAction> &actions,
                           std::function<void(const QString &)> chosen) override
    {
        QStringList labels;
        for (const NotificationAction &a : actions)
            labels << a.key + "=" + a.label;
        notices << title + ": " + text + " [" + labels.join(' ') + "]";
        choose = std::move(chosen);
    }
    void setToolTip(const QString &tipText) override { tip = tipText; }
    void setIcon(const QIcon &icon) override { hasIcon = !icon.isNull(); }
    void setMenu(QMenu *m) override { menu = m; }
    void click(TrayClick c) { clicked(c); }

    QStringList messages; // warnings and hints from the icon
    QStringList notices;  // notifications
    std::function<void(const QString &)> choose; // presses a button of the last notification
    QMenu *menu = nullptr;

    bool shown = false;
    bool hasIcon = false;
    QString tip;

private:
    bool m_available;
};

// Records what the windows asked the desktop to open.
class RecordingShell final : public DesktopShell
{
public:
    bool openUrl(const QUrl &url) override
    {
        urls << url;
        return hasPrograms;
    }
    bool exploreFolder(const QString &folder) override
    {
        explored << folder;
        return hasPrograms;
    }
    bool openVolumeControl() override
    {
        ++volumeControls;
        return hasPrograms;
    }
    QList<QUrl> urls;
    QStringList explored;
    int volumeControls = 0;
    bool hasPrograms = true; // false: a desktop without browser, file manager or mixer
};

// Answers each modal window with a script; without one the window is closed unanswered.
class ScriptedModal final : public ModalRunner
{
public:
    int runModal(QDialog &dialog) override
    {
        shown << dialog.objectName();
        if (answer)
            answer(dialog);
        if (dialog.isVisible())
            dialog.reject();
        return dialog.result();
    }
    std::function<void(QDialog &)> answer;
    QStringList shown;
};

// A folder chooser that answers with `answer` and notes each question.
class FakeFolders final : public FolderPicker
{
public:
    std::optional<QString> browseForFolder(const QString &title, const QString &startFolder) override
    {
        titles << title + "|" + startFolder;
        return answer;
    }
    std::optional<QString> answer;
    QStringList titles;
};

} // namespace telvox::test

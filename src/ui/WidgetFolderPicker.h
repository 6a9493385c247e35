#pragma once

#include "platform/shell/FolderPicker.h"

class QWidget;

namespace telvox {

// The folder browser as the desktop's folder dialog.
class WidgetFolderPicker final : public FolderPicker
{
public:
    explicit WidgetFolderPicker(QWidget *owner = nullptr)
        : m_owner(owner)
    {
    }
    void setOwner(QWidget *owner) { m_owner = owner; }
    std::optional<QString> browseForFolder(const QString &title, const QString &startFolder) override;

private:
    QWidget *m_owner;
};

} // namespace telvox

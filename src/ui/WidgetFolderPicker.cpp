#include "ui/WidgetFolderPicker.h"

#include <QFileDialog>

namespace telvox {

std::optional<QString> WidgetFolderPicker::browseForFolder(const QString &title, const QString &startFolder)
{
    const QString folder = QFileDialog::getExistingDirectory(m_owner, title, startFolder);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

} // namespace telvox

#pragma once

#include <QString>

#include <optional>

namespace telvox {

// The shell's folder browser: shows `title`, starts at `startFolder`, and returns the folder
// the user confirmed, or nothing when the user cancelled.
class FolderPicker
{
public:
    virtual ~FolderPicker() = default;
    virtual std::optional<QString> browseForFolder(const QString &title, const QString &startFolder) = 0;
};

} // namespace telvox

#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;

namespace telvox {

// Everything Telvox writes belongs to the user who runs it: recordings, logs, the caller-ID
// file, the phonebook and the options are private calls and private numbers.

// Files and folders created from now on are readable by their owner only (umask 077).
void usePrivateFileMode();

// Makes `folder` (created when missing) readable by its owner only. False when it cannot be
// created or its mode cannot be set (a folder of another account).
bool makePrivateFolder(const QString &folder);

// Takes the group and other permissions off `path` when it is ours and has any; returns
// whether it changed. Links are never followed.
bool tightenPermissions(const QString &path);

// tightenPermissions() on `folder` itself (when `includeFolder`) and on every file and folder
// below it, `depth` levels deep; returns how many changed.
int tightenTree(const QString &folder, int depth, bool includeFolder);

// The reason for the last failed system call, in the system's own words.
QString systemReason(int error);

// Whether a new file can be created in `folder` (made first when missing): a file is created
// exclusively there and removed again. `reason` gets the system's reason when it cannot.
bool checkWritableFolder(const QString &folder, QString *reason = nullptr);

// A new working folder of this process only (mode 0700, a name no other process can have),
// under `base`; removed with everything in it when the returned object goes. Folders that
// runs killed earlier left under `base` are removed first. Null when none can be made there.
std::shared_ptr<QTemporaryDir> makePrivateWorkFolder(const QString &base);

// Whether `folder` is a folder (not a link) of this account that no other account may enter.
bool isPrivateFolderOfOurs(const QString &folder);

// The longest path a local socket may have here (the system's limit, with room to spare).
inline constexpr int kSocketPathBytes = 100;

// Where a local socket named `name` of this account lives: in `folder` (a private folder),
// unless that path is too long for a socket. Then it lives in a short folder of its own, made
// private with mkdtemp under $XDG_RUNTIME_DIR or /tmp; `pointerFile` (beside the program's
// lock, so private as well) names that folder for the programs that connect. With `create`
// false nothing is made: a folder the pointer names is used only when it is ours and
// private, else the result is empty. The name itself never lies in a shared folder where
// another account could take it first.
QString privateSocketPath(const QString &folder, const QString &name, const QString &pointerFile, bool create);

// Whether the process at the other end of the connected local socket `fd` runs as this account.
bool peerIsThisAccount(int fd);

} // namespace telvox

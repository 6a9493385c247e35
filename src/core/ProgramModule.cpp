#include "core/ProgramModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace telvox {

const char *programModuleBuild() { return TELVOX_VERSION "/modules-1"; }

void *programModuleSymbol(const char *file, const char *override, const char *symbol, QString *error)
{
    QString path = qEnvironmentVariable(override);
    if (path.isEmpty()) {
        const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        path = QDir::cleanPath(QFileInfo(program).absolutePath() + QLatin1Char('/') + QStringLiteral(TELVOX_MODULE_DIR)
                               + QLatin1Char('/') + QLatin1String(file));
    }
    // The module stays loaded for the life of the process: objects it made run its code.
    void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error)
            *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    void *found = dlsym(handle, symbol);
    if (!found && error)
        *error = path + QStringLiteral(": no ") + QLatin1String(symbol);
    return found;
}

} // namespace telvox

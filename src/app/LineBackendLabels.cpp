#include "app/LineBackendLabels.h"

#include "core/Texts.h"

namespace telvox {

std::array<QString, 4> lineBackendLabels(const QString &backendName, int lineCount, const Texts &texts)
{
    static const struct
    {
        const char *backend;
        int text;
    } kLabels[] = {{"virtual", 1507}, {"modem", 1251}, {"sip", 1252}};
    QString label;
    for (const auto &known : kLabels) {
        if (backendName == QLatin1String(known.backend))
            label = texts.LoadText(known.text);
    }
    std::array<QString, 4> labels;
    for (int n = 0; n < lineCount && n < 4; ++n)
        labels.at(std::size_t(n)) = label;
    return labels;
}

} // namespace telvox

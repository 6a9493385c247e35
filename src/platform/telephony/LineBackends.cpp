#include "platform/telephony/LineBackends.h"

namespace telvox {

void LineBackendRegistry::add(LineBackendFactory factory) { m_backends.push_back(std::move(factory)); }

std::vector<LineBackendOption> LineBackendRegistry::options() const
{
    std::vector<LineBackendOption> all;
    for (const LineBackendFactory &backend : m_backends)
        all.insert(all.end(), backend.options.begin(), backend.options.end());
    return all;
}

std::vector<LineSettingsPage> LineBackendRegistry::settingsPages() const
{
    std::vector<LineSettingsPage> pages;
    for (const LineBackendFactory &backend : m_backends) {
        if (backend.settingsPage)
            pages.push_back(backend.settingsPage());
    }
    return pages;
}

QString LineBackendRegistry::checkOptions(const QHash<QString, QStringList> &given) const
{
    for (const LineBackendOption &option : options()) {
        const qsizetype count = given.value(option.name).size();
        if (option.maxValues > 0 && count > option.maxValues)
            return QStringLiteral("%1: --%2 was given %3 times").arg(option.limit, option.name).arg(count);
    }
    return {};
}

LineBackendRegistry::Built LineBackendRegistry::build(const LineBackendContext &context) const
{
    const auto optionGiven = [&context](const LineBackendFactory &backend) {
        for (const LineBackendOption &option : backend.options) {
            if (!context.options.value(option.name).isEmpty())
                return true;
        }
        return false;
    };
    std::vector<const LineBackendFactory *> order;
    for (const LineBackendFactory &backend : m_backends) {
        if (optionGiven(backend))
            order.push_back(&backend);
    }
    for (const LineBackendFactory &backend : m_backends) {
        if (!optionGiven(backend))
            order.push_back(&backend);
    }
    Built built;
    for (const LineBackendFactory *backend : order) {
        if (backend->probe && !backend->probe(context))
            continue;
        built.backend = backend->create(context, built.notes);
        if (built.backend) {
            built.name = backend->name;
            built.labelText = backend->labelText;
            break;
        }
    }
    return built;
}

} // namespace telvox

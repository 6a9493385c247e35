#include "ui/HotLabel.h"

#include <QAccessibleWidget>

namespace telvox {

namespace {

// How a screen reader sees a HotLabel: a push button (not a piece of text), named by its text or,
// for an icon alone, by its tool tip, which then is not read a second time as its description.
class HotLabelAccessible final : public QAccessibleWidget
{
public:
    explicit HotLabelAccessible(HotLabel *label)
        : QAccessibleWidget(label, QAccessible::Button)
    {
        addControllingSignal(QStringLiteral("clicked()"));
    }

    QString text(QAccessible::Text kind) const override
    {
        const auto *label = static_cast<const HotLabel *>(widget());
        switch (kind) {
        case QAccessible::Name:
            if (!label->accessibleName().isEmpty())
                return label->accessibleName();
            if (const QString shown = plainText(); !shown.isEmpty())
                return shown;
            return label->toolTip();
        case QAccessible::Description:
            if (!label->accessibleDescription().isEmpty())
                return label->accessibleDescription();
            return plainText().isEmpty() && label->accessibleName().isEmpty() ? QString() : label->toolTip();
        default: return QAccessibleWidget::text(kind);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        // A dimmed label still takes the click (its owner explains why nothing happens), but it
        // is announced as unavailable, as it looks.
        if (static_cast<const HotLabel *>(widget())->isDimmed())
            s.disabled = true;
        return s;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction() && widget()->isEnabled())
            static_cast<HotLabel *>(widget())->click();
    }

private:
    QString plainText() const
    {
        QString shown = static_cast<const HotLabel *>(widget())->text();
        shown.remove(QLatin1Char('&'));
        return shown.trimmed();
    }
};

QAccessibleInterface *hotLabelFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("telvox::HotLabel") && object && object->isWidgetType())
        return new HotLabelAccessible(static_cast<HotLabel *>(object));
    return nullptr;
}

} // namespace

void HotLabel::registerAccessibility()
{
    static const bool registered = [] {
        QAccessible::installFactory(&hotLabelFactory);
        return true;
    }();
    (void)registered;
}

} // namespace telvox

#include "ui/LineSettingsFrame.h"

#include "core/Texts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSpinBox>

namespace telvox {

namespace {
using Kind = LineSettingsField::Kind;

QWidget *buildField(const LineSettingsField &f, QWidget *parent)
{
    switch (f.kind) {
    case Kind::Choice: {
        auto *choice = new QComboBox(parent);
        choice->addItems(f.choices);
        return choice;
    }
    case Kind::Number: {
        auto *number = new QSpinBox(parent);
        number->setRange(f.minimum, f.maximum);
        return number;
    }
    case Kind::Text:
    case Kind::Secret:
        break;
    }
    auto *text = new QLineEdit(parent);
    text->setPlaceholderText(f.placeholder);
    if (f.kind == Kind::Secret)
        text->setEchoMode(QLineEdit::Password);
    if (!f.pattern.isEmpty())
        text->setValidator(new QRegularExpressionValidator(QRegularExpression(f.pattern), text));
    return text;
}
} // namespace

LineSettingsFrame::LineSettingsFrame(LineSettingsPage page, const Texts &texts, SettingsStore &settings,
                                     QWidget *parent)
    : QGroupBox(parent)
    , m_values(std::move(page), settings)
{
    const LineSettingsPage &p = m_values.page();
    setObjectName(p.name);
    setTitle(texts.LoadText(p.titleText));
    auto *form = new QFormLayout(this);
    m_line = new QComboBox(this);
    m_line->setAccessibleName(texts.LoadText(p.lineChoiceText));
    for (int n = 0; n < LineSettingsValues::kLines; ++n)
        m_line->addItem(QStringLiteral("Line%1").arg(n));
    form->addRow(m_line);
    for (const LineSettingsField &f : p.fields) {
        QWidget *w = buildField(f, this);
        w->setObjectName(f.key);
        form->addRow(texts.LoadText(f.labelText), w);
        m_fields.push_back(w);
    }
    if (p.noteText != 0) {
        auto *note = new QLabel(texts.LoadText(p.noteText), this);
        note->setWordWrap(true);
        form->addRow(note);
    }
    show(0);
    connect(m_line, &QComboBox::currentIndexChanged, this, [this](int line) {
        keep(m_shown);
        show(line);
    });
}

QWidget *LineSettingsFrame::field(const QString &key) const
{
    const std::vector<LineSettingsField> &fields = m_values.page().fields;
    for (std::size_t n = 0; n < fields.size(); ++n) {
        if (fields.at(n).key == key)
            return m_fields.at(n);
    }
    return nullptr;
}

void LineSettingsFrame::show(int line)
{
    if (line < 0 || line >= LineSettingsValues::kLines)
        return;
    for (std::size_t n = 0; n < m_fields.size(); ++n) {
        const QString value = m_values.shown(line, n);
        QWidget *w = m_fields.at(n);
        if (auto *choice = qobject_cast<QComboBox *>(w))
            choice->setCurrentIndex(std::max(0, choice->findText(value.toLower())));
        else if (auto *number = qobject_cast<QSpinBox *>(w))
            number->setValue(value.toInt());
        else if (auto *text = qobject_cast<QLineEdit *>(w))
            text->setText(value);
    }
    m_shown = line;
}

void LineSettingsFrame::keep(int line)
{
    for (std::size_t n = 0; n < m_fields.size(); ++n) {
        QWidget *w = m_fields.at(n);
        if (auto *choice = qobject_cast<QComboBox *>(w))
            m_values.set(line, n, choice->currentText());
        else if (auto *number = qobject_cast<QSpinBox *>(w))
            m_values.set(line, n, QString::number(number->value()));
        else if (auto *text = qobject_cast<QLineEdit *>(w))
            m_values.set(line, n, text->text());
    }
}

void LineSettingsFrame::save()
{
    keep(m_shown);
    m_values.save();
}

} // namespace telvox

#include "ui/MessageColumns.h"

#include "core/Texts.h"
#include "platform/media/WaveFileInfo.h"
#include "records/MailForward.h"
#include "telephony/PhoneBookTable.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QDateTime>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

namespace telvox {

namespace {

constexpr int kColumns = 4;
constexpr int kFileColumn = 3;
constexpr int kUnknownCaller = 1876;
constexpr int kNameAndNumber = 1877;
constexpr int kWhoAndLength = 1878;

// Paints one item as a row of columns laid out by the list's header.
class ColumnsDelegate final : public QStyledItemDelegate
{
public:
    ColumnsDelegate(QHeaderView *header, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_header(header)
    {
    }

    void refreshSizes() { emit sizeHintChanged(QModelIndex()); }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(m_header->length());
        return size;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int roles[kColumns] = {kWhenRole, kLengthRole, kCallerRole, Qt::DisplayRole};
        const QWidget *widget = option.widget;
        const QStyle *style = widget ? widget->style() : nullptr;
        int x = option.rect.left();
        for (int column = 0; column < kColumns; ++column) {
            QStyleOptionViewItem opt = option;
            initStyleOption(&opt, index);
            const int width = m_header->sectionSize(column);
            // The last column takes what is left of the row.
            const int right = column == kColumns - 1 ? qMax(option.rect.right(), x + width - 1) : x + width - 1;
            opt.rect = QRect(QPoint(x, option.rect.top()), QPoint(right, option.rect.bottom()));
            opt.text = index.data(roles[column]).toString();
            if (column != kFileColumn)
                opt.icon = QIcon();
            if (column > 0)
                opt.state &= ~QStyle::State_HasFocus;
            if (column == 1)
                opt.displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
            if (style)
                style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
            x += width;
        }
    }

private:
    QHeaderView *m_header;
};

} // namespace

MessageFacts messageFacts(const QString &folder, const QString &entry, const std::vector<phonebook::Entry> &book)
{
    MessageFacts facts;
    const RecordingFacts named = recordingFacts(QFileInfo(entry).fileName());
    if (named.when.isValid())
        facts.when = named.when.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    if (!named.number.isEmpty()) {
        facts.caller = named.number;
        facts.number = named.number;
        // The same look-up caller ID makes: the last record with this telephone wins.
        for (const phonebook::Entry &e : book) {
            if (!e.tele.isEmpty() && e.tele.trimmed() == named.number && !e.name.trimmed().isEmpty())
                facts.caller = e.name.trimmed();
        }
    }
    // Only a plain file is opened: a missing name, a folder or a pipe gives no length.
    const QString path = QDir(folder).filePath(entry);
    const QFileInfo file(path);
    if (!entry.isEmpty() && file.isFile() && file.isReadable()) {
        const WaveFileInfo info = readWaveFileInfo(path);
        if (info.valid && info.avgBytesPerSec > 0) {
            const qint64 seconds = info.lengthMs() / 1000;
            facts.length = QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
        }
    }
    return facts;
}

QString messageAnnouncement(const MessageFacts &facts, const Texts &texts)
{
    QString who = facts.caller;
    if (who.isEmpty())
        who = texts.LoadText(kUnknownCaller);
    else if (!facts.number.isEmpty() && facts.caller != facts.number)
        who = texts.LoadText(kNameAndNumber).arg(facts.caller, facts.number);
    return facts.length.isEmpty() ? who : texts.LoadText(kWhoAndLength).arg(who, facts.length);
}

MessageListWidget::MessageListWidget(const QStringList &titles, QWidget *parent)
    : QListWidget(parent)
    , m_header(new QHeaderView(Qt::Horizontal, this))
{
    m_header->setObjectName(QStringLiteral("messageColumns"));
    m_header->setFont(font()); // the titles in the items' font, which the window may have shrunk
    m_header->setModel(new QStandardItemModel(0, kColumns, m_header));
    m_header->setSectionsClickable(false);
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // Room for what each column usually holds.
    const QFontMetrics fm(font());
    const int pad = fm.horizontalAdvance(QLatin1Char('M'));
    m_header->resizeSection(0, fm.horizontalAdvance(QStringLiteral("2026-12-04 08:30")) + pad);
    m_header->resizeSection(1, fm.horizontalAdvance(QStringLiteral("00:00")) + pad);
    m_header->resizeSection(2, fm.horizontalAdvance(QStringLiteral("MMMMMMMM")) + pad);
    m_header->resizeSection(3, fm.horizontalAdvance(QStringLiteral("A2026-12-04~08-30-15~0000000000.wav")) + pad);

    setColumnTitles(titles);

    auto *delegate = new ColumnsDelegate(m_header, this);
    setItemDelegate(delegate);
    setUniformItemSizes(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, m_header, [this](int value) { m_header->setOffset(value); });
    connect(m_header, &QHeaderView::sectionResized, this, [this, delegate] {
        delegate->refreshSizes();
        viewport()->update();
    });
    updateGeometries();
}

void MessageListWidget::setColumnTitles(const QStringList &titles)
{
    // A column is at least as wide as its title.
    const QFontMetrics fm(m_header->font());
    const int pad = fm.horizontalAdvance(QLatin1Char('M'));
    for (int column = 0; column < kColumns && column < titles.size(); ++column) {
        m_header->model()->setHeaderData(column, Qt::Horizontal, titles.at(column));
        m_header->resizeSection(column, qMax(m_header->sectionSize(column), fm.horizontalAdvance(titles.at(column)) + pad));
    }
}

void MessageListWidget::updateGeometries()
{
    // The header takes the top of the frame, above the viewport.
    const int height = qMax(m_header->sizeHint().height(), fontMetrics().height() + 4);
    setViewportMargins(0, height, 0, 0);
    const QRect vp = viewport()->geometry();
    m_header->setGeometry(vp.left(), vp.top() - height, vp.width(), height);
    QListWidget::updateGeometries();
}

} // namespace telvox

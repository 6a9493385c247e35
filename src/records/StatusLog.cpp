#include "records/StatusLog.h"

#include "core/TextFile.h"
#include "core/EventLoop.h"

#include <QFileInfo>
#include <QLocale>
#include <QStringConverter>
#include <QTime>

#include <algorithm>

namespace telvox {

int StatusListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

QVariant StatusListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_lines.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_lines.at(index.row());
    return {};
}

void StatusListModel::makeRoom(qsizetype adding)
{
    const qsizetype total = m_lines.size() + adding;
    if (total <= kWindow + kTrimStep)
        return;
    const qsizetype drop = std::min(m_lines.size(), total - kWindow);
    if (drop <= 0)
        return;
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(drop) - 1);
    m_lines.remove(0, drop);
    m_lines.squeeze();
    endRemoveRows();
}

void StatusListModel::append(const QString &line)
{
    makeRoom(1);
    const int row = static_cast<int>(m_lines.size());
    beginInsertRows(QModelIndex(), row, row);
    m_lines.append(line);
    endInsertRows();
}

void StatusListModel::append(const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    if (lines.size() > kWindow) {
        append(lines.mid(lines.size() - kWindow));
        return;
    }
    makeRoom(lines.size());
    const int first = static_cast<int>(m_lines.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(lines.size()) - 1);
    m_lines.append(lines);
    endInsertRows();
}

QString timeOfDayText(const QTime &time)
{
    const QLocale locale = QLocale::system();
    const QString shortFormat = locale.timeFormat(QLocale::ShortFormat);
    if (shortFormat.contains(QLatin1String("AP"), Qt::CaseInsensitive))
        return locale.toString(time, QStringLiteral("h:mm:ss AP"));
    return locale.toString(time, QStringLiteral("HH:mm:ss"));
}

QString dayLogFileName(const QDate &date) { return date.toString(QStringLiteral("yy-MM-dd")) + QStringLiteral(".txt"); }

StatusLog::StatusLog(EventLoop &loop, QString logFolder, StatusListModel &list)
    : m_loop(loop)
    , m_logFolder(std::move(logFolder))
    , m_list(list)
{
}

StatusLog::~StatusLog() { closeChannel(); }

QString StatusLog::channelPath() const { return isChannelOpen() ? m_channelPath : QString(); }

void StatusLog::AddStatus(QString &message)
{
    message = timeOfDayText(m_loop.currentDateTime().time()) + QLatin1Char(' ') + message;
    m_list.append(message);
    emit m_list.statusAdded(static_cast<int>(m_list.m_lines.size()) - 1);
    writeLine(message);
}

QString StatusLog::AddStatus(const QString &message)
{
    QString stamped = message;
    AddStatus(stamped);
    return stamped;
}

void StatusLog::AddAlarm(const QString &message)
{
    AddStatus(message);
    if (m_alarm)
        m_alarm(message);
}

bool StatusLog::writeBytes(const QByteArray &bytes)
{
    // Each line goes to the file at once, so a crash loses no line of the day.
    if (m_channel->write(bytes) == bytes.size() && m_channel->flush())
        return true;
    const QString reason = m_channel->errorString();
    m_channel->close();
    failed(reason);
    return false;
}

void StatusLog::failed(const QString &reason)
{
    if (m_failing)
        return;
    m_failing = true;
    if (m_writeFailure)
        m_writeFailure(m_channelPath, reason);
}

void StatusLog::writeLine(const QString &line)
{
    if (!isChannelOpen()) {
        // Only a failure episode tries again (each line, cheaply: one open); a channel closed
        // on purpose (shutdown, midnight) stays closed.
        if (!m_failing)
            return;
        m_unwritten.append(line);
        if (m_unwritten.size() > StatusListModel::kWindow + StatusListModel::kTrimStep)
            m_unwritten.remove(0, m_unwritten.size() - StatusListModel::kWindow);
        if (!openChannelForAppend(m_channelPath))
            return;
        QByteArray waiting;
        for (const QString &l : std::as_const(m_unwritten))
            waiting += localLine(l);
        if (!writeBytes(waiting))
            return;
        m_unwritten.clear();
        m_failing = false;
        if (m_writeFailure)
            m_writeFailure(m_channelPath, QString());
        return;
    }
    if (!writeBytes(localLine(line)))
        m_unwritten.append(line);
}

bool StatusLog::openChannelForAppend(const QString &path)
{
    m_channel = std::make_unique<QFile>(path);
    m_channelPath = path;
    if (!m_channel->open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_openError = m_channel->errorString();
        m_channel.reset();
        return false;
    }
    return true;
}

void StatusLog::OpenDayLog()
{
    closeChannel();
    const QString path = m_logFolder + QLatin1Char('/') + dayLogFileName(m_loop.currentDateTime().date());
    QFile existing(path);
    if (existing.exists()) {
        if (existing.open(QIODevice::ReadOnly)) {
            m_list.append(readLocalLines(existing));
            existing.close();
        }
        m_loop.doEvents();
    }
    if (!openChannelForAppend(path))
        failed(m_openError);
}

void StatusLog::closeChannel()
{
    if (m_channel) {
        m_channel->close();
        m_channel.reset();
    }
}

void StatusLog::timLog_Timer()
{
    const QTime t = m_loop.currentDateTime().time();
    // Strictly after 00:00:01 and strictly before 00:01:30.
    const int ms = t.msecsSinceStartOfDay();
    if (ms > 1000 && ms < 90000)
        OpenDayLog(); // closes yesterday's file first
}

bool StatusLog::readLogFile(const QString &path, QStringList &lines)
{
    const bool borrowing = isChannelOpen()
        && QFileInfo(path).absoluteFilePath() == QFileInfo(m_channelPath).absoluteFilePath();
    if (borrowing)
        closeChannel();
    QFile file(path);
    bool ok = file.open(QIODevice::ReadOnly);
    if (ok)
        lines.append(readLocalLines(file));
    if (borrowing)
        openChannelForAppend(m_channelPath);
    return ok;
}

} // namespace telvox

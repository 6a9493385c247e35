#pragma once

#include <QAbstractListModel>
#include <QDate>
#include <QFile>
#include <QStringList>

#include <functional>
#include <memory>

namespace telvox {

class EventLoop;

// The status list: one row per log line, in arrival order, the newest last. The main window's
// `lstStatus` views it. Only the newest lines stay in memory (between kWindow and kWindow +
// kTrimStep of them), so that a program that runs for months does not grow with every call;
// the day logs keep every line.
class StatusListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void append(const QString &line);
    void append(const QStringList &lines);
    const QStringList &lines() const { return m_lines; }

    static constexpr qsizetype kWindow = 1000;
    static constexpr qsizetype kTrimStep = 200; // the oldest lines go in steps, not one by one

signals:
    // A line was added by AddStatus: the view selects it and scrolls to it.
    void statusAdded(int row);

private:
    friend class StatusLog;
    // Removes the oldest rows when `adding` more would pass the window by a step.
    void makeRoom(qsizetype adding);
    QStringList m_lines;
};

// Time of day as the user's locale writes it with seconds ("23:56:26" or "11:56:26 PM").
QString timeOfDayText(const QTime &time);
// Daily log file name for a date: "yy-mm-dd.txt".
QString dayLogFileName(const QDate &date);

// The daily log and the one operation for user-visible status messages. The log channel is
// the day's file under LogFiles, held open for appending from start-up to exit. A folder or
// file that cannot be written never stops the program: the line still reaches the list.
class StatusLog
{
public:
    StatusLog(EventLoop &loop, QString logFolder, StatusListModel &list);
    ~StatusLog();

    // Stamps `message` in place with the time of day and one space, adds it as the newest line
    // of the status list and writes it to the log channel.
    void AddStatus(QString &message);
    // Convenience for callers that do not need the stamped text back.
    QString AddStatus(const QString &message);

    // Opens the channel for today: an existing file's lines are added to the status list first.
    void OpenDayLog();
    void closeChannel();
    bool isChannelOpen() const { return m_channel && m_channel->isOpen(); }
    // Path of the file held as the log channel (empty when none is open).
    QString channelPath() const;

    // Midnight rollover tick (every 60 s): between 00:00:01 and 00:01:30, exclusive, the
    // channel moves to the new day's file.
    void timLog_Timer();

    // Reads a log file's lines for the viewer. Today's file, held as the channel, is borrowed:
    // the channel is flushed and closed, read, and reopened for appending in one step.
    // Returns false (with the lines read so far) when the file cannot be read.
    bool readLogFile(const QString &path, QStringList &lines);

    QString logFolder() const { return m_logFolder; }

    // A status line the user must see even without looking at the list: it is added as any
    // other and handed to the alarm handler (a desktop notification).
    void AddAlarm(const QString &message);
    void setAlarmHandler(std::function<void(const QString &)> handler) { m_alarm = std::move(handler); }

    // Told once when the day log stops taking lines (with the file and the system's reason)
    // and once when it takes them again (reason empty). Lines meanwhile wait in memory (the
    // newest kWindow) and are written when it does.
    using WriteFailureHandler = std::function<void(const QString &path, const QString &reason)>;
    void setWriteFailureHandler(WriteFailureHandler handler) { m_writeFailure = std::move(handler); }
    bool isFailing() const { return m_failing; }

private:
    bool openChannelForAppend(const QString &path);
    void writeLine(const QString &line);
    // Writes `bytes` to the open channel; false (channel closed, reason kept) when it fails.
    bool writeBytes(const QByteArray &bytes);
    void failed(const QString &reason);

    EventLoop &m_loop;
    QString m_logFolder;
    StatusListModel &m_list;
    std::unique_ptr<QFile> m_channel;
    QString m_channelPath;
    QString m_openError;
    std::function<void(const QString &)> m_alarm;
    WriteFailureHandler m_writeFailure;
    bool m_failing = false;
    QStringList m_unwritten; // lines of a failure episode, written once the log takes them
};

} // namespace telvox

// The floor for Telvox's start-up cost: a plain Qt Widgets window of about the main window's
// size (three lists, twelve buttons), started and ended the way bench/startup/measure_startup
// starts and ends telvox. Prints "loaded" once the window is shown and the event loop runs,
// then quits after --quit-after <ms> (default 0).
#include <QApplication>
#include <QGridLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int quitMs = 0;
    const QStringList args = QCoreApplication::arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--quit-after")); i >= 0 && i + 1 < args.size())
        quitMs = args[i + 1].toInt();

    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window"));
    auto *grid = new QGridLayout(&window);
    for (int l = 0; l < 3; ++l) {
        auto *list = new QListWidget(&window);
        for (int r = 0; r < 5; ++r)
            list->addItem(QStringLiteral("item %1").arg(r));
        grid->addWidget(list, 0, l * 4, 1, 4);
    }
    for (int b = 0; b < 12; ++b)
        grid->addWidget(new QPushButton(QStringLiteral("Button %1").arg(b + 1), &window), 1, b);
    window.resize(800, 500);
    window.show();

    QTimer::singleShot(0, [quitMs] {
        QTextStream(stdout) << "loaded" << Qt::endl;
        QTimer::singleShot(quitMs, [] { QCoreApplication::quit(); });
    });
    return QApplication::exec();
}

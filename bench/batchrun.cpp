// One run of the batch measurement of bench_download, in a process of its own so that the
// window's libraries and memory stay out of the measuring process and of its other children:
//   bench_batchrun window|downloader PROGRAM_DIRECTORY ADDRESSES RESULT
// Downloads every address of the file ADDRESSES (one a line) into PROGRAM_DIRECTORY/DL,
// either through Quorrin's window (all pasted at once into the address box, then one click on
// the download button; the time counts from the paste) or through one FileDownloader in a
// loop, and writes the seconds the run took to
// RESULT. Fails, with the reason on stderr, when any download fails.

#include "filedownload.h"
#include "form1.h"
#include "shellopen.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <optional>

namespace quorrin::bench {
namespace {

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool writeSeconds(const QString &path, double seconds)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(QByteArray::number(seconds, 'f', 9) + '\n') > 0;
}

void fail(const QString &why)
{
    std::fprintf(stderr, "batch run: %s\n", qPrintable(why));
}

// The window as a user sees it: shown and painted before the click.
void showAndSettle(QWidget &window)
{
    window.show();
    const QDeadlineTimer deadline(5000);
    while (!window.windowHandle()->isExposed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
}

// The first report row that names an error, with its cause; nothing when every entry ended
// with its finished row alone.
std::optional<QString> reportProblem(const QAbstractItemView &report, qsizetype entries)
{
    const QAbstractItemModel &rows = *report.model();
    for (int row = 0; row < rows.rowCount(); ++row) {
        const QString text = rows.index(row, 0).data().toString();
        if (text.startsWith(QLatin1String("Erreur pour ")))
            return text + QLatin1String(": ") + rows.index(row, 0).data(Qt::ToolTipRole).toString();
    }
    if (rows.rowCount() != 2 * entries)
        return QStringLiteral("%1 report rows for %2 entries").arg(rows.rowCount()).arg(entries);
    return std::nullopt;
}

// The addresses are the window's alone once pasted, as they would be coming from another
// program's clipboard: their memory is counted as the window's own.
std::optional<double> runThroughWindow(const QString &programDirectory, QStringList addresses)
{
    // Nothing but the downloads: the window's start is to hand nothing to the desktop.
    downloader::Form1::Services services;
    services.programDirectory = programDirectory;
    services.shellOpen = [](const QString &, const QString &) {};
    downloader::Form1 window(std::move(services));
    showAndSettle(window);
    auto *page = window.findChild<QLineEdit *>(QStringLiteral("txtPage"));
    auto *button = window.findChild<QAbstractButton *>(QStringLiteral("cmdDownLoad"));
    auto *report = window.findChild<QAbstractItemView *>(QStringLiteral("listErr"));
    if (!page || !button || !report) {
        fail(QStringLiteral("a control of the window is missing"));
        return std::nullopt;
    }
    // All the addresses in one paste, as a user pastes a list: the time counts from there.
    QGuiApplication::clipboard()->setText(addresses.join(QLatin1Char('\n')));
    QElapsedTimer clock;
    clock.start();
    page->setFocus();
    QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
    QCoreApplication::sendEvent(page, &paste);
    if (window.queuedPages() != addresses) {
        fail(QStringLiteral("%1 entries queued for %2 addresses")
                 .arg(window.queuedPages().size())
                 .arg(addresses.size()));
        return std::nullopt;
    }
    window.repaint(); // shown: the list laid out and painted
    const qsizetype entries = addresses.size();
    std::fprintf(stderr, "paste of %lld lines queued and shown in %.3f s\n",
                 static_cast<long long>(entries), double(clock.nsecsElapsed()) / 1e9);
    QGuiApplication::clipboard()->clear();
    addresses = {}; // clear() would keep its array
    button->click();
    // The run goes on in the event loop; it has ended when the window is ready again.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (window.ready())
            loop.quit();
    });
    poll.start(2);
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    if (const std::optional<QString> problem = reportProblem(*report, entries)) {
        fail(*problem);
        return std::nullopt;
    }
    return seconds;
}

std::optional<double> runThroughDownloader(const QString &programDirectory,
                                           const QStringList &addresses)
{
    const QDir target(QDir(programDirectory).filePath(QStringLiteral("DL")));
    FileDownloader downloader;
    QElapsedTimer clock;
    clock.start();
    if (!target.mkpath(QStringLiteral(".")))
        return std::nullopt;
    for (const QString &address : addresses) {
        const QString name = address.section(QLatin1Char('/'), -1);
        const DownloadResult result = downloader.download(address, target.filePath(name));
        if (!result.ok) {
            fail(address + QLatin1String(": ") + result.cause);
            return std::nullopt;
        }
    }
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace
} // namespace quorrin::bench

int main(int argc, char **argv)
{
    using namespace quorrin;
    using namespace quorrin::downloader;
    using namespace quorrin::bench;
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s window|downloader PROGRAM_DIRECTORY ADDRESSES RESULT\n",
                     argv[0]);
        return 2;
    }
    const bool window = std::strcmp(argv[1], "window") == 0;
    if (!window && std::strcmp(argv[1], "downloader") != 0) {
        fail(QStringLiteral("unknown way of running: %1").arg(QString::fromLocal8Bit(argv[1])));
        return 2;
    }
    if (window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window needs an application object; the downloader alone does not.
    std::optional<QApplication> application;
    if (window)
        application.emplace(argc, argv);

    const QString programDirectory = QString::fromLocal8Bit(argv[2]);
    QStringList addresses = readLines(QString::fromLocal8Bit(argv[3]));
    if (addresses.isEmpty()) {
        fail(QStringLiteral("no addresses"));
        return 1;
    }
    const std::optional<double> seconds =
        window ? runThroughWindow(programDirectory, std::move(addresses))
               : runThroughDownloader(programDirectory, addresses);
    return seconds && writeSeconds(QString::fromLocal8Bit(argv[4]), *seconds) ? 0 : 1;
}

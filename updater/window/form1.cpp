#include "form1.h"

#include "alwaysontop.h"
#include "commandline.h"
#include "desktopopener.h"
#include "fontfit.h"
#include "installercheck.h"
#include "minisign.h"
#include "pagefetch.h"
#include "pagescan.h"
#include "programdirectory.h"
#include "transfer.h"
#include "updatetexts.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <utility>

namespace quorrin::updater {
namespace {

using namespace std::chrono_literals;

constexpr int TwipsPerPixel = 15;
// The hidden updater must end some day, whatever the server sends.
constexpr qint64 MaxInstallerSize = qint64(1) << 30;
constexpr auto InstallerDeadline = 30min;
constexpr auto SignatureDeadline = 2min;
const QSize BackgroundSize(200, 114);

// The installer counts as there once a file, or a link to one, stands at its path.
bool installerExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QRect primaryScreenGeometry()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

// The real service for each one left empty.
Form1::Services completed(Form1::Services services)
{
    if (!services.screenGeometry)
        services.screenGeometry = &primaryScreenGeometry;
    if (!services.showMessage)
        services.showMessage = &showMessage;
    if (!services.shellOpen)
        services.shellOpen = &ShellOpen;
    if (!services.canOpen)
        services.canOpen = &desktopCanOpen;
    if (!services.terminate)
        services.terminate = &TerminateProcessById;
    if (services.programDirectory.isEmpty())
        services.programDirectory = programDirectory();
    return services;
}

} // namespace

Form1::Form1(const QString &commandLine, Services services, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    , labMess(new QLabel(this))
    , WebBrowser1(new PageFetch(this))
    , Timer1(new QTimer(this))
    , TimerSplash(new QTimer(this))
    , baseUrl(services.baseUrl)
    , m_commandLine(commandLine)
    , m_services(completed(std::move(services)))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    // Shown without taking the keyboard from the program the user is typing into.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(SplashWidth / TwipsPerPixel, SplashHeight / TwipsPerPixel);

    labMess->setObjectName(QStringLiteral("labMess"));
    labMess->setGeometry(1080 / TwipsPerPixel, 120 / TwipsPerPixel, 1815 / TwipsPerPixel,
                         1215 / TwipsPerPixel);
    labMess->setAlignment(Qt::AlignCenter);
    labMess->setAttribute(Qt::WA_TransparentForMouseEvents); // its clicks are the window's
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    TimerSplash->setObjectName(QStringLiteral("TimerSplash"));
    TimerSplash->setInterval(SplashWaiting);

    connect(WebBrowser1, &PageFetch::DocumentComplete, this, &Form1::documentComplete);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(TimerSplash, &QTimer::timeout, this, &Form1::TimerSplash_Timer);
}

Form1::~Form1() = default;

bool Form1::Form_Load()
{
    SetAlwaysOnTop(this, true);
    if (m_commandLine.isEmpty()) {
        askManualLaunch();
        return false;
    }
    updArgs = splitCommandLine(m_commandLine);
    if (updArgs.size() < CommandLineFieldCount) {
        endProgram();
        return false;
    }
    msgTitle = updateTitle(updArgs.at(NameField));
    hide();
    WebBrowser1->Navigate(updatePageUrl(baseUrl));
    pageLoaded = false;
    Timer1->start();
    return true;
}

void Form1::askManualLaunch()
{
    const Message question{manualLaunchTitle(), manualLaunchQuestion(baseUrl),
                           QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes};
    if (tell(question) == QMessageBox::Yes)
        m_services.shellOpen(updatePageUrl(baseUrl), QString());
    endProgram();
}

// The updater's boxes have no window to stay above and may come while the user works in
// another program's topmost window, Quorrin's: they come above everything.
QMessageBox::StandardButton Form1::tell(Message message)
{
    message.aboveAllWindows = true;
    return m_services.showMessage(nullptr, message);
}

void Form1::endProgram()
{
    m_ended = true;
    Timer1->stop();
    TimerSplash->stop();
    hide();
    Q_EMIT ended();
}

void Form1::documentComplete(const QString &bodyMarkup)
{
    m_bodyMarkup = bodyMarkup;
    pageLoaded = true;
}

void Form1::Timer1_Timer()
{
    if (!pageLoaded)
        return;
    Timer1->stop();
    pageLoaded = false;
    ScanUpdatePage();
}

void Form1::ScanUpdatePage()
{
    const ScanResult scan =
        readUpdatePage(m_bodyMarkup, updArgs, dataDirectory(m_services.programDirectory), baseUrl);
    switch (scan.action) {
    case ScanResult::Action::NotFound:
        tell({msgTitle, notFoundMessage(updArgs.at(NameField))});
        endProgram();
        return;
    case ScanResult::Action::UpToDate:
    case ScanResult::Action::EndSilently:
        endProgram();
        return;
    case ScanResult::Action::Notify:
        break;
    }
    setupPath = scan.setupPath;
    labMess->setText(scan.notification);
    const QStringList lines = scan.notification.split(QLatin1Char('\n'));
    QList<std::pair<QString, int>> widths;
    for (const QString &line : lines)
        widths.append({line, labMess->width() - 2});
    labMess->setFont(fontFitting(font(), 11, widths));
    if (m_services.publicKey.isEmpty())
        offerInstaller(scan.downloadUrl, {}, {});
    else
        fetchSignature(scan, m_services.publicKey);
}

// A signed build offers only an installer that its maker's key has signed.
void Form1::fetchSignature(const ScanResult &scan, const QByteArray &key)
{
    TransferOptions options;
    options.protocols = TransferOptions::Protocols::WebPages;
    options.maxSize = MaxSignatureFileSize;
    options.deadline = SignatureDeadline;
    Transfer *fetch = startFetch(scan.signatureUrl, std::move(options), this);
    connect(fetch, &Transfer::finished, this,
            [this, fetch, key, url = scan.downloadUrl](const DownloadResult &result) {
                fetch->deleteLater();
                if (result.ok)
                    offerInstaller(url, key, fetch->body());
                else
                    endProgram();
            });
}

// An installer from an earlier day is offered again once it has been checked again.
void Form1::offerInstaller(const QString &url, const QByteArray &key, const QByteArray &signature)
{
    if (!installerExists(setupPath))
        downloadInstaller(url, key, signature);
    else if (key.isEmpty() || keepVerifiedInstaller(key, signature, setupPath))
        TimerSplash->start();
    else
        endProgram();
}

// In the background: the window stays hidden until the installer is complete (and verified,
// before it takes its name). A download that fails leaves nothing to show and nothing that
// would ever arrive: the program ends.
void Form1::downloadInstaller(const QString &url, const QByteArray &key,
                              const QByteArray &signature)
{
    TransferOptions options;
    options.maxSize = MaxInstallerSize;
    options.deadline = InstallerDeadline;
    if (!key.isEmpty())
        options.acceptData = [key, signature](const QString &part) {
            return verifyMinisign(key, signature, part);
        };
    Transfer *download = startDownload(url, setupPath, std::move(options), this);
    connect(download, &Transfer::finished, this, [this, download](const DownloadResult &result) {
        download->deleteLater();
        if (result.ok)
            TimerSplash->start();
        else
            endProgram();
    });
}

void Form1::TimerSplash_Timer()
{
    const QSize screen = m_services.screenGeometry().size() * TwipsPerPixel;
    const SplashGeometry geometry{screen.width(), screen.height(), width() * TwipsPerPixel,
                                  height() * TwipsPerPixel};
    m_splash.interval = TimerSplash->interval();
    const bool arrived = m_splash.interval == SplashWaiting && installerExists(setupPath);
    m_splash = nextSplashState(m_splash, geometry, arrived);
    applySplashState();
}

void Form1::Form_Click()
{
    const SplashClick click = clickSplash(m_splash, installerExists(setupPath));
    m_splash = click.state;
    if (click.launchesInstaller && m_services.canOpen(setupPath)) {
        KillProcessByName(updArgs.at(ExecutableField), m_services.programDirectory,
                          m_services.terminate);
        m_services.shellOpen(setupPath, QString());
    } else if (click.launchesInstaller) {
        // Nothing would install: the caller stays. The notification waits for the box to
        // be read before it sinks and the program ends.
        TimerSplash->stop();
        tell({msgTitle, cannotOpenInstallerMessage(updArgs.at(NameField), setupPath)});
        TimerSplash->start();
    }
    applySplashState();
}

// Puts the window where the animation's state says, at twips / 15 pixels on the primary
// screen, and lets the timer's interval carry the state.
void Form1::applySplashState()
{
    if (m_splash.ended) {
        endProgram();
        return;
    }
    if (m_splash.visible) {
        const QPoint origin = m_services.screenGeometry().topLeft();
        move(origin +
             QPoint(qRound(m_splash.Left / TwipsPerPixel), qRound(m_splash.Top / TwipsPerPixel)));
        if (!isVisible())
            show();
    }
    if (TimerSplash->interval() != m_splash.interval)
        TimerSplash->setInterval(m_splash.interval);
}

void Form1::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Form_Click();
}

void Form1::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_background.paint(&painter, QRect(QPoint(), BackgroundSize));
}

} // namespace quorrin::updater

#pragma once

#include "desktopopener.h"
#include "killprocess.h"
#include "messagebox.h"
#include "shellopen.h"
#include "splashanimation.h"

#include <QIcon>
#include <QRect>
#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QTimer;

namespace quorrin::updater {

class PageFetch;
struct ScanResult;

// The updater's one window. Hidden while it reads the update page; when a newer installer is
// published, it becomes the small notification that slides up at the bottom right of the
// screen. A click on it ends the caller and opens the installer.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // The update site, and what the window asks of the world outside it; each service left
    // empty is the real one.
    struct Services {
        QString baseUrl;      // the update site's directory, ending in "/"
        QByteArray publicKey; // the minisign key installers must be signed with; empty: none
        std::function<QRect()> screenGeometry; // the primary screen's, in pixels
        MessagePresenter showMessage;          // a modal message box
        ShellLauncher shellOpen;               // the desktop's launcher
        OpenCheck canOpen;                     // whether the desktop can open a file
        ProcessTerminator terminate;           // SIGTERM
        QString programDirectory;              // the executable's directory
    };

    // `commandLine`: the program's raw command line (four TAB-separated fields, or empty).
    explicit Form1(const QString &commandLine, Services services = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up. False when the program has already ended (started by hand, or with an
    // unusable command line).
    bool Form_Load();

    // Where the installer is stored, once the page has named one.
    QString installerPath() const { return setupPath; }
    bool hasEnded() const { return m_ended; }

Q_SIGNALS:
    // The program ends now: no further events are to be handled.
    void ended();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void endProgram();
    QMessageBox::StandardButton tell(Message message);
    void askManualLaunch();
    void documentComplete(const QString &bodyMarkup);
    void Timer1_Timer();
    void ScanUpdatePage();
    void fetchSignature(const ScanResult &scan, const QByteArray &key);
    void offerInstaller(const QString &url, const QByteArray &key, const QByteArray &signature);
    void downloadInstaller(const QString &url, const QByteArray &key, const QByteArray &signature);
    void TimerSplash_Timer();
    void Form_Click();
    void applySplashState();

    QLabel *labMess;
    PageFetch *WebBrowser1;
    QTimer *Timer1;
    QTimer *TimerSplash;

    bool pageLoaded = false;
    QString setupPath;
    QStringList updArgs;
    QString msgTitle;
    QString baseUrl;
    QString m_commandLine;
    QString m_bodyMarkup;
    SplashState m_splash;
    Services m_services;
    bool m_ended = false;
    QIcon m_background{QStringLiteral(":/updater/notification.svg")};
};

} // namespace quorrin::updater

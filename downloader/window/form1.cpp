#include "form1.h"

#include "alwaysontop.h"
#include "elidinglabel.h"
#include "elidinglist.h"
#include "fontfit.h"
#include "picturebutton.h"
#include "programdirectory.h"
#include "queuelist.h"
#include "reportlist.h"
#include "runreport.h"
#include "updatecheck.h"
#include "version.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <initializer_list>
#include <limits>

#ifndef QUORRIN_UPDATER_SHIPPED
#error "QUORRIN_UPDATER_SHIPPED tells whether the build has an updater to start"
#endif

namespace quorrin::downloader {
namespace {

const QString ProgramTitle = QStringLiteral("Quorrin");
const QSize BackgroundSize(380, 266);

// The window's design is measured in twips, fifteen to a logical pixel.
QRect fromTwips(int left, int top, int width, int height)
{
    const auto px = [](int twips) { return qRound(twips / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

// The real service for each one left empty.
Form1::Services completed(Form1::Services services)
{
    if (!services.saveAs)
        services.saveAs = std::make_unique<QtSaveAsDialog>();
    if (!services.today)
        services.today = &QDate::currentDate;
    if (!services.showMessage)
        services.showMessage = &showMessage;
    if (!services.shellOpen)
        services.shellOpen = &ShellOpen;
    if (services.programDirectory.isEmpty())
        services.programDirectory = programDirectory();
    if (!services.updaterShipped)
        services.updaterShipped = QUORRIN_UPDATER_SHIPPED;
    return services;
}

} // namespace

Form1::Form1(Services services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_services(completed(std::move(services)))
{
    CommonDialog1 = std::move(m_services.saveAs);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(ProgramTitle);
    setWindowIcon(QIcon(QStringLiteral(":/quorrin/icon.svg")));
    setFixedSize(fromTwips(0, 0, 5685, 3945).size());
    createControls();
    placeControls();
    QList<std::pair<QString, int>> labels;
    for (const QLabel *label : {Label1, Label2, labMess, Label3})
        labels.append({label->text(), label->width()});
    setFont(fontFitting(font(), 11, labels));
    describeControls();
    connectControls();
    Form_Load();
}

// A run still under way stops keeping what it has, before the record it writes to goes.
Form1::~Form1()
{
    delete m_batch;
}

void Form1::createControls()
{
    txtPage = new AddressBox(QStringLiteral("http://"), this);
    txtPath = new QLineEdit(this);
    cmdDownLoad = new PictureButton(QStringLiteral(":/quorrin/download.svg"), {197, 28}, this);
    cmdDownLoad->setFaceColor(Qt::white);
    Label1 = new QLabel(QStringLiteral("Adresse du téléchargement A COPIER ici :"), this);
    Label2 = new QLabel(QStringLiteral("Chemin de stockage"), this);
    labMess = new ElidingLabel(QStringLiteral("Fichiers à télécharger :"), this);
    cmdOpen = new PictureButton(QStringLiteral(":/quorrin/open.svg"), {15, 13}, this);
    ListDl = new QueueList(this);
    listErr = new ReportList(this);
    m_report = new RunReport(this);
    listErr->setModel(m_report);
    listErr->hide();
    cmdEfface = new PictureButton(QStringLiteral(":/quorrin/reset.svg"), {155, 22}, this);
    ChkAlwaysOnTop = new QCheckBox(this);
    ChkAlwaysOnTop->setChecked(true);
    Label3 = new QLabel(QStringLiteral("Toujours visible"), this);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("barDownload"));
    m_progress->setTextVisible(false);
    m_progress->hide();
    m_runTick = new QTimer(this);
    m_runTick->setInterval(100);
    connect(m_runTick, &QTimer::timeout, this, &Form1::runTick);

    const std::pair<QWidget *, const char *> names[] = {{txtPage, "txtPage"},
                                                        {txtPath, "txtPath"},
                                                        {cmdDownLoad, "cmdDownLoad"},
                                                        {Label1, "Label1"},
                                                        {Label2, "Label2"},
                                                        {labMess, "labMess"},
                                                        {cmdOpen, "cmdOpen"},
                                                        {ListDl, "ListDl"},
                                                        {listErr, "listErr"},
                                                        {cmdEfface, "cmdEfface"},
                                                        {ChkAlwaysOnTop, "ChkAlwaysOnTop"},
                                                        {Label3, "Label3"}};
    for (const auto &[control, name] : names)
        control->setObjectName(QLatin1String(name));
    for (QListView *list : std::initializer_list<QListView *>{ListDl, listErr})
        list->setSelectionMode(QAbstractItemView::SingleSelection);
    for (QLabel *label : {Label1, Label2, labMess, Label3})
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (QLineEdit *box : std::initializer_list<QLineEdit *>{txtPage, txtPath}) {
        box->setMaxLength(std::numeric_limits<int>::max());
        // A drop anywhere on the window queues what it brings, the boxes included.
        box->setAcceptDrops(false);
    }
    setAcceptDrops(true);

    QWidget::setTabOrder(txtPage, txtPath);
    QWidget::setTabOrder(txtPath, cmdDownLoad);
    QWidget::setTabOrder(cmdDownLoad, cmdOpen);
    QWidget::setTabOrder(cmdOpen, ListDl);
    QWidget::setTabOrder(ListDl, listErr);
    QWidget::setTabOrder(listErr, cmdEfface);
    QWidget::setTabOrder(cmdEfface, ChkAlwaysOnTop);
    txtPage->setFocus();
}

void Form1::placeControls()
{
    txtPage->setGeometry(fromTwips(120, 2040, 5415, 285));
    txtPath->setGeometry(fromTwips(480, 2640, 5055, 285));
    cmdDownLoad->setGeometry(fromTwips(120, 1200, 1935, 435));
    Label1->setGeometry(fromTwips(120, 1800, 3375, 255));
    Label2->setGeometry(fromTwips(120, 2400, 2775, 255));
    labMess->setGeometry(fromTwips(2160, 120, 3375, 255));
    cmdOpen->setGeometry(fromTwips(120, 2670, 375, 255));
    ListDl->setGeometry(fromTwips(2160, 360, 3375, 1230));
    listErr->setGeometry(fromTwips(120, 3120, 5415, 645));
    cmdEfface->setGeometry(fromTwips(3480, 1680, 2055, 255));
    // The box is narrower than some styles' tick square; let the square show whole.
    QRect box = fromTwips(120, 960, 160, 255);
    box.setWidth(std::max(box.width(), style()->pixelMetric(QStyle::PM_IndicatorWidth)));
    ChkAlwaysOnTop->setGeometry(box);
    Label3->setGeometry(fromTwips(360, 960, 1335, 255));
    // A thin bar under the download button, between it and the address's label.
    m_progress->setGeometry(cmdDownLoad->x(), cmdDownLoad->geometry().bottom() + 2,
                            cmdDownLoad->width(), 5);
}

// Names and tooltips, so that a screen reader can speak every control.
void Form1::describeControls()
{
    const auto describe = [](QWidget *control, const QString &name, const QString &toolTip) {
        control->setAccessibleName(name);
        control->setToolTip(toolTip);
        control->setAccessibleDescription(toolTip);
    };
    describe(txtPage, QStringLiteral("Adresse du téléchargement"),
             QStringLiteral("N'importe quelle adresse valide, html, exe, zip...etc"));
    describe(txtPath, Label2->text(),
             QStringLiteral("Là où vous souhaitez enregistrer le fichier"));
    describe(cmdDownLoad, QStringLiteral("Télécharger les fichiers de la liste"),
             QStringLiteral("Télécharger les fichiers de la liste"));
    describe(cmdOpen, QStringLiteral("Choisir le chemin de stockage"), QString());
    describe(ListDl, QStringLiteral("Liste à télécharger"),
             QStringLiteral("Liste à télécharger (appuyez sur Suppr pour supprimer l'item)"));
    describe(listErr, QStringLiteral("Compte rendu du téléchargement"),
             QStringLiteral("Compte rendu du téléchargement"));
    describe(cmdEfface, QStringLiteral("Réinitialiser les paramètres"),
             QStringLiteral("Réinitialise les paramètres"));
    describe(ChkAlwaysOnTop, Label3->text(), QString());
    describe(m_progress, QStringLiteral("Progression du téléchargement"), QString());
}

void Form1::connectControls()
{
    connect(txtPage, &QLineEdit::textChanged, this, &Form1::txtPageChange);
    connect(txtPath, &QLineEdit::textChanged, this, &Form1::txtPathChange);
    connect(ListDl, &QListWidget::currentRowChanged, this, &Form1::listDlClick);
    ListDl->installEventFilter(this);
    txtPage->installEventFilter(this);
    connect(cmdDownLoad, &QAbstractButton::clicked, this, &Form1::cmdDownLoadClick);
    connect(cmdOpen, &QAbstractButton::clicked, this, &Form1::cmdOpenClick);
    connect(cmdEfface, &QAbstractButton::clicked, this, &Form1::cmdEffaceClick);
    connect(ChkAlwaysOnTop, &QAbstractButton::clicked, this, &Form1::chkAlwaysOnTopClick);
}

void Form1::Form_Load()
{
    SetAlwaysOnTop(this, true);
    const QString data = dataDirectory(m_services.programDirectory);
    txtPath->setText(QDir(data).filePath(QStringLiteral("DL")) + QLatin1Char('/'));
    ResetParameters();
    m_recorder = std::make_unique<RunRecorder>(data);
    restoreInterruptedRun();
    CheckForUpdate();
}

// The entries a run cut short had not finished come back as the queue, the last one in the
// boxes as after a paste, for the download button to continue.
void Form1::restoreInterruptedRun()
{
    const QList<InterruptedEntry> entries = m_recorder->interruptedEntries();
    if (entries.isEmpty())
        return;
    for (const InterruptedEntry &entry : entries)
        m_queue.append(entry.row, entry.address, entry.path);
    showQueue();
    setTextQuietly(txtPage, entries.last().address);
    setTextQuietly(txtPath, entries.last().path);
    txtPage->selectAll();
    labMess->setText(QStringLiteral("À reprendre : cliquez sur Télécharger"));
}

// Once a calendar day, the updater looks for a newer release; Quorrin does not wait for it.
// A build without an updater has no check to record.
void Form1::CheckForUpdate()
{
    const QDir program(m_services.programDirectory);
    const QString checkFile =
        QDir(dataDirectory(m_services.programDirectory)).filePath(CheckFileName);
    if (!*m_services.updaterShipped || !recordUpdateCheck(checkFile, m_services.today()))
        return;
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    m_services.shellOpen(program.filePath(QStringLiteral("updater")),
                         updaterCommandLine(QUORRIN_REVISION, executable));
}

void Form1::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_background.paint(&painter, QRect(QPoint(), BackgroundSize));
}

// The dialog opens at the path shown; a cancel leaves it as it is.
void Form1::cmdOpenClick()
{
    if (!isReady)
        return;
    const Result<QString> chosen = CommonDialog1->showSave(this, txtPath->text());
    if (!chosen) {
        m_services.showMessage(
            this, {ProgramTitle, QStringLiteral("Erreur dans cmpOpen\n") + chosen.cause()});
        return;
    }
    if (!chosen.value().isEmpty())
        txtPath->setText(chosen.value());
}

void Form1::cmdEffaceClick()
{
    stopRun(false);
    ResetParameters();
    m_recorder->clear();
    txtPage->setFocus();
}

void Form1::chkAlwaysOnTopClick()
{
    SetAlwaysOnTop(this, ChkAlwaysOnTop->isChecked());
}

} // namespace quorrin::downloader

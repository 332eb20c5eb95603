#include "quorrinprogram.h"

#include "addresslist.h"
#include "entrynaming.h"
#include "handoverserver.h"
#include "programdirectory.h"
#include "queuenotices.h"
#include "startarguments.h"
#include "startrole.h"
#include "startup.h"
#include "terminationsignals.h"
#include "windowactivation.h"

#include <QApplication>

#include <cstdio>

namespace quorrin::downloader {
namespace {

// How long a start waits for the window to listen, and then for its reply: a window that is
// itself starting may have a long interrupted run to show first.
constexpr std::chrono::milliseconds Patience{10000};

void printLine(const QString &line)
{
    std::fputs((QStringLiteral("quorrin : ") + line + QLatin1Char('\n')).toLocal8Bit().constData(),
               stderr);
}

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// The addresses, and what the desktop gave this start to bring a window forward with.
HandOver handOverOf(const QStringList &addresses)
{
    return {addresses, qEnvironmentVariable("DESKTOP_STARTUP_ID"),
            qEnvironmentVariable("XDG_ACTIVATION_TOKEN")};
}

// Tells what of the `sent` addresses the window did not queue.
void tellOutcome(int sent, const HandOverReply &reply)
{
    const int notAddresses = sent - reply.queued - reply.notQueued;
    if (reply.notQueued > 0)
        printLine(queueFullLine(reply.notQueued));
    if (notAddresses > 0)
        printLine(notAddressesLine(notAddresses));
}

int runWindow(int argc, char *argv[], Form1::Services services, const QStringList &addresses,
              const WindowClaim *claim)
{
    if (!checkDisplay("quorrin"))
        return 1;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrin"));
    installFrenchTranslations(application);
    Form1 window(std::move(services));
    tellOutcome(int(addresses.size()), window.queueHandedAddresses(addresses));
    window.show();
    std::unique_ptr<HandOverServer> server;
    if (claim) {
        server = std::make_unique<HandOverServer>(claim->socket(), [&window](const HandOver &in) {
            const HandOverReply reply = window.queueHandedAddresses(in.addresses);
            bringForward(&window, in.startupId, in.activationToken);
            return reply;
        });
    }
    // A close always ends the program, whatever Qt may count as still open; so does a signal,
    // after the window has kept what its run can continue.
    QObject::connect(&application, &QGuiApplication::lastWindowClosed, &application,
                     &QCoreApplication::quit);
    onTerminationSignal([&window] {
        window.close();
        QCoreApplication::quit();
    });
    return application.exec();
}

} // namespace

int runQuorrin(int argc, char *argv[], Form1::Services services)
{
    const Result<StartArguments> arguments = parseStartArguments(argumentsOf(argc, argv));
    if (!arguments) {
        printLine(arguments.cause());
        return 2;
    }
    if (arguments.value().action == StartArguments::Action::Help) {
        std::fputs(startHelp().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (arguments.value().action == StartArguments::Action::Version) {
        std::fputs(startVersion().toLocal8Bit().constData(), stdout);
        return 0;
    }
    const Result<QStringList> addresses = addressesOf(arguments.value().sources);
    if (!addresses) {
        printLine(addresses.cause());
        return 2;
    }
    if (services.programDirectory.isEmpty())
        services.programDirectory = programDirectory();
    const Result<HandOverPlace> place =
        handOverPlace(userRuntimeDirectory(), dataDirectory(services.programDirectory));
    if (!place) {
        printLine(place.cause() +
                  QStringLiteral(" : la fenêtre ne recevra pas les adresses des démarrages "
                                 "suivants"));
        return runWindow(argc, argv, std::move(services), addresses.value(), nullptr);
    }
    const QByteArray message = serializeHandOver(handOverOf(addresses.value()));
    if (message.size() > MaxHandOverBytes) {
        printLine(QStringLiteral("les adresses dépassent 64 Mio : aucune n'a été ajoutée"));
        return 2;
    }
    const StartRole role = claimWindowOrHandOver(place.value(), message, Patience);
    if (role.reply) {
        tellOutcome(int(addresses.value().size()), *role.reply);
        return 0;
    }
    if (!role.claim) {
        printLine(role.failure);
        return 1;
    }
    return runWindow(argc, argv, std::move(services), addresses.value(), role.claim.get());
}

} // namespace quorrin::downloader

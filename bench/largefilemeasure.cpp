#include "largefilemeasure.h"

#include "batchmeasure.h"
#include "nginxserver.h"
#include "waycomparison.h"

#include <QDir>

#include <cstdio>

namespace quorrin::bench {

bool measureLargeFileCase(const Setup &setup, const QString &scratch, const LargeFileCase &file)
{
    const bool capped = !file.limitRate.isEmpty();
    const QString label =
        capped ? QStringLiteral("capped-%1").arg(file.limitRate) : QStringLiteral("uncapped");
    const QString serverScratch = QDir(scratch).filePath(QLatin1String("nginx-") + label);
    if (!QDir().mkpath(serverScratch))
        return false;
    NginxOptions serving;
    serving.limitRate = file.limitRate;
    serving.logRequests = true;
    NginxServer server(serverScratch, setup.served, serving);
    const Setup here{setup.self, server, setup.served, setup.downloads, setup.runs};

    BatchOptions options;
    options.files = 1;
    options.fileBytes = file.sizeMiB << 20;
    options.name = QStringLiteral("large-%1").arg(file.sizeMiB);
    std::printf("\nPreparing a file of %lld MiB...\n", file.sizeMiB);
    std::fflush(stdout);
    const std::optional<Batch> batch = prepareBatch(here, options);
    if (!batch)
        return false;
    const QString name = batch->names.front();
    const QString url = server.url(options.name + u'/' + name);

    // A peer's command, given the directory it is to fetch into.
    const auto peer = [&](const QString &wayName, const QString &directoryLabel,
                          const std::function<QStringList(const QString &)> &command) {
        return Way{wayName, [&, directoryLabel, command](int run) -> std::optional<ProcessCost> {
                       const QString directory =
                           QDir(batch->runs)
                               .filePath(QStringLiteral("%1-%2").arg(directoryLabel).arg(run));
                       if (!QDir().mkpath(directory))
                           return std::nullopt;
                       const std::optional<PeerRun> result =
                           runPeer(options, *batch, directory, command(directory));
                       return result ? std::optional(result->transfer) : std::nullopt;
                   }};
    };
    const auto aria2 = [&](const QStringList &arguments) {
        return [=](const QString &directory) {
            return QStringList{QStringLiteral("aria2c"), QStringLiteral("-q")} + arguments +
                   QStringList{QStringLiteral("-d"), directory, QStringLiteral("-o"), name, url};
        };
    };
    const std::vector<Way> ways{
        {QStringLiteral("Quorrin's window"),
         [&](int run) { return runOurs(here, options, *batch, QStringLiteral("window"), run); }},
        peer(QStringLiteral("curl"), QStringLiteral("curl"),
             [&](const QString &directory) {
                 return QStringList{QStringLiteral("curl"), QStringLiteral("-sSf"),
                                    QStringLiteral("-o"), QDir(directory).filePath(name), url};
             }),
        peer(QStringLiteral("aria2c -x4 -s4"), QStringLiteral("aria2-x4"),
             aria2({QStringLiteral("-x4"), QStringLiteral("-s4")})),
        peer(QStringLiteral("aria2c -x16 -s16"), QStringLiteral("aria2-x16"),
             aria2({QStringLiteral("-x16"), QStringLiteral("-s16")})),
        peer(QStringLiteral("aria2c -x16 -s16 -k1M"), QStringLiteral("aria2-x16-k1M"),
             aria2({QStringLiteral("-x16"), QStringLiteral("-s16"), QStringLiteral("-k1M")})),
    };

    const QString limit = capped ? QStringLiteral("each connection held to %1 a second by nginx's "
                                                  "limit_rate")
                                       .arg(file.limitRate)
                                 : QStringLiteral("no limit on the server");
    std::printf("\nOne file of %lld MiB, %s:\n", file.sizeMiB, qPrintable(limit));
    std::fflush(stdout);
    const std::optional<std::vector<WayFigures>> figures = runWays(ways, setup.runs, &server);
    if (!figures)
        return false;
    std::printf("\nOne file of %lld MiB, %s, median of %d runs:\n", file.sizeMiB, qPrintable(limit),
                setup.runs);
    printWays(ways, *figures);
    return true;
}

} // namespace quorrin::bench

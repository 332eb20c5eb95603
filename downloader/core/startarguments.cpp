#include "startarguments.h"

#include "version.h"

#include <QLatin1StringView>

#include <optional>

namespace quorrin::downloader {
namespace {

enum class LongOption { Help, Version, InputFile };

// Qt reads these itself from the same command line, with one dash or two, and the value of
// the first ones from the next argument: a session manager restarts a program with -session.
const QStringList QtOptionsWithValue = {
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("session"),
    QStringLiteral("display"),         QStringLiteral("geometry"),
    QStringLiteral("style"),           QStringLiteral("stylesheet")};
const QStringList QtFlags = {QStringLiteral("reverse"), QStringLiteral("widgetcount")};
const QStringList QtOptionsJoined = {QStringLiteral("style="), QStringLiteral("stylesheet="),
                                     QStringLiteral("qmljsdebugger=")};

std::optional<LongOption> longOptionNamed(const QString &name)
{
    if (name.isEmpty())
        return std::nullopt;
    // Any beginning names one option at most: their first letters differ.
    const std::pair<const char *, LongOption> options[] = {{"help", LongOption::Help},
                                                           {"version", LongOption::Version},
                                                           {"input-file", LongOption::InputFile}};
    for (const auto &[full, option] : options) {
        if (QLatin1StringView(full).startsWith(name))
            return option;
    }
    return std::nullopt;
}

// How many arguments a Qt option at `arguments[index]` takes up, its value included; 0 when
// it is none of Qt's.
int qtOptionLength(const QStringList &arguments, qsizetype index)
{
    const QString &argument = arguments.at(index);
    if (!argument.startsWith(QLatin1Char('-')))
        return 0;
    const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    if (QtFlags.contains(name))
        return 1;
    if (QtOptionsWithValue.contains(name))
        return index + 1 < arguments.size() ? 2 : 1;
    for (const QString &joined : QtOptionsJoined) {
        if (name.startsWith(joined))
            return 1;
    }
    return 0;
}

Failure unknownOption(const QString &option)
{
    return Failure{QStringLiteral("option inconnue « %1 » (quorrin --help donne la liste des "
                                  "options)")
                       .arg(option)};
}

Failure missingFile(const QString &option)
{
    return Failure{QStringLiteral("l'option « %1 » attend un nom de fichier").arg(option)};
}

// Reads the command line one argument after the other.
class Reader {
public:
    explicit Reader(const QStringList &arguments)
        : m_arguments(arguments)
    {
    }

    Result<StartArguments> read()
    {
        while (m_index < m_arguments.size() && m_result.action == StartArguments::Action::Queue) {
            const QString &argument = m_arguments.at(m_index);
            std::optional<Failure> failure;
            if (m_operandsOnly || argument == QLatin1String("-") ||
                !argument.startsWith(QLatin1Char('-')))
                addAddress(argument);
            else if (argument == QLatin1String("--"))
                m_operandsOnly = true;
            else if (const int length = qtOptionLength(m_arguments, m_index))
                m_index += length - 1;
            else if (argument.startsWith(QLatin1String("--")))
                failure = readLongOption(argument);
            else
                failure = readShortOption(argument);
            if (failure)
                return *failure;
            ++m_index;
        }
        return m_result;
    }

private:
    void addAddress(const QString &address) { m_result.sources.append({false, address}); }

    std::optional<Failure> readLongOption(const QString &argument)
    {
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString written = argument.left(equals);
        const std::optional<LongOption> option = longOptionNamed(written.mid(2));
        if (!option)
            return unknownOption(written);
        if (*option == LongOption::InputFile) {
            if (equals >= 0)
                return addFile(written, argument.mid(equals + 1));
            return addFileFromNext(written);
        }
        if (equals >= 0)
            return Failure{QStringLiteral("l'option « %1 » ne prend pas de valeur").arg(written)};
        m_result.action = *option == LongOption::Help ? StartArguments::Action::Help
                                                      : StartArguments::Action::Version;
        return std::nullopt;
    }

    std::optional<Failure> readShortOption(const QString &argument)
    {
        if (argument.at(1) != QLatin1Char('i'))
            return unknownOption(argument.left(2));
        if (argument.size() > 2)
            return addFile(argument.left(2), argument.mid(2));
        return addFileFromNext(argument);
    }

    std::optional<Failure> addFileFromNext(const QString &option)
    {
        if (m_index + 1 >= m_arguments.size())
            return missingFile(option);
        return addFile(option, m_arguments.at(++m_index));
    }

    std::optional<Failure> addFile(const QString &option, const QString &file)
    {
        if (file.isEmpty())
            return missingFile(option);
        m_result.sources.append({true, file});
        return std::nullopt;
    }

    const QStringList &m_arguments;
    qsizetype m_index = 0;
    bool m_operandsOnly = false;
    StartArguments m_result;
};

} // namespace

Result<StartArguments> parseStartArguments(const QStringList &arguments)
{
    return Reader(arguments).read();
}

QString startHelp()
{
    return QStringLiteral(
        "Utilisation : quorrin [OPTION]… [ADRESSE]…\n"
        "Ajoute chaque ADRESSE à la file de téléchargement de Quorrin, comme une ligne collée\n"
        "dans sa fenêtre. Une fenêtre de Quorrin déjà ouverte reçoit les adresses et passe au\n"
        "premier plan ; sinon une fenêtre s'ouvre avec elles.\n"
        "\n"
        "  -i, --input-file=FICHIER  ajoute les adresses de FICHIER, une par ligne ;\n"
        "                            « - » lit l'entrée standard\n"
        "      --help                affiche cette aide et termine\n"
        "      --version             affiche la version et termine\n"
        "\n"
        "La file compte au plus 32 767 entrées : les adresses qui n'y trouvent pas place\n"
        "sont signalées.\n"
        "\n"
        "Code de sortie : 0 une fois les adresses remises ou la fenêtre fermée, 1 quand\n"
        "aucune fenêtre ne peut s'ouvrir ni recevoir les adresses, 2 pour une option ou\n"
        "un fichier invalide.\n");
}

QString startVersion()
{
    return QStringLiteral("quorrin %1\n").arg(QLatin1String(QUORRIN_VERSION));
}

} // namespace quorrin::downloader

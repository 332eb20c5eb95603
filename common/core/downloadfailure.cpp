#include "downloadfailure.h"

namespace quorrin {
namespace {

QString httpErrorCause(long status)
{
    if (status == 404 || status == 410)
        return QStringLiteral("Adresse introuvable (erreur HTTP %1)").arg(status);
    if (status == 401 || status == 403 || status == 407)
        return QStringLiteral("Accès refusé par le serveur (erreur HTTP %1)").arg(status);
    if (status < 400)
        return QStringLiteral("Le serveur n'a pas envoyé le fichier (HTTP %1)").arg(status);
    if (status >= 500)
        return QStringLiteral("Le serveur a répondu par une erreur (HTTP %1)").arg(status);
    return QStringLiteral("Le serveur a refusé la demande (erreur HTTP %1)").arg(status);
}

} // namespace

QString failureCause(DownloadFailure failure, long detail)
{
    switch (failure) {
    case DownloadFailure::None:
        return {};
    case DownloadFailure::TargetNotWritable:
        return QStringLiteral("Impossible d'écrire dans le dossier de destination");
    case DownloadFailure::TargetTaken:
        return QStringLiteral("Un fichier de ce nom est apparu pendant le téléchargement");
    case DownloadFailure::BeingDownloadedElsewhere:
        return QStringLiteral("Ce fichier est déjà en cours de téléchargement ailleurs");
    case DownloadFailure::PartFileReplaced:
        return QStringLiteral(
            "Le fichier partiel a été déplacé ou remplacé par un autre programme");
    case DownloadFailure::TargetIsDirectory:
        return QStringLiteral("Un dossier porte déjà le nom du fichier à enregistrer");
    case DownloadFailure::UnsupportedAddress:
        return QStringLiteral("Adresse non prise en charge (http, https, ftp ou ftps attendu)");
    case DownloadFailure::HostNotFound:
        return QStringLiteral("Serveur introuvable");
    case DownloadFailure::ConnectionRefused:
        return QStringLiteral("Connexion refusée par le serveur");
    case DownloadFailure::TimedOut:
        return QStringLiteral("Le serveur ne répond pas (délai dépassé)");
    case DownloadFailure::Stalled:
        return QStringLiteral("Transfert bloqué : plus aucune donnée reçue");
    case DownloadFailure::TooSlow:
        return QStringLiteral("Transfert trop lent : le serveur n'envoie presque plus rien");
    case DownloadFailure::Interrupted:
        return QStringLiteral("Transfert interrompu avant la fin du fichier");
    case DownloadFailure::HttpError:
        return httpErrorCause(detail);
    case DownloadFailure::RemoteFileNotFound:
        return QStringLiteral("Fichier introuvable sur le serveur");
    case DownloadFailure::AccessDenied:
        return QStringLiteral("Accès refusé par le serveur");
    case DownloadFailure::RedirectRefused:
        return QStringLiteral("Redirection refusée vers une adresse non prise en charge");
    case DownloadFailure::InsecureRedirect:
        return QStringLiteral("Redirection refusée : elle quitte la connexion sécurisée (https)");
    case DownloadFailure::TooManyRedirects:
        return QStringLiteral("Trop de redirections");
    case DownloadFailure::CertificateRejected:
        return QStringLiteral("Certificat du serveur non accepté");
    case DownloadFailure::SecureConnectionFailed:
        return QStringLiteral("Échec de la connexion sécurisée");
    case DownloadFailure::DiskFull:
        return QStringLiteral("Disque plein");
    case DownloadFailure::WriteFailed:
        return QStringLiteral("Impossible d'écrire le fichier sur le disque");
    case DownloadFailure::Cancelled:
        return QStringLiteral("Téléchargement annulé");
    case DownloadFailure::TooLarge:
        return QStringLiteral("Fichier trop volumineux");
    case DownloadFailure::TookTooLong:
        return QStringLiteral("Téléchargement trop long : délai dépassé");
    case DownloadFailure::Rejected:
        return QStringLiteral("Fichier refusé : il n'est pas celui attendu");
    case DownloadFailure::UnexpectedAnswer:
        return QStringLiteral("Réponse inattendue du serveur : ce n'est pas le fichier entier");
    case DownloadFailure::InconsistentAnswer:
        return QStringLiteral(
            "Réponse incohérente du serveur : elle contredit ce qu'il a dit de ce fichier");
    case DownloadFailure::InvalidAnswer:
        return QStringLiteral("Réponse invalide du serveur : deux longueurs différentes");
    case DownloadFailure::Other:
        break;
    }
    return QStringLiteral("Échec du téléchargement (erreur %1)").arg(detail);
}

} // namespace quorrin

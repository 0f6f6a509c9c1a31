#include "app/updateCheck.h"

#include "base/appIdentity.h"
#include "base/debugLog.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>

namespace halvora {

bool parseUpdateReply(const QString& text, updateReply& reply) {
    if (text.size() < 16 || text.size() > 1024) return false;
    const QStringList fields = text.split('#');
    if (fields.size() != 5) return false;
    reply = {fields[0].trimmed(), fields[1].trimmed(), fields[2].trimmed(), fields[3].trimmed(),
             fields[4].trimmed()};
    return true;
}

QUrl updateRequestUrl(const QString& base) {
    const QUrl url(base.trimmed(), QUrl::StrictMode);
    if (base.trimmed().isEmpty() || !url.isValid() || url.host().isEmpty()) return QUrl();
    const bool loopback = QHostAddress(url.host()).isLoopback() || url.host() == QLatin1String("localhost");
    if (url.scheme() != QLatin1String("https") && !(url.scheme() == QLatin1String("http") && loopback))
        return QUrl();
    QUrl request = url;
    QString path = url.path();
    if (path.endsWith('/')) path.chop(1);
    request.setPath(path + "/vercheck/index3.php");
    request.setQuery(QStringLiteral("email="));
    return request;
}

namespace {

// A link is offered only for an https address; its text is escaped like every other field.
QString safeLink(const QString& url, const QString& label) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("https")) return QString();
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(parsed.toString(QUrl::FullyEncoded).toHtmlEscaped(), label.toHtmlEscaped());
}

} // namespace

QString updateDialogText(const updateReply& reply, const QString& current) {
    if (reply.version == current)
        return QObject::tr(
                   "Currently there are no updates available. You have the most recent version installed.")
            .toHtmlEscaped();
    QString text =
        QObject::tr("There is a new version of Halvora available for download").toHtmlEscaped() + "<br>";
    const QString link = safeLink(reply.downloadUrl, reply.downloadUrl);
    if (!link.isEmpty()) text += link + "<br>";
    text += "<b>" + reply.version.toHtmlEscaped() + "</b><br>";
    text += QObject::tr("Release date").toHtmlEscaped() + ": " + reply.releaseDate.toHtmlEscaped() + "<br>";
    text += "<i>" + reply.note.toHtmlEscaped() + "</i><br>";
    return text;
}

} // namespace halvora

checkUpdates::checkUpdates(const QString& base, QObject* parent) : QObject(parent), base_(base) {}

checkUpdates::~checkUpdates() = default;

QString checkUpdates::configuredBase(const QString& optionValue) {
    const QString fromEnvironment = qEnvironmentVariable("HALVORA_UPDATE_URL");
    return qEnvironmentVariableIsSet("HALVORA_UPDATE_URL") ? fromEnvironment : optionValue;
}

bool checkUpdates::doCheck(bool userStarted) {
    const QUrl url = halvora::updateRequestUrl(base_);
    if (url.isEmpty()) {
        debugLog("checkUpdates::doCheck: no usable service address ('%s'): no check\n", qPrintable(base_));
        if (userStarted && !base_.trimmed().isEmpty())
            emit failed(tr("Unable to check for updates.") + " " +
                        tr("The update service address must start with https://."));
        return false;
    }
    if (reply_) return true; // one check at a time
    userStarted_ = userStarted;
    if (!network_) network_ = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("%1/%2").arg(halvora::kApplicationName, halvora::kApplicationVersion));
    request.setTransferTimeout(15000);
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::finished, this, &checkUpdates::displayData);
    return true;
}

void checkUpdates::displayData() {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    if (!reply) return;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        debugLog("checkUpdates: %s\n", qPrintable(reply->errorString()));
        if (userStarted_)
            emit failed(tr("Cannot check for updates due to network connection or server problem."));
        emit done();
        return;
    }
    // Read one character more than a valid reply may have, so an overlong one is noticed.
    const QString text = QString::fromUtf8(reply->read(4 * 1025));
    halvora::updateReply parsed;
    if (!halvora::parseUpdateReply(text, parsed))
        emit failed(tr("Unable to check for updates."));
    else
        emit checked(halvora::updateDialogText(parsed, halvora::kApplicationVersion), parsed);
    emit done();
}

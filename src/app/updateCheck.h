#pragma once
// The update check: one GET to the configured version service, whose reply says which version is
// current. The address is configurable (the Misc/UpdateCheckUrl option, or HALVORA_UPDATE_URL in the
// environment, which wins); empty means no check at all. Only HTTPS is used — plain HTTP only to the
// loopback interface, where nothing leaves the machine — and the request carries no personal data.
// The reply is text with five "#"-separated fields; every field is escaped before it is shown.
//
// Main thread.

#include <QObject>
#include <QString>
#include <QUrl>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace halvora {

/// The five fields of a valid reply.
struct updateReply {
    QString version;     ///< the current version, e.g. "3.0.2"
    QString releaseDate; ///< shown after "Release date"
    QString downloadUrl; ///< the download page (used only when it is an https:// address)
    QString note;        ///< shown in italics
    QString historyUrl;  ///< the version history (used only when it is an https:// address)
};

/// Parses a reply: 16 … 1024 characters splitting on "#" into exactly 5 fields. False otherwise.
bool parseUpdateReply(const QString& text, updateReply& reply);

/// The request address for the service at `base` ("…/vercheck/index3.php?email=" with nothing
/// personal in it), or an empty URL when `base` is empty, not https:// (or http:// to the loopback
/// interface), or not a valid address.
QUrl updateRequestUrl(const QString& base);

/// The text of the update dialog for `reply` against the running version `current`, as rich text
/// with every reply field escaped.
QString updateDialogText(const updateReply& reply, const QString& current);

} // namespace halvora

/// One update check at a time against the service; reports the dialog text or the failure text.
class checkUpdates : public QObject {
    Q_OBJECT
public:
    /// `base`: the service address (see halvora::updateRequestUrl).
    explicit checkUpdates(const QString& base, QObject* parent = nullptr);
    ~checkUpdates() override;

    /// The address the program options and the environment configure (may be empty).
    static QString configuredBase(const QString& optionValue);

public slots:
    /// Sends the request. `userStarted`: network failures are reported (an automatic check is silent).
    /// False when no check can be made (no or a refused address).
    bool doCheck(bool userStarted);
    bool doCheck() { return doCheck(true); }

signals:
    /// A valid reply: the dialog text and the parsed fields.
    void checked(QString text, halvora::updateReply reply);
    /// A failure meant for the user (network trouble of a user-started check, or a malformed reply).
    void failed(QString text);
    /// The check has ended, whatever its outcome.
    void done();

private slots:
    void displayData();

private:
    QString base_;
    bool userStarted_ = false;
    std::unique_ptr<QNetworkAccessManager> network_;
    QNetworkReply* reply_ = nullptr; ///< owned by network_, deleted when handled
};

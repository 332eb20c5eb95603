#pragma once

#include <QObject>
#include <QString>

#include <chrono>

namespace quorrin::updater {

// Loads a web page in the background, the way a hidden browser would, and reports on the
// thread that owns it, through its event loop, when the document is complete. Speaks http and https
// only, checks certificates, follows up to 10 redirects and reads at most MaxPageSize bytes. A page
// that cannot be had — refused, failed, too large, or not complete in time — completes empty.
class PageFetch : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MaxPageSize = 4 * 1024 * 1024;

    explicit PageFetch(QObject *parent = nullptr);
    // Abandons a fetch still under way.
    ~PageFetch() override;

    // Starts loading `url`; DocumentComplete follows once. Call once.
    void Navigate(const QString &url);

    // How long a fetch may take in all. Two minutes by default; a seam for tests.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

Q_SIGNALS:
    // The markup of the page's body as the server sent it; empty when there is no page.
    void DocumentComplete(const QString &bodyMarkup);

private:
    std::chrono::milliseconds m_timeout = std::chrono::minutes(2);
};

} // namespace quorrin::updater

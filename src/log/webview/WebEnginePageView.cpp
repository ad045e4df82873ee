// The log viewer's page in Qt WebEngine, built as a module that only the log viewer loads.
#include "log/WebPageView.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <utility>

namespace {

// The page file ends in ".tmp", which a browser would show as plain text; this scheme
// hands it over as HTML. It serves the one page file of the view and nothing else.
const QByteArray kPageScheme = QByteArrayLiteral("zibtam-page");

class CPageSchemeHandler : public QWebEngineUrlSchemeHandler
{
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    QString PagePath;

    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
        auto* file = new QFile(PagePath, job);
        if (job->requestUrl().path() != PagePath || !file->open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        job->reply(QByteArrayLiteral("text/html;charset=windows-1252"), file);
    }
};

// Our script in every page: near its start or its end, the page asks for more paragraphs
// there (once, until they come); Home and End ask for the oldest and the newest messages,
// which the page may not hold.
const char kOlderRequest[] = "zibtam:Older";
const char kNewerRequest[] = "zibtam:Newer";
const char kOldestRequest[] = "zibtam:Oldest";
const char kNewestRequest[] = "zibtam:Newest";
const char kPainted[] = "zibtam:Painted";
const char kAskForMore[] =
    "window.addEventListener('scroll', function() {"
    "  if (window.scrollY < window.innerHeight && !window.zibtamAsked) {"
    "    window.zibtamAsked = true; console.log('zibtam:Older'); }"
    "  if (window.scrollY + 2 * window.innerHeight > document.body.scrollHeight &&"
    "      !window.zibtamAskedNewer) {"
    "    window.zibtamAskedNewer = true; console.log('zibtam:Newer'); }"
    "});"
    "window.addEventListener('keydown', function(e) {"
    "  if (e.key == 'Home') console.log('zibtam:Oldest');"
    "  if (e.key == 'End') console.log('zibtam:Newest');"
    "});";

class CLogWebPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;
    std::function<void(const QUrl&)> LinkHandler;
    std::function<void(bool older)> MoreHandler;
    std::function<void()> PaintedHandler;
    std::function<void(bool oldest)> EdgeHandler;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                  const QString&) override
    {
        if (message == QLatin1String(kPainted) && PaintedHandler)
            PaintedHandler();
        const bool oldest = message == QLatin1String(kOldestRequest);
        if ((oldest || message == QLatin1String(kNewestRequest)) && EdgeHandler)
            EdgeHandler(oldest);
        const bool older = message == QLatin1String(kOlderRequest);
        if ((older || message == QLatin1String(kNewerRequest)) && MoreHandler)
            MoreHandler(older);
    }

    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (url.scheme() == QStringLiteral("zibtam")) {
            if (LinkHandler)
                LinkHandler(url);
            return false;
        }
        // The page itself and the notice load; links in messages do not navigate away.
        return type != NavigationTypeLinkClicked && isMainFrame;
    }
};

class CWebEnginePageView : public IWebPageView
{
public:
    explicit CWebEnginePageView(QWidget* parent)
        : m_view(new QWebEngineView(parent)), m_profile(new QWebEngineProfile(m_view)),
          m_page(new CLogWebPage(m_profile, m_view)), m_scheme(new CPageSchemeHandler(m_view))
    {
        m_profile->installUrlSchemeHandler(kPageScheme, m_scheme);
        m_view->setPage(m_page);
        m_view->setContextMenuPolicy(Qt::NoContextMenu);
        m_view->setAccessibleName(QStringLiteral("Zib Tam Log"));
        QObject::connect(m_page, &QWebEnginePage::renderProcessTerminated, m_view,
                         [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                             if (status != QWebEnginePage::NormalTerminationStatus)
                                 m_working = false;
                             StateChanged();
                         });
        // In every page, however its load went: a script run once a load has finished
        // can land in the page that a newer load is replacing.
        QWebEngineScript askForMore;
        askForMore.setSourceCode(QString::fromLatin1(kAskForMore));
        askForMore.setInjectionPoint(QWebEngineScript::DocumentReady);
        askForMore.setWorldId(QWebEngineScript::MainWorld);
        askForMore.setRunsOnSubFrames(false);
        m_page->scripts().insert(askForMore);
        m_page->PaintedHandler = [this] {
            m_painted = !m_loading;
            // Again once painted: the page's own scroll to its end can come after the first.
            if (m_painted && std::exchange(m_pendingStart, false))
                m_page->runJavaScript(QStringLiteral("window.scroll(0, 0)"));
            StateChanged();
        };
        m_page->MoreHandler = [this](bool older) {
            if (!m_loading && m_more)
                m_more(older);
        };
        // Loading ends with the load asked for last; one it replaced may still report.
        QObject::connect(
            m_page, &QWebEnginePage::loadingChanged, m_view,
            [this](const QWebEngineLoadingInfo& info) {
                if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus ||
                    (!m_requested.isEmpty() && info.url() != m_requested))
                    return;
                m_loading = false;
                // Painted once the frame after the next has begun.
                m_page->runJavaScript(QStringLiteral("requestAnimationFrame(function() {"
                                                     "  requestAnimationFrame(function() {"
                                                     "    console.log('zibtam:Painted'); }); });"));
                if (m_pendingStart)
                    m_page->runJavaScript(QStringLiteral("window.scroll(0, 0)"));
                if (m_pendingSelection != kNoSelection)
                    SelectMessage(std::exchange(m_pendingSelection, kNoSelection));
                // A page asks once until it is given more; what it asked
                // before it had loaded went unanswered.
                m_page->runJavaScript(QStringLiteral("window.zibtamAsked = false;"
                                                     "window.zibtamAskedNewer = false;"));
                StateChanged();
            });
    }
    ~CWebEnginePageView() override
    {
        // The page goes before its profile.
        delete m_page;
        delete m_view;
    }

    QWidget* Widget() override { return m_view; }
    void LoadFile(const QString& path) override
    {
        m_scheme->PagePath = path;
        QUrl url;
        url.setScheme(QString::fromLatin1(kPageScheme));
        url.setPath(path);
        // A new address each time: the same one again counts as a reload, after which the
        // browser puts back the old scroll position once a large page has laid out.
        url.setQuery(QStringLiteral("n=%1").arg(++m_loads));
        m_loading = true; // until it has loaded, not from when the engine says it started
        m_painted = false;
        m_pendingStart = false;
        m_requested = url;
        m_view->load(url);
    }
    void SetHtml(const QString& html) override
    {
        m_loading = true;
        m_painted = false;
        m_requested.clear(); // the engine gives the page an address of its own
        m_pendingSelection = kNoSelection;
        m_pendingStart = false;
        m_view->setHtml(html);
    }
    bool AppendHtml(const QString& paragraphs) override
    {
        // The view follows only from the end: a reader further up is left where he is.
        return InsertParagraphs(
            QStringLiteral("var zibtamAtEnd = window.scrollY + window.innerHeight >="
                           " document.body.scrollHeight - 2;"
                           "document.body.insertAdjacentHTML('beforeend', %1[0]);"
                           "if (zibtamAtEnd) window.scroll(0, document.body.scrollHeight);"),
            paragraphs);
    }
    bool PrependHtml(const QString& paragraphs) override
    {
        return InsertParagraphs(
            QStringLiteral("var zibtamHeight = document.body.scrollHeight;"
                           "document.body.insertAdjacentHTML('afterbegin', %1[0]);"
                           "window.scrollBy(0, document.body.scrollHeight - zibtamHeight);"
                           "window.zibtamAsked = false;"),
            paragraphs);
    }
    bool AppendNewerHtml(const QString& paragraphs) override
    {
        return InsertParagraphs(QStringLiteral("document.body.insertAdjacentHTML('beforeend', "
                                               "%1[0]);"
                                               "window.zibtamAskedNewer = false;"),
                                paragraphs);
    }
    void SetMoreHandler(std::function<void(bool older)> handler) override
    {
        m_more = std::move(handler);
    }
    void SelectMessage(int index) override
    {
        if (m_loading)
            m_pendingSelection = index;
        else
            m_page->runJavaScript(QStringLiteral("SelMsg(%1)").arg(index));
    }
    void SetEdgeHandler(std::function<void(bool oldest)> handler) override
    {
        m_page->EdgeHandler = std::move(handler);
    }
    void ScrollToStart() override
    {
        if (m_loading)
            m_pendingStart = true;
        else
            m_page->runJavaScript(QStringLiteral("window.scroll(0, 0)"));
    }
    void SetLinkHandler(std::function<void(const QUrl&)> handler) override
    {
        m_page->LinkHandler = std::move(handler);
    }
    bool IsLoading() const override { return m_loading || !m_painted; }
    bool IsWorking() const override { return m_working; }
    void SetStateHandler(std::function<void()> handler) override { m_state = std::move(handler); }

private:
    void StateChanged()
    {
        if (m_state)
            m_state();
    }
    // Runs `script` with "%1[0]" as the paragraphs; false while a page loads.
    bool InsertParagraphs(const QString& script, const QString& paragraphs)
    {
        if (m_loading)
            return false;
        // The text goes in as a JSON string, which is also a script string literal.
        QByteArray literal = QJsonDocument(QJsonArray{paragraphs}).toJson(QJsonDocument::Compact);
        m_page->runJavaScript(script.arg(QString::fromUtf8(literal)));
        return true;
    }

    QWebEngineView* m_view;
    QWebEngineProfile* m_profile; // off the record: nothing of the page is kept on disk
    CLogWebPage* m_page;
    CPageSchemeHandler* m_scheme;
    std::function<void(bool older)> m_more;
    std::function<void()> m_state;
    bool m_working = true;
    bool m_loading = false;
    bool m_painted = true; // the page loaded last has been painted
    static constexpr int kNoSelection = -2;
    int m_pendingSelection = kNoSelection; // to select once the page has loaded
    bool m_pendingStart = false;           // to scroll to its start once loaded
    int m_loads = 0;
    QUrl m_requested; // the page file's address in the last load asked for
};

} // namespace

// Before the application object exists.
extern "C" Q_DECL_EXPORT void ZibTamPrepareWebPageView()
{
    QWebEngineUrlScheme scheme(kPageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

extern "C" Q_DECL_EXPORT IWebPageView* ZibTamCreateWebPageView(QWidget* parent)
{
    return new CWebEnginePageView(parent);
}

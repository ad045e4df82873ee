#pragma once
// The browser that shows the log viewer's page. The web engine is large, so it lives in a
// module of its own (zibtam_webview) that only the log viewer loads; the rest of the
// program (server, console, chat window) never links it. This header is all the module
// and the program share: an interface without out-of-line code and one C entry point.
#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

class IWebPageView
{
public:
    virtual ~IWebPageView() = default;
    virtual QWidget* Widget() = 0;
    // Shows the page file; it scrolls to its end once loaded (the page's own script).
    virtual void LoadFile(const QString& path) = 0;
    virtual void SetHtml(const QString& html) = 0;
    // Adds paragraphs at the end of the loaded page, and scrolls to its end when the view
    // was there; false when it cannot (a load is under way), and the page file is to be
    // loaded again instead.
    virtual bool AppendHtml(const QString& paragraphs) = 0;
    // Adds paragraphs at the start of the loaded page, or the newer ones the page asked
    // for at its end; what is on screen stays there. False when it cannot (a load is under
    // way, or the page shows everything anyway).
    virtual bool PrependHtml(const QString& paragraphs) = 0;
    virtual bool AppendNewerHtml(const QString& paragraphs) = 0;
    // The user scrolled near the start (`older`) or the end of the page: more paragraphs
    // are welcome there.
    virtual void SetMoreHandler(std::function<void(bool older)> handler) = 0;
    // Home or End in the page: the user wants the oldest or the newest message.
    virtual void SetEdgeHandler(std::function<void(bool oldest)> handler) = 0;
    // Scrolls to the start of the page; while a page loads, once it has loaded.
    virtual void ScrollToStart() = 0;
    // Outlines message `index` and centres it; -1 removes the outline (the page's SelMsg).
    // While a page loads, once it has loaded.
    virtual void SelectMessage(int index) = 0;
    // A click on a link of the program's own scheme ("zibtam:").
    virtual void SetLinkHandler(std::function<void(const QUrl&)> handler) = 0;
    // A page asked for is not yet loaded and painted.
    virtual bool IsLoading() const = 0;
    // False once the engine has failed (its page process would not start or died).
    virtual bool IsWorking() const = 0;
    // Called when IsLoading or IsWorking may have changed.
    virtual void SetStateHandler(std::function<void()> handler) = 0;
};

// The module's entry points: once before the application object exists, then a new view
// as a child of `parent`.
using PrepareWebPageViewFunction = void (*)();
inline constexpr char kPrepareWebPageViewSymbol[] = "ZibTamPrepareWebPageView";
using CreateWebPageViewFunction = IWebPageView* (*)(QWidget* parent);
inline constexpr char kCreateWebPageViewSymbol[] = "ZibTamCreateWebPageView";

// The log viewer's views against a plain QTextEdit given the same messages, same run,
// offscreen: the page where the web engine is missing (the plain text browser) and the
// classic view showing 10,000 to 100,000 messages until the newest are painted (with the
// process's peak resident memory), scrolling to the oldest, and one message appended.
#include "Resident.h"
#include "log/LogViewerDlg.h"
#include "log/WebPageView.h"
#include "ui/WidgetPrompt.h"
#include "view/PrefixFormat.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace {

ChatMessage Message(int i)
{
    static const char* const kNames[] = {"Owen", "R.T. Holm", "Kim", "Alessandra", "Bob"};
    ChatMessage message;
    message.Sender = kNames[i % 5];
    message.Recipients = {kNames[(i + 1) % 5], kNames[(i + 3) % 5]};
    message.Time = MessageTime::From(1'000'000'000 + i * 37);
    message.Text = "Message " + std::to_string(i) +
                   ": the meeting moved to room 4 at three o'clock, bring the quarterly "
                   "figures and the draft for the customer letter.\nSee you there";
    return message;
}

const std::vector<ChatMessage>& Messages(size_t count)
{
    static std::vector<ChatMessage> messages;
    while (messages.size() < count)
        messages.push_back(Message(static_cast<int>(messages.size())));
    return messages;
}

struct FallbackView
{
    QTemporaryDir dir;
    std::unique_ptr<CHtmlLogView> view;

    FallbackView()
        : view(std::make_unique<CHtmlLogView>(
              QString(dir.path() + QStringLiteral("/page.tmp")).toStdString(), nullptr, false))
    {}
    ILogHistoryView& History() { return *view; }
    QWidget& Widget() { return *view; }
    QScrollBar* Bar()
    {
        return static_cast<QAbstractScrollArea*>(view->Page().Widget())->verticalScrollBar();
    }
};

struct ClassicView
{
    CWidgetPrompt prompt; // never asks anything here
    std::unique_ptr<CClassicLogView> view = std::make_unique<CClassicLogView>(prompt, nullptr);
    ILogHistoryView& History() { return *view; }
    QWidget& Widget() { return *view; }
    QScrollBar* Bar() { return view->verticalScrollBar(); }
};

// The anchor: a plain QTextEdit given the rows as plain paragraphs, caret at the end.
struct PlainTextEdit
{
    struct Shower : ILogHistoryView
    {
        QTextEdit* edit = nullptr;
        void ApplySettings(const HistoryDisplaySettings&) override {}
        void ShowMessages(std::span<const ChatMessage> shown, bool append,
                          IHistoryProgress*) override
        {
            CPrefixFormat format(HistoryDisplaySettings{}.PrefixFormat);
            QString text;
            int index = 0;
            for (const ChatMessage& message : shown)
                text +=
                    QString::fromStdString(format.Format(message.Time, message.Sender,
                                                         FormatRecipients(message), index++, 0) +
                                           message.Text) +
                    QLatin1Char('\n');
            if (append) {
                QTextCursor end(edit->document());
                end.movePosition(QTextCursor::End);
                end.insertText(text);
            } else {
                edit->setPlainText(text);
            }
            edit->moveCursor(QTextCursor::End);
            edit->ensureCursorVisible();
        }
        void Clear() override {}
        void ShowReloadNotice(const std::string&) override {}
        void SelectMessage(int) override {}
    };
    std::unique_ptr<QTextEdit> view = std::make_unique<QTextEdit>();
    Shower shower;
    PlainTextEdit() { shower.edit = view.get(); }
    ILogHistoryView& History() { return shower; }
    QWidget& Widget() { return *view; }
    QScrollBar* Bar() { return view->verticalScrollBar(); }
};

// The classic view as a toolkit list would make it: a QListView over a model of the
// messages, each row the same rich text (prefix and text in their formats) laid out by a
// delegate. The list asks every row's height before it can show the last one.
struct ModelViewList
{
    class Model : public QAbstractListModel
    {
    public:
        std::span<const ChatMessage> Messages;
        void Set(std::span<const ChatMessage> messages)
        {
            beginResetModel();
            Messages = messages;
            endResetModel();
        }
        int rowCount(const QModelIndex& parent) const override
        {
            return parent.isValid() ? 0 : static_cast<int>(Messages.size());
        }
        QVariant data(const QModelIndex& index, int role) const override
        {
            return role == Qt::DisplayRole ? QVariant(index.row()) : QVariant();
        }
    };
    class Delegate : public QStyledItemDelegate
    {
    public:
        const Model* Rows = nullptr;
        void Layout(QTextDocument& document, int row, int width) const
        {
            const ChatMessage& message = Rows->Messages[static_cast<size_t>(row)];
            QTextCharFormat prefix;
            prefix.setFontWeight(QFont::Bold);
            prefix.setForeground(Qt::darkBlue);
            QTextCursor cursor(&document);
            cursor.insertText(QString::fromStdString(format.Format(
                                  message.Time, message.Sender, FormatRecipients(message), row, 0)),
                              prefix);
            cursor.insertText(QString::fromStdString(message.Text), QTextCharFormat());
            document.setDocumentMargin(2);
            document.setTextWidth(width);
        }
        QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
        {
            QTextDocument document;
            Layout(document, index.row(), option.rect.width() > 0 ? option.rect.width() : 780);
            return document.size().toSize();
        }
        void paint(QPainter* painter, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const override
        {
            QTextDocument document;
            Layout(document, index.row(), option.rect.width());
            painter->save();
            painter->translate(option.rect.topLeft());
            document.drawContents(painter);
            painter->restore();
        }
        CPrefixFormat format{HistoryDisplaySettings{}.PrefixFormat};
    };
    struct Shower : ILogHistoryView
    {
        ModelViewList* owner = nullptr;
        void ApplySettings(const HistoryDisplaySettings&) override {}
        void ShowMessages(std::span<const ChatMessage> shown, bool, IHistoryProgress*) override
        {
            owner->model.Set(shown);
            owner->view->scrollToBottom();
        }
        void Clear() override {}
        void ShowReloadNotice(const std::string&) override {}
        void SelectMessage(int) override {}
    };
    Model model;
    Delegate delegate;
    std::unique_ptr<QListView> view = std::make_unique<QListView>();
    Shower shower;
    ModelViewList()
    {
        delegate.Rows = &model;
        view->setModel(&model);
        view->setItemDelegate(&delegate);
        view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        shower.owner = this;
    }
    ILogHistoryView& History() { return shower; }
    QWidget& Widget() { return *view; }
    QScrollBar* Bar() { return view->verticalScrollBar(); }
};

template <class View> void BM_ShowAll(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    std::span<const ChatMessage> messages(Messages(count).data(), count);
    for (auto _ : state) {
        state.PauseTiming();
        auto view = std::make_unique<View>();
        view->Widget().resize(800, 600);
        view->Widget().show();
        QApplication::processEvents();
        state.ResumeTiming();
        view->History().ShowMessages(messages, false, nullptr);
        QApplication::processEvents(); // painted, the newest in view
        state.PauseTiming();
        view.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    // The process's peak: run one view at a time (--benchmark_filter) to read it for that view.
    state.counters["peak_resident_MB"] =
        static_cast<double>(ProcessKb(::getpid(), "VmHWM")) / 1024;
}

// From the newest messages to the oldest one on screen.
template <class View> void BM_ScrollToOldest(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    View view;
    view.Widget().resize(800, 600);
    view.Widget().show();
    view.History().ShowMessages(std::span(Messages(count).data(), count), false, nullptr);
    QApplication::processEvents();
    for (auto _ : state) {
        view.Bar()->setValue(0);
        QApplication::processEvents();
        state.PauseTiming();
        view.Bar()->setValue(view.Bar()->maximum());
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

template <class View> void BM_AppendOne(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    const std::vector<ChatMessage>& all = Messages(count + 1);
    View view;
    view.Widget().resize(800, 600);
    view.Widget().show();
    view.History().ShowMessages(std::span(all.data(), count), false, nullptr);
    QApplication::processEvents();
    for (auto _ : state) {
        view.History().ShowMessages(std::span(&all[count], 1), true, nullptr);
        QApplication::processEvents();
    }
}

BENCHMARK(BM_ShowAll<PlainTextEdit>)
    ->Name("ShowAll/PlainTextEdit")
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ShowAll<ClassicView>)
    ->Name("ShowAll/Classic")
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ShowAll<ModelViewList>)
    ->Name("ShowAll/ModelViewList")
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ShowAll<FallbackView>)
    ->Name("ShowAll/PlainPage")
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ScrollToOldest<PlainTextEdit>)
    ->Name("ScrollToOldest/PlainTextEdit")
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_ScrollToOldest<ClassicView>)
    ->Name("ScrollToOldest/Classic")
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_AppendOne<PlainTextEdit>)
    ->Name("AppendOne/PlainTextEdit")
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(BM_AppendOne<ClassicView>)
    ->Name("AppendOne/Classic")
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(BM_AppendOne<FallbackView>)
    ->Name("AppendOne/PlainPage")
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

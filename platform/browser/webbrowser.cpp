#include "platform/browser/webbrowser.h"

#include "platform/browser/url.h"
#include "platform/sys/error.h"
#include "platform/ui/application.h"

namespace browser {

namespace {
// Frames within frames stop here (a page that frames itself).
constexpr int kMaxFrameDepth = 8;

Response Blank(const std::string& url)
{
    Response r;
    r.url = url;
    r.contentType = "text/html";
    return r;
}
} // namespace

// A document of a navigation that has loaded but is not complete: it waits
// for its frames.
struct WebBrowser::Pending {
    std::shared_ptr<Document> doc;
    std::shared_ptr<Pending> parent;
    int waiting = 0;
    int depth = 0;
};

WebBrowser::WebBrowser(ui::Control* parent, std::string name)
    : ui::Control(parent, std::move(name)), m_jar(std::make_unique<CookieJar>()), m_alive(std::make_shared<bool>(true))
{
}

WebBrowser::~WebBrowser()
{
    m_alive.reset();
    for (Job& job : m_jobs)
        *job.cancel = true;
    ReapJobs(true);
}

ui::Application& WebBrowser::App()
{
    ui::Form* form = OwnerForm();
    if (!form)
        throw sys::Error("The web browser " + Name() + " is not on a form.");
    return form->App();
}

void WebBrowser::Post(std::function<void()> work)
{
    App().Post([alive = std::weak_ptr<bool>(m_alive), work = std::move(work)] {
        if (alive.lock())
            work();
    });
}

std::string WebBrowser::LocationName() const
{
    std::string title = m_document ? m_document->Title() : std::string();
    return title.empty() ? m_location : title;
}

void WebBrowser::Navigate(const std::string& url) { Start(Request(NormalizeAddress(url)), -1); }

void WebBrowser::GoBack()
{
    if (!CanGoBack())
        throw sys::Error("There is no page to go back to.");
    Start(m_history[static_cast<std::size_t>(m_index - 1)], m_index - 1);
}

void WebBrowser::GoForward()
{
    if (!CanGoForward())
        throw sys::Error("There is no page to go forward to.");
    Start(m_history[static_cast<std::size_t>(m_index + 1)], m_index + 1);
}

void WebBrowser::Stop()
{
    CancelLoad();
    m_busy = false;
}

void WebBrowser::Click(Element& element) { element.OwnerDocument().Click(element); }

// A handler's exception is shown in the error box and the load goes on, as
// with any event the loop raises.
void WebBrowser::Fire(const std::function<void()>& event) { App().Deliver(event); }

void WebBrowser::CancelLoad()
{
    ++m_generation;
    for (Job& job : m_jobs)
        *job.cancel = true;
    m_waiting.clear();
}

// ---- A navigation, step by step ---------------------------------------------

void WebBrowser::Start(Request request, int historyIndex)
{
    CancelLoad();
    m_busy = true;
    unsigned generation = m_generation;
    Post([this, generation, request = std::move(request), historyIndex] {
        if (generation == m_generation)
            Begin(generation, request, historyIndex);
    });
}

void WebBrowser::Begin(unsigned generation, const Request& request, int historyIndex)
{
    bool cancel = false;
    if (OnBeforeNavigate2)
        Fire([&] { OnBeforeNavigate2(request.url, cancel); });
    if (generation != m_generation)
        return;   // the handler navigated elsewhere
    if (cancel) {
        m_busy = false;
        return;
    }
    Fetch(request, [this, generation, request, historyIndex](Response response) {
        Committed(generation, request, historyIndex, std::move(response));
    });
}

void WebBrowser::Committed(unsigned generation, const Request& request, int historyIndex, Response response)
{
    auto top = std::make_shared<Pending>();
    top->doc = MakeDocument(response);
    if (historyIndex < 0) {
        // A new page drops the pages ahead. A page got with GET is kept by its
        // final address (after redirects), a POST as it was sent.
        m_history.resize(static_cast<std::size_t>(m_index + 1));
        m_history.push_back(request.method == "GET" && response.error.empty() ? Request(response.url) : request);
        m_index = static_cast<int>(m_history.size()) - 1;
    } else {
        m_index = historyIndex;
    }
    m_document = top->doc;
    m_location = top->doc->URL();

    if (OnDownloadComplete)
        Fire([&] { OnDownloadComplete(); });
    if (generation != m_generation)
        return;
    if (OnCommandStateChange) {
        Fire([&] { OnCommandStateChange(CSC_NAVIGATEBACK, CanGoBack()); });
        if (generation != m_generation)
            return;
        Fire([&] { OnCommandStateChange(CSC_NAVIGATEFORWARD, CanGoForward()); });
        if (generation != m_generation)
            return;
    }
    LoadFrames(generation, top);
}

void WebBrowser::LoadFrames(unsigned generation, const std::shared_ptr<Pending>& node)
{
    std::vector<Element*> frames;
    for (Element* e : node->doc->All())
        if (e->Is("frame") || e->Is("iframe"))
            frames.push_back(e);
    for (Element* frame : frames) {
        if (frame->GetAttribute("src", attrAsWritten).find_first_not_of(" \t\r\n") == std::string::npos ||
            node->depth >= kMaxFrameDepth) {
            frame->SetContentDocument(MakeDocument(Blank("about:blank")));
            continue;
        }
        std::string url = frame->GetAttribute("src");
        bool cancel = false;
        if (OnBeforeNavigate2)
            Fire([&] { OnBeforeNavigate2(url, cancel); });
        if (generation != m_generation)
            return;
        if (cancel) {
            frame->SetContentDocument(MakeDocument(Blank("about:blank")));
            continue;
        }
        auto child = std::make_shared<Pending>();
        child->parent = node;
        child->depth = node->depth + 1;
        ++node->waiting;
        Fetch(Request(url), [this, generation, frame, child](Response response) {
            child->doc = MakeDocument(response);
            frame->SetContentDocument(child->doc);
            LoadFrames(generation, child);
        });
    }
    if (node->waiting == 0)
        Complete(generation, node);
}

void WebBrowser::Complete(unsigned generation, const std::shared_ptr<Pending>& node)
{
    if (!node->parent) {
        m_busy = false;
        if (OnDocumentComplete)
            Fire([&] { OnDocumentComplete(node->doc->URL()); });
        // A view shows the page once it is whole, with what the handlers did to it.
        if (generation == m_generation)
            Changed(ui::Prop::Document);
        return;
    }
    if (OnDocumentComplete)
        Fire([&] { OnDocumentComplete(node->doc->URL()); });
    if (generation == m_generation && --node->parent->waiting == 0)
        Complete(generation, node->parent);
}

std::shared_ptr<Document> WebBrowser::MakeDocument(const Response& response)
{
    auto doc = Document::FromResponse(response);
    doc->SetNavigator([this, alive = std::weak_ptr<bool>(m_alive)](const Request& request) {
        if (!alive.lock())
            return;
        Request r = request;
        r.url = NormalizeAddress(r.url);
        Start(std::move(r), -1);
    });
    // A view of the page follows the program's edits.
    doc->SetOnEdited([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (alive.lock() && !m_busy)
            Changed(ui::Prop::Document);
    });
    return doc;
}

// ---- Transfers -------------------------------------------------------------

void WebBrowser::Fetch(const Request& request, std::function<void(Response)> done)
{
    ReapJobs(false);
    unsigned id = ++m_nextJob;
    m_waiting[id] = std::move(done);
    // Runs on the worker; the answer goes to the loop, and to this control
    // only if it still lives and still wants it.
    auto finish = [this, app = &App(), alive = std::weak_ptr<bool>(m_alive), id](Response response) {
        app->Post([this, alive, id, response = std::move(response)]() mutable {
            if (alive.lock())
                Finished(id, std::move(response));
        });
    };
    if (UrlScheme(request.url) == "about") {
        finish(Blank(request.url));
        return;
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([request, jar = m_jar.get(), cancel, finished, finish] {
        Response response;
        try {
            response = Transfer(request, *jar, *cancel);
        } catch (const std::exception& e) {
            response.url = request.url;
            response.error = e.what();
        }
        if (!*cancel)
            finish(std::move(response));
        *finished = true;
    });
    m_jobs.push_back({std::move(worker), cancel, finished});
}

void WebBrowser::Finished(unsigned id, Response response)
{
    ReapJobs(false);
    auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;   // stopped or replaced meanwhile
    auto done = std::move(it->second);
    m_waiting.erase(it);
    done(std::move(response));
}

void WebBrowser::ReapJobs(bool all)
{
    std::erase_if(m_jobs, [all](Job& job) {
        if (!all && !*job.done)
            return false;
        job.thread.join();
        return true;
    });
}

} // namespace browser

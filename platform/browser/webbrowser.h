#pragma once
// The web browser control: shows a page (http, https, file), keeps a history
// and tells the program what it does through the events a desktop browser
// fires. Loading never happens inside a call: Navigate and the history moves
// record the request and return, and the loop does the rest (transfers on a
// worker thread, parsing and events in the loop).
//
// Events of one navigation, in order: OnBeforeNavigate2 (cancel stops it),
// OnDownloadComplete once the page is in, OnCommandStateChange for back (2)
// and forward (1) with whether each is possible now, then for each frame its
// OnBeforeNavigate2 and, when it has loaded, its OnDocumentComplete, and last
// OnDocumentComplete for the page itself. A failed load shows a page saying
// what failed and completes all the same. Stop, a new navigation or the
// control's end drop a load in progress: none of its events fire after that.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/browser/document.h"
#include "platform/browser/transfer.h"
#include "platform/ui/controls.h"

namespace ui {
class Application;
}

namespace browser {

class WebBrowser : public ui::Control {
public:
    // The control must end before the application whose loop it uses.
    WebBrowser(ui::Control* parent, std::string name);
    ~WebBrowser() override;
    const char* ClassName() const override { return "TWebBrowser"; }

    // "" opens about:blank (an empty page); an absolute local path opens the
    // file. Needs the control to sit on a form (for its loop).
    void Navigate(const std::string& url);
    // Throw sys::Error when there is no page to go to.
    void GoBack();
    void GoForward();
    void Stop();
    bool CanGoBack() const { return m_index > 0; }
    bool CanGoForward() const { return m_index + 1 < static_cast<int>(m_history.size()); }

    // The shown page's address ("" before any) and title (its address when
    // it has none).
    std::string LocationURL() const { return m_location; }
    std::string LocationName() const;
    Document* GetDocument() { return m_document.get(); }
    std::shared_ptr<Document> SharedDocument() const { return m_document; }
    bool Busy() const { return m_busy; }

    // A user's click on an element of the shown page or of one of its frames
    // (see Document::Click). A link followed or a form sent navigates the
    // control.
    void Click(Element& element);

    std::function<void(const std::string& url, bool& cancel)> OnBeforeNavigate2;
    std::function<void()> OnDownloadComplete;
    std::function<void(int command, bool enable)> OnCommandStateChange;   // 1 forward, 2 back
    std::function<void(const std::string& url)> OnDocumentComplete;      // each frame, then the page

    enum : int { CSC_NAVIGATEFORWARD = 1, CSC_NAVIGATEBACK = 2 };

private:
    struct Pending;
    struct Job {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> cancel;
        std::shared_ptr<std::atomic<bool>> done;
    };

    ui::Application& App();
    void Post(std::function<void()> work);
    void Fire(const std::function<void()>& event);
    void Start(Request request, int historyIndex);
    void Begin(unsigned generation, const Request& request, int historyIndex);
    void Committed(unsigned generation, const Request& request, int historyIndex, Response response);
    void LoadFrames(unsigned generation, const std::shared_ptr<Pending>& node);
    void Complete(unsigned generation, const std::shared_ptr<Pending>& node);
    void Fetch(const Request& request, std::function<void(Response)> done);
    void Finished(unsigned id, Response response);
    void CancelLoad();
    void ReapJobs(bool all);
    std::shared_ptr<Document> MakeDocument(const Response& response);

    std::unique_ptr<CookieJar> m_jar;
    std::shared_ptr<bool> m_alive;          // posted work runs only while this lives
    unsigned m_generation = 0;              // bumped by each new load and Stop
    std::vector<Job> m_jobs;
    std::map<unsigned, std::function<void(Response)>> m_waiting;   // transfers still wanted
    unsigned m_nextJob = 0;

    std::shared_ptr<Document> m_document;
    std::string m_location;
    std::vector<Request> m_history;
    int m_index = -1;
    bool m_busy = false;
};

} // namespace browser

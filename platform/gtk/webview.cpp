// The web browser control's desktop view: WebKitGTK shows the page the
// control has loaded, as the control holds it (with every edit the program
// made: a picture's width, the fields it filled), and sends what the user
// does in it (clicks, typing, sending a form) back to the control, which
// acts as it does for any click. The control stays the one that loads pages
// and raises the browser events, so the program reads and edits the page it
// is shown without waiting on the view.
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <memory>

#include "platform/browser/webbrowser.h"
#include "platform/gtk/peers.h"
#include "platform/sys/error.h"
#include "platform/sys/text.h"

namespace desktop {

namespace {

// Every click, every change of a field and every form sent goes to the
// program; the page itself does nothing with them.
constexpr const char* kReporter = R"JS(
(function () {
  if (window.__vintrel) return;
  window.__vintrel = true;
  function post(text) { window.webkit.messageHandlers.vintrel.postMessage(text); }
  function idOf(node) {
    for (var e = node; e; e = e.parentElement)
      if (e.getAttribute && e.hasAttribute('data-vintrel')) return e.getAttribute('data-vintrel');
    return null;
  }
  function page() { return document.documentElement.getAttribute('data-vintrel-page') || '0'; }
  document.addEventListener('click', function (ev) {
    var id = idOf(ev.target);
    ev.preventDefault();
    if (id !== null) post('click ' + page() + ' ' + id);
  }, true);
  function changed(ev) {
    var e = ev.target, id = idOf(e);
    if (id === null || !('value' in e)) return;
    post('input ' + page() + ' ' + id + ' ' + (e.checked ? 1 : 0) + ' ' + e.value);
  }
  document.addEventListener('input', changed, true);
  document.addEventListener('change', changed, true);
  document.addEventListener('submit', function (ev) {
    var id = idOf(ev.target);
    ev.preventDefault();
    if (id !== null) post('submit ' + page() + ' ' + id);
  }, true);
})();
)JS";

class BrowserPeer final : public ControlPeer {
public:
    explicit BrowserPeer(browser::WebBrowser& b) : ControlPeer(b, MakeView())
    {
        m_manager = webkit_web_view_get_user_content_manager(View());
        webkit_user_content_manager_add_script(
            m_manager, webkit_user_script_new(kReporter, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                              WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr));
        webkit_user_content_manager_register_script_message_handler(m_manager, "vintrel");
        Connect(m_manager, "script-message-received::vintrel",
                +[](WebKitUserContentManager*, WebKitJavascriptResult* r, BrowserPeer* self) {
                    JSCValue* v = webkit_javascript_result_get_js_value(r);
                    gchar* text = jsc_value_to_string(v);
                    std::string line = text ? text : "";
                    g_free(text);
                    self->FromPage(line);
                });
        // What the user does to go elsewhere (a link, a form, back, reload)
        // goes to the control, which loads the page and hands it over; the
        // view's own loads (ours, its frames) go through.
        Connect(Widget(), "decide-policy",
                +[](WebKitWebView*, WebKitPolicyDecision* d, WebKitPolicyDecisionType type, BrowserPeer* self) -> gboolean {
                    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION)
                        return FALSE;
                    WebKitNavigationAction* a = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(d));
                    if (webkit_navigation_action_get_navigation_type(a) == WEBKIT_NAVIGATION_TYPE_OTHER)
                        return FALSE;
                    std::string uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(a));
                    webkit_policy_decision_ignore(d);
                    if (uri.rfind("about:", 0) != 0) {
                        auto& control = static_cast<browser::WebBrowser&>(self->Control());
                        self->App().Post([&control, uri] { control.Navigate(uri); });
                    }
                    return TRUE;
                });
        Connect(Widget(), "context-menu", +[](WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, BrowserPeer*) -> gboolean {
            return TRUE;
        });
    }
    ~BrowserPeer() override
    {
        if (m_idle)
            g_source_remove(m_idle);
        webkit_user_content_manager_unregister_script_message_handler(m_manager, "vintrel");
    }

    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Document && !m_fromPage) {
            // What the shown page reports from now on is not looked up: the
            // program's edit may have taken its elements away.
            ++m_page;
            m_order.clear();
            m_document.reset();
        }
        if (p == ui::Prop::Document && !m_fromPage && !m_idle)
            m_idle = g_idle_add(+[](gpointer self) -> gboolean {
                static_cast<BrowserPeer*>(self)->m_idle = 0;
                static_cast<BrowserPeer*>(self)->Show();
                return G_SOURCE_REMOVE;
            }, this);
        if (p == ui::Prop::Bounds)
            gtk_widget_set_visible(Widget(), Control().Visible() && Control().Width() > 0);
        if (p == ui::Prop::Visible)
            gtk_widget_set_visible(Widget(), Control().Visible() && Control().Width() > 0);
    }

    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "script")
            return Evaluate(arg);
        if (what == "text")
            return Evaluate("document.title");
        if (what == "uri") {
            const char* uri = webkit_web_view_get_uri(View());
            return uri ? uri : "";
        }
        return ControlPeer::Native(what, arg);
    }

private:
    static GtkWidget* MakeView()
    {
        WebKitUserContentManager* manager = webkit_user_content_manager_new();
        GtkWidget* view = webkit_web_view_new_with_user_content_manager(manager);
        g_object_unref(manager);
        WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
        // The page's own scripts do not run (the control runs none either);
        // ours do.
        webkit_settings_set_enable_javascript_markup(settings, FALSE);
        webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
        // Pages and a picture or two: drawing them needs no graphics card.
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
        return view;
    }
    WebKitWebView* View() const { return WEBKIT_WEB_VIEW(Widget()); }
    browser::WebBrowser& Browser() const { return static_cast<browser::WebBrowser&>(Control()); }

    void Show()
    {
        browser::Document* doc = Browser().GetDocument();
        if (!doc)
            return;
        m_order.clear();
        m_document = Browser().SharedDocument();
        std::string html = doc->Html(&m_order);
        // The page's number travels with it, so that what an old page reports
        // is not taken for the new one.
        auto at = html.find("<html");
        if (at != std::string::npos)
            html.insert(at + 5, " data-vintrel-page=\"" + std::to_string(m_page) + "\"");
        webkit_web_view_load_html(View(), html.c_str(), doc->URL().empty() ? "about:blank" : doc->URL().c_str());
    }

    browser::Element* Find(const std::string& page, const std::string& id)
    {
        std::shared_ptr<browser::Document> shown = m_document.lock();
        if (page != std::to_string(m_page) || !shown || shown.get() != Browser().GetDocument())
            return nullptr;
        char* end = nullptr;
        unsigned long i = std::strtoul(id.c_str(), &end, 10);
        if (end == id.c_str() || i >= m_order.size())
            return nullptr;
        return m_order[i];
    }

    // "click PAGE ID", "input PAGE ID CHECKED VALUE", "submit PAGE ID".
    void FromPage(const std::string& line)
    {
        auto word = [&](size_t& at) {
            size_t end = line.find(' ', at);
            std::string w = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? line.size() : end + 1;
            return w;
        };
        size_t at = 0;
        std::string kind = word(at), page = word(at), id = word(at);
        browser::Element* e = Find(page, id);
        if (!e)
            return;
        browser::WebBrowser& control = Browser();
        if (kind == "click") {
            Deliver([&control, e] { control.Click(*e); });
        } else if (kind == "input") {
            bool checked = word(at) == "1";
            std::string value = at <= line.size() ? line.substr(at) : std::string();
            Mirroring typing(m_fromPage);
            Deliver([e, checked, value] {
                std::string type = sys::LowerAscii(e->GetAttribute("type"));
                if (e->Is("input") && (type == "checkbox" || type == "radio"))
                    e->SetChecked(checked);
                else
                    e->SetValue(value);
            });
        } else if (kind == "submit" && e->Is("form")) {
            Deliver([e] { e->Submit(); });
        }
    }

    std::string Evaluate(const std::string& script)
    {
        struct Result {
            bool done = false;
            std::string text;
            std::string error;
        };
        // Shared with the callback, which may come after we stopped waiting.
        auto result = std::make_shared<Result>();
        webkit_web_view_evaluate_javascript(View(), script.c_str(), -1, nullptr, nullptr, nullptr,
            +[](GObject* o, GAsyncResult* r, gpointer p) {
                std::unique_ptr<std::shared_ptr<Result>> hold(static_cast<std::shared_ptr<Result>*>(p));
                Result& res = **hold;
                GError* error = nullptr;
                JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(o), r, &error);
                if (v) {
                    gchar* t = jsc_value_is_undefined(v) || jsc_value_is_null(v) ? nullptr : jsc_value_to_string(v);
                    res.text = t ? t : "";
                    g_free(t);
                    g_object_unref(v);
                } else {
                    res.error = error ? error->message : "the script failed";
                    if (error)
                        g_error_free(error);
                }
                res.done = true;
            }, new std::shared_ptr<Result>(result));
        if (!WaitFor([&] { return result->done; }, 10000))
            throw sys::Error("The page did not answer the script in time.");
        if (!result->error.empty())
            throw sys::Error("The page's script failed: " + result->error);
        return result->text;
    }

    WebKitUserContentManager* m_manager = nullptr;
    guint m_idle = 0;
    unsigned m_page = 0;
    std::weak_ptr<browser::Document> m_document;   // the page shown
    std::vector<browser::Element*> m_order;
    bool m_fromPage = false;      // the page's own change, already shown
};

} // namespace

ControlPeer* MakeBrowserPeer(ui::Control& control)
{
    if (auto* b = dynamic_cast<browser::WebBrowser*>(&control))
        return new BrowserPeer(*b);
    return nullptr;
}

} // namespace desktop

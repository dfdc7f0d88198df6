// The desktop front-end: GTK 3 windows for the forms, WebKitGTK for the web
// browser control, the tray icon, GLib's loop running the application's.
// Built as a module the program loads when it shows windows.
#include <glib-unix.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "platform/gtk/peers.h"
#include "platform/gtk/tray.h"
#include "platform/session/windows.h"
#include "platform/sys/error.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

namespace desktop {

void PresentForm(ui::Form& form);   // peers.cpp
GdkRectangle OuterRectOf(ui::Form& form);

namespace {

// Compact controls in the designs' 8-point font, so that 17-dot buttons and
// 21-dot edits hold their text.
constexpr const char* kBaseCss = R"CSS(
* { font-family: Sans; font-size: 8pt; }
button { min-height: 0; min-width: 0; padding: 0 2px; }
entry { min-height: 0; padding: 0 3px; }
combobox button { padding: 0 2px; }
treeview.view header button { padding: 0 3px; }
checkbutton, radiobutton { min-height: 0; padding: 0; }
)CSS";

class DesktopToolkit final : public ui::Toolkit, public ui::FormListener {
public:
    explicit DesktopToolkit(ui::Application& app) : m_app(app)
    {
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css, kBaseCss, -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(css);
        session::TrayObserver() = [this](unsigned message, const session::TrayIcon& icon) { m_tray.Changed(message, icon); };
        session::CursorPositionSource() = [](session::POINT& point) {
            GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
            GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
            if (!pointer)
                return false;
            int x = 0, y = 0;
            gdk_device_get_position(pointer, nullptr, &x, &y);
            point = {x, y};
            return true;
        };
    }
    ~DesktopToolkit() override
    {
        session::TrayObserver() = nullptr;
        session::CursorPositionSource() = nullptr;
        for (auto& [id, source] : m_sources)
            g_source_remove(source);
    }

    void AttachPeers(ui::Form& form) override { AttachForm(form); }
    void FormActivated(ui::Form& form) override { PresentForm(form); }

    // ---- the loop ----------------------------------------------------------------

    bool OwnsLoop() const override { return true; }

    void AddWatch(int id, int fd, std::function<void()> ready) override
    {
        RemoveWatch(id);
        auto* handler = new std::function<void()>(std::move(ready));
        GSource* source = g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
        g_source_set_callback(source, G_SOURCE_FUNC(FdReady), handler,
                              +[](gpointer h) { delete static_cast<std::function<void()>*>(h); });
        // Posted work runs inside a box or dialog that posted work opened
        // (a menu pick's), as the loop of a modal window goes on with it.
        if (id == 0)
            g_source_set_can_recurse(source, TRUE);
        m_sources[id] = g_source_attach(source, nullptr);
        g_source_unref(source);
    }

    static gboolean FdReady(gint, GIOCondition, gpointer handler)
    {
        (*static_cast<std::function<void()>*>(handler))();
        return G_SOURCE_CONTINUE;
    }

    void RemoveWatch(int id) override
    {
        auto it = m_sources.find(id);
        if (it == m_sources.end())
            return;
        g_source_remove(it->second);
        m_sources.erase(it);
    }

    void Wait(int timeoutMs) override
    {
        if (timeoutMs == 0) {
            for (int i = 0; i < 1000 && g_main_context_pending(nullptr); ++i)
                g_main_context_iteration(nullptr, FALSE);
            return;
        }
        if (timeoutMs < 0) {
            g_main_context_iteration(nullptr, TRUE);
            return;
        }
        bool fired = false;
        guint timer = g_timeout_add(static_cast<guint>(timeoutMs), +[](gpointer p) -> gboolean {
            *static_cast<bool*>(p) = true;
            return G_SOURCE_REMOVE;
        }, &fired);
        g_main_context_iteration(nullptr, TRUE);
        if (!fired)
            g_source_remove(timer);
    }

    // ---- boxes and dialogs --------------------------------------------------------

    GtkWindow* Parent()
    {
        ui::Form* f = m_app.ActiveForm() ? m_app.ActiveForm() : m_app.MainForm();
        ControlPeer* p = f ? PeerOf(*f) : nullptr;
        return p && gtk_widget_get_visible(p->Widget()) ? GTK_WINDOW(p->Widget()) : nullptr;
    }

    // Runs a dialog modally; a box or dialog answer queued through the
    // automation channel while it is up closes it. Returns the response, or
    // nothing when a queued answer came.
    std::optional<int> RunModal(GtkWidget* dialog, const std::string& what, const std::function<void(int)>& read = {})
    {
        // What is up, for the automation channel (boxes opened from a box nest).
        std::string outer = std::exchange(m_modal, what);
        struct Restore {
            std::string& modal;
            std::string outer;
            ~Restore() { modal = outer; }
        } restore{m_modal, outer};
        struct State {
            bool done = false;
            int response = GTK_RESPONSE_DELETE_EVENT;
        };
        auto state = std::make_shared<State>();
        g_signal_connect_data(dialog, "response", G_CALLBACK(+[](GtkDialog*, gint r, std::shared_ptr<State>* s) {
            (*s)->done = true;
            (*s)->response = r;
        }), new std::shared_ptr<State>(state), +[](gpointer p, GClosure*) { delete static_cast<std::shared_ptr<State>*>(p); },
            GConnectFlags(0));
        gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
        gtk_widget_show(dialog);
        gtk_window_present(GTK_WINDOW(dialog));
        while (!state->done && !m_app.PeekAnswer())
            WaitFor([&] { return state->done || m_app.PeekAnswer() != nullptr; }, 1000);
        if (state->done && read)
            read(state->response);
        gtk_widget_destroy(dialog);
        if (!state->done)
            return std::nullopt;
        return state->response;
    }

    int MessageBox(ui::Application& app, const std::string& text, const std::string& caption, unsigned flags) override
    {
        if (app.PeekAnswer())
            return m_scripted.MessageBox(app, text, caption, flags);
        GtkMessageType type = GTK_MESSAGE_OTHER;
        switch (flags & 0xF0) {
        case ui::MB_ICONSTOP: type = GTK_MESSAGE_ERROR; break;
        case ui::MB_ICONQUESTION: type = GTK_MESSAGE_QUESTION; break;
        case ui::MB_ICONWARNING: type = GTK_MESSAGE_WARNING; break;
        case ui::MB_ICONINFORMATION: type = GTK_MESSAGE_INFO; break;
        default: break;
        }
        GtkWidget* d = gtk_message_dialog_new(Parent(), GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s", text.c_str());
        gtk_window_set_title(GTK_WINDOW(d), caption.c_str());
        auto buttons = ui::MessageBoxButtons(flags);
        for (int id : buttons)
            gtk_dialog_add_button(GTK_DIALOG(d), ui::ButtonName(id), id);
        gtk_dialog_set_default_response(GTK_DIALOG(d), ui::MessageBoxDefault(flags));
        std::optional<int> r = RunModal(d, text);
        if (!r)
            return m_scripted.MessageBox(app, text, caption, flags);
        if (std::find(buttons.begin(), buttons.end(), *r) != buttons.end())
            return *r;
        // Closed from its title bar: Cancel when there is one, else the one button.
        bool hasCancel = std::find(buttons.begin(), buttons.end(), ui::IDCANCEL) != buttons.end();
        return hasCancel ? ui::IDCANCEL : ui::MessageBoxDefault(flags);
    }

    bool OpenFiles(ui::Application& app, ui::OpenDialog& dialog) override
    {
        if (app.PeekAnswer())
            return m_scripted.OpenFiles(app, dialog);
        GtkWidget* d = gtk_file_chooser_dialog_new(dialog.Title.empty() ? "Open" : dialog.Title.c_str(), Parent(),
                                                   GTK_FILE_CHOOSER_ACTION_OPEN, "Cancel", GTK_RESPONSE_CANCEL,
                                                   "Open", GTK_RESPONSE_ACCEPT, nullptr);
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(d);
        gtk_file_chooser_set_select_multiple(chooser, (dialog.Options & ui::ofAllowMultiSelect) != 0);
        if (!dialog.InitialDir.empty())
            gtk_file_chooser_set_current_folder(chooser, dialog.InitialDir.c_str());
        // "Description|pattern;pattern|..."
        auto parts = sys::Split(dialog.Filter, '|');
        int index = 0;
        for (size_t i = 0; i + 1 < parts.size(); i += 2) {
            GtkFileFilter* f = gtk_file_filter_new();
            gtk_file_filter_set_name(f, parts[i].c_str());
            for (const auto& pattern : sys::Split(parts[i + 1], ';')) {
                const std::string& p = pattern;
                // Patterns match without regard to case, as on the desktop they come from.
                std::string folded;
                for (char c : p) {
                    if (std::isalpha(static_cast<unsigned char>(c)))
                        folded += std::string("[") + static_cast<char>(std::tolower(c)) + static_cast<char>(std::toupper(c)) + "]";
                    else
                        folded += c;
                }
                gtk_file_filter_add_pattern(f, folded.c_str());
            }
            gtk_file_chooser_add_filter(chooser, f);
            if (++index == dialog.FilterIndex)
                gtk_file_chooser_set_filter(chooser, f);
        }
        std::vector<std::string> chosen;
        std::optional<int> r = RunModal(d, dialog.Title.empty() ? "Open" : dialog.Title, [&](int response) {
            if (response != GTK_RESPONSE_ACCEPT)
                return;
            GSList* files = gtk_file_chooser_get_filenames(chooser);
            for (GSList* l = files; l; l = l->next)
                chosen.emplace_back(static_cast<char*>(l->data));
            g_slist_free_full(files, g_free);
        });
        if (!r)
            return m_scripted.OpenFiles(app, dialog);
        if (chosen.empty())
            return false;
        dialog.Files = chosen;
        dialog.FileName = chosen.front();
        return true;
    }

    bool PickColor(ui::Application& app, ui::TColor& color) override
    {
        if (app.PeekAnswer())
            return m_scripted.PickColor(app, color);
        GtkWidget* d = gtk_color_chooser_dialog_new("Color", Parent());
        std::uint32_t rgb = ui::ColorToRGB(color);
        GdkRGBA rgba{ui::GetRValue(rgb) / 255.0, ui::GetGValue(rgb) / 255.0, ui::GetBValue(rgb) / 255.0, 1.0};
        gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(d), FALSE);
        gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(d), &rgba);
        GdkRGBA chosen = rgba;
        std::optional<int> r = RunModal(d, "Color", [&](int response) {
            if (response == GTK_RESPONSE_OK)
                gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(d), &chosen);
        });
        if (!r)
            return m_scripted.PickColor(app, color);
        bool ok = *r == GTK_RESPONSE_OK;
        if (ok)
            color = ui::RGB(static_cast<int>(chosen.red * 255 + 0.5), static_cast<int>(chosen.green * 255 + 0.5),
                            static_cast<int>(chosen.blue * 255 + 0.5));
        return ok;
    }

    // ---- clipboard and text ----------------------------------------------------------

    std::string ClipboardText() override
    {
        gchar* t = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
        std::string s = t ? t : "";
        g_free(t);
        return s;
    }

    void SetClipboardText(const std::string& text) override
    {
        GtkClipboard* c = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
        gtk_clipboard_set_text(c, text.c_str(), static_cast<gint>(text.size()));
        gtk_clipboard_store(c);   // stays after the program ends, where a manager keeps it
    }

    int TextWidth(const ui::Control& control, const std::string& text) override
    {
        ControlPeer* p = PeerOf(control);
        if (!p)
            return ui::HeadlessTextWidth(text);
        PangoLayout* layout = gtk_widget_create_pango_layout(p->Widget(), text.c_str());
        int w = 0, h = 0;
        pango_layout_get_pixel_size(layout, &w, &h);
        g_object_unref(layout);
        return w;
    }

    // ---- what the peers show -------------------------------------------------------------

    std::string Native(ui::Control& control, const std::string& what, const std::string& argument) override
    {
        ControlPeer* p = PeerOf(control);
        if (!p)
            return Toolkit::Native(control, what, argument);
        if (what == "screenshot")
            return Screenshot(*p, argument);
        if (what == "dialog")   // the box's text or the dialog's title up now, "" for none
            return m_modal;
        return p->Native(what, argument);
    }

    std::string Screenshot(ControlPeer& p, const std::string& path)
    {
        GtkWidget* top = gtk_widget_get_toplevel(p.Widget());
        if (!gtk_widget_get_mapped(top))
            throw sys::Error("The window of " + p.Control().Name() + " is not on the screen.");
        gtk_widget_queue_draw(top);
        WaitFor([] { return !g_main_context_pending(nullptr); }, 2000);
        GdkWindow* w = gtk_widget_get_window(top);
        GdkRectangle r = OuterRectOf(*p.Control().OwnerForm());
        int width = r.width, height = r.height;
        GdkPixbuf* shot = width > 0 && height > 0 ? gdk_pixbuf_get_from_window(w, r.x, r.y, width, height) : nullptr;
        if (!shot)
            throw sys::Error("The window of " + p.Control().Name() + " could not be read.");
        GError* error = nullptr;
        bool saved = gdk_pixbuf_save(shot, path.c_str(), "png", &error, nullptr);
        g_object_unref(shot);
        if (!saved) {
            std::string why = error ? error->message : "unknown error";
            if (error)
                g_error_free(error);
            throw sys::Error("The picture " + path + " could not be written: " + why);
        }
        return std::to_string(width) + "x" + std::to_string(height);
    }

private:
    ui::Application& m_app;
    ui::HeadlessToolkit m_scripted;   // answers queued through the automation channel
    std::map<int, guint> m_sources;
    TrayIcons m_tray;
    std::string m_modal;
};

} // namespace

} // namespace desktop

// The module's entry: GTK on the display the environment names, and the
// desktop toolkit in the application.
extern "C" __attribute__((visibility("default"))) bool vintrel_install_desktop(ui::Application* app, std::string* error)
{
    if (!gtk_init_check(nullptr, nullptr)) {
        std::string which = !sys::GetEnv("DISPLAY").empty() ? sys::GetEnv("DISPLAY") : sys::GetEnv("WAYLAND_DISPLAY");
        *error = "The display " + which + " cannot be opened.";
        return false;
    }
    auto toolkit = std::make_unique<desktop::DesktopToolkit>(*app);
    app->AddListener(toolkit.get());
    app->SetToolkit(std::move(toolkit));
    return true;
}

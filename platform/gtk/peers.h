#pragma once
// The desktop front-end's inside: a GTK peer per control that mirrors the
// control's state and turns native input into the control's own events.
// Nothing here is seen by program code.
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/application.h"

namespace desktop {

class ControlPeer : public ui::Peer {
public:
    // `widget` is what sits in the parent's fixed container; `inner` (when
    // the control has children) is the fixed container they sit in.
    ControlPeer(ui::Control& control, GtkWidget* widget, GtkWidget* inner = nullptr);
    ~ControlPeer() override;
    ControlPeer(const ControlPeer&) = delete;
    ControlPeer& operator=(const ControlPeer&) = delete;

    void Changed(ui::Prop what) override;
    // What the native widget shows: "text", "visible", "size", and what a
    // kind adds ("picture", "rows", "script"...).
    virtual std::string Native(const std::string& what, const std::string& argument);

    ui::Control& Control() const { return m_control; }
    GtkWidget* Widget() const { return m_widget; }
    GtkWidget* Inner() const { return m_inner; }
    ui::Application& App();

    // Places the widget in its parent's container (called once, after the
    // parent's peer exists).
    void PlaceIn(GtkWidget* fixed);
    // Every peer's first full mirror of the control's state.
    void MirrorAll();

protected:
    virtual void Update(ui::Prop) {}
    // The widget the colours are painted on (the widget itself by default).
    virtual GtkWidget* Painted() { return m_widget; }
    void ApplyColors();
    // A signal whose handler gets this peer; disconnected when the peer goes.
    template <class F>
    void Connect(gpointer instance, const char* signal, F handler)
    {
        gulong id = g_signal_connect(instance, signal, G_CALLBACK(handler), this);
        auto* ref = new GWeakRef;
        g_weak_ref_init(ref, instance);
        m_connections.emplace_back(ref, id);
    }
    // Runs native input as the loop runs an event handler.
    // Nothing once the widget is being destroyed or the control has left
    // its form (a form's controls go before the form).
    void Deliver(const std::function<void()>& work)
    {
        if (gtk_widget_in_destruction(m_widget) || !m_control.OwnerForm())
            return;
        App().Deliver(work);
    }
    // True while the peer mirrors the model, so that the widget's own change
    // signals do not travel back.
    bool m_mirroring = false;
    struct Mirroring {
        bool& flag;
        bool saved;
        explicit Mirroring(bool& f) : flag(f), saved(f) { flag = true; }
        ~Mirroring() { flag = saved; }
    };

private:
    ui::Control& m_control;
    GtkWidget* m_widget;
    GtkWidget* m_inner;
    GtkWidget* m_fixed = nullptr;   // the parent's container
    GtkCssProvider* m_css = nullptr;
    // Weak, as a part (a column, a selection) may go before the peer.
    std::vector<std::pair<GWeakRef*, gulong>> m_connections;
};

ControlPeer* PeerOf(const ui::Control& control);

// Builds the peers of a form and all its controls.
void AttachForm(ui::Form& form);
// Builds the peer of one control whose kind lives outside platform/ui (the
// web browser control); nullptr when the kind is not known there.
ControlPeer* MakeBrowserPeer(ui::Control& control);

// Colour helpers.
std::string CssColor(ui::TColor color);
void SetCss(GtkWidget* widget, GtkCssProvider*& provider, const std::string& rules);

// Waits in GLib's loop until `done` says so or `timeoutMs` passes; false on
// time-out.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

} // namespace desktop

#include "platform/gtk/peers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/sys/error.h"
#include "platform/ui/gammapanel.h"

namespace desktop {

namespace {

std::string Hex(std::uint32_t rgb)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", ui::GetRValue(rgb), ui::GetGValue(rgb), ui::GetBValue(rgb));
    return buf;
}

std::string Dots(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

} // namespace

std::string CssColor(ui::TColor color) { return Hex(ui::ColorToRGB(color)); }

void SetCss(GtkWidget* widget, GtkCssProvider*& provider, const std::string& rules)
{
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    if (!provider) {
        provider = gtk_css_provider_new();
        gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(provider), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    }
    gtk_css_provider_load_from_data(provider, rules.c_str(), -1, nullptr);
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    gint64 until = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() >= until)
            return false;
        bool fired = false;
        guint timer = g_timeout_add(20, [](gpointer p) -> gboolean {
            *static_cast<bool*>(p) = true;
            return G_SOURCE_REMOVE;
        }, &fired);
        g_main_context_iteration(nullptr, TRUE);
        if (!fired)
            g_source_remove(timer);
    }
    return true;
}

// ---- the base peer ---------------------------------------------------------------

ControlPeer::ControlPeer(ui::Control& control, GtkWidget* widget, GtkWidget* inner)
    : m_control(control), m_widget(widget), m_inner(inner)
{
    g_object_ref_sink(m_widget);
    g_object_set_data(G_OBJECT(m_widget), "vintrel-peer", this);
}

ControlPeer::~ControlPeer()
{
    for (auto& [ref, id] : m_connections) {
        if (gpointer instance = g_weak_ref_get(ref)) {
            if (g_signal_handler_is_connected(instance, id))
                g_signal_handler_disconnect(instance, id);
            g_object_unref(instance);
        }
        g_weak_ref_clear(ref);
        delete ref;
    }
    g_object_set_data(G_OBJECT(m_widget), "vintrel-peer", nullptr);
    if (m_css)
        g_object_unref(m_css);
    gtk_widget_destroy(m_widget);
    g_object_unref(m_widget);
}

ui::Application& ControlPeer::App() { return m_control.OwnerForm()->App(); }

ControlPeer* PeerOf(const ui::Control& control) { return dynamic_cast<ControlPeer*>(control.GetPeer()); }

void ControlPeer::PlaceIn(GtkWidget* fixed)
{
    m_fixed = fixed;
    gtk_fixed_put(GTK_FIXED(fixed), m_widget, m_control.Left(), m_control.Top());
}

void ControlPeer::MirrorAll()
{
    for (ui::Prop p : {ui::Prop::Bounds, ui::Prop::Color, ui::Prop::Caption, ui::Prop::Enabled, ui::Prop::Items,
                       ui::Prop::ItemIndex, ui::Prop::Checked, ui::Prop::Columns, ui::Prop::Rows,
                       ui::Prop::Selection, ui::Prop::Picture, ui::Prop::Lines, ui::Prop::Document,
                       ui::Prop::Visible})
        Changed(p);
}

void ControlPeer::Changed(ui::Prop what)
{
    Mirroring guard(m_mirroring);
    switch (what) {
    case ui::Prop::Bounds:
        if (m_fixed) {
            gtk_fixed_move(GTK_FIXED(m_fixed), m_widget, m_control.Left(), m_control.Top());
            gtk_widget_set_size_request(m_widget, std::max(0, m_control.Width()), std::max(0, m_control.Height()));
        }
        break;
    case ui::Prop::Visible:
        // A window the user minimised (to the tray) comes back as a normal one.
        if (GTK_IS_WINDOW(m_widget) && m_control.Visible())
            gtk_window_deiconify(GTK_WINDOW(m_widget));
        gtk_widget_set_visible(m_widget, m_control.Visible());
        break;
    case ui::Prop::Enabled:
        gtk_widget_set_sensitive(m_widget, m_control.Enabled());
        break;
    case ui::Prop::Color:
    case ui::Prop::FontColor:
        ApplyColors();
        break;
    default:
        break;
    }
    Update(what);
}

void ControlPeer::ApplyColors()
{
    std::string rules = "* { background-color: " + CssColor(m_control.Color()) +
                        "; background-image: none; color: " + CssColor(m_control.FontColor()) + "; }"
                        " *:selected { background-color: " + CssColor(ui::clHighlight) +
                        "; color: " + CssColor(ui::clHighlightText) + "; }";
    SetCss(Painted(), m_css, rules);
}

std::string ControlPeer::Native(const std::string& what, const std::string&)
{
    if (what == "visible")
        return gtk_widget_get_visible(m_widget) && gtk_widget_get_mapped(m_widget) ? "1" : "0";
    if (what == "size") {
        GtkAllocation a;
        gtk_widget_get_allocation(m_widget, &a);
        return Dots(a.width, a.height);
    }
    if (what == "class")
        return G_OBJECT_TYPE_NAME(m_widget);
    throw sys::Error("The " + std::string(G_OBJECT_TYPE_NAME(m_widget)) + " of " + m_control.Name() +
                     " cannot tell " + what + ".");
}

namespace {

// ---- buttons, labels, text -------------------------------------------------------

class ButtonPeer final : public ControlPeer {
public:
    explicit ButtonPeer(ui::Button& b) : ControlPeer(b, gtk_button_new_with_label(""))
    {
        Connect(Widget(), "clicked", +[](GtkButton*, ButtonPeer* self) {
            auto& button = static_cast<ui::Button&>(self->Control());
            self->Deliver([&button] { button.Click(); });
        });
    }
    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Caption)
            gtk_button_set_label(GTK_BUTTON(Widget()), Control().Caption().c_str());
    }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text")
            return gtk_button_get_label(GTK_BUTTON(Widget()));
        if (what == "press") {
            gtk_button_clicked(GTK_BUTTON(Widget()));
            return {};
        }
        return ControlPeer::Native(what, arg);
    }
};

class LabelPeer final : public ControlPeer {
public:
    explicit LabelPeer(ui::Control& c) : ControlPeer(c, gtk_label_new(""))
    {
        gtk_label_set_xalign(GTK_LABEL(Widget()), 0);
        gtk_label_set_yalign(GTK_LABEL(Widget()), 0);
    }
    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Caption)
            gtk_label_set_text(GTK_LABEL(Widget()), Control().Caption().c_str());
    }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text")
            return gtk_label_get_text(GTK_LABEL(Widget()));
        return ControlPeer::Native(what, arg);
    }
};

class EditPeer final : public ControlPeer {
public:
    explicit EditPeer(ui::Edit& e) : ControlPeer(e, gtk_entry_new())
    {
        Connect(Widget(), "changed", +[](GtkEditable*, EditPeer* self) {
            if (self->m_mirroring)
                return;
            std::string text = gtk_entry_get_text(GTK_ENTRY(self->Widget()));
            auto& edit = static_cast<ui::Edit&>(self->Control());
            self->Deliver([&edit, text] { edit.SetText(text); });
        });
        Connect(Widget(), "activate", +[](GtkEntry*, EditPeer*) {});
    }
    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Caption && Control().Caption() != gtk_entry_get_text(GTK_ENTRY(Widget())))
            gtk_entry_set_text(GTK_ENTRY(Widget()), Control().Caption().c_str());
    }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text")
            return gtk_entry_get_text(GTK_ENTRY(Widget()));
        return ControlPeer::Native(what, arg);
    }
};

class MemoPeer final : public ControlPeer {
public:
    explicit MemoPeer(ui::Memo& m) : ControlPeer(m, gtk_scrolled_window_new(nullptr, nullptr))
    {
        m_view = gtk_text_view_new();
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(m_view), GTK_WRAP_WORD_CHAR);
        gtk_container_add(GTK_CONTAINER(Widget()), m_view);
        gtk_widget_show(m_view);
        Connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(m_view)), "changed", +[](GtkTextBuffer*, MemoPeer* self) {
            if (self->m_mirroring)
                return;
            std::string text = self->Text();
            auto& memo = static_cast<ui::Memo&>(self->Control());
            // The buffer already shows what was typed (a line end the memo's
            // lines do not keep included).
            Mirroring typing(self->m_typing);
            self->Deliver([&memo, text] { memo.SetCaption(text); });
        });
    }
    std::string Text()
    {
        GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(m_view));
        GtkTextIter from, to;
        gtk_text_buffer_get_bounds(b, &from, &to);
        gchar* t = gtk_text_buffer_get_text(b, &from, &to, FALSE);
        std::string s = t;
        g_free(t);
        return s;
    }
    void Update(ui::Prop p) override
    {
        if ((p != ui::Prop::Lines && p != ui::Prop::Caption) || m_typing)
            return;
        std::string text;
        const auto& lines = static_cast<ui::Memo&>(Control()).Lines();
        for (size_t i = 0; i < lines.size(); ++i)
            text += (i ? "\n" : "") + lines[i];
        if (text != Text())
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(m_view)), text.c_str(), -1);
    }
    GtkWidget* Painted() override { return m_view; }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text")
            return Text();
        return ControlPeer::Native(what, arg);
    }

private:
    GtkWidget* m_view;
    bool m_typing = false;
};

class CheckPeer final : public ControlPeer {
public:
    CheckPeer(ui::Control& c, GtkWidget* w) : ControlPeer(c, w)
    {
        Connect(Widget(), "toggled", +[](GtkToggleButton* b, CheckPeer* self) {
            if (self->m_mirroring)
                return;
            bool on = gtk_toggle_button_get_active(b);
            ui::Control& c = self->Control();
            // A radio button going off is the group's doing: the one going on
            // tells the model.
            if (!on && dynamic_cast<ui::RadioButton*>(&c))
                return;
            self->Deliver([&c, on] {
                if (auto* check = dynamic_cast<ui::CheckBox*>(&c)) {
                    if (check->Checked() != on)
                        check->Click();
                } else if (auto* radio = dynamic_cast<ui::RadioButton*>(&c); radio && on && !radio->Checked()) {
                    radio->Click();
                }
            });
            self->Changed(ui::Prop::Checked);   // the model may have said no
        });
    }
    bool Checked() const
    {
        if (auto* check = dynamic_cast<ui::CheckBox*>(&Control()))
            return check->Checked();
        return static_cast<ui::RadioButton&>(Control()).Checked();
    }
    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Caption)
            gtk_button_set_label(GTK_BUTTON(Widget()), Control().Caption().c_str());
        if (p == ui::Prop::Checked)
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget()), Checked());
    }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text")
            return gtk_button_get_label(GTK_BUTTON(Widget()));
        if (what == "checked")
            return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Widget())) ? "1" : "0";
        if (what == "press") {
            gtk_button_clicked(GTK_BUTTON(Widget()));
            return {};
        }
        return ControlPeer::Native(what, arg);
    }
};

// Group boxes and panels: a frame or a painted box holding a fixed container.
struct Built {
    GtkWidget* outer;
    GtkWidget* box;     // the painted box
    GtkWidget* fixed;   // where the children sit
};

Built BuildContainer(bool framed)
{
    GtkWidget* fixed = gtk_fixed_new();
    GtkWidget* box = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(box), fixed);
    gtk_widget_show(fixed);
    if (!framed)
        return {box, box, fixed};
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_add(GTK_CONTAINER(frame), box);
    gtk_widget_show(box);
    return {frame, box, fixed};
}

class ContainerPeer final : public ControlPeer {
public:
    ContainerPeer(ui::Control& c, bool framed) : ContainerPeer(c, framed, BuildContainer(framed)) {}
    ContainerPeer(ui::Control& c, bool framed, Built b) : ControlPeer(c, b.outer, b.fixed), m_box(b.box), m_framed(framed)
    {
        if (!framed) {
            m_label = gtk_label_new("");
            gtk_fixed_put(GTK_FIXED(Inner()), m_label, 0, 0);
        }
    }
    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Caption) {
            const std::string& text = Control().Caption();
            if (m_framed) {
                gtk_frame_set_label(GTK_FRAME(Widget()), text.empty() ? nullptr : text.c_str());
            } else {
                gtk_label_set_text(GTK_LABEL(m_label), text.c_str());
                gtk_widget_set_visible(m_label, !text.empty());
            }
        }
        if (p == ui::Prop::Bounds && m_label)
            gtk_widget_set_size_request(m_label, Control().Width(), Control().Height());
    }
    GtkWidget* Painted() override { return m_box; }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text") {
            const char* t = m_framed ? gtk_frame_get_label(GTK_FRAME(Widget())) : gtk_label_get_text(GTK_LABEL(m_label));
            return t ? t : "";
        }
        return ControlPeer::Native(what, arg);
    }

private:
    GtkWidget* m_box;
    GtkWidget* m_label = nullptr;
    bool m_framed;
};

class ComboPeer final : public ControlPeer {
public:
    explicit ComboPeer(ui::ComboBox& c) : ControlPeer(c, gtk_combo_box_text_new())
    {
        Connect(Widget(), "changed", +[](GtkComboBox* box, ComboPeer* self) {
            if (self->m_mirroring)
                return;
            int index = gtk_combo_box_get_active(box);
            auto& combo = static_cast<ui::ComboBox&>(self->Control());
            if (index >= 0)
                self->Deliver([&combo, index] { combo.Select(index); });
        });
    }
    void Update(ui::Prop p) override
    {
        auto& combo = static_cast<ui::ComboBox&>(Control());
        if (p == ui::Prop::Items) {
            // A new model filled before it is attached: one change for the
            // widget however long the list (the phone models are a thousand).
            GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
            for (const auto& item : combo.Items())
                gtk_list_store_insert_with_values(store, nullptr, -1, 0, item.c_str(), -1);
            gtk_combo_box_set_model(GTK_COMBO_BOX(Widget()), GTK_TREE_MODEL(store));
            g_object_unref(store);
        }
        if (p == ui::Prop::Items || p == ui::Prop::ItemIndex)
            gtk_combo_box_set_active(GTK_COMBO_BOX(Widget()), combo.ItemIndex());
    }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text") {
            gchar* t = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(Widget()));
            std::string s = t ? t : "";
            g_free(t);
            return s;
        }
        if (what == "press") {   // a pick of the item at ARG
            gtk_combo_box_set_active(GTK_COMBO_BOX(Widget()), std::atoi(arg.c_str()));
            return {};
        }
        return ControlPeer::Native(what, arg);
    }
};

// Lists: a tree view in a scrolled window, one text column per list column.
class ListPeer final : public ControlPeer {
public:
    explicit ListPeer(ui::Control& c) : ControlPeer(c, gtk_scrolled_window_new(nullptr, nullptr))
    {
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(Widget()), GTK_SHADOW_IN);
        m_view = gtk_tree_view_new();
        gtk_container_add(GTK_CONTAINER(Widget()), m_view);
        gtk_widget_show(m_view);
        m_listView = dynamic_cast<ui::ListView*>(&c);
        m_listBox = dynamic_cast<ui::ListBox*>(&c);
        gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(m_view), m_listView != nullptr);
        GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view));
        bool multi = m_listView ? m_listView->MultiSelect : m_listBox->MultiSelect;
        gtk_tree_selection_set_mode(sel, multi ? GTK_SELECTION_MULTIPLE : GTK_SELECTION_SINGLE);
        Connect(sel, "changed", +[](GtkTreeSelection*, ListPeer* self) { self->SelectionFromView(); });
        Connect(m_view, "button-press-event", +[](GtkWidget*, GdkEventButton* e, ListPeer* self) -> gboolean {
            return self->ButtonPress(e);
        });
    }
    ~ListPeer() override
    {
        if (m_idle)
            g_source_remove(m_idle);
        if (m_store)
            g_object_unref(m_store);
    }

    // A list loads and selects row by row; the view follows once per batch,
    // before the next drawing (or at once when asked what it shows).
    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Columns && SameColumns())
            return UpdateColumns();
        if (p == ui::Prop::Columns || p == ui::Prop::Items)
            m_needRebuild = true;
        else if (p == ui::Prop::Rows)
            m_needRows = true;
        else if (p == ui::Prop::Selection || p == ui::Prop::ItemIndex || p == ui::Prop::Focus)
            m_needSelection = true;
        else
            return;
        if (!m_idle)
            m_idle = g_idle_add_full(G_PRIORITY_HIGH_IDLE, +[](gpointer self) -> gboolean {
                static_cast<ListPeer*>(self)->m_idle = 0;
                static_cast<ListPeer*>(self)->Flush();
                return G_SOURCE_REMOVE;
            }, this, nullptr);
    }

    void Flush()
    {
        if (m_idle) {
            g_source_remove(m_idle);
            m_idle = 0;
        }
        bool any = m_needRebuild || m_needRows || m_needSelection;
        if (m_needRebuild || !m_store)
            Rebuild();
        else if (m_needRows)
            FillRows();
        m_needRebuild = m_needRows = m_needSelection = false;
        if (!any)
            return;
        // The focused row is the cursor (which takes the selection with it:
        // the selection is mirrored after).
        if (ui::ListItem* focused = m_listView ? m_listView->ItemFocused() : nullptr) {
            Mirroring guard(m_mirroring);
            GtkTreePath* path = gtk_tree_path_new_from_indices(focused->Index(), -1);
            gtk_tree_view_set_cursor(GTK_TREE_VIEW(m_view), path, nullptr, FALSE);
            gtk_tree_path_free(path);
        }
        SelectionToView();
    }

    GtkWidget* Painted() override { return m_view; }

    std::string Native(const std::string& what, const std::string& arg) override
    {
        Flush();
        if (what == "rows") {
            std::string out;
            GtkTreeIter it;
            GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view));
            int columns = gtk_tree_model_get_n_columns(GTK_TREE_MODEL(m_store));
            for (bool ok = gtk_tree_model_get_iter_first(GTK_TREE_MODEL(m_store), &it); ok;
                 ok = gtk_tree_model_iter_next(GTK_TREE_MODEL(m_store), &it)) {
                out += gtk_tree_selection_iter_is_selected(sel, &it) ? "*" : " ";
                for (int c = 0; c < columns; ++c) {
                    gchar* t = nullptr;
                    gtk_tree_model_get(GTK_TREE_MODEL(m_store), &it, c, &t, -1);
                    out += std::string(c ? "\t" : "") + (t ? t : "");
                    g_free(t);
                }
                out += "\n";
            }
            return out;
        }
        if (what == "cursor") {
            GtkTreePath* path = nullptr;
            gtk_tree_view_get_cursor(GTK_TREE_VIEW(m_view), &path, nullptr);
            int row = path ? gtk_tree_path_get_indices(path)[0] : -1;
            if (path)
                gtk_tree_path_free(path);
            return std::to_string(row);
        }
        if (what == "press") {   // "row N": a click on the row; "column N": on the header
            int n = std::atoi(arg.c_str() + std::min(arg.size(), arg.find(' ') + 1));
            if (arg.rfind("row ", 0) == 0 && n >= 0 && n < Count()) {
                GtkTreePath* path = gtk_tree_path_new_from_indices(n, -1);
                gtk_tree_view_set_cursor(GTK_TREE_VIEW(m_view), path, nullptr, FALSE);
                gtk_tree_path_free(path);
                return {};
            }
            if (arg.rfind("column ", 0) == 0)
                if (GtkTreeViewColumn* col = gtk_tree_view_get_column(GTK_TREE_VIEW(m_view), n)) {
                    gtk_tree_view_column_clicked(col);
                    return {};
                }
            throw sys::Error("No " + arg + " in " + Control().Name() + ".");
        }
        if (what == "text") {   // the column headers
            std::string out;
            for (int c = 0;; ++c) {
                GtkTreeViewColumn* col = gtk_tree_view_get_column(GTK_TREE_VIEW(m_view), c);
                if (!col)
                    break;
                out += std::string(c ? "\t" : "") + gtk_tree_view_column_get_title(col);
            }
            return out;
        }
        return ControlPeer::Native(what, arg);
    }

private:
    int ColumnCount() const
    {
        return m_listView ? std::max<int>(1, static_cast<int>(m_listView->Columns().size())) : 1;
    }

    // The view has as many columns as the list: widths and captions follow
    // in place (the list fits its first column to every row it adds).
    bool SameColumns() const
    {
        if (!m_listView || !m_store)
            return false;
        int n = 0;
        while (gtk_tree_view_get_column(GTK_TREE_VIEW(m_view), n))
            ++n;
        return n == static_cast<int>(m_listView->Columns().size());
    }
    void UpdateColumns()
    {
        const auto& columns = m_listView->Columns();
        for (size_t c = 0; c < columns.size(); ++c) {
            GtkTreeViewColumn* col = gtk_tree_view_get_column(GTK_TREE_VIEW(m_view), static_cast<int>(c));
            gtk_tree_view_column_set_title(col, columns[c].Caption.c_str());
            gtk_tree_view_column_set_fixed_width(col, std::max(1, columns[c].Width));
        }
    }

    void Rebuild()
    {
        int n = ColumnCount();
        while (GtkTreeViewColumn* col = gtk_tree_view_get_column(GTK_TREE_VIEW(m_view), 0))
            gtk_tree_view_remove_column(GTK_TREE_VIEW(m_view), col);
        std::vector<GType> types(static_cast<size_t>(n), G_TYPE_STRING);
        GtkListStore* store = gtk_list_store_newv(n, types.data());
        for (int c = 0; c < n; ++c) {
            GtkCellRenderer* r = gtk_cell_renderer_text_new();
            const char* title = m_listView && !m_listView->Columns().empty()
                                    ? m_listView->Columns()[static_cast<size_t>(c)].Caption.c_str()
                                    : "";
            GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(title, r, "text", c, nullptr);
            gtk_tree_view_column_set_sizing(col, GTK_TREE_VIEW_COLUMN_FIXED);
            gtk_tree_view_column_set_resizable(col, TRUE);
            if (m_listView && !m_listView->Columns().empty()) {
                gtk_tree_view_column_set_fixed_width(col, std::max(1, m_listView->Columns()[static_cast<size_t>(c)].Width));
                gtk_tree_view_column_set_clickable(col, TRUE);
                g_object_set_data(G_OBJECT(col), "vintrel-column", GINT_TO_POINTER(c));
                // The column goes with the view, before the peer.
                g_signal_connect(col, "clicked", G_CALLBACK(+[](GtkTreeViewColumn* col, ListPeer* self) {
                    int index = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(col), "vintrel-column"));
                    ui::ListView* lv = self->m_listView;
                    self->Deliver([lv, index] { lv->ColumnClick(index); });
                }), this);
            }
            gtk_tree_view_append_column(GTK_TREE_VIEW(m_view), col);
        }
        if (m_store)
            g_object_unref(m_store);
        m_store = store;
        {
            Mirroring guard(m_mirroring);
            gtk_tree_view_set_model(GTK_TREE_VIEW(m_view), GTK_TREE_MODEL(m_store));
        }
        FillRows();
    }

    void FillRows()
    {
        Mirroring guard(m_mirroring);
        int n = ColumnCount();
        gtk_tree_view_set_model(GTK_TREE_VIEW(m_view), nullptr);
        gtk_list_store_clear(m_store);
        auto put = [&](const std::vector<std::string>& cells) {
            GtkTreeIter it;
            gtk_list_store_append(m_store, &it);
            for (int c = 0; c < n && c < static_cast<int>(cells.size()); ++c)
                gtk_list_store_set(m_store, &it, c, cells[static_cast<size_t>(c)].c_str(), -1);
        };
        if (m_listView) {
            for (int i = 0; i < m_listView->Count(); ++i) {
                const ui::ListItem& item = m_listView->Item(i);
                std::vector<std::string> cells{item.Caption};
                cells.insert(cells.end(), item.SubItems.begin(), item.SubItems.end());
                put(cells);
            }
        } else {
            for (const auto& line : m_listBox->Items())
                put({line});
        }
        gtk_tree_view_set_model(GTK_TREE_VIEW(m_view), GTK_TREE_MODEL(m_store));
    }

    bool ModelSelected(int i) const
    {
        return m_listView ? m_listView->Item(i).Selected() : m_listBox->Selected(i);
    }
    int Count() const { return m_listView ? m_listView->Count() : m_listBox->Count(); }

    void SelectionToView()
    {
        if (!m_store)
            return;
        Mirroring guard(m_mirroring);
        GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view));
        for (int i = 0; i < Count(); ++i) {
            GtkTreePath* path = gtk_tree_path_new_from_indices(i, -1);
            if (ModelSelected(i))
                gtk_tree_selection_select_path(sel, path);
            else
                gtk_tree_selection_unselect_path(sel, path);
            gtk_tree_path_free(path);
        }
    }

    // A user's selection: one row alone is a click on it; anything else is
    // each changed row told in turn, the row under the cursor focused first.
    void SelectionFromView()
    {
        if (m_mirroring)
            return;
        if (m_idle) {
            // The view is behind the list: it shows the list first.
            Flush();
            return;
        }
        GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view));
        std::vector<bool> now(static_cast<size_t>(Count()));
        GList* rows = gtk_tree_selection_get_selected_rows(sel, nullptr);
        for (GList* l = rows; l; l = l->next) {
            int i = gtk_tree_path_get_indices(static_cast<GtkTreePath*>(l->data))[0];
            if (i >= 0 && i < Count())
                now[static_cast<size_t>(i)] = true;
        }
        g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
        int cursor = -1;
        GtkTreePath* path = nullptr;
        gtk_tree_view_get_cursor(GTK_TREE_VIEW(m_view), &path, nullptr);
        if (path) {
            cursor = gtk_tree_path_get_indices(path)[0];
            gtk_tree_path_free(path);
        }
        int selected = static_cast<int>(std::count(now.begin(), now.end(), true));
        Deliver([&] {
            if (m_listBox) {
                if (!m_listBox->MultiSelect || selected == 1) {
                    int i = static_cast<int>(std::find(now.begin(), now.end(), true) - now.begin());
                    if (i < static_cast<int>(now.size()) && i < Count())
                        m_listBox->ClickItem(i);
                } else {
                    for (int i = 0; i < static_cast<int>(now.size()) && i < Count(); ++i)
                        m_listBox->SetSelected(i, now[static_cast<size_t>(i)]);
                }
                return;
            }
            if (selected == 1 && cursor >= 0 && cursor < static_cast<int>(now.size()) && cursor < Count() &&
                now[static_cast<size_t>(cursor)]) {
                m_listView->ClickRow(cursor);
                return;
            }
            if (cursor >= 0 && cursor < Count())
                m_listView->SetFocused(cursor);
            for (int i = 0; i < static_cast<int>(now.size()) && i < m_listView->Count(); ++i)
                if (m_listView->Item(i).Selected() != now[static_cast<size_t>(i)])
                    m_listView->SetSelected(i, now[static_cast<size_t>(i)]);
        });
        SelectionToView();
    }

    bool ButtonPress(GdkEventButton* e)
    {
        if (e->type != GDK_BUTTON_PRESS || e->button != 3)
            return FALSE;
        ui::Form* form = Control().OwnerForm();
        if (!form || !form->ContextMenu)
            return FALSE;
        ui::PopupMenu* menu = form->ContextMenu;
        int x = static_cast<int>(e->x_root), y = static_cast<int>(e->y_root);
        Deliver([menu, x, y] { menu->Popup(x, y); });
        return TRUE;
    }

    GtkWidget* m_view;
    GtkListStore* m_store = nullptr;
    guint m_idle = 0;
    bool m_needRebuild = false, m_needRows = false, m_needSelection = false;
    ui::ListView* m_listView = nullptr;
    ui::ListBox* m_listBox = nullptr;
};

// The picture control: the bitmap drawn as its settings say (stretched to the
// control, proportionally, centred).
class ImagePeer final : public ControlPeer {
public:
    explicit ImagePeer(ui::Image& i) : ControlPeer(i, gtk_drawing_area_new())
    {
        Connect(Widget(), "draw", +[](GtkWidget*, cairo_t* cr, ImagePeer* self) -> gboolean {
            self->Draw(cr);
            return FALSE;
        });
    }
    ~ImagePeer() override { Drop(); }

    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Picture) {
            Drop();
            if (const ui::Bitmap* b = Image().Picture(); b && b->Width > 0 && b->Height > 0) {
                m_surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, b->Width, b->Height);
                unsigned char* data = cairo_image_surface_get_data(m_surface);
                int stride = cairo_image_surface_get_stride(m_surface);
                for (int y = 0; y < b->Height; ++y) {
                    auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
                    for (int x = 0; x < b->Width; ++x) {
                        std::uint32_t px = b->Pixels[static_cast<size_t>(y) * static_cast<size_t>(b->Width) + static_cast<size_t>(x)];
                        std::uint32_t a = px >> 24;
                        // Cairo wants premultiplied alpha.
                        auto pre = [a](std::uint32_t c) { return (c * a + 127) / 255; };
                        row[x] = (a << 24) | (pre((px >> 16) & 0xFF) << 16) | (pre((px >> 8) & 0xFF) << 8) | pre(px & 0xFF);
                    }
                }
                cairo_surface_mark_dirty(m_surface);
            }
        }
        if (p == ui::Prop::Picture || p == ui::Prop::Layout || p == ui::Prop::Bounds)
            gtk_widget_queue_draw(Widget());
    }

    // Where the picture goes in a control of w x h.
    void Placement(int w, int h, double& x, double& y, double& sw, double& sh) const
    {
        const ui::Bitmap* b = Image().Picture();
        double pw = b->Width, ph = b->Height;
        sw = pw, sh = ph;
        if (Image().Stretch() || (Image().Proportional() && (pw > w || ph > h))) {
            if (Image().Proportional()) {
                double scale = std::min(w / pw, h / ph);
                sw = pw * scale, sh = ph * scale;
            } else {
                sw = w, sh = h;
            }
        }
        x = Image().Center() ? (w - sw) / 2 : 0;
        y = Image().Center() ? (h - sh) / 2 : 0;
    }

    void Draw(cairo_t* cr)
    {
        if (!m_surface)
            return;
        int w = gtk_widget_get_allocated_width(Widget()), h = gtk_widget_get_allocated_height(Widget());
        double x, y, sw, sh;
        Placement(w, h, x, y, sw, sh);
        cairo_save(cr);
        cairo_translate(cr, x, y);
        cairo_scale(cr, sw / Image().PictureWidth(), sh / Image().PictureHeight());
        cairo_set_source_surface(cr, m_surface, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_restore(cr);
    }

    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "picture") {
            if (!m_surface)
                return "none";
            double x, y, sw, sh;
            Placement(gtk_widget_get_allocated_width(Widget()), gtk_widget_get_allocated_height(Widget()), x, y, sw, sh);
            return Dots(cairo_image_surface_get_width(m_surface), cairo_image_surface_get_height(m_surface)) +
                   " drawn " + Dots(static_cast<int>(std::lround(sw)), static_cast<int>(std::lround(sh))) + " at " +
                   std::to_string(static_cast<int>(std::lround(x))) + "," + std::to_string(static_cast<int>(std::lround(y)));
        }
        return ControlPeer::Native(what, arg);
    }

private:
    ui::Image& Image() const { return static_cast<ui::Image&>(Control()); }
    void Drop()
    {
        if (m_surface)
            cairo_surface_destroy(m_surface);
        m_surface = nullptr;
    }
    cairo_surface_t* m_surface = nullptr;
};

// The colour-picker panel, drawn from the control's own geometry and colours.
class GammaPeer final : public ControlPeer {
public:
    explicit GammaPeer(ui::GammaPanel& g) : ControlPeer(g, gtk_drawing_area_new())
    {
        gtk_widget_add_events(Widget(), GDK_BUTTON_PRESS_MASK | GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK);
        Connect(Widget(), "draw", +[](GtkWidget*, cairo_t* cr, GammaPeer* self) -> gboolean {
            self->Draw(cr);
            return FALSE;
        });
        Connect(Widget(), "button-press-event", +[](GtkWidget*, GdkEventButton* e, GammaPeer* self) -> gboolean {
            if (e->type != GDK_BUTTON_PRESS)
                return FALSE;
            auto button = e->button == 3 ? ui::MouseButton::Right : e->button == 2 ? ui::MouseButton::Middle : ui::MouseButton::Left;
            int x = static_cast<int>(e->x), y = static_cast<int>(e->y);
            ui::GammaPanel& panel = self->Panel();
            self->Deliver([&panel, x, y, button] { panel.MouseDown(x, y, button); });
            gtk_widget_queue_draw(self->Widget());
            return TRUE;
        });
        Connect(Widget(), "motion-notify-event", +[](GtkWidget*, GdkEventMotion* e, GammaPeer* self) -> gboolean {
            ui::GammaPanel& panel = self->Panel();
            int x = static_cast<int>(e->x), y = static_cast<int>(e->y);
            self->Deliver([&panel, x, y] { panel.MouseMove(x, y); });
            gtk_widget_queue_draw(self->Widget());
            return FALSE;
        });
        Connect(Widget(), "leave-notify-event", +[](GtkWidget*, GdkEventCrossing*, GammaPeer* self) -> gboolean {
            ui::GammaPanel& panel = self->Panel();
            self->Deliver([&panel] { panel.MouseLeave(); });
            gtk_widget_queue_draw(self->Widget());
            return FALSE;
        });
    }
    ~GammaPeer() override
    {
        if (m_chart)
            cairo_surface_destroy(m_chart);
    }
    void Update(ui::Prop p) override
    {
        if (p == ui::Prop::Bounds && m_chart) {
            cairo_surface_destroy(m_chart);
            m_chart = nullptr;
        }
        gtk_widget_queue_draw(Widget());
    }

private:
    ui::GammaPanel& Panel() const { return static_cast<ui::GammaPanel&>(Control()); }
    static void Fill(cairo_t* cr, ui::TColor c)
    {
        std::uint32_t rgb = ui::ColorToRGB(c);
        cairo_set_source_rgb(cr, ui::GetRValue(rgb) / 255.0, ui::GetGValue(rgb) / 255.0, ui::GetBValue(rgb) / 255.0);
    }
    void Draw(cairo_t* cr)
    {
        ui::GammaPanel& g = Panel();
        auto chart = g.ChartArea();
        if (!m_chart && chart.width > 0 && chart.height > 0) {
            m_chart = cairo_image_surface_create(CAIRO_FORMAT_RGB24, chart.width, chart.height);
            unsigned char* data = cairo_image_surface_get_data(m_chart);
            int stride = cairo_image_surface_get_stride(m_chart);
            for (int y = 0; y < chart.height; ++y)
                for (int x = 0; x < chart.width; ++x) {
                    std::uint32_t rgb = ui::ColorToRGB(g.ChartColorAt(chart.left + x, chart.top + y).value_or(ui::clBlack));
                    reinterpret_cast<std::uint32_t*>(data + y * stride)[x] =
                        (static_cast<std::uint32_t>(ui::GetRValue(rgb)) << 16) | (static_cast<std::uint32_t>(ui::GetGValue(rgb)) << 8) |
                        static_cast<std::uint32_t>(ui::GetBValue(rgb));
                }
            cairo_surface_mark_dirty(m_chart);
        }
        if (m_chart) {
            cairo_set_source_surface(cr, m_chart, chart.left, chart.top);
            cairo_paint(cr);
        }
        if (auto hot = g.HotColor()) {
            Fill(cr, *hot);
            cairo_rectangle(cr, 0, chart.top + chart.height + 2, g.Width(), 14);
            cairo_fill(cr);
        }
        for (auto [area, color] : {std::pair{g.BackgroundSwatchArea(), g.BackgroundColor()},
                                   std::pair{g.ForegroundSwatchArea(), g.ForegroundColor()}}) {
            Fill(cr, color);
            cairo_rectangle(cr, area.left, area.top, area.width, area.height);
            cairo_fill_preserve(cr);
            cairo_set_source_rgb(cr, 0, 0, 0);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        }
        auto swap = g.SwapArea();
        cairo_set_source_rgb(cr, 0, 0, 0);
        double mid = swap.top + swap.height / 2.0;
        cairo_move_to(cr, swap.left + 2, mid);
        cairo_line_to(cr, swap.left + swap.width - 2, mid);
        cairo_stroke(cr);
    }
    cairo_surface_t* m_chart = nullptr;
};

class PlainPeer final : public ControlPeer {
public:
    explicit PlainPeer(ui::Control& c) : ControlPeer(c, gtk_fixed_new(), nullptr) {}
};

// ---- menus -------------------------------------------------------------------------------

GtkWidget* BuildMenu(ui::Application& app, ui::MenuItem& menu)
{
    GtkWidget* shell = gtk_menu_new();
    for (const auto& item : menu.Items()) {
        if (!item->Visible())
            continue;
        GtkWidget* w = item->Caption() == "-" ? gtk_separator_menu_item_new()
                                              : gtk_menu_item_new_with_label(item->Caption().c_str());
        gtk_widget_set_sensitive(w, item->Enabled());
        if (!item->Items().empty()) {
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(w), BuildMenu(app, *item));
        } else {
            struct Pick {
                ui::Application* app;
                ui::MenuItem* item;
            };
            g_signal_connect_data(w, "activate", G_CALLBACK(+[](GtkMenuItem*, Pick* p) {
                ui::MenuItem* item = p->item;
                // After the menu has gone, as the system sends the command.
                p->app->Post([item] { item->Click(); });
            }), new Pick{&app, item.get()}, +[](gpointer p, GClosure*) { delete static_cast<Pick*>(p); }, GConnectFlags(0));
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), w);
        gtk_widget_show(w);
    }
    return shell;
}

// ---- forms --------------------------------------------------------------------------------

// A title bar painted in gradient steps with its own text.
std::string GradientCss(const ui::Form::GradientCaption& g)
{
    std::uint32_t from = ui::ColorToRGB(g.start), to = ui::ColorToRGB(ui::clActiveCaption);
    std::string stops;
    int steps = std::max(1, g.steps);
    for (int i = 0; i < steps; ++i) {
        auto mix = [&](int a, int b) { return a + (b - a) * i / std::max(1, steps - 1); };
        char c[8];
        std::snprintf(c, sizeof c, "#%02x%02x%02x", mix(ui::GetRValue(from), ui::GetRValue(to)),
                      mix(ui::GetGValue(from), ui::GetGValue(to)), mix(ui::GetBValue(from), ui::GetBValue(to)));
        double a = 100.0 * i / steps, b = 100.0 * (i + 1) / steps;
        char part[80];
        std::snprintf(part, sizeof part, "%s%s %.2f%%, %s %.2f%%", i ? ", " : "", c, a, c, b);
        stops += part;
    }
    return "headerbar { background-image: linear-gradient(to right, " + stops +
           "); min-height: 0; padding: 0 2px; border: none; box-shadow: none; }"
           " headerbar button { min-height: 0; min-width: 0; padding: 0; margin: 1px 0; }";
}

class FormPeer final : public ControlPeer {
public:
    explicit FormPeer(ui::Form& f) : FormPeer(f, BuildContainer(false)) {}
    FormPeer(ui::Form& f, Built b) : ControlPeer(f, gtk_window_new(GTK_WINDOW_TOPLEVEL), b.fixed), m_box(b.box)
    {
        GtkWindow* w = GTK_WINDOW(Widget());
        gtk_window_set_title(w, f.Caption().c_str());
        if (f.ToolWindow)
            gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
        gtk_window_set_resizable(w, f.Resizable);
        if (f.PaintedCaption) {
            m_header = gtk_header_bar_new();
            gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(m_header), TRUE);
            gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(m_header), ":minimize,close");
            // Its own text in a title widget of its own: the header bar's title
            // is the window's.
            m_title = gtk_label_new(f.PaintedCaption->text.c_str());
            gtk_style_context_add_class(gtk_widget_get_style_context(m_title), "title");
            SetCss(m_title, m_titleCss, "label { color: #ffffff; font-weight: bold; }");
            gtk_header_bar_set_custom_title(GTK_HEADER_BAR(m_header), m_title);
            gtk_widget_show(m_title);
            SetCss(m_header, m_headerCss, GradientCss(*f.PaintedCaption));
            gtk_window_set_titlebar(w, m_header);
            gtk_widget_show(m_header);
        }
        gtk_container_add(GTK_CONTAINER(w), m_box);
        gtk_widget_show(m_box);
        gtk_widget_add_events(m_box, GDK_BUTTON_PRESS_MASK);
        Connect(Widget(), "delete-event", +[](GtkWidget*, GdkEvent*, FormPeer* self) -> gboolean {
            ui::Form& form = self->Form();
            self->Deliver([&form] { form.Close(); });
            return TRUE;   // the form decides: hidden, or the program ends
        });
        Connect(Widget(), "window-state-event", +[](GtkWidget*, GdkEventWindowState* e, FormPeer* self) -> gboolean {
            if ((e->changed_mask & GDK_WINDOW_STATE_ICONIFIED) && (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED)) {
                ui::Application& app = self->App();
                if (self->Form().App().MainForm() == &self->Form())
                    self->Deliver([&app] { app.Minimize(); });
            }
            return FALSE;
        });
        Connect(Widget(), "notify::is-active", +[](GObject*, GParamSpec*, FormPeer* self) {
            if (self->m_mirroring || !gtk_window_is_active(GTK_WINDOW(self->Widget())))
                return;
            ui::Form& form = self->Form();
            if (form.App().ActiveForm() != &form && form.Visible())
                self->Deliver([&form] { form.App().SetActiveForm(&form); });
        });
        Connect(m_box, "button-press-event", +[](GtkWidget*, GdkEventButton* e, FormPeer* self) -> gboolean {
            if (e->type != GDK_BUTTON_PRESS || e->button != 3 || !self->Form().ContextMenu)
                return FALSE;
            ui::PopupMenu* menu = self->Form().ContextMenu;
            int x = static_cast<int>(e->x_root), y = static_cast<int>(e->y_root);
            self->Deliver([menu, x, y] { menu->Popup(x, y); });
            return TRUE;
        });
    }
    ~FormPeer() override
    {
        if (m_headerCss)
            g_object_unref(m_headerCss);
        if (m_titleCss)
            g_object_unref(m_titleCss);
    }

    void Update(ui::Prop p) override
    {
        GtkWindow* w = GTK_WINDOW(Widget());
        ui::Form& f = Form();
        if (p == ui::Prop::Caption) {
            gtk_window_set_title(w, f.Caption().c_str());
        }
        if (p == ui::Prop::Bounds) {
            // A painted title bar is part of the window's outer size; a
            // window manager's frame is not ours to count.
            int header = 0;
            if (m_header) {
                GtkRequisition r;
                gtk_widget_get_preferred_size(m_header, &r, nullptr);
                header = r.height;
            }
            int w0 = std::max(1, f.Width()), h0 = std::max(1, f.Height() - header);
            gtk_widget_set_size_request(m_box, w0, h0);
            gtk_window_resize(w, w0, h0);
            gtk_window_move(w, f.Left(), f.Top());
        }
        if (p == ui::Prop::Visible && f.Visible())
            gtk_window_present(w);
    }
    GtkWidget* Painted() override { return m_box; }
    std::string Native(const std::string& what, const std::string& arg) override
    {
        if (what == "text")
            return gtk_window_get_title(GTK_WINDOW(Widget())) ? gtk_window_get_title(GTK_WINDOW(Widget())) : "";
        if (what == "titlebar")
            return m_title ? gtk_label_get_text(GTK_LABEL(m_title)) : "";
        if (what == "press") {   // the title bar's close button, or its minimise button
            if (arg == "minimize")
                gtk_window_iconify(GTK_WINDOW(Widget()));
            else
                gtk_window_close(GTK_WINDOW(Widget()));
            return {};
        }
        if (what == "size") {
            GdkRectangle r = OuterRect();
            return Dots(r.width, r.height);
        }
        return ControlPeer::Native(what, arg);
    }
    // The window as the design sizes it: title bar (when we paint it) and
    // content, without the margins a client-side frame keeps around them.
    GdkRectangle OuterRect()
    {
        GtkAllocation content;
        gtk_widget_get_allocation(m_box, &content);
        GdkRectangle r{content.x, content.y, content.width, content.height};
        if (m_header) {
            GtkAllocation h;
            gtk_widget_get_allocation(m_header, &h);
            gdk_rectangle_union(&r, &h, &r);
        }
        return r;
    }
    void Present()
    {
        Mirroring guard(m_mirroring);
        if (gtk_widget_get_visible(Widget()) && !gtk_window_is_active(GTK_WINDOW(Widget())))
            gtk_window_present(GTK_WINDOW(Widget()));
    }

private:
    ui::Form& Form() const { return static_cast<ui::Form&>(Control()); }
    GtkWidget* m_box;
    GtkWidget* m_header = nullptr;
    GtkWidget* m_title = nullptr;
    GtkCssProvider* m_headerCss = nullptr;
    GtkCssProvider* m_titleCss = nullptr;
};

ControlPeer* MakePeer(ui::Control& c)
{
    if (auto* f = dynamic_cast<ui::Form*>(&c))
        return new FormPeer(*f);
    if (auto* b = dynamic_cast<ui::Button*>(&c))
        return new ButtonPeer(*b);
    if (dynamic_cast<ui::Label*>(&c))
        return new LabelPeer(c);
    if (auto* e = dynamic_cast<ui::Edit*>(&c))
        return new EditPeer(*e);
    if (auto* m = dynamic_cast<ui::Memo*>(&c))
        return new MemoPeer(*m);
    if (dynamic_cast<ui::CheckBox*>(&c))
        return new CheckPeer(c, gtk_check_button_new_with_label(""));
    if (dynamic_cast<ui::RadioButton*>(&c)) {
        // Radio buttons of one parent are one group.
        GtkWidget* w = gtk_radio_button_new_with_label(nullptr, "");
        for (ui::Control* sibling : c.Parent()->Children())
            if (sibling != &c && dynamic_cast<ui::RadioButton*>(sibling))
                if (ControlPeer* p = PeerOf(*sibling)) {
                    gtk_radio_button_join_group(GTK_RADIO_BUTTON(w), GTK_RADIO_BUTTON(p->Widget()));
                    break;
                }
        return new CheckPeer(c, w);
    }
    if (dynamic_cast<ui::GroupBox*>(&c))
        return new ContainerPeer(c, true);
    if (dynamic_cast<ui::Panel*>(&c))
        return new ContainerPeer(c, false);
    if (auto* cb = dynamic_cast<ui::ComboBox*>(&c))
        return new ComboPeer(*cb);
    if (dynamic_cast<ui::ListView*>(&c) || dynamic_cast<ui::ListBox*>(&c))
        return new ListPeer(c);
    if (auto* i = dynamic_cast<ui::Image*>(&c))
        return new ImagePeer(*i);
    if (auto* g = dynamic_cast<ui::GammaPanel*>(&c))
        return new GammaPeer(*g);
    if (ControlPeer* p = MakeBrowserPeer(c))
        return p;
    return new PlainPeer(c);
}

void AttachTree(ui::Control& c, GtkWidget* parentFixed)
{
    ControlPeer* peer = MakePeer(c);
    c.SetPeer(std::unique_ptr<ui::Peer>(peer));
    if (parentFixed)
        peer->PlaceIn(parentFixed);
    for (ui::Control* child : c.Children())
        AttachTree(*child, peer->Inner() ? peer->Inner() : parentFixed);
    peer->MirrorAll();
}

} // namespace

void AttachForm(ui::Form& form)
{
    if (form.GetPeer())
        return;
    AttachTree(form, nullptr);
    for (ui::PopupMenu* menu : form.Menus()) {
        ui::Application* app = &form.App();
        menu->ShowForPeer = [app, menu](int x, int y) {
            GtkWidget* shell = BuildMenu(*app, *menu);
            g_signal_connect(shell, "deactivate", G_CALLBACK(+[](GtkMenuShell* m, gpointer) {
                // Gone once the pick (if any) has been made.
                g_idle_add([](gpointer w) -> gboolean {
                    gtk_widget_destroy(GTK_WIDGET(w));
                    return G_SOURCE_REMOVE;
                }, m);
            }), nullptr);
            // At the pointer when a click opened it; else at the point the
            // program gives (the tray menu, whose window may be hidden).
            GdkEvent* current = gtk_get_current_event();
            if (current) {
                gtk_menu_popup_at_pointer(GTK_MENU(shell), current);
                gdk_event_free(current);
            } else if (std::string(G_OBJECT_TYPE_NAME(gdk_display_get_default())) == "GdkX11Display") {
                GdkRectangle at{x, y, 1, 1};
                gtk_menu_popup_at_rect(GTK_MENU(shell), gdk_get_default_root_window(), &at, GDK_GRAVITY_NORTH_WEST,
                                       GDK_GRAVITY_NORTH_WEST, nullptr);
            } else if (ControlPeer* p = PeerOf(menu->Owner()); p && gtk_widget_get_mapped(p->Widget())) {
                // Elsewhere a menu needs a window of ours to open from.
                gtk_menu_popup_at_widget(GTK_MENU(shell), p->Widget(), GDK_GRAVITY_CENTER, GDK_GRAVITY_NORTH_WEST, nullptr);
            } else {
                gtk_widget_destroy(shell);
            }
        };
    }
}

GdkRectangle OuterRectOf(ui::Form& form)
{
    if (auto* p = dynamic_cast<FormPeer*>(form.GetPeer()))
        return p->OuterRect();
    return {0, 0, 0, 0};
}

// Called by the toolkit when the model makes a form the active one.
void PresentForm(ui::Form& form)
{
    if (auto* p = dynamic_cast<FormPeer*>(form.GetPeer()))
        p->Present();
}

} // namespace desktop

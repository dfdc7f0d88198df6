#include "platform/gtk/tray.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <cstdio>
#include <exception>
#include <string>

#include "platform/session/session.h"

namespace desktop {

namespace {

// Is a status-notifier host (the panel of most current desktops) there?
bool StatusNotifierHost()
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return false;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner",
                                                  g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    return owned;
}

// The program's mark: a small picture frame in the window's colours.
GdkPixbuf* TrayPicture()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 22, 22);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 172 / 255.0, 179 / 255.0, 208 / 255.0);
    cairo_rectangle(cr, 1, 3, 20, 16);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.15, 0.2, 0.45);
    cairo_set_line_width(cr, 2);
    cairo_rectangle(cr, 2, 4, 18, 14);
    cairo_stroke(cr);
    cairo_move_to(cr, 5, 16);
    cairo_line_to(cr, 10, 9);
    cairo_line_to(cr, 13, 13);
    cairo_line_to(cr, 15, 11);
    cairo_line_to(cr, 18, 16);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_destroy(cr);
    GdkPixbuf* p = gdk_pixbuf_get_from_surface(s, 0, 0, 22, 22);
    cairo_surface_destroy(s);
    return p;
}

} // namespace

struct TrayIcons::Icon {
    session::HWND owner;
    unsigned id;
    GtkStatusIcon* status = nullptr;
    AppIndicator* indicator = nullptr;
    GtkWidget* menu = nullptr;
    GtkWidget* show = nullptr;   // the indicator menu's first entry, named by the tip
    GtkWidget* more = nullptr;   // its second, for the tray menu

    // A session that cannot be reached now (busy, gone) loses the click;
    // it must not take the program down from inside the toolkit.
    void Click(unsigned mouseMessage) const
    {
        try {
            session::ClickTrayIcon(owner, id, mouseMessage);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vintrel: the tray click did not reach the window: %s\n", e.what());
        }
    }

    ~Icon()
    {
        for (GObject* o : {G_OBJECT(status), G_OBJECT(show), G_OBJECT(more)})
            if (o)
                g_signal_handlers_disconnect_by_data(o, this);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        if (status) {
            gtk_status_icon_set_visible(status, FALSE);
            g_object_unref(status);
        }
        G_GNUC_END_IGNORE_DEPRECATIONS
        if (indicator) {
            app_indicator_set_status(indicator, APP_INDICATOR_STATUS_PASSIVE);
            g_object_unref(indicator);
        }
        if (menu)
            g_object_unref(menu);
    }
};

TrayIcons::TrayIcons() : m_indicator(StatusNotifierHost()) {}
TrayIcons::~TrayIcons() = default;


void TrayIcons::Changed(unsigned message, const session::TrayIcon& record)
{
    auto key = std::make_pair(record.owner, record.id);
    auto it = m_icons.find(key);
    if (message == session::NIM_DELETE) {
        if (it != m_icons.end())
            m_icons.erase(it);
        return;
    }
    if (it == m_icons.end()) {
        auto icon = std::make_unique<Icon>();
        icon->owner = record.owner;
        icon->id = record.id;
        GdkPixbuf* picture = TrayPicture();
        if (m_indicator) {
            // An indicator shows a named icon from a folder, and a menu rather
            // than clicks: its entries stand for the two clicks.
            std::string folder = session::Session::Current().Folder();
            gdk_pixbuf_save(picture, (folder + "/vintrel-tray.png").c_str(), "png", nullptr, nullptr);
            icon->indicator = app_indicator_new("vintrel", "vintrel-tray", APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
            app_indicator_set_icon_theme_path(icon->indicator, folder.c_str());
            icon->menu = gtk_menu_new();
            g_object_ref_sink(icon->menu);
            icon->show = gtk_menu_item_new_with_label("Vintrel");
            icon->more = gtk_menu_item_new_with_label("...");
            g_signal_connect(icon->show, "activate", G_CALLBACK(+[](GtkMenuItem*, Icon* i) { i->Click(513); }), icon.get());
            g_signal_connect(icon->more, "activate", G_CALLBACK(+[](GtkMenuItem*, Icon* i) { i->Click(516); }), icon.get());
            gtk_menu_shell_append(GTK_MENU_SHELL(icon->menu), icon->show);
            gtk_menu_shell_append(GTK_MENU_SHELL(icon->menu), icon->more);
            gtk_widget_show_all(icon->menu);
            app_indicator_set_menu(icon->indicator, GTK_MENU(icon->menu));
            app_indicator_set_secondary_activate_target(icon->indicator, icon->show);
        } else {
            G_GNUC_BEGIN_IGNORE_DEPRECATIONS
            icon->status = gtk_status_icon_new_from_pixbuf(picture);
            g_signal_connect(icon->status, "activate", G_CALLBACK(+[](GtkStatusIcon*, Icon* i) { i->Click(513); }), icon.get());
            g_signal_connect(icon->status, "popup-menu",
                             G_CALLBACK(+[](GtkStatusIcon*, guint, guint, Icon* i) { i->Click(516); }), icon.get());
            G_GNUC_END_IGNORE_DEPRECATIONS
        }
        g_object_unref(picture);
        it = m_icons.emplace(key, std::move(icon)).first;
    }
    Icon& icon = *it->second;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (icon.status) {
        if (record.flags & session::NIF_TIP)
            gtk_status_icon_set_tooltip_text(icon.status, record.tip.c_str());
        gtk_status_icon_set_visible(icon.status, TRUE);
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (icon.indicator) {
        if ((record.flags & session::NIF_TIP) && !record.tip.empty()) {
            app_indicator_set_title(icon.indicator, record.tip.c_str());
            gtk_menu_item_set_label(GTK_MENU_ITEM(icon.show), record.tip.c_str());
        }
        app_indicator_set_status(icon.indicator, APP_INDICATOR_STATUS_ACTIVE);
    }
}

} // namespace desktop

#include "platform/automation/server.h"

#include "platform/browser/document.h"
#include "platform/browser/webbrowser.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <functional>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/sys/error.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"
#include "platform/ui/application.h"

namespace automation {

namespace {

constexpr size_t kMaxLine = 64 * 1024;
constexpr int kSendTimeoutMs = 5000;   // a client that stops reading is dropped

using Args = std::vector<std::string>;

[[noreturn]] void Fail(const std::string& message) { throw std::runtime_error(message); }

// ---- replies ---------------------------------------------------------------------

std::string Ok() { return "OK\n"; }
std::string Ok(const std::string& value) { return "OK " + Quote(value) + "\n"; }
std::string Flag(bool b) { return b ? "1" : "0"; }
std::string N(long long n) { return std::to_string(n); }

class Listing {
public:
    void Add(const std::vector<std::string>& fields)
    {
        for (size_t i = 0; i < fields.size(); ++i)
            m_text += (i ? " " : "") + Quote(fields[i]);
        m_text += '\n';
    }
    std::string Done() { return m_text + ".\n"; }

private:
    std::string m_text = "OK\n";
};

// An error message on one line, whatever the exception said.
std::string OneLine(std::string s)
{
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return s;
}

std::string Join(const std::vector<std::string>& items)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? "|" : "") + items[i];
    return out;
}

// ---- values -----------------------------------------------------------------------

// Decimal or 0x hexadecimal, with an optional minus.
long long ParseNumber(const std::string& s, long long lo, long long hi)
{
    std::string_view v = s;
    bool negative = !v.empty() && v[0] == '-';
    if (negative)
        v.remove_prefix(1);
    int base = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        base = 16;
        v.remove_prefix(2);
    }
    long long n = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n, base);
    if (v.empty() || v[0] == '-' || v[0] == '+' || ec != std::errc() || end != v.data() + v.size())
        Fail("not a number: " + s);
    n = negative ? -n : n;
    if (n < lo || n > hi)
        Fail("out of range: " + s);
    return n;
}

int ParseInt(const std::string& s) { return static_cast<int>(ParseNumber(s, INT_MIN, INT_MAX)); }

// Colours as the designs store them: signed, or the same 32 bits unsigned.
ui::TColor ParseColor(const std::string& s)
{
    return static_cast<ui::TColor>(static_cast<std::uint32_t>(ParseNumber(s, INT_MIN, UINT32_MAX)));
}

bool ParseBool(const std::string& s)
{
    for (const char* t : {"1", "true", "yes", "on"})
        if (sys::EqualNoCase(s, t))
            return true;
    for (const char* f : {"0", "false", "no", "off"})
        if (sys::EqualNoCase(s, f))
            return false;
    Fail("not a yes/no value: " + s);
}

// A row, column or item number in [lo, count).
int ParseIndex(const std::string& s, int count, const std::string& of, int lo = 0)
{
    int n = ParseInt(s);
    if (n < lo || n >= count)
        Fail(s + " is out of range: " + of + " has " + N(count));
    return n;
}

// ---- what the commands work on ------------------------------------------------------

struct Context {
    ui::Application& app;
    std::string programFolder;
};

ui::Form& FindForm(Context& cx, const std::string& name)
{
    if (ui::Form* f = cx.app.FindForm(name))
        return *f;
    Fail("no window " + name);
}

// FORM (the form itself), FORM.CONTROL or FORM.MENUITEM.
struct Target {
    std::string name;
    ui::Form* form = nullptr;
    ui::Control* control = nullptr;
    ui::MenuItem* menu = nullptr;

    template <class T> T* As() const { return control ? dynamic_cast<T*>(control) : nullptr; }
    std::string Describe() const { return name + (control ? std::string(" (") + control->ClassName() + ")" : ""); }
};

Target Resolve(Context& cx, const std::string& path)
{
    Target t;
    t.name = path;
    auto dot = path.find('.');
    t.form = &FindForm(cx, path.substr(0, dot));
    if (dot == std::string::npos) {
        t.control = t.form;
        return t;
    }
    std::string rest = path.substr(dot + 1);
    if ((t.control = t.form->FindControl(rest)) || (t.menu = t.form->FindMenuItem(rest)))
        return t;
    Fail("no control or menu item " + rest + " on " + t.form->Name());
}

// The text a control shows: a memo's lines, each ended with CR LF.
std::string TextOf(const ui::Control& c)
{
    if (auto* memo = dynamic_cast<const ui::Memo*>(&c))
        return memo->AllText();
    return c.Caption();
}

bool EnabledWithParents(const ui::Control& c)
{
    for (const ui::Control* p = &c; p; p = p->Parent())
        if (!p->Enabled())
            return false;
    return true;
}

// The rows of a list view, list box or combo box, read alike.
struct Rows {
    int count = 0;
    std::function<std::string(int)> caption;
    std::function<std::vector<std::string>(int)> subItems;
    std::function<bool(int)> selected, focused;
};

std::optional<Rows> RowsOf(const Target& t)
{
    if (auto* v = t.As<ui::ListView>())
        return Rows{v->Count(), [v](int i) { return v->Item(i).Caption; },
                    [v](int i) { return v->Item(i).SubItems; },
                    [v](int i) { return v->Item(i).Selected(); }, [v](int i) { return v->Item(i).Focused(); }};
    auto noSubItems = [](int) { return std::vector<std::string>(); };
    if (auto* b = t.As<ui::ListBox>())
        return Rows{b->Count(), [b](int i) { return b->Items()[static_cast<size_t>(i)]; }, noSubItems,
                    [b](int i) { return b->Selected(i); }, [b](int i) { return i == b->ItemIndex(); }};
    if (auto* c = t.As<ui::ComboBox>()) {
        auto current = [c](int i) { return i == c->ItemIndex(); };
        return Rows{static_cast<int>(c->Items().size()), [c](int i) { return c->Items()[static_cast<size_t>(i)]; },
                    noSubItems, current, current};
    }
    return std::nullopt;
}

Rows NeedRows(const Target& t)
{
    if (auto rows = RowsOf(t))
        return *rows;
    Fail(t.Describe() + " is not a list");
}

// ---- properties -----------------------------------------------------------------------

struct IntProperty {
    const char* name;
    int (ui::Control::*get)() const;
    void (ui::Control::*set)(int);
};
constexpr IntProperty kBounds[] = {
    {"left", &ui::Control::Left, &ui::Control::SetLeft},
    {"top", &ui::Control::Top, &ui::Control::SetTop},
    {"width", &ui::Control::Width, &ui::Control::SetWidth},
    {"height", &ui::Control::Height, &ui::Control::SetHeight},
};

std::string Property(const Target& t, const std::string& p)
{
    if (ui::MenuItem* m = t.menu) {
        if (p == "text" || p == "caption")
            return m->Caption();
        if (p == "enabled")
            return Flag(m->Enabled());
        if (p == "visible")
            return Flag(m->Visible());
        if (p == "count")
            return N(static_cast<long long>(m->Items().size()));
        Fail("menu item " + t.name + " has no property " + p);
    }
    ui::Control& c = *t.control;
    if (p == "text" || p == "caption")
        return TextOf(c);
    if (p == "visible")
        return Flag(c.Visible());
    if (p == "enabled")
        return Flag(c.Enabled());
    if (p == "color")
        return N(c.Color());
    if (p == "fontcolor")
        return N(c.FontColor());
    for (const auto& b : kBounds)
        if (p == b.name)
            return N((c.*b.get)());
    if (auto* f = t.As<ui::Form>(); f && p == "active")
        return Flag(f->Active());
    if (p == "checked") {
        if (auto* cb = t.As<ui::CheckBox>())
            return Flag(cb->Checked());
        if (auto* rb = t.As<ui::RadioButton>())
            return Flag(rb->Checked());
    }
    if (p == "itemindex") {
        if (auto* cb = t.As<ui::ComboBox>())
            return N(cb->ItemIndex());
        if (auto* lb = t.As<ui::ListBox>())
            return N(lb->ItemIndex());
        if (auto* lv = t.As<ui::ListView>())
            return N(lv->Selected() ? lv->Selected()->Index() : -1);
    }
    if (auto rows = RowsOf(t)) {
        std::vector<std::string> items, selected;
        int focused = -1;
        for (int i = 0; i < rows->count; ++i) {
            items.push_back(rows->caption(i));
            if (rows->selected(i))
                selected.push_back(N(i));
            if (rows->focused(i) && focused < 0)
                focused = i;
        }
        if (p == "items")
            return Join(items);
        if (p == "count")
            return N(rows->count);
        if (p == "selected")
            return Join(selected);
        if (p == "selcount")
            return N(static_cast<long long>(selected.size()));
        if (p == "focused")
            return N(focused);
    }
    Fail(t.Describe() + " has no property " + p);
}

// Checks the value now and returns the change, to be raised as an event.
std::function<void()> Setter(const Target& t, const std::string& p, const std::string& v)
{
    if (ui::MenuItem* m = t.menu) {
        if (p == "text" || p == "caption")
            return [m, v] { m->SetCaption(v); };
        if (p == "enabled")
            return [m, b = ParseBool(v)] { m->SetEnabled(b); };
        if (p == "visible")
            return [m, b = ParseBool(v)] { m->SetVisible(b); };
        Fail("cannot set " + p + " of menu item " + t.name);
    }
    ui::Control* c = t.control;
    if (p == "text" || p == "caption")
        return [c, v] { c->SetCaption(v); };
    if (p == "visible")
        return [c, b = ParseBool(v)] { c->SetVisible(b); };
    if (p == "enabled")
        return [c, b = ParseBool(v)] { c->SetEnabled(b); };
    if (p == "color")
        return [c, color = ParseColor(v)] { c->SetColor(color); };
    if (p == "fontcolor")
        return [c, color = ParseColor(v)] { c->SetFontColor(color); };
    for (const auto& b : kBounds)
        if (p == b.name)
            return [c, set = b.set, n = ParseInt(v)] { (c->*set)(n); };
    if (p == "checked") {
        if (auto* cb = t.As<ui::CheckBox>())
            return [cb, b = ParseBool(v)] { cb->SetChecked(b); };
        if (auto* rb = t.As<ui::RadioButton>())
            return [rb, b = ParseBool(v)] { rb->SetChecked(b); };
    }
    auto* combo = t.As<ui::ComboBox>();
    auto* box = t.As<ui::ListBox>();
    if (p == "items" && (combo || box)) {
        std::vector<std::string> items = v.empty() ? std::vector<std::string>() : sys::Split(v, '|');
        if (combo)
            return [combo, items] { combo->SetItems(items); };
        return [box, items] { box->SetItems(items); };
    }
    if (p == "itemindex" && combo)
        return [combo, i = ParseIndex(v, static_cast<int>(combo->Items().size()), t.name, -1)] { combo->SetItemIndex(i); };
    if ((p == "itemindex" || p == "focused") && box)
        return [box, i = ParseIndex(v, box->Count(), t.name, -1)] { box->SetItemIndex(i); };
    if (auto* view = t.As<ui::ListView>(); view && p == "focused")
        return [view, i = ParseIndex(v, view->Count(), t.name, -1)] { view->SetFocused(i); };
    Fail("cannot set " + p + " of " + t.Describe());
}

// ---- the commands -----------------------------------------------------------------------

std::string Windows(Context& cx, const Args&)
{
    Listing out;
    for (ui::Form* f : cx.app.Forms())
        out.Add({f->Name(), f->ClassName(), Flag(f->Visible()), Flag(f->Active()), f->Caption()});
    return out.Done();
}

void ListControls(Listing& out, const ui::Control& parent)
{
    for (const ui::Control* c : parent.Children()) {
        out.Add({"control", c->Name(), c->ClassName(), parent.Name(), Flag(c->Visible()), Flag(c->Enabled()),
                 N(c->Left()), N(c->Top()), N(c->Width()), N(c->Height()), TextOf(*c)});
        ListControls(out, *c);
    }
}

void ListMenu(Listing& out, const ui::MenuItem& item, const std::string& above)
{
    std::string path = above.empty() ? item.Name() : above + "/" + item.Name();
    out.Add({"menu", item.Name(), path, Flag(item.Enabled()), Flag(item.Visible()), item.Caption()});
    for (const auto& sub : item.Items())
        ListMenu(out, *sub, path);
}

std::string Controls(Context& cx, const Args& a)
{
    ui::Form& form = FindForm(cx, a[1]);
    Listing out;
    ListControls(out, form);
    for (const ui::PopupMenu* menu : form.Menus())
        ListMenu(out, *menu, "");
    return out.Done();
}

std::string Get(Context& cx, const Args& a)
{
    return Ok(Property(Resolve(cx, a[1]), sys::LowerAscii(a[2])));
}

std::string Set(Context& cx, const Args& a)
{
    cx.app.Deliver(Setter(Resolve(cx, a[1]), sys::LowerAscii(a[2]), a[3]));
    return Ok();
}

std::string Click(Context& cx, const Args& a)
{
    Target t = Resolve(cx, a[1]);
    std::function<void()> action;
    if (ui::MenuItem* m = t.menu) {
        if (!m->Enabled())
            Fail(t.name + " is disabled");
        action = [m] { m->Click(); };
    } else if (auto* b = t.As<ui::Button>()) {
        action = [b] { b->Click(); };
    } else if (auto* cb = t.As<ui::CheckBox>()) {
        action = [cb] { cb->Click(); };
    } else if (auto* rb = t.As<ui::RadioButton>()) {
        action = [rb] { rb->Click(); };
    } else {
        Fail(t.Describe() + " cannot be clicked");
    }
    if (t.control && !EnabledWithParents(*t.control))
        Fail(t.name + " is disabled");
    cx.app.Deliver(action);
    return Ok();
}

std::string Popup(Context& cx, const Args& a)
{
    Target t = Resolve(cx, a[1]);
    auto* menu = dynamic_cast<ui::PopupMenu*>(t.menu);
    if (!menu)
        Fail(t.Describe() + " is not a popup menu");
    session::POINT at;
    session::GetCursorPos(&at);
    cx.app.Deliver([menu, at] { menu->Popup(at.x, at.y); });
    return Ok();
}

// select, deselect, focus, clickrow
std::string RowAction(Context& cx, const Args& a)
{
    Target t = Resolve(cx, a[1]);
    std::string what = sys::LowerAscii(a[0]);
    std::function<void()> action;
    if (auto* v = t.As<ui::ListView>()) {
        int row = ParseIndex(a[2], v->Count(), t.name);
        if (what == "select" || what == "deselect")
            action = [v, row, on = what == "select"] { v->SetSelected(row, on); };
        else if (what == "focus")
            action = [v, row] { v->SetFocused(row); };
        else
            action = [v, row] { v->ClickRow(row); };
    } else if (auto* b = t.As<ui::ListBox>()) {
        int row = ParseIndex(a[2], b->Count(), t.name);
        if (what == "select" || what == "deselect")
            action = [b, row, on = what == "select"] { b->SetSelected(row, on); };
        else if (what == "focus")
            action = [b, row] { b->SetItemIndex(row); };
        else
            action = [b, row] { b->ClickItem(row); };
    } else {
        Fail(t.Describe() + " is not a list view or list box");
    }
    cx.app.Deliver(action);
    return Ok();
}

std::string Pick(Context& cx, const Args& a)
{
    Target t = Resolve(cx, a[1]);
    auto* combo = t.As<ui::ComboBox>();
    if (!combo)
        Fail(t.Describe() + " is not a combo box");
    int index = ParseIndex(a[2], static_cast<int>(combo->Items().size()), t.name);
    cx.app.Deliver([combo, index] { combo->Select(index); });
    return Ok();
}

std::string ColumnClick(Context& cx, const Args& a)
{
    Target t = Resolve(cx, a[1]);
    auto* view = t.As<ui::ListView>();
    if (!view)
        Fail(t.Describe() + " is not a list view");
    int column = ParseIndex(a[2], static_cast<int>(view->Columns().size()), t.name + "'s columns");
    cx.app.Deliver([view, column] { view->ColumnClick(column); });
    return Ok();
}

std::string ListRows(Context& cx, const Args& a)
{
    Rows rows = NeedRows(Resolve(cx, a[1]));
    Listing out;
    for (int i = 0; i < rows.count; ++i) {
        std::vector<std::string> fields{N(i), Flag(rows.selected(i)), Flag(rows.focused(i)), rows.caption(i)};
        for (auto& s : rows.subItems(i))
            fields.push_back(s);
        out.Add(fields);
    }
    return out.Done();
}

// show, hide, close, activate
std::string FormAction(Context& cx, const Args& a)
{
    ui::Form* f = &FindForm(cx, a[1]);
    std::string what = sys::LowerAscii(a[0]);
    if (what == "show")
        cx.app.Deliver([f] { f->Show(); });
    else if (what == "hide")
        cx.app.Deliver([f] { f->Hide(); });
    else if (what == "close")
        cx.app.Deliver([f] { f->Close(); });
    else if (!f->Visible())
        Fail(f->Name() + " is not shown");
    else
        cx.app.Deliver([&app = cx.app, f] {
            app.Activate();
            app.Restore();
            f->BringToFront();
        });
    return Ok();
}

browser::WebBrowser& NeedBrowser(Context& cx, const std::string& target)
{
    Target t = Resolve(cx, target);
    auto* b = t.As<browser::WebBrowser>();
    if (!b)
        Fail(t.Describe() + " is not a web browser");
    return *b;
}

// The browser's state: its address, busy flag and its document's title.
std::string BrowserState(Context& cx, const Args& a)
{
    browser::WebBrowser& b = NeedBrowser(cx, a[1]);
    browser::Document* doc = b.GetDocument();
    Listing out;
    out.Add({b.LocationURL(), Flag(b.Busy()), doc ? doc->Title() : std::string()});
    return out.Done();
}

std::string Navigate(Context& cx, const Args& a)
{
    browser::WebBrowser* b = &NeedBrowser(cx, a[1]);
    std::string address = a[2];
    cx.app.Deliver([b, address] { b->Navigate(address); });
    return Ok();
}

// The top-level document's elements of a tag ("*" for all): index, tag, name,
// value (of a form field), and src and href as the page wrote them.
std::string Elements(Context& cx, const Args& a)
{
    browser::Document* doc = NeedBrowser(cx, a[1]).GetDocument();
    if (!doc)
        Fail(a[1] + " has no document");
    Listing out;
    int i = 0;
    for (browser::Element* e : doc->GetElementsByTagName(a[2]))
        out.Add({N(i++), e->TagName(), e->Name(), e->Value(), e->GetAttribute("src", 2), e->GetAttribute("href", 2)});
    return out.Done();
}

// A user's click on an element of the top-level document.
std::string ElementClick(Context& cx, const Args& a)
{
    browser::WebBrowser* b = &NeedBrowser(cx, a[1]);
    browser::Document* doc = b->GetDocument();
    if (!doc)
        Fail(a[1] + " has no document");
    auto elements = doc->GetElementsByTagName(a[2]);
    int index = ParseIndex(a[3], elements.Count(), a[1] + "'s " + a[2] + " elements");
    browser::Element* e = &elements.Item(index);
    cx.app.Deliver([b, e] { b->Click(*e); });
    return Ok();
}

std::string Tray(Context&, const Args&)
{
    Listing out;
    for (const auto& icon : session::TrayIcons())
        out.Add({N(icon.owner), N(icon.id), N(icon.pid), icon.tip});
    return out.Done();
}

std::string TrayClick(Context&, const Args& a)
{
    std::string button = sys::LowerAscii(a[1]);
    if (button != "left" && button != "right")
        Fail("trayclick takes left or right");
    for (const auto& icon : session::TrayIcons())
        if (icon.pid == ::getpid()) {
            if (!session::ClickTrayIcon(icon.owner, icon.id,
                                        button == "left" ? session::WM_LBUTTONDOWN : session::WM_RBUTTONDOWN))
                Fail("the tray icon takes no clicks");
            return Ok();
        }
    Fail("this program shows no tray icon");
}

std::string Answer(Context& cx, const Args& a)
{
    std::string kind = sys::LowerAscii(a[1]);
    if (kind == "files") {
        cx.app.QueueAnswer(ui::FilesAnswer{Args(a.begin() + 2, a.end())});
        return Ok();
    }
    if (kind == "cancel" && a.size() == 2) {
        cx.app.QueueAnswer(ui::CancelAnswer{});
        return Ok();
    }
    if (kind == "button" && a.size() == 3) {
        int id = ui::ButtonFromName(a[2]);
        if (!id)
            Fail("no button " + a[2]);
        cx.app.QueueAnswer(ui::ButtonAnswer{id});
        return Ok();
    }
    if (kind == "color" && a.size() == 3) {
        cx.app.QueueAnswer(ui::ColorAnswer{ParseColor(a[2])});
        return Ok();
    }
    Fail("usage: answer button NAME | answer files FILE... | answer color N | answer cancel");
}

std::string Boxes(Context& cx, const Args&)
{
    Listing out;
    for (const auto& d : cx.app.Shown())
        out.Add({d.kind, d.result, N(d.flags), d.caption, d.text});
    return out.Done();
}

// What the native window shows, as the desktop front-end reads it back.
std::string Native(Context& cx, const Args& a)
{
    Target t = Resolve(cx, a[1]);
    if (!t.control)
        Fail(a[1] + " is not a control");
    return Ok(cx.app.GetToolkit().Native(*t.control, sys::LowerAscii(a[2]), a.size() > 3 ? a[3] : std::string()));
}

std::string Screenshot(Context& cx, const Args& a)
{
    ui::Form& form = FindForm(cx, a[1]);
    return Ok(cx.app.GetToolkit().Native(form, "screenshot", a[2]));
}

std::string Clipboard(Context& cx, const Args&) { return Ok(cx.app.ClipboardText()); }
std::string Pid(Context&, const Args&) { return Ok(N(::getpid())); }
std::string Folder(Context& cx, const Args&) { return Ok(cx.programFolder); }
std::string Ping(Context&, const Args&) { return Ok(); }

struct Command {
    const char* name;
    size_t minArgs, maxArgs;   // after the command word
    bool listing;
    std::string (*run)(Context&, const Args&);
    const char* usage;
};

constexpr size_t kMany = SIZE_MAX;
constexpr Command kCommands[] = {
    {"windows", 0, 0, true, Windows, "windows"},
    {"controls", 1, 1, true, Controls, "controls FORM"},
    {"get", 2, 2, false, Get, "get FORM.CONTROL PROPERTY"},
    {"set", 3, 3, false, Set, "set FORM.CONTROL PROPERTY VALUE"},
    {"click", 1, 1, false, Click, "click FORM.CONTROL"},
    {"popup", 1, 1, false, Popup, "popup FORM.MENU"},
    {"select", 2, 2, false, RowAction, "select FORM.LIST ROW"},
    {"deselect", 2, 2, false, RowAction, "deselect FORM.LIST ROW"},
    {"focus", 2, 2, false, RowAction, "focus FORM.LIST ROW"},
    {"clickrow", 2, 2, false, RowAction, "clickrow FORM.LIST ROW"},
    {"pick", 2, 2, false, Pick, "pick FORM.COMBO INDEX"},
    {"columnclick", 2, 2, false, ColumnClick, "columnclick FORM.LIST COLUMN"},
    {"rows", 1, 1, true, ListRows, "rows FORM.LIST"},
    {"show", 1, 1, false, FormAction, "show FORM"},
    {"hide", 1, 1, false, FormAction, "hide FORM"},
    {"close", 1, 1, false, FormAction, "close FORM"},
    {"activate", 1, 1, false, FormAction, "activate FORM"},
    {"browser", 1, 1, true, BrowserState, "browser FORM.BROWSER"},
    {"navigate", 2, 2, false, Navigate, "navigate FORM.BROWSER ADDRESS"},
    {"elements", 2, 2, true, Elements, "elements FORM.BROWSER TAG"},
    {"elementclick", 3, 3, false, ElementClick, "elementclick FORM.BROWSER TAG INDEX"},
    {"tray", 0, 0, true, Tray, "tray"},
    {"trayclick", 1, 1, false, TrayClick, "trayclick left|right"},
    {"answer", 1, kMany, false, Answer, "answer button NAME | files FILE... | color N | cancel"},
    {"boxes", 0, 0, true, Boxes, "boxes"},
    {"native", 2, 3, false, Native, "native FORM[.CONTROL] WHAT [ARGUMENT]"},
    {"screenshot", 2, 2, false, Screenshot, "screenshot FORM FILE.png"},
    {"clipboard", 0, 0, false, Clipboard, "clipboard"},
    {"pid", 0, 0, false, Pid, "pid"},
    {"folder", 0, 0, false, Folder, "folder"},
    {"ping", 0, 0, false, Ping, "ping"},
};

const Command* FindCommand(const std::string& name)
{
    for (const auto& c : kCommands)
        if (sys::EqualNoCase(name, c.name))
            return &c;
    return nullptr;
}

// One line in, the whole reply out.
std::string Execute(Context& cx, std::string_view line)
{
    try {
        Args a = SplitWords(line);
        if (a.empty())
            Fail("empty line");
        const Command* c = FindCommand(a[0]);
        if (!c)
            Fail("unknown command " + a[0]);
        if (a.size() - 1 < c->minArgs || a.size() - 1 > c->maxArgs)
            Fail(std::string("usage: ") + c->usage);
        return c->run(cx, a);
    } catch (const std::exception& e) {
        return "ERR " + OneLine(e.what()) + "\n";
    }
}

struct Client {
    int fd = -1;
    int watch = 0;
    std::string pending;    // the line read so far
    bool skipping = false;  // inside a line that was too long, up to its end
    bool busy = false;
    bool closed = false;
};

} // namespace

// ---- the words of a line ----------------------------------------------------------------

std::vector<std::string> SplitWords(std::string_view line)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::vector<std::string> words;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && blank(line[i]))
            ++i;
        if (i == line.size())
            return words;
        std::string w;
        if (line[i] != '"') {
            for (; i < line.size() && !blank(line[i]); ++i) {
                if (line[i] == '"')
                    throw std::invalid_argument("a quote inside a word");
                w += line[i];
            }
            words.push_back(std::move(w));
            continue;
        }
        for (++i;; ++i) {
            if (i == line.size())
                throw std::invalid_argument("a quoted value without its closing quote");
            char c = line[i];
            if (c == '"')
                break;
            if (c == '\\') {
                if (++i == line.size())
                    throw std::invalid_argument("a quoted value without its closing quote");
                switch (line[i]) {
                case '"': case '\\': c = line[i]; break;
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                default: throw std::invalid_argument(std::string("unknown escape \\") + line[i]);
                }
            }
            w += c;
        }
        if (++i < line.size() && !blank(line[i]))
            throw std::invalid_argument("no blank after a quoted value");
        words.push_back(std::move(w));
    }
}

std::string Quote(const std::string& word)
{
    bool bare = !word.empty();
    for (char c : word)
        if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '\\' || c == 0x7f)
            bare = false;
    if (bare)
        return word;
    std::string out = "\"";
    for (char c : word) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out + '"';
}

bool IsListing(const std::string& command)
{
    const Command* c = FindCommand(command);
    return c && c->listing;
}

bool Requested() { return sys::GetEnv("VINTREL_AUTOMATION") == "1"; }

std::string SocketPathOf(const std::string& sessionFolder, long pid)
{
    return sessionFolder + "/auto-" + std::to_string(pid) + ".sock";
}

std::string InfoPathOf(const std::string& sessionFolder, long pid)
{
    return sessionFolder + "/auto-" + std::to_string(pid) + ".info";
}

// ---- the server -------------------------------------------------------------------------

struct Server::Impl {
    Context cx;
    std::string socketPath, infoPath;
    int listenFd = -1;
    int listenWatch = 0;
    bool bound = false, infoWritten = false;
    std::vector<std::shared_ptr<Client>> clients;

    Impl(ui::Application& app, const std::string& sessionFolder, const std::string& programFolder)
        : cx{app, programFolder},
          socketPath(SocketPathOf(sessionFolder, ::getpid())),
          infoPath(InfoPathOf(sessionFolder, ::getpid()))
    {
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    ~Impl()
    {
        while (!clients.empty())
            Close(*clients.back());
        if (listenWatch)
            cx.app.RemoveWatch(listenWatch);
        if (listenFd >= 0)
            ::close(listenFd);
        if (bound)
            ::unlink(socketPath.c_str());
        if (infoWritten)
            ::unlink(infoPath.c_str());
    }

    void Accept()
    {
        for (;;) {
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            auto c = std::make_shared<Client>();
            c->fd = fd;
            c->watch = cx.app.AddWatch(fd, [this, c] { Read(c); });
            clients.push_back(c);
        }
    }

    void Read(std::shared_ptr<Client> c)
    {
        // A handler that runs the loop itself must not have the next line
        // carried out before this one is answered.
        if (c->busy || c->closed)
            return;
        c->busy = true;
        char buf[16384];
        while (!c->closed) {
            ssize_t n = ::read(c->fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n <= 0)
                Close(*c);
            else
                Take(*c, std::string_view(buf, static_cast<size_t>(n)));
        }
        c->busy = false;
    }

    void Take(Client& c, std::string_view data)
    {
        while (!data.empty() && !c.closed) {
            size_t end = data.find('\n');
            if (!c.skipping)
                c.pending.append(data.substr(0, end));
            if (end == std::string_view::npos) {
                if (!c.skipping && c.pending.size() > kMaxLine) {
                    c.pending.clear();
                    c.skipping = true;
                    Send(c, "ERR line too long\n");
                }
                return;
            }
            data.remove_prefix(end + 1);
            if (std::exchange(c.skipping, false))
                continue;
            std::string line = std::exchange(c.pending, {});
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Send(c, line.size() > kMaxLine ? "ERR line too long\n" : Execute(cx, line));
        }
    }

    void Send(Client& c, const std::string& text)
    {
        size_t done = 0;
        while (done < text.size() && !c.closed) {
            ssize_t n = ::send(c.fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            pollfd p{c.fd, POLLOUT, 0};
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ::poll(&p, 1, kSendTimeoutMs) > 0)
                continue;
            Close(c);
        }
    }

    void Close(Client& c)
    {
        if (c.closed)
            return;
        c.closed = true;
        cx.app.RemoveWatch(c.watch);
        ::close(c.fd);
        std::erase_if(clients, [&c](const auto& p) { return p.get() == &c; });
    }
};

Server::Server(ui::Application& app, const std::string& sessionFolder, const std::string& programFolder)
    : m(std::make_unique<Impl>(app, sessionFolder, programFolder))
{
    session::CheckSessionFolder(sessionFolder);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (m->socketPath.size() >= sizeof addr.sun_path)
        throw sys::Error("the session folder's path is too long for the automation socket: " + m->socketPath);
    std::memcpy(addr.sun_path, m->socketPath.c_str(), m->socketPath.size() + 1);

    m->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m->listenFd < 0)
        sys::ThrowErrno("cannot open the automation socket", errno);
    ::unlink(m->socketPath.c_str());   // left by an earlier process of the same pid
    if (::bind(m->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        sys::ThrowErrno("cannot open the automation socket " + m->socketPath, errno);
    m->bound = true;
    if (::chmod(m->socketPath.c_str(), 0600) != 0 || ::listen(m->listenFd, 16) != 0)
        sys::ThrowErrno("cannot open the automation socket " + m->socketPath, errno);
    sys::WriteFileAtomic(m->infoPath, programFolder + "\n");
    m->infoWritten = true;
    m->listenWatch = app.AddWatch(m->listenFd, [impl = m.get()] { impl->Accept(); });
}

Server::~Server() = default;

const std::string& Server::SocketPath() const { return m->socketPath; }

} // namespace automation

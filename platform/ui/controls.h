#pragma once
// The headless control model. A control keeps its whole state in its object
// and raises its events; a native front-end attaches a Peer that mirrors the
// state and turns native input into the same events. Program code cannot tell
// whether a peer is attached.
//
// Setters change state and tell the peer; they raise no event unless said so.
// Methods named after a user's action (Click, Select, ClickRow, ColumnClick)
// raise the events a user's action would.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/color.h"

namespace ui {

class Form;

// What changed, for a peer to mirror.
enum class Prop {
    Caption, Bounds, Visible, Enabled, Color, FontColor, Checked, Items, ItemIndex,
    Selection, Focus, Columns, Rows, Picture, Lines, Layout, Children, Document,
};

class Control;

class Peer {
public:
    virtual ~Peer() = default;
    virtual void Changed(Prop what) = 0;
};

using NotifyEvent = std::function<void()>;

class Control {
public:
    Control(Control* parent, std::string name);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    virtual const char* ClassName() const = 0;
    const std::string& Name() const { return m_name; }
    Control* Parent() const { return m_parent; }
    const std::vector<Control*>& Children() const { return m_children; }
    // The form this control sits on (itself for a form).
    Form* OwnerForm();
    // A control of this subtree by name (case-insensitive), or nullptr.
    Control* FindControl(const std::string& name);

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int v) { SetBounds(v, m_top, m_width, m_height); }
    void SetTop(int v) { SetBounds(m_left, v, m_width, m_height); }
    void SetWidth(int v) { SetBounds(m_left, m_top, v, m_height); }
    void SetHeight(int v) { SetBounds(m_left, m_top, m_width, v); }

    bool Visible() const { return m_visible; }
    virtual void SetVisible(bool v);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool v);
    TColor Color() const { return m_color; }
    void SetColor(TColor c);
    TColor FontColor() const { return m_fontColor; }
    void SetFontColor(TColor c);

    // The caption of buttons, labels and forms; the text of edits.
    const std::string& Caption() const { return m_caption; }
    virtual void SetCaption(const std::string& text);
    const std::string& Text() const { return m_caption; }
    void SetText(const std::string& text) { SetCaption(text); }

    Peer* GetPeer() const { return m_peer.get(); }
    void SetPeer(std::unique_ptr<Peer> peer) { m_peer = std::move(peer); }

protected:
    void Changed(Prop what)
    {
        if (m_peer)
            m_peer->Changed(what);
    }

private:
    Control* m_parent;
    std::string m_name;
    std::vector<Control*> m_children;
    std::unique_ptr<Peer> m_peer;
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    bool m_visible = true;
    bool m_enabled = true;
    TColor m_color = clBtnFace;
    TColor m_fontColor = clWindowText;
    std::string m_caption;
};

// Buttons; the XP-style buttons are buttons too.
class Button : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TButton"; }
    NotifyEvent OnClick;
    void Click();   // what a press does: OnClick, when enabled
};

class Label : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TLabel"; }
};

class Edit : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TEdit"; }
    void SetCaption(const std::string& text) override;   // raises OnChange when it differs
    NotifyEvent OnChange;
};

class Memo : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TMemo"; }
    const std::vector<std::string>& Lines() const { return m_lines; }
    void SetLines(std::vector<std::string> lines);
    void AddLine(const std::string& line);
    // The lines joined with CR LF, each line ended (as a memo's text reads).
    std::string AllText() const;
    void SetCaption(const std::string& text) override;    // splits at line ends

private:
    std::vector<std::string> m_lines;
};

class CheckBox : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TCheckBox"; }
    bool Checked() const { return m_checked; }
    void SetChecked(bool v);   // raises OnClick when the state changes
    void Click();              // a user's click toggles
    NotifyEvent OnClick;

private:
    bool m_checked = false;
};

// Exclusive among the radio buttons of the same parent.
class RadioButton : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TRadioButton"; }
    bool Checked() const { return m_checked; }
    void SetChecked(bool v);   // checking unchecks the siblings; raises OnClick when checked
    void Click() { SetChecked(true); }
    NotifyEvent OnClick;

private:
    bool m_checked = false;
};

class GroupBox : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TGroupBox"; }
};

class Panel : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TPanel"; }
};

class ComboBox : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TComboBox"; }
    const std::vector<std::string>& Items() const { return m_items; }
    void SetItems(std::vector<std::string> items);   // selects nothing
    void AddItem(const std::string& item);
    int ItemIndex() const { return m_index; }
    // An index out of range selects nothing: the index becomes -1.
    void SetItemIndex(int index);
    void Select(int index);   // a user's pick: SetItemIndex, then OnSelect
    NotifyEvent OnSelect;

private:
    std::vector<std::string> m_items;
    int m_index = -1;
};

class ListBox : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TListBox"; }
    const std::vector<std::string>& Items() const { return m_items; }
    void SetItems(std::vector<std::string> items);
    void AddItem(const std::string& item);
    void DeleteItem(int index);
    void Clear() { SetItems({}); }
    int Count() const { return static_cast<int>(m_items.size()); }
    bool MultiSelect = false;
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelCount() const;
    int ItemIndex() const { return m_index; }
    void SetItemIndex(int index);   // out of range: -1
    void ClickItem(int index);      // a user's click: selects only that line, then OnClick
    NotifyEvent OnClick;

private:
    std::vector<std::string> m_items;
    std::vector<bool> m_selected;
    int m_index = -1;
};

// A row of a list view.
class ListItem {
public:
    std::string Caption;
    std::vector<std::string> SubItems;
    bool Selected() const { return m_selected; }
    bool Focused() const { return m_focused; }
    int Index() const { return m_index; }

private:
    friend class ListView;
    bool m_selected = false;
    bool m_focused = false;
    int m_index = 0;
};

struct ListColumn {
    std::string Caption;
    int Width = 50;
};

// A report-style list view: columns, rows with a caption and sub-items, a
// selected state each and one focused row.
class ListView : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TListView"; }

    bool MultiSelect = false;

    const std::vector<ListColumn>& Columns() const { return m_columns; }
    void AddColumn(const std::string& caption, int width);
    void SetColumnWidth(int column, int width);
    void SetColumnCaption(int column, const std::string& caption);

    int Count() const { return static_cast<int>(m_items.size()); }
    ListItem& Item(int index);
    const ListItem& Item(int index) const;
    ListItem& AddItem(std::string caption, std::vector<std::string> subItems = {});
    // Tells the peer that captions or sub-items were edited in place.
    void ItemsChanged() { Changed(Prop::Rows); }
    void Delete(int index);
    // Deletes every row the predicate picks, in one pass.
    void DeleteIf(const std::function<bool(const ListItem&)>& pick);
    void Clear();

    // Selection changes raise OnSelectItem(row, selected) for each row whose
    // state changes.
    void SetSelected(int index, bool selected);
    void ClearSelection();
    int SelCount() const;
    ListItem* Selected();                 // the first selected row in list order
    std::vector<ListItem*> SelectedItems();
    void SetFocused(int index);           // -1: no focused row
    ListItem* ItemFocused();

    // A user's click on a row: that row alone selected, and focused.
    void ClickRow(int index);
    void ColumnClick(int column);         // raises OnColumnClick

    // Sorts the rows with a three-way comparison (negative: a before b).
    // Rows keep their selected and focused states.
    void Sort(const std::function<int(const ListItem&, const ListItem&)>& compare);

    std::function<void(int column)> OnColumnClick;
    std::function<void(ListItem& item, bool selected)> OnSelectItem;

private:
    void Reindex();
    std::vector<ListColumn> m_columns;
    std::vector<std::unique_ptr<ListItem>> m_items;
};

// A decoded picture: width, height and pixels as 0xAARRGGBB, row by row.
struct Bitmap {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
};

class Image : public Control {
public:
    using Control::Control;
    const char* ClassName() const override { return "TImage"; }
    bool HasPicture() const { return m_picture.has_value(); }
    const Bitmap* Picture() const { return m_picture ? &*m_picture : nullptr; }
    void SetPicture(Bitmap picture);
    void ClearPicture();
    int PictureWidth() const { return m_picture ? m_picture->Width : 0; }
    int PictureHeight() const { return m_picture ? m_picture->Height : 0; }

    bool Proportional() const { return m_proportional; }
    bool Stretch() const { return m_stretch; }
    bool Center() const { return m_center; }
    void SetProportional(bool v) { m_proportional = v; Changed(Prop::Layout); }
    void SetStretch(bool v) { m_stretch = v; Changed(Prop::Layout); }
    void SetCenter(bool v) { m_center = v; Changed(Prop::Layout); }

private:
    std::optional<Bitmap> m_picture;
    bool m_proportional = false, m_stretch = false, m_center = false;
};

// A menu item with sub-items. Popup menus are menu items whose sub-items
// are shown at a point.
class MenuItem {
public:
    explicit MenuItem(std::string name, std::string caption = {});
    virtual ~MenuItem() = default;
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    const std::string& Name() const { return m_name; }
    const std::string& Caption() const { return m_caption; }
    void SetCaption(const std::string& c) { m_caption = c; Changed(); }
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool v) { m_enabled = v; Changed(); }
    bool Visible() const { return m_visible; }
    void SetVisible(bool v) { m_visible = v; Changed(); }

    MenuItem& Add(const std::string& name, const std::string& caption);
    const std::vector<std::unique_ptr<MenuItem>>& Items() const { return m_items; }
    MenuItem* Find(const std::string& name);   // this item or one below it

    NotifyEvent OnClick;
    void Click();   // a user's pick: OnClick, when enabled

    // A peer's hook: told whenever caption, enabled, visible or items change.
    std::function<void()> OnChangedForPeer;

private:
    void Changed()
    {
        if (OnChangedForPeer)
            OnChangedForPeer();
    }
    std::string m_name;
    std::string m_caption;
    bool m_enabled = true;
    bool m_visible = true;
    std::vector<std::unique_ptr<MenuItem>> m_items;
};

class PopupMenu : public MenuItem {
public:
    PopupMenu(Form& owner, std::string name);
    ~PopupMenu() override;
    Form& Owner() const { return m_owner; }
    NotifyEvent OnPopup;
    // Raises OnPopup and shows the items at a screen point (a front-end's job;
    // a headless run only raises the event).
    void Popup(int x, int y);
    std::function<void(int x, int y)> ShowForPeer;

private:
    Form& m_owner;
};

} // namespace ui

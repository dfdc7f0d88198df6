#include "platform/ui/controls.h"

#include <algorithm>
#include <stdexcept>

#include "platform/sys/text.h"
#include "platform/ui/application.h"

namespace ui {

// ---- Control ---------------------------------------------------------------

Control::Control(Control* parent, std::string name)
    : m_parent(parent), m_name(std::move(name))
{
    if (m_parent)
        m_parent->m_children.push_back(this);
}

Control::~Control()
{
    if (m_parent) {
        auto& siblings = m_parent->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    for (Control* child : m_children)
        child->m_parent = nullptr;
}

Form* Control::OwnerForm()
{
    Control* c = this;
    while (c->m_parent)
        c = c->m_parent;
    return dynamic_cast<Form*>(c);
}

Control* Control::FindControl(const std::string& name)
{
    if (sys::EqualNoCase(m_name, name))
        return this;
    for (Control* child : m_children)
        if (Control* found = child->FindControl(name))
            return found;
    return nullptr;
}

void Control::SetBounds(int left, int top, int width, int height)
{
    if (left == m_left && top == m_top && width == m_width && height == m_height)
        return;
    m_left = left;
    m_top = top;
    m_width = width;
    m_height = height;
    Changed(Prop::Bounds);
}

void Control::SetVisible(bool v)
{
    if (v == m_visible)
        return;
    m_visible = v;
    Changed(Prop::Visible);
}

void Control::SetEnabled(bool v)
{
    if (v == m_enabled)
        return;
    m_enabled = v;
    Changed(Prop::Enabled);
}

void Control::SetColor(TColor c)
{
    m_color = c;
    Changed(Prop::Color);
}

void Control::SetFontColor(TColor c)
{
    m_fontColor = c;
    Changed(Prop::FontColor);
}

void Control::SetCaption(const std::string& text)
{
    if (text == m_caption)
        return;
    m_caption = text;
    Changed(Prop::Caption);
}

// ---- simple controls ---------------------------------------------------------

void Button::Click()
{
    if (Enabled() && OnClick)
        OnClick();
}

void Edit::SetCaption(const std::string& text)
{
    bool differs = text != Caption();
    Control::SetCaption(text);
    if (differs && OnChange)
        OnChange();
}

void Memo::SetLines(std::vector<std::string> lines)
{
    m_lines = std::move(lines);
    Changed(Prop::Lines);
}

void Memo::AddLine(const std::string& line)
{
    m_lines.push_back(line);
    Changed(Prop::Lines);
}

std::string Memo::AllText() const
{
    std::string out;
    for (const auto& l : m_lines)
        out += l + "\r\n";
    return out;
}

void Memo::SetCaption(const std::string& text)
{
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        lines.push_back(cur);
    SetLines(std::move(lines));
}

void CheckBox::SetChecked(bool v)
{
    if (v == m_checked)
        return;
    m_checked = v;
    Changed(Prop::Checked);
    if (OnClick)
        OnClick();
}

void CheckBox::Click()
{
    if (Enabled())
        SetChecked(!m_checked);
}

void RadioButton::SetChecked(bool v)
{
    if (v == m_checked)
        return;
    m_checked = v;
    Changed(Prop::Checked);
    if (!v)
        return;
    if (Parent())
        for (Control* sibling : Parent()->Children())
            if (auto* radio = dynamic_cast<RadioButton*>(sibling); radio && radio != this)
                radio->SetChecked(false);
    if (OnClick)
        OnClick();
}

// ---- ComboBox, ListBox ---------------------------------------------------------

void ComboBox::SetItems(std::vector<std::string> items)
{
    m_items = std::move(items);
    m_index = -1;
    Changed(Prop::Items);
    Changed(Prop::ItemIndex);
}

void ComboBox::AddItem(const std::string& item)
{
    m_items.push_back(item);
    Changed(Prop::Items);
}

void ComboBox::SetItemIndex(int index)
{
    m_index = index >= 0 && index < static_cast<int>(m_items.size()) ? index : -1;
    Control::SetCaption(m_index >= 0 ? m_items[static_cast<size_t>(m_index)] : std::string());
    Changed(Prop::ItemIndex);
}

void ComboBox::Select(int index)
{
    SetItemIndex(index);
    if (OnSelect)
        OnSelect();
}

void ListBox::SetItems(std::vector<std::string> items)
{
    m_items = std::move(items);
    m_selected.assign(m_items.size(), false);
    m_index = -1;
    Changed(Prop::Items);
}

void ListBox::AddItem(const std::string& item)
{
    m_items.push_back(item);
    m_selected.push_back(false);
    Changed(Prop::Items);
}

void ListBox::DeleteItem(int index)
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    m_items.erase(m_items.begin() + index);
    m_selected.erase(m_selected.begin() + index);
    if (m_index >= Count())
        m_index = Count() - 1;
    Changed(Prop::Items);
}

bool ListBox::Selected(int index) const
{
    return index >= 0 && index < Count() && m_selected[static_cast<size_t>(index)];
}

void ListBox::SetSelected(int index, bool selected)
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    if (!MultiSelect && selected)
        std::fill(m_selected.begin(), m_selected.end(), false);
    m_selected[static_cast<size_t>(index)] = selected;
    if (selected)
        m_index = index;
    Changed(Prop::Selection);
}

int ListBox::SelCount() const
{
    return static_cast<int>(std::count(m_selected.begin(), m_selected.end(), true));
}

void ListBox::SetItemIndex(int index)
{
    m_index = index >= 0 && index < Count() ? index : -1;
    if (!MultiSelect) {
        std::fill(m_selected.begin(), m_selected.end(), false);
        if (m_index >= 0)
            m_selected[static_cast<size_t>(m_index)] = true;
    }
    Changed(Prop::Selection);
}

void ListBox::ClickItem(int index)
{
    if (index < 0 || index >= Count())
        return;
    std::fill(m_selected.begin(), m_selected.end(), false);
    m_selected[static_cast<size_t>(index)] = true;
    m_index = index;
    Changed(Prop::Selection);
    if (OnClick)
        OnClick();
}

// ---- ListView ----------------------------------------------------------------

void ListView::AddColumn(const std::string& caption, int width)
{
    m_columns.push_back({caption, width});
    Changed(Prop::Columns);
}

void ListView::SetColumnWidth(int column, int width)
{
    m_columns.at(static_cast<size_t>(column)).Width = width;
    Changed(Prop::Columns);
}

void ListView::SetColumnCaption(int column, const std::string& caption)
{
    m_columns.at(static_cast<size_t>(column)).Caption = caption;
    Changed(Prop::Columns);
}

ListItem& ListView::Item(int index)
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return *m_items[static_cast<size_t>(index)];
}

const ListItem& ListView::Item(int index) const
{
    return const_cast<ListView*>(this)->Item(index);
}

ListItem& ListView::AddItem(std::string caption, std::vector<std::string> subItems)
{
    auto item = std::make_unique<ListItem>();
    item->Caption = std::move(caption);
    item->SubItems = std::move(subItems);
    item->m_index = Count();
    m_items.push_back(std::move(item));
    Changed(Prop::Rows);
    return *m_items.back();
}

void ListView::Delete(int index)
{
    Item(index);   // range check
    m_items.erase(m_items.begin() + index);
    Reindex();
    Changed(Prop::Rows);
}

void ListView::DeleteIf(const std::function<bool(const ListItem&)>& pick)
{
    std::erase_if(m_items, [&](const auto& item) { return pick(*item); });
    Reindex();
    Changed(Prop::Rows);
}

void ListView::Clear()
{
    m_items.clear();
    Changed(Prop::Rows);
}

void ListView::SetSelected(int index, bool selected)
{
    ListItem& item = Item(index);
    if (item.m_selected == selected)
        return;
    if (selected && !MultiSelect)
        for (auto& other : m_items)
            if (other.get() != &item && other->m_selected) {
                other->m_selected = false;
                if (OnSelectItem)
                    OnSelectItem(*other, false);
            }
    item.m_selected = selected;
    Changed(Prop::Selection);
    if (OnSelectItem)
        OnSelectItem(item, selected);
}

void ListView::ClearSelection()
{
    for (int i = 0; i < Count(); ++i)
        SetSelected(i, false);
}

int ListView::SelCount() const
{
    return static_cast<int>(std::count_if(m_items.begin(), m_items.end(),
                                          [](const auto& i) { return i->m_selected; }));
}

ListItem* ListView::Selected()
{
    for (auto& i : m_items)
        if (i->m_selected)
            return i.get();
    return nullptr;
}

std::vector<ListItem*> ListView::SelectedItems()
{
    std::vector<ListItem*> out;
    for (auto& i : m_items)
        if (i->m_selected)
            out.push_back(i.get());
    return out;
}

void ListView::SetFocused(int index)
{
    if (index >= 0)
        Item(index);   // range check
    for (auto& i : m_items)
        i->m_focused = i->m_index == index;
    Changed(Prop::Focus);
}

ListItem* ListView::ItemFocused()
{
    for (auto& i : m_items)
        if (i->m_focused)
            return i.get();
    return nullptr;
}

void ListView::ClickRow(int index)
{
    Item(index);   // range check
    // Deselect the others first, then focus and select the clicked row, in the
    // order a list view reports the changes.
    for (int i = 0; i < Count(); ++i)
        if (i != index)
            SetSelected(i, false);
    SetFocused(index);
    SetSelected(index, true);
}

void ListView::ColumnClick(int column)
{
    if (OnColumnClick)
        OnColumnClick(column);
}

void ListView::Sort(const std::function<int(const ListItem&, const ListItem&)>& compare)
{
    std::stable_sort(m_items.begin(), m_items.end(),
                     [&](const auto& a, const auto& b) { return compare(*a, *b) < 0; });
    Reindex();
    Changed(Prop::Rows);
}

void ListView::Reindex()
{
    for (size_t i = 0; i < m_items.size(); ++i)
        m_items[i]->m_index = static_cast<int>(i);
}

// ---- Image -------------------------------------------------------------------

void Image::SetPicture(Bitmap picture)
{
    if (picture.Width < 0 || picture.Height < 0 ||
        picture.Pixels.size() != static_cast<size_t>(picture.Width) * static_cast<size_t>(picture.Height))
        throw std::invalid_argument("Bitmap image is not valid");
    m_picture = std::move(picture);
    Changed(Prop::Picture);
}

void Image::ClearPicture()
{
    m_picture.reset();
    Changed(Prop::Picture);
}

// ---- menus -------------------------------------------------------------------

MenuItem::MenuItem(std::string name, std::string caption)
    : m_name(std::move(name)), m_caption(std::move(caption))
{
}

MenuItem& MenuItem::Add(const std::string& name, const std::string& caption)
{
    m_items.push_back(std::make_unique<MenuItem>(name, caption));
    Changed();
    return *m_items.back();
}

MenuItem* MenuItem::Find(const std::string& name)
{
    if (sys::EqualNoCase(m_name, name))
        return this;
    for (auto& item : m_items)
        if (MenuItem* found = item->Find(name))
            return found;
    return nullptr;
}

void MenuItem::Click()
{
    if (m_enabled && OnClick)
        OnClick();
}

PopupMenu::PopupMenu(Form& owner, std::string name)
    : MenuItem(std::move(name)), m_owner(owner)
{
    owner.m_menus.push_back(this);
}

PopupMenu::~PopupMenu()
{
    auto& menus = m_owner.m_menus;
    menus.erase(std::remove(menus.begin(), menus.end(), this), menus.end());
}

void PopupMenu::Popup(int x, int y)
{
    if (OnPopup)
        OnPopup();
    if (ShowForPeer)
        ShowForPeer(x, y);
}

} // namespace ui

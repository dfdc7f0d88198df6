#include "platform/browser/document.h"

#include <gumbo.h>

#include <algorithm>
#include <cstdlib>

#include "platform/browser/url.h"
#include "platform/sys/text.h"

namespace browser {

namespace {

const char* const kFieldTags[] = {"input", "select", "textarea", "button"};

bool IsField(const Element& e)
{
    return std::any_of(std::begin(kFieldTags), std::end(kFieldTags), [&](const char* t) { return e.Is(t); });
}

// Attributes that hold an address, which the browser hands out resolved.
bool IsAddressAttribute(const std::string& name)
{
    static const char* const names[] = {"href", "src", "action", "background", "lowsrc", "longdesc", "cite"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return sys::EqualNoCase(name, n); });
}

bool SameName(const std::string& a, const std::string& b, int flags)
{
    return (flags & attrCaseSensitive) ? a == b : sys::EqualNoCase(a, b);
}

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// ---- Character sets --------------------------------------------------------

// Windows-1252's characters at 0x80..0x9F (0 where it has none).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

std::string FromCp1252(const std::string& bytes)
{
    std::u16string w;
    w.reserve(bytes.size());
    for (unsigned char c : bytes)
        w.push_back(c >= 0x80 && c < 0xA0 && kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : c);
    return com::Utf16ToUtf8(w);
}

// What a form sends from a Windows-1252 page: what the set cannot hold goes
// as a character reference, as browsers do.
std::string ToCp1252(const std::string& utf8)
{
    std::u16string w = com::Utf8ToUtf16(utf8);
    std::string out;
    for (std::size_t i = 0; i < w.size(); ++i) {
        char32_t c = w[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        auto high = std::find(std::begin(kCp1252High), std::end(kCp1252High), c);
        if (high != std::end(kCp1252High))
            out.push_back(static_cast<char>(0x80 + (high - std::begin(kCp1252High))));
        else
            out += "&#" + std::to_string(static_cast<unsigned long>(c)) + ";";
    }
    return out;
}

// The value of "charset=" in `text` from `from` on, lower case.
std::string CharsetParameter(const std::string& lower, std::size_t from = 0, std::size_t to = std::string::npos)
{
    auto at = lower.find("charset=", from);
    if (at == std::string::npos || at >= to)
        return {};
    at += 8;
    while (at < lower.size() && (lower[at] == '"' || lower[at] == '\'' || lower[at] == ' '))
        ++at;
    auto end = lower.find_first_of("\"'; />\t\r\n", at);
    return lower.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The page's text as UTF-8, and the set it was read in.
std::string Decode(const std::string& bytes, const std::string& contentType, std::string& charset)
{
    std::string label = CharsetParameter(sys::LowerAscii(contentType));
    if (label.empty()) {
        // A <meta> near the top: charset=... or content="text/html; charset=...".
        std::string head = sys::LowerAscii(std::string_view(bytes).substr(0, 2048));
        for (auto meta = head.find("<meta"); meta != std::string::npos && label.empty(); meta = head.find("<meta", meta + 5))
            label = CharsetParameter(head, meta, head.find('>', meta));
    }
    static const char* const western[] = {"iso-8859-1", "latin1", "iso8859-1", "windows-1252", "cp1252",
                                          "us-ascii", "ascii", "iso-8859-15"};
    bool isWestern = std::any_of(std::begin(western), std::end(western), [&](const char* w) { return label == w; });
    if (label.empty())   // no word on it: UTF-8 if it reads as such
        isWestern = com::Utf16ToUtf8(com::Utf8ToUtf16(bytes)) != bytes;
    charset = isWestern ? "windows-1252" : "utf-8";
    return isWestern ? FromCp1252(bytes) : bytes;
}

} // namespace

// ---- Parsing ---------------------------------------------------------------

struct TreeBuilder {
    Document& doc;

    std::unique_ptr<Element> Build(const GumboNode* node)
    {
        const GumboElement& g = node->v.element;
        std::string tag;
        if (g.tag != GUMBO_TAG_UNKNOWN) {
            tag = gumbo_normalized_tagname(g.tag);
        } else {
            GumboStringPiece piece = g.original_tag;
            gumbo_tag_from_original_text(&piece);
            tag = sys::LowerAscii(std::string_view(piece.data, piece.length));
        }
        auto e = std::make_unique<Element>(doc, tag);
        e->m_offset = g.start_pos.offset;
        for (unsigned i = 0; i < g.attributes.length; ++i) {
            auto* a = static_cast<const GumboAttribute*>(g.attributes.data[i]);
            e->m_attributes.emplace_back(a->name, a->value);
        }
        for (unsigned i = 0; i < g.children.length; ++i) {
            auto* child = static_cast<const GumboNode*>(g.children.data[i]);
            switch (child->type) {
            case GUMBO_NODE_ELEMENT:
            case GUMBO_NODE_TEMPLATE:
                e->Add(Build(child));
                break;
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_CDATA:
            case GUMBO_NODE_WHITESPACE: {
                auto text = std::make_unique<Element>(doc, "#text");
                text->m_text = child->v.text.text;
                e->Add(std::move(text));
                break;
            }
            default:
                break;
            }
        }
        return e;
    }

    // A field belongs to the form around it; failing that, to the form whose
    // stretch of the page's text (from <form> to </form>) holds it, as the
    // parser's form pointer does when it moves a field out of a table.
    void AssignForms(const std::string& lowerText)
    {
        std::vector<std::pair<Element*, std::size_t>> spans;
        for (Element* e : doc.Collect([](const Element& e) { return e.Is("form") || IsField(e); })) {
            if (e->Is("form")) {
                spans.emplace_back(e, lowerText.find("</form", e->m_offset));
                continue;
            }
            e->m_form = e->Parent() ? e->Parent()->Closest("form") : nullptr;
            for (auto it = spans.rbegin(); !e->m_form && it != spans.rend(); ++it)
                if (e->m_offset > it->first->m_offset && e->m_offset < it->second)
                    e->m_form = it->first;
        }
    }
};

std::shared_ptr<Document> Document::Parse(const std::string& url, const std::string& bytes, const std::string& contentType)
{
    std::shared_ptr<Document> doc(new Document());
    doc->m_url = url;
    std::string text = Decode(bytes, contentType, doc->m_charset);
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, text.data(), text.size());
    TreeBuilder builder{*doc};
    doc->m_root = builder.Build(out->root);
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    builder.AssignForms(sys::LowerAscii(text));
    return doc;
}

Document::~Document() = default;

std::shared_ptr<Document> Document::FromResponse(const Response& r)
{
    if (!r.error.empty()) {
        std::string page = "<html><head><title>The page cannot be displayed</title></head><body>"
                           "<h1>The page cannot be displayed</h1><p>" + Escape(r.url) + "</p><p>" +
                           Escape(r.error) + "</p></body></html>";
        auto doc = Parse(r.url, page, "text/html; charset=utf-8");
        doc->m_loadError = r.error;
        return doc;
    }
    std::string type = sys::LowerAscii(r.contentType.substr(0, r.contentType.find(';')));
    type.erase(std::remove(type.begin(), type.end(), ' '), type.end());
    if ((type.empty() || type == "application/octet-stream") && UrlScheme(r.url) != "about")
        type = ContentTypeForPath(r.url.substr(0, r.url.find_first_of("?#")));
    if (type.starts_with("image/")) {
        std::string name = r.url.substr(0, r.url.find_first_of("?#"));
        name = name.substr(name.rfind('/') + 1);
        return Parse(r.url,
                     "<html><head><title>" + Escape(name) + "</title></head><body><img src=\"" + Escape(r.url) +
                         "\"></body></html>",
                     "text/html; charset=utf-8");
    }
    if (type == "text/plain") {
        std::string charset;
        std::string text = Decode(r.body, r.contentType, charset);
        return Parse(r.url, "<html><body><pre>" + Escape(text) + "</pre></body></html>", "text/html; charset=utf-8");
    }
    return Parse(r.url, r.body, r.contentType);
}

// ---- Element ---------------------------------------------------------------

Element* Element::Add(std::unique_ptr<Element> child)
{
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

std::string Element::TagName() const
{
    std::string s = m_tag;
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string Element::GetAttribute(const std::string& name, int flags) const
{
    for (const auto& [n, v] : m_attributes)
        if (SameName(n, name, flags))
            return (flags & attrAsWritten) || !IsAddressAttribute(n) ? v : m_owner.ResolveUrl(v);
    return {};
}

bool Element::HasAttribute(const std::string& name, int flags) const
{
    return std::any_of(m_attributes.begin(), m_attributes.end(), [&](const auto& a) { return SameName(a.first, name, flags); });
}

void Element::SetAttribute(const std::string& name, const std::string& value, int flags)
{
    for (auto& [n, v] : m_attributes)
        if (SameName(n, name, flags)) {
            v = value;
            m_owner.Edited();
            return;
        }
    m_attributes.emplace_back(sys::LowerAscii(name), value);
    m_owner.Edited();
}

void Element::RemoveAttribute(const std::string& name, int flags)
{
    if (std::erase_if(m_attributes, [&](const auto& a) { return SameName(a.first, name, flags); }))
        m_owner.Edited();
}

std::vector<Element*> Element::Children() const
{
    std::vector<Element*> out;
    for (const auto& c : m_children)
        if (!c->Is("#text"))
            out.push_back(c.get());
    return out;
}

Element* Element::Closest(const char* localName)
{
    Element* e = this;
    while (e && !e->Is(localName))
        e = e->m_parent;
    return e;
}

std::string Element::Text() const
{
    if (Is("#text"))
        return m_text;
    if (Is("script") || Is("style"))
        return {};
    std::string out;
    for (const auto& c : m_children)
        out += c->Text();
    return out;
}

void Element::SetText(const std::string& text)
{
    m_children.clear();
    auto node = std::make_unique<Element>(m_owner, "#text");
    node->m_text = text;
    Add(std::move(node));
    m_owner.Edited();
}

namespace {

std::vector<Element*> Options(const Element& select)
{
    std::vector<Element*> out;
    for (Element* c : select.Children()) {
        if (c->Is("option"))
            out.push_back(c);
        else if (c->Is("optgroup"))
            for (Element* o : c->Children())
                if (o->Is("option"))
                    out.push_back(o);
    }
    return out;
}

std::string CollapseSpace(const std::string& s)
{
    std::string out;
    for (char c : s) {
        bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
        if (!space)
            out.push_back(c);
        else if (!out.empty() && out.back() != ' ')
            out.push_back(' ');
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace

std::string Element::Value() const
{
    if (Is("textarea"))
        return Text();
    if (Is("option"))
        return HasAttribute("value") ? GetAttribute("value") : CollapseSpace(Text());
    if (Is("select")) {
        auto options = Options(*this);
        if (m_noneSelected || options.empty())
            return {};
        auto selected = std::find_if(options.rbegin(), options.rend(), [](Element* o) { return o->HasAttribute("selected"); });
        return (selected != options.rend() ? *selected : options.front())->Value();
    }
    return GetAttribute("value");
}

void Element::SetValue(const std::string& value)
{
    if (Is("textarea")) {
        SetText(value);
    } else if (Is("select")) {
        m_noneSelected = true;
        for (Element* o : Options(*this)) {
            o->RemoveAttribute("selected");
            if (m_noneSelected && o->Value() == value) {
                o->SetAttribute("selected", "selected");
                m_noneSelected = false;
            }
        }
    } else {
        SetAttribute("value", value);
    }
}

void Element::SetChecked(bool checked)
{
    if (!checked) {
        RemoveAttribute("checked");
        return;
    }
    if (sys::EqualNoCase(GetAttribute("type"), "radio") && !Name().empty()) {
        for (Element* other : m_owner.Collect([&](const Element& e) {
                 return e.Is("input") && e.m_form == m_form && sys::EqualNoCase(e.GetAttribute("type"), "radio") &&
                        e.Name() == Name();
             }))
            other->RemoveAttribute("checked");
    }
    SetAttribute("checked", "checked");
}

int Element::Width() const { return std::atoi(GetAttribute("width").c_str()); }
void Element::SetWidth(int width) { SetAttribute("width", std::to_string(width)); }
int Element::Height() const { return std::atoi(GetAttribute("height").c_str()); }
void Element::SetHeight(int height) { SetAttribute("height", std::to_string(height)); }

ElementCollection Element::Elements() const
{
    if (!Is("form"))
        throw DocumentError("The element " + TagName() + " is not a form.");
    return ElementCollection("The form", "field", m_owner.Collect([this](const Element& e) {
        return e.m_form == this && !(e.Is("input") && sys::EqualNoCase(e.GetAttribute("type"), "image"));
    }));
}

void Element::Submit() { Submit(nullptr); }

void Element::Submit(Element* submitter)
{
    if (!Is("form"))
        throw DocumentError("The element " + TagName() + " is not a form.");
    bool western = m_owner.CharSet() == "windows-1252";
    std::string data;
    auto add = [&](const std::string& name, const std::string& value) {
        if (!data.empty())
            data += '&';
        data += FormEncode(western ? ToCp1252(name) : name) + "=" + FormEncode(western ? ToCp1252(value) : value);
    };
    for (Element* f : m_owner.Collect([this](const Element& e) { return e.m_form == this; })) {
        std::string type = sys::LowerAscii(f->GetAttribute("type"));
        std::string name = f->Name();
        if (f->HasAttribute("disabled"))
            continue;
        if (f->Is("input") && type == "image") {
            if (f == submitter) {
                add(name.empty() ? "x" : name + ".x", "0");
                add(name.empty() ? "y" : name + ".y", "0");
            }
            continue;
        }
        if (name.empty())
            continue;
        bool button = f->Is("button") || type == "submit" || type == "reset" || type == "button";
        if ((button && f != submitter) || (f->Is("input") && type == "file"))
            continue;
        if (type == "checkbox" || type == "radio") {
            if (f->Checked())
                add(name, f->HasAttribute("value") ? f->Value() : "on");
        } else if (!(f->Is("select") && (f->m_noneSelected || Options(*f).empty()))) {
            add(name, f->Value());
        }
    }
    std::string action = GetAttribute("action", attrAsWritten).empty() ? m_owner.URL() : GetAttribute("action");
    action = action.substr(0, action.find('#'));
    if (sys::EqualNoCase(GetAttribute("method"), "post")) {
        m_owner.Navigate(Request(action, "POST", data, "application/x-www-form-urlencoded"));
    } else {
        m_owner.Navigate(Request(action.substr(0, action.find('?')) + "?" + data));
    }
}

// ---- Collections -----------------------------------------------------------

Element& ElementCollection::Item(int index) const
{
    if (index < 0 || index >= Count())
        throw DocumentError(m_owner + " has no " + m_what + " " + std::to_string(index) + " (it has " +
                            std::to_string(Count()) + ").");
    return *m_items[static_cast<std::size_t>(index)];
}

Element& ElementCollection::Item(const std::string& name) const
{
    for (Element* e : m_items)
        if (e->Name() == name || e->Id() == name)
            return *e;
    throw DocumentError(m_owner + " has no " + m_what + " named " + Quote(name) + ".");
}

Document& FrameCollection::Item(int index) const
{
    if (index < 0 || index >= Count())
        throw DocumentError("The page has no frame " + std::to_string(index) + " (it has " + std::to_string(Count()) + ").");
    Element* frame = m_frames[static_cast<std::size_t>(index)];
    if (!frame->ContentDocument())
        throw DocumentError("The frame " + std::to_string(index) + " has not loaded.");
    return *frame->ContentDocument();
}

Document& FrameCollection::Item(const std::string& name) const
{
    for (std::size_t i = 0; i < m_frames.size(); ++i)
        if (m_frames[i]->Name() == name || m_frames[i]->Id() == name)
            return Item(static_cast<int>(i));
    throw DocumentError("The page has no frame named " + Quote(name) + ".");
}

// ---- Document --------------------------------------------------------------

std::vector<Element*> Document::Collect(const std::function<bool(const Element&)>& keep) const
{
    std::vector<Element*> out;
    std::vector<Element*> stack{m_root.get()};
    while (!stack.empty()) {
        Element* e = stack.back();
        stack.pop_back();
        if (e->Is("#text"))
            continue;
        if (keep(*e))
            out.push_back(e);
        for (auto it = e->m_children.rbegin(); it != e->m_children.rend(); ++it)
            stack.push_back(it->get());
    }
    return out;
}

std::string Document::Title() const
{
    auto titles = Collect([](const Element& e) { return e.Is("title"); });
    return titles.empty() ? std::string() : CollapseSpace(titles.front()->Text());
}

Element& Document::Body() const
{
    for (Element* e : m_root->Children())
        if (e->Is("body") || e->Is("frameset"))
            return *e;
    throw DocumentError("The page " + m_url + " has no body.");
}

ElementCollection Document::All() const
{
    return ElementCollection("The page", "element", Collect([](const Element&) { return true; }));
}

ElementCollection Document::Images() const
{
    return ElementCollection("The page", "picture", Collect([](const Element& e) { return e.Is("img"); }));
}

ElementCollection Document::Forms() const
{
    return ElementCollection("The page", "form", Collect([](const Element& e) { return e.Is("form"); }));
}

ElementCollection Document::Links() const
{
    return ElementCollection("The page", "link", Collect([](const Element& e) {
        return (e.Is("a") || e.Is("area")) && e.HasAttribute("href");
    }));
}

ElementCollection Document::GetElementsByTagName(const std::string& tag) const
{
    std::string lower = sys::LowerAscii(tag);
    return ElementCollection("The page", lower + " element",
                             Collect([&](const Element& e) { return lower == "*" || e.LocalName() == lower; }));
}

Element& Document::GetElementById(const std::string& id) const
{
    auto found = Collect([&](const Element& e) { return e.Id() == id; });
    if (found.empty())
        throw DocumentError("The page has no element with the id " + Quote(id) + ".");
    return *found.front();
}

FrameCollection Document::Frames() const
{
    return FrameCollection(Collect([](const Element& e) { return e.Is("frame") || e.Is("iframe"); }));
}

std::string Document::ResolveUrl(const std::string& relative) const { return browser::ResolveUrl(m_url, relative); }

void Document::Navigate(const Request& request) const
{
    if (m_navigate)
        m_navigate(request);
}

void Document::Edited()
{
    if (m_onEdited)
        m_onEdited();
}

namespace {

bool IsVoidElement(const std::string& tag)
{
    static const char* const kVoid[] = {"area", "base", "br", "col", "embed", "frame", "hr", "img", "input",
                                        "link", "meta", "param", "source", "track", "wbr"};
    return std::any_of(std::begin(kVoid), std::end(kVoid), [&](const char* v) { return tag == v; });
}

} // namespace

void Document::WriteHtml(const Element& e, std::string& out, std::vector<Element*>* order) const
{
    if (e.Is("#text")) {
        const Element* parent = e.Parent();
        bool raw = parent && (parent->Is("script") || parent->Is("style"));
        out += raw ? e.m_text : Escape(e.m_text);
        return;
    }
    out += "<" + e.m_tag;
    for (const auto& [name, value] : e.m_attributes) {
        // A frame shows the document this page loaded for it (below).
        if (e.Is("iframe") && e.m_content && (name == "src" || name == "srcdoc"))
            continue;
        out += " " + name + "=" + Quote(Escape(value));
    }
    if (order) {
        out += " data-vintrel=\"" + std::to_string(order->size()) + "\"";
        order->push_back(const_cast<Element*>(&e));
    }
    if (e.Is("iframe") && e.m_content)
        out += " srcdoc=" + Quote(Escape(e.m_content->Html()));
    out += ">";
    if (IsVoidElement(e.m_tag))
        return;
    for (const auto& c : e.m_children)
        WriteHtml(*c, out, order);
    out += "</" + e.m_tag + ">";
}

std::string Document::Html(std::vector<Element*>* order) const
{
    std::string out = "<!DOCTYPE html>";
    if (m_root)
        WriteHtml(*m_root, out, order);
    return out;
}

void Document::Click(Element& element)
{
    if (&element.OwnerDocument() != this)
        throw DocumentError("The element " + element.TagName() + " is not on the page " + m_url + ".");
    HtmlEvent event("click", &element);
    {
        HtmlEvent* previous = m_window.m_event;
        m_window.m_event = &event;
        struct Restore {
            Window& w;
            HtmlEvent* previous;
            ~Restore() { w.m_event = previous; }
        } restore{m_window, previous};
        // Held for the call: the handler may replace itself.
        if (com::ComPtr<com::IDispatch> handler = m_onClick) {
            com::DISPPARAMS none;
            com::VARIANT result;
            com::VariantInit(&result);
            handler->Invoke(com::DISPID_VALUE, com::IID_NULL, 0, com::DISPATCH_METHOD, &none, &result, nullptr, nullptr);
            if (result.vt == com::VT_BOOL && result.boolVal == com::VARIANT_FALSE)
                event.SetReturnValue(false);
            com::VariantClear(&result);
        }
    }
    if (!event.ReturnValue())
        return;

    for (Element* e = &element; e; e = e->Parent()) {
        if ((e->Is("a") || e->Is("area")) && e->HasAttribute("href")) {
            std::string url = e->GetAttribute("href");
            if (UrlScheme(url) != "javascript")   // no scripts here
                Navigate(Request(url));
            return;
        }
    }
    std::string type = sys::LowerAscii(element.GetAttribute("type"));
    if (element.Is("input") && type == "checkbox") {
        element.SetChecked(!element.Checked());
    } else if (element.Is("input") && type == "radio") {
        element.SetChecked(true);
    } else if (((element.Is("input") && (type == "submit" || type == "image")) ||
                (element.Is("button") && (type.empty() || type == "submit"))) &&
               element.Form() && !element.HasAttribute("disabled")) {
        element.Form()->Submit(&element);
    }
}

} // namespace browser

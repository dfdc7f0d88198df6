#pragma once
// The document model of the web browser control: a parsed page as a tree of
// elements the program reads and edits (pictures, forms and their fields,
// frames), and the click a user makes on an element.
//
// Every call that names something the page does not have (an index out of
// range, a name no element carries, a document not loaded) throws
// DocumentError.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/browser/transfer.h"
#include "platform/com/com.h"
#include "platform/sys/error.h"

namespace browser {

class Document;

class DocumentError : public sys::Error {
public:
    using sys::Error::Error;
};

// GetAttribute and SetAttribute flags, as the desktop browser takes them.
enum AttributeFlags : int {
    attrCaseSensitive = 1,   // the name must match in case
    attrAsWritten = 2,       // an address as written in the page, not resolved
};

class ElementCollection;

class Element {
public:
    // Made by the parser; a page's elements live as long as its document.
    Element(Document& owner, std::string tag) : m_owner(owner), m_tag(std::move(tag)) {}
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;

    // "IMG", "A", "FORM": upper case, as the browser reports it.
    std::string TagName() const;
    // "img": lower case, as parsed.
    const std::string& LocalName() const { return m_tag; }
    bool Is(const char* localName) const { return m_tag == localName; }

    // The attribute's text, "" when it is missing. Without attrAsWritten a
    // link's or picture's address (href, src, action...) comes back resolved
    // against the document's address, as the browser gives it.
    std::string GetAttribute(const std::string& name, int flags = 0) const;
    bool HasAttribute(const std::string& name, int flags = 0) const;
    void SetAttribute(const std::string& name, const std::string& value, int flags = 0);
    void RemoveAttribute(const std::string& name, int flags = 0);
    const std::vector<std::pair<std::string, std::string>>& Attributes() const { return m_attributes; }

    Document& OwnerDocument() const { return m_owner; }
    Element* Parent() const { return m_parent; }
    std::vector<Element*> Children() const;   // elements only
    // The nearest element, this one or above, with that tag; nullptr if none.
    Element* Closest(const char* localName);
    // The text of this element and those below, without scripts and styles.
    std::string Text() const;
    void SetText(const std::string& text);   // replaces what is inside

    std::string Id() const { return GetAttribute("id"); }
    std::string Name() const { return GetAttribute("name"); }

    // A field's value: an input's value attribute, a text area's text, the
    // selected option's value of a list (setting a value no option has
    // selects none).
    std::string Value() const;
    void SetValue(const std::string& value);
    // Check boxes and radio buttons (checking a radio button unchecks the
    // others of its group).
    bool Checked() const { return HasAttribute("checked"); }
    void SetChecked(bool checked);

    // The width and height attributes, as numbers (0 when missing).
    int Width() const;
    void SetWidth(int width);
    int Height() const;
    void SetHeight(int height);

    // A form's fields (input, select, textarea, button) in page order,
    // including those the page puts in the form's stretch of text but the
    // parser moved out of it (a form opened inside a table).
    ElementCollection Elements() const;
    // A field's form; nullptr when it has none.
    Element* Form() const { return m_form; }
    // Sends a form as its page says (GET or POST to its action), as the form's
    // submit() did: the control navigates to the answer.
    void Submit();

    // A frame's or iframe's document; nullptr until it has loaded.
    Document* ContentDocument() const { return m_content.get(); }
    void SetContentDocument(std::shared_ptr<Document> document) { m_content = std::move(document); }

private:
    friend class Document;
    friend struct TreeBuilder;
    Element* Add(std::unique_ptr<Element> child);
    void Submit(Element* submitter);

    Document& m_owner;
    std::string m_tag;           // "#text" for a text node
    std::string m_text;          // a text node's text
    std::vector<std::pair<std::string, std::string>> m_attributes;
    Element* m_parent = nullptr;
    std::vector<std::unique_ptr<Element>> m_children;
    Element* m_form = nullptr;   // a field's form
    bool m_noneSelected = false; // a list whose value matched no option
    std::size_t m_offset = 0;    // where the element starts in the page's text
    std::shared_ptr<Document> m_content;
};

// A snapshot of elements in page order.
class ElementCollection {
public:
    // `owner` and `what` name them in messages: "The form", "field".
    ElementCollection(std::string owner, std::string what, std::vector<Element*> items)
        : m_owner(std::move(owner)), m_what(std::move(what)), m_items(std::move(items))
    {
    }
    int Count() const { return static_cast<int>(m_items.size()); }
    Element& Item(int index) const;
    // The first element whose name or id is `name`.
    Element& Item(const std::string& name) const;
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::string m_owner;
    std::string m_what;
    std::vector<Element*> m_items;
};

// The frame and iframe elements of a document, in page order.
class FrameCollection {
public:
    explicit FrameCollection(std::vector<Element*> frames) : m_frames(std::move(frames)) {}
    int Count() const { return static_cast<int>(m_frames.size()); }
    Document& Item(int index) const;
    Document& Item(const std::string& name) const;   // by the frame's name or id

private:
    std::vector<Element*> m_frames;
};

// The event in progress: what was clicked.
class HtmlEvent {
public:
    HtmlEvent(std::string type, Element* source) : m_type(std::move(type)), m_source(source) {}
    const std::string& Type() const { return m_type; }
    Element* SrcElement() const { return m_source; }
    // A handler sets false to stop what the click would do (follow the link).
    bool ReturnValue() const { return m_returnValue; }
    void SetReturnValue(bool v) { m_returnValue = v; }

private:
    std::string m_type;
    Element* m_source;
    bool m_returnValue = true;
};

// The window a document is shown in.
class Window {
public:
    HtmlEvent* Event() const { return m_event; }

private:
    friend class Document;
    HtmlEvent* m_event = nullptr;
};

class Document {
public:
    // Parses a page. `contentType` gives the character set ("text/html;
    // charset=iso-8859-1"); without one the page's own meta tag does, and a
    // page that is not valid UTF-8 is read as Windows-1252.
    static std::shared_ptr<Document> Parse(const std::string& url, const std::string& bytes,
                                           const std::string& contentType = "text/html");
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document();

    const std::string& URL() const { return m_url; }
    std::string Title() const;
    // Why the page could not be loaded when this is the page that says so;
    // "" for a page that loaded.
    const std::string& LoadError() const { return m_loadError; }
    // "utf-8" or "windows-1252": how the page's text was read.
    const std::string& CharSet() const { return m_charset; }

    Element& DocumentElement() const { return *m_root; }
    Element& Body() const;   // the body, or the frameset of a frame page
    ElementCollection All() const;
    ElementCollection Images() const;
    ElementCollection Forms() const;
    ElementCollection Links() const;   // a and area elements with an href
    ElementCollection GetElementsByTagName(const std::string& tag) const;   // "*": all
    Element& GetElementById(const std::string& id) const;
    FrameCollection Frames() const;

    // An address of this page made absolute.
    std::string ResolveUrl(const std::string& relative) const;

    Window& ParentWindow() { return m_window; }

    // The page's click handler: called (dispatch id 0, as a method) for every
    // click on the page. The document keeps a reference.
    void SetOnClick(com::IDispatch* handler) { m_onClick = handler; }
    com::IDispatch* OnClick() const { return m_onClick.Get(); }

    // A user's click on `element`: the window's event names it while the
    // handler runs; then, unless the handler returned false or cleared the
    // event's return value, what the click does: a link (the element or one
    // above it) is followed, a submit button sends its form, a check box
    // toggles, a radio button is checked.
    void Click(Element& element);

    // The document a transfer's answer shows: its page; a page holding just
    // the picture for a picture; the text for plain text; for a failure, a
    // small page that says what failed (LoadError tells it too).
    static std::shared_ptr<Document> FromResponse(const Response& response);

    // The page as it stands now (with every edit made to it) as HTML, frames'
    // documents written into their iframes. With `order`, every element gets a
    // data-vintrel attribute with its position in `order`, so that what a
    // view of the page reports can be found in the model again.
    std::string Html(std::vector<Element*>* order = nullptr) const;
    // Told after each edit of the page's elements (attributes, text, values).
    void SetOnEdited(std::function<void()> onEdited) { m_onEdited = std::move(onEdited); }

    // How the document asks its control to navigate (links, forms). Set by
    // the control; without it links and forms go nowhere.
    void SetNavigator(std::function<void(const Request&)> navigate) { m_navigate = std::move(navigate); }

private:
    friend class Element;
    friend struct TreeBuilder;
    Document() = default;
    std::vector<Element*> Collect(const std::function<bool(const Element&)>& keep) const;
    void Navigate(const Request& request) const;
    void Edited();
    void WriteHtml(const Element& e, std::string& out, std::vector<Element*>* order) const;

    std::string m_url;
    std::string m_loadError;
    std::string m_charset = "utf-8";
    std::unique_ptr<Element> m_root;
    Window m_window;
    com::ComPtr<com::IDispatch> m_onClick;
    std::function<void(const Request&)> m_navigate;
    std::function<void()> m_onEdited;
};

} // namespace browser

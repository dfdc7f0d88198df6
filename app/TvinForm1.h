#pragma once
// The main window: the picture frame, the row of buttons, the picture list.
#include <cstdint>
#include <string>

#include "platform/browser/webbrowser.h"
#include "app/TUnPas2.h"
#include "platform/net/http.h"
#include "platform/session/windows.h"
#include "platform/ui/application.h"

class Program;

class TvinForm1 final : public ui::Form {
public:
    explicit TvinForm1(Program& program);
    ~TvinForm1() override;

    // The picture frame: a local picture in Image1, a web page over it in
    // webbrowser1 (width 0 hides the browser, 235 covers the frame).
    ui::GroupBox GroupBox2;
    ui::Image Image1;
    browser::WebBrowser webbrowser1;

    ui::GroupBox GroupBox1;
    ui::Button JvXPButton5;   // "Options"
    ui::Button JvXPButton6;   // "Colors"
    ui::Button JvXPButton7;   // "Tools"
    ui::Button JvXPButton8;   // "H": the home page
    ui::Button JvXPButton4;   // "2gsm"
    ui::Button JvXPButton1;   // "Search Picture"
    ui::Button JvXPButton3;   // "+"
    ui::Button JvXPButton2;   // "-"
    ui::Button JvXPButton9;   // "s": the content site

    ui::ListView ListView1;
    ui::Label Label1;         // hidden: the current picture path

    ui::PopupMenu PopupMenu1;  // the main window's context menu
    ui::MenuItem& Delete1;
    ui::MenuItem& Use1;
    ui::MenuItem& Copy1;
    ui::MenuItem& Copylink1;
    ui::MenuItem& Copyforforum1;
    ui::MenuItem& Copyforwebsite1;
    ui::MenuItem& imagehost1;
    ui::MenuItem& Openimagehostwebsite1;
    ui::MenuItem& Copylink2;
    ui::MenuItem& forWebsites1;
    ui::MenuItem& forforums1;
    ui::MenuItem& Forforums21;
    ui::MenuItem& Youneedtopastedirectlinktoimageonly1;
    ui::MenuItem& Upload1;
    ui::MenuItem& Addweblink1;
    ui::MenuItem& Addalocalfile1;
    ui::MenuItem& SetasWallpaper1;

    ui::PopupMenu PopupMenu2;  // the tray menu
    ui::MenuItem& truc1;       // "Show"
    ui::MenuItem& chouette1;   // "Close"

    // The single-instance guard, made while the window is being built.
    std::unique_ptr<TUnPas2> UnPas21;

    // The HTTP client of the whole run, shared by sending and sharing.
    net::HttpClient IdHTTP1;

    // The tray icon record, filled once at creation and used again at the end.
    session::NOTIFYICONDATA TrayIconData{};
    // The number of the message "Vintrel.WM_NEWDOWNLOAD".
    unsigned NewDownloadMessage = 0;
    // The first seven characters of a first argument longer than seven.
    std::string StartPrefix;

    void FormCreate();
    void FormActivate();
    void FormDestroy();
    void JvXPButton8Click();
    void JvXPButton5Click();
    void JvXPButton6Click();
    void JvXPButton7Click();

    // The picture list.
    void loadlist();
    void remmove();
    void deltruc();
    void adresizescroll(int column);
    void remresizescroll(int column);
    void ListView1ColumnClick(int column);
    void JvXPButton2Click();
    void JvXPButton3Click();
    void Delete1Click();

    // The tray and pictures from outside.
    void TrayCallback(std::int64_t mouseMessage);
    bool DefaultHandler(const session::Message& m);
    void truc1Click();
    void chouette1Click();
    void ApplicationEvents1Minimize();
    void ApplicationEvents1Activate();
    void UnPas21OtherTryToRun(bool StopSiDejaLance, std::int32_t ParamCount, TParamArray& ParamArray,
                              std::string& StringUser);

    // The preview.
    void ListView1SelectItem(ui::ListItem& item, bool selected);
    void webbrowser1DocumentComplete(const std::string& url);

    // Ways to add pictures.
    void JvXPButton1Click();
    void Addweblink1Click();
    void Addalocalfile1Click();

    // Sharing.
    void SetasWallpaper1Click();

    // Sending to the phone (delivery/delivery.cpp).
    void ussee();
    void navatruc(const std::string& address);
    void JvXPButton4Click();
    void Use1Click();
    void JvXPButton9Click();
    void PopupMenu1Popup();

    // The image host (sharing/imagehost.cpp).
    std::string upfiletoimageshack(const std::string& path);
    std::string transloadtoimageshack(const std::string& address);
    static std::string getfromstrxml(const std::string& reply, const std::string& element);

    // Snippets and the upload command (sharing/snippets.cpp).
    void Copylink1Click();
    void Copyforforum1Click();
    void Copyforwebsite1Click();
    void forWebsites1Click();
    void forforums1Click();
    void Forforums21Click();
    void Upload1Click();
    void Openimagehostwebsite1Click();

    // Adds a row for a list entry: Path the entry, Name derived from it.
    ui::ListItem& AddRow(const std::string& entry);
    // The list file's text: every row's Path and CR LF, in list order.
    std::string ListText();
    // Rewrites the list file from the rows, in list order.
    void WriteListFile();

private:
    Program& m_program;
};

// The program's title, as the tray tip shows it: the program file's name
// without folder and without anything from its first dot on, every character
// after the first in lower case.
std::string ProgramTitle(const std::string& programPath);

// The Name of a list entry: "/" read as "\", then the text after the last "\"
// or ":" (the whole entry when there is neither).
std::string EntryName(const std::string& entry);

// The program's home page.
extern const char* const kHomePage;

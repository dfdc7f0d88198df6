#pragma once
// The automation channel: a line-based text protocol on a Unix socket in the
// session folder ("auto-<pid>.sock", one per process), through which a test or
// a person drives a running program from outside, much as accessibility tools
// drive a desktop program. The protocol is described in docs/automation.md.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ui {
class Application;
}

namespace automation {

class Server {
public:
    // Opens the socket in `sessionFolder` and watches it in `app`'s loop.
    // `programFolder` is reported to clients that look for a program by folder.
    Server(ui::Application& app, const std::string& sessionFolder, const std::string& programFolder);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    const std::string& SocketPath() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// True when $VINTREL_AUTOMATION asks for the channel ("1").
bool Requested();

// Where the process `pid` keeps its socket, and beside it the file naming its
// program folder.
std::string SocketPathOf(const std::string& sessionFolder, long pid);
std::string InfoPathOf(const std::string& sessionFolder, long pid);

// The words of a line: separated by blanks; a word that starts with a double
// quote runs to the closing quote, with \" \\ \n \r \t inside. Throws
// std::invalid_argument for a line that does not parse.
std::vector<std::string> SplitWords(std::string_view line);
// A word as the line carries it: bare when it can be, else quoted, so that
// SplitWords gives it back.
std::string Quote(const std::string& word);
// True for the commands whose reply is a listing ending with a "." line.
bool IsListing(const std::string& command);

} // namespace automation

#pragma once
// Files and folders: the program folder, atomic rewrites, small readers.
#include <string>
#include <string_view>
#include <vector>

namespace sys {

// The folder of the running executable, without a trailing slash.
std::string ExecutablePath();
std::string ExecutableFolder();

// Replaces `path` with `content` atomically: the bytes go to a temporary file
// in the same folder, are flushed, and the temporary is renamed over `path`.
// A crash or a full disk leaves either the old file or the new one.
void WriteFileAtomic(const std::string& path, std::string_view content);

// A whole rewrite in two steps: opening makes the temporary file (and refuses
// a target marked read-only, one with no write permission bit), committing
// writes, flushes and renames it over the target. Destroying an uncommitted
// writer removes the temporary. Callers that must fail before they change
// anything else open first.
class AtomicWriter {
public:
    explicit AtomicWriter(const std::string& path);
    ~AtomicWriter();
    AtomicWriter(const AtomicWriter&) = delete;
    AtomicWriter& operator=(const AtomicWriter&) = delete;
    void Commit(std::string_view content);

private:
    std::string m_path;
    std::string m_temp;
    int m_fd = -1;
};

// Reads a whole file; throws sys::Error naming the file when it cannot.
std::string ReadFile(const std::string& path);

// Reads a text file's lines as a text-file reader does: lines end at CR LF,
// LF or a lone CR; the last line needs no line end. Bytes are kept as they are
// (NUL included). Throws sys::Error naming the file when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);

// Appends `text` to an existing file (it is not created); throws sys::Error
// naming the file when it is missing or cannot be written.
void AppendToFile(const std::string& path, std::string_view text);

bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates `path` and its missing parents with `mode`; throws on failure.
void MakeDirectories(const std::string& path, unsigned mode);

// Environment variable or `fallback` when it is unset or empty.
std::string GetEnv(const char* name, const std::string& fallback = {});

} // namespace sys

#include "settings/colorfile.h"

#include "platform/sys/error.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

void readcolorfile(const std::string& path, const std::function<void(int, ui::TColor)>& apply)
{
    std::string data = sys::ReadFile(path);
    size_t pos = 0;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (int index = 0; index < 3; ++index) {
        while (pos < data.size() && blank(data[pos]))
            ++pos;
        size_t end = pos;
        while (end < data.size() && !blank(data[end]))
            ++end;
        if (pos == end)
            throw sys::Error("cannot read " + path + ": a colour is missing");
        std::string token = data.substr(pos, end - pos);
        int value = 0;
        try {
            value = sys::StrToInt(token);
        } catch (const sys::Error&) {
            throw sys::Error("cannot read " + path + ": '" + token + "' is not a colour number");
        }
        // The rest of the line is skipped.
        pos = data.find_first_of("\r\n", end);
        if (pos == std::string::npos)
            pos = data.size();
        apply(index, value);
    }
}

void writecolorfile(const std::string& path, ui::TColor c1, ui::TColor c2, ui::TColor c3)
{
    std::string content;
    for (ui::TColor c : {c1, c2, c3})
        content += std::to_string(c) + "\r\n";
    sys::WriteFileAtomic(path, content);
}

#include "tools/Netrc.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

// The file's words, quoted ones unquoted; a line break is kept as "\n" so
// that a macro body can be skipped to its blank line.
std::vector<std::string> Words(const std::string& text, const std::string& path)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            words.emplace_back("\n");
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '"') {
            std::string word;
            ++i;
            while (i < text.size() && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                word += text[i++];
            }
            if (i >= text.size())
                throw std::runtime_error(path + ": a quoted value is not closed");
            ++i;
            words.push_back(word);
        } else {
            std::string word;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n')
                word += text[i++];
            words.push_back(word);
        }
    }
    return words;
}

} // namespace

std::string DefaultNetrcPath()
{
    if (const char* env = std::getenv("NETRC"); env && *env)
        return env;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.netrc";
}

std::optional<NetrcEntry> FindNetrcEntry(const std::string& path, const std::string& host,
                                         const std::optional<std::string>& login)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw std::runtime_error(path + ": cannot be read");
    // It holds passwords: a file others may read is a leak to stop, not use.
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
        throw std::runtime_error(path + " may be read by others (mode " + mode + "); make it private with chmod 600");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot be read");
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::vector<std::string> words = Words(buffer.str(), path);

    std::optional<NetrcEntry> fallback;
    std::size_t i = 0;
    const auto next = [&]() -> std::string {
        while (i < words.size() && words[i] == "\n")
            ++i;
        if (i >= words.size())
            throw std::runtime_error(path + ": a value is missing at the end");
        return words[i++];
    };
    while (i < words.size()) {
        const std::string word = words[i++];
        if (word == "\n")
            continue;
        if (word == "macdef") {
            next(); // the macro's name; its body runs to the first blank line
            while (i + 1 < words.size() && !(words[i] == "\n" && words[i + 1] == "\n"))
                ++i;
            continue;
        }
        if (word != "machine" && word != "default")
            throw std::runtime_error(path + ": \"" + word + "\" where \"machine\" or \"default\" should stand");
        const bool isDefault = word == "default";
        const std::string machine = isDefault ? std::string() : next();
        NetrcEntry entry;
        bool hasLogin = false;
        for (;;) {
            while (i < words.size() && words[i] == "\n")
                ++i;
            if (i >= words.size() || words[i] == "machine" || words[i] == "default" || words[i] == "macdef")
                break;
            const std::string key = words[i++];
            const std::string value = next();
            if (key == "login") {
                entry.login = value;
                hasLogin = true;
            } else if (key == "password") {
                entry.password = value;
            } else if (key != "account") {
                throw std::runtime_error(path + ": unknown word \"" + key + "\"");
            }
        }
        const bool loginFits = !login || !hasLogin || entry.login == *login;
        if (!loginFits)
            continue;
        if (!isDefault && machine == host)
            return entry;
        if (isDefault && !fallback)
            fallback = entry;
    }
    return fallback;
}

#pragma once

#include <optional>
#include <string>

// Credentials from a netrc file, as ftp and curl read it: "machine HOST",
// then "login NAME" and "password SECRET" (in any order, on any lines;
// "default" for every other host; "account" read and ignored; "macdef"
// skipped up to its blank line). Values may be quoted, "with \"escapes\"".
struct NetrcEntry {
    std::string login;
    std::optional<std::string> password;
};

// The entry for `host` (and `login`, when one is given) in the file at
// `path`. Throws std::runtime_error, naming the file and what is wrong, when
// the file cannot be read, when anybody but its owner may read it (it holds
// passwords), or when it is malformed. No entry: std::nullopt.
std::optional<NetrcEntry> FindNetrcEntry(const std::string& path, const std::string& host,
                                         const std::optional<std::string>& login);

// ~/.netrc, or $NETRC when set.
std::string DefaultNetrcPath();

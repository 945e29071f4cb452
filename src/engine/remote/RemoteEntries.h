#pragma once

// Entry helpers the two protocols share.

#include "engine/inet/DirEntry.h"
#include "engine/remote/RemoteFileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

// "rwxr-xr-x" (with s/S/t/T where set) for the bits of `mode` (07777).
std::string PermissionText(std::uint32_t mode);
// The bits of an ls-style "rwxr-xr-x" (or "-rwxr-xr-x"); nullopt for anything else.
std::optional<std::uint32_t> ModeFromText(std::string_view text);

Entry FromDirEntry(inet::DirEntry&& e);

}  // namespace remote

#pragma once

#include <QIcon>

// The resources compiled into the program (the icon). They live in a static
// library, so nothing registers them by itself: the linker would drop the
// unreferenced registration code. Everything that needs them goes through
// these functions, which register them on first use.
namespace kx {

inline constexpr char kProgramIconPath[] = ":/icons/kestrix.svg";

// Safe to call any number of times, from the GUI thread.
void InitResources();

// The program icon; a null icon when the platform cannot draw SVG (the Qt
// SVG plugins, Debian's libqt6svg6, are missing).
QIcon ProgramIcon();

// The icons of the site catalogue's trees and menus. Without SVG support
// they fall back to the style's folder, network drive and home icons.
enum class CatalogIcon { Folder, Site, Root };
QIcon CatalogIconFor(CatalogIcon kind);

// The padlock of an encrypted connection (the style's apply icon without SVG).
QIcon LockIcon();

} // namespace kx

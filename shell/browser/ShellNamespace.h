#pragma once
// The namespace the shell browser walks: item ID lists over the file system. An ID list is a run of
// items, each a 16-bit little-endian byte count (counting itself) followed by the item's bytes, and a
// count of 0 ends it. Here an item's bytes are one path component, so the list of "/home/ann/a.jpg"
// has the items "home", "ann" and "a.jpg"; the empty list names the namespace root, which is the
// file-system root "/" (the desktop and the computer folder of the special-folder table).
//
// The routines never read past the vector: a count below 2 or one that runs past the end ends the
// list where it stands, as the terminator would.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TItemIDList = std::vector<std::uint8_t>;

// The list with no items (just the terminating 0).
TItemIDList EmptyIDList();
// A one-item list naming component; no list for an empty name or one that cannot be an item
// (longer than 65533 bytes, or holding a "/" or a 0 byte).
std::optional<TItemIDList> MakeIDListItem(std::string_view component);

// Sum of the item counts plus 2.
std::size_t IDListSize(const TItemIDList& list);
// A well-formed copy (the readable items and a terminator).
TItemIDList CopyIDList(const TItemIDList& list);
// first without its terminator, then second.
TItemIDList ConcatIDLists(const TItemIDList& first, const TItemIDList& second);
int IDListItemCount(const TItemIDList& list);
// The item at position n (0-based) as a one-item list; the empty list when there is no such item.
TItemIDList IDListItem(const TItemIDList& list, int n);
// The first n items (all of them when n is at least the count; none when n <= 0).
TItemIDList IDListFirstItems(const TItemIDList& list, int n);
// The bytes of each item, in order.
std::vector<std::string> IDListComponents(const TItemIDList& list);
// Byte-wise equality of the readable items.
bool SameIDList(const TItemIDList& a, const TItemIDList& b);

// File-mask matching: "*" any run, "?" one character, everything else literal, ignoring case.
bool MatchesMask(const std::string& name, const std::string& mask);

// Longest path PathToIDList accepts (PATH_MAX less its terminator).
constexpr std::size_t MaxShellPathLength = 4095;

// The list of an existing file-system object. path is absolute ("/" separated, repeated "/" and "."
// components ignored, ".." taken lexically), or relative to folder when folder is given. No list when
// the path is too long, relative without a folder, or names nothing that exists. An empty path gives
// a copy of the empty list.
std::optional<TItemIDList> PathToIDList(const TItemIDList* folder, const std::string& path);
// "/" followed by the components joined by "/"; "/" for the empty list; empty for no list.
std::string IDListToPath(const std::optional<TItemIDList>& list);
inline std::string IDListToPath(const TItemIDList& list) {
    return IDListToPath(std::optional(list));
}

// The special folders, in their fixed order. Each maps to the freedesktop folder that plays its part
// (see SpecialFolderPath); the ones without such a folder have no location.
enum TShellSpecialFolder : std::uint8_t {
    SF_FILESYSTEMFOLDER,
    SF_BITBUCKET,
    SF_CONTROLS,
    SF_DESKTOP,
    SF_DESKTOPDIRECTORY,
    SF_DRIVES,
    SF_FONTS,
    SF_NETHOOD,
    SF_NETWORK,
    SF_PERSONAL,
    SF_PRINTERS,
    SF_PROGRAMS,
    SF_RECENT,
    SF_SENDTO,
    SF_STARTMENU,
    SF_STARTUP,
    SF_TEMPLATES,
    SF_FAVORITES,
    SF_COMMON_STARTMENU,
    SF_COMMON_STARTUP,
    SF_COMMON_DESKTOPDIRECTORY,
    SF_APPDATA,
    SF_PRINTHOOD,
    SF_COMMON_FAVORITES,
    SF_INTERNET_CACHE,
    SF_COOKIES,
    SF_HISTORY,
    SF_COMMON_PROGRAMS,
    SF_ALTSTARTUP,
    SF_COMMON_APPDATA,
    SF_COMMON_DOCUMENTS,
    SF_INTERNET,
    SF_LOCAL_APPDATA,
    SF_MYPICTURES,
    SF_PROGRAM_FILES,
    SF_SYSTEM,
    SF_PROGRAM_FILES_COMMON
};
constexpr int ShellSpecialFolderCount = SF_PROGRAM_FILES_COMMON + 1;

// The folder identifier each special folder stands for (the numbering of the original shell, kept so
// stored values keep their meaning).
int SpecialFolderCsidl(TShellSpecialFolder folder);
// The directory a special folder maps to: "/" for the desktop (the namespace root), the computer
// folder and SF_FILESYSTEMFOLDER; the XDG user directories (desktop, documents, pictures, templates,
// public share; desktop, documents and pictures fall back to the home folder when not configured);
// the trash's files folder; the XDG data, config and cache folders and their system counterparts;
// /usr/bin for the program folder.
// Empty when the folder has no equivalent here or the directory does not exist.
std::string SpecialFolderPath(TShellSpecialFolder folder);
// The absolute ID list of a special folder; no list when SpecialFolderPath is empty.
std::optional<TItemIDList> SpecialFolderLocation(TShellSpecialFolder folder);
// The first special folder (ordinals 1 to 36) whose list equals list; 0 when none does.
TShellSpecialFolder SpecialFolderIndex(const TItemIDList& list);
